#include "transport/socket_data_bearer.h"

#include <gtest/gtest.h>

#include "base/message_loop.h"
#include "transport/async_socket.h"
#include "transport/transport_test_support.h"

namespace transport {
namespace {

struct BearerEvents : DataBearer::Delegate {
  void onBearerDidStartListening(DataBearer*) override { events.push_back("start"); }
  void onBearerDidStopListening(DataBearer*) override { events.push_back("stop"); }
  void onBearerDidAcceptNewBearer(DataBearer*, DataBearer* newBearer) override {
    events.push_back("accept");
    accepted.emplace_back(static_cast<SocketDataBearer*>(newBearer));
    newBearer->setDelegate(connectionDelegate ? connectionDelegate : this);
  }
  void onBearerDidConnect(DataBearer*) override { events.push_back("connect"); }
  void onBearerWillDisconnect(DataBearer*, const Error* error) override {
    events.push_back(error ? "will-disconnect" : "will-disconnect:null");
  }
  void onBearerDidDisconnect(DataBearer*) override { events.push_back("disconnect"); }
  void onBearerDidReadData(DataBearer*, const std::vector<uint8_t>& bytes) override {
    data.insert(data.end(), bytes.begin(), bytes.end());
    ++chunks;
  }
  bool has(const std::string& e) const { return std::find(events.begin(), events.end(), e) != events.end(); }

  std::vector<std::string> events;
  std::vector<std::unique_ptr<SocketDataBearer>> accepted;
  DataBearer::Delegate* connectionDelegate = nullptr;
  std::vector<uint8_t> data;
  int chunks = 0;
};

class SocketDataBearerTest : public ::testing::Test {
 protected:
  // A listener, a phone connected to it that sent `first`, and the server
  // side of that connection (reported to `connection_`), once connected.
  SocketDataBearer* connectPhone(std::vector<uint8_t> first) {
    listenerEvents_.connectionDelegate = &connection_;
    listener_.setDelegate(&listenerEvents_);
    client_.setDelegate(&phone_);
    if (!listener_.listen(0, nullptr) || !client_.connect("127.0.0.1", listener_.localPort(), 5000, nullptr) ||
        !runUntil(&loop_, [&] { return phone_.has("connect") && !listenerEvents_.accepted.empty(); }))
      return nullptr;
    client_.write(std::move(first), -1);
    if (!runUntil(&loop_, [&] { return connection_.has("connect"); })) return nullptr;
    return listenerEvents_.accepted[0].get();
  }

  base::MessageLoop loop_;
  BearerEvents listenerEvents_, connection_, phone_;
  SocketDataBearer listener_, client_;
};

TEST_F(SocketDataBearerTest, ListenerReportsStartAndStopNotDisconnect) {
  BearerEvents events;
  SocketDataBearer listener;
  listener.setDelegate(&events);
  ASSERT_TRUE(listener.startListening());
  EXPECT_TRUE(listener.isListening());
  EXPECT_NE(listener.localPort(), 0);  // chosen by the system
  EXPECT_EQ(events.events, std::vector<std::string>{"start"});
  EXPECT_TRUE(listener.stopListening());
  EXPECT_EQ(events.events, (std::vector<std::string>{"start", "stop"}));
  EXPECT_FALSE(listener.isListening());
  EXPECT_EQ(listener.localPort(), 0);
}

TEST_F(SocketDataBearerTest, AFailedListenTellsTheDelegateNothing) {
  SocketDataBearer first;
  ASSERT_TRUE(first.listen(0, nullptr));
  BearerEvents events;
  SocketDataBearer second;
  second.setDelegate(&events);
  std::unique_ptr<Error> error;
  if (second.listen(first.localPort(), &error))
    GTEST_SKIP() << "this system lets a second socket listen on a busy port";
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, Error::kSystem);
  EXPECT_TRUE(events.events.empty());
}

TEST_F(SocketDataBearerTest, ConnectionReadsContinuouslyWithOneReadOutstanding) {
  SocketDataBearer* server = connectPhone({1, 2, 3});
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(server->peerPort(), client_.localPort());
  EXPECT_EQ(server->peerAddress(), "127.0.0.1");
  EXPECT_FALSE(server->isListening());

  server->startReading();
  server->startReading();
  auto* socket = static_cast<AsyncSocket*>(server->socket());
  EXPECT_EQ(socket->queuedReads(), 1u);
  ASSERT_TRUE(runUntil(&loop_, [&] { return connection_.data.size() == 3; }));
  // Reading goes on by itself after every chunk.
  for (int i = 0; i < 5; ++i) {
    client_.write({static_cast<uint8_t>(i)}, -1);
    ASSERT_TRUE(runUntil(&loop_, [&] { return connection_.data.size() == 4u + i; }));
  }
  EXPECT_EQ(socket->queuedReads(), 1u);

  // Time-outs never end a read or a write: every firing extends by 500 ms.
  AsyncSocketBase::Delegate* asSocketDelegate = socket->delegate();
  EXPECT_EQ(asSocketDelegate->onSocketReadTimeout(socket, 0, 0, 0), 500);
  EXPECT_EQ(asSocketDelegate->onSocketWriteTimeout(socket, 0, 1000, 5), 500);

  // The phone leaves: an error close of the connection, reported as such.
  client_.disconnect();
  ASSERT_TRUE(runUntil(&loop_, [&] { return connection_.has("disconnect"); }));
  EXPECT_TRUE(connection_.has("will-disconnect"));
  EXPECT_FALSE(connection_.has("stop"));
  EXPECT_EQ(phone_.events.back(), "disconnect");
}

TEST_F(SocketDataBearerTest, DisconnectAfterWritingDeliversTheLastBytes) {
  SocketDataBearer* server = connectPhone({0});
  ASSERT_NE(server, nullptr);
  client_.startReading();
  server->write(std::vector<uint8_t>(70000, 3), -1);
  server->disconnectAfterWriting();
  server->write({4}, -1);  // too late: ignored
  ASSERT_TRUE(runUntil(&loop_, [&] { return phone_.has("disconnect"); }));
  EXPECT_EQ(phone_.data.size(), 70000u);
  EXPECT_TRUE(connection_.has("disconnect"));
  EXPECT_FALSE(connection_.has("will-disconnect"));
}

}  // namespace
}  // namespace transport
