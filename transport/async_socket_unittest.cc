#include "transport/async_socket.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "base/message_loop.h"
#include "transport/transport_test_support.h"

namespace transport {
namespace {

// Records every report as text and keeps accepted sockets.
struct Recorder : AsyncSocketBase::Delegate {
  void onSocketWillClose(AsyncSocketBase*, const Error* error) override {
    events.push_back("will-close:" + std::to_string(error->domain) + ":" + std::to_string(error->code));
    lastError = *error;
  }
  void onSocketDidClose(AsyncSocketBase* socket) override {
    events.push_back("did-close");
    if (onClose) onClose(socket);
  }
  void onSocketDidAcceptNewSocket(AsyncSocketBase*, AsyncSocketBase* newSocket) override {
    events.push_back("accept");
    accepted.emplace_back(static_cast<AsyncSocket*>(newSocket));
    if (adoptAccepted) newSocket->setDelegate(adoptAccepted);
  }
  bool onSocketWillOpen(AsyncSocketBase*) override { return allowOpen; }
  void onSocketDidOpen(AsyncSocketBase* socket, const std::string& host, uint16_t port) override {
    events.push_back("open");
    openHost = host;
    openPort = port;
    if (readOnOpen) socket->read(-1, 0);
  }
  void onSocketDataRead(AsyncSocketBase* socket, const std::vector<uint8_t>& bytes, uint32_t tag) override {
    data.insert(data.end(), bytes.begin(), bytes.end());
    ++reads;
    largestRead = std::max(largestRead, bytes.size());
    if (onRead) onRead(socket);
    else if (keepReading) socket->read(-1, tag);
  }
  void onSocketDataWritten(AsyncSocketBase*, uint32_t tag) override { written.push_back(tag); }
  int32_t onSocketReadTimeout(AsyncSocketBase*, uint32_t tag, int32_t elapsedMs, uint32_t) override {
    readTimeouts.push_back(elapsedMs);
    return readExtension(static_cast<int>(readTimeouts.size()));
  }
  int32_t onSocketWriteTimeout(AsyncSocketBase*, uint32_t, int32_t elapsedMs, uint32_t bytesDone) override {
    writeTimeouts.push_back(elapsedMs);
    lastWriteBytesDone = bytesDone;
    return writeExtension;
  }

  bool has(const std::string& event) const {
    return std::find(events.begin(), events.end(), event) != events.end();
  }

  std::vector<std::string> events;
  std::vector<std::unique_ptr<AsyncSocket>> accepted;
  AsyncSocketBase::Delegate* adoptAccepted = nullptr;
  bool allowOpen = true;
  bool readOnOpen = true;
  bool keepReading = true;
  std::string openHost;
  uint16_t openPort = 0;
  std::vector<uint8_t> data;
  int reads = 0;
  size_t largestRead = 0;
  std::vector<uint32_t> written;
  std::vector<int32_t> readTimeouts;
  std::function<int32_t(int)> readExtension = [](int) { return -1; };
  std::vector<int32_t> writeTimeouts;
  int32_t writeExtension = -1;
  uint32_t lastWriteBytesDone = 0;
  Error lastError;
  std::function<void(AsyncSocketBase*)> onClose;
  std::function<void(AsyncSocketBase*)> onRead;
};

class AsyncSocketTest : public ::testing::Test {
 protected:
  // A listener, a client connected to it and the server side of that
  // connection (with `server_` as its delegate).
  void connectPair() {
    listener_ = std::make_unique<AsyncSocket>(&listenerEvents_);
    listenerEvents_.adoptAccepted = &server_;
    ASSERT_TRUE(listener_->listenOnPort(0, nullptr));
    ASSERT_NE(listener_->localPort(), 0);
    client_ = std::make_unique<AsyncSocket>(&client_events_);
    ASSERT_TRUE(client_->connectToHost("127.0.0.1", listener_->localPort(), 5000, nullptr));
    ASSERT_TRUE(runUntil(&loop_, [&] { return client_events_.has("open") && !listenerEvents_.accepted.empty(); }));
  }
  AsyncSocket* serverSocket() { return listenerEvents_.accepted.at(0).get(); }
  // One more connection to the listener; returns its server side (whose
  // delegate is `server_`), which is not open yet.
  AsyncSocket* connectAnother(Recorder* peer, std::unique_ptr<AsyncSocket>* peerSocket) {
    const size_t before = listenerEvents_.accepted.size();
    *peerSocket = std::make_unique<AsyncSocket>(peer);
    if (!(*peerSocket)->connectToHost("127.0.0.1", listener_->localPort(), 5000, nullptr)) return nullptr;
    if (!runUntil(&loop_, [&] { return peer->has("open") && listenerEvents_.accepted.size() > before; }))
      return nullptr;
    return listenerEvents_.accepted.back().get();
  }

  base::MessageLoop loop_;
  Recorder listenerEvents_, server_, client_events_;
  std::unique_ptr<AsyncSocket> listener_, client_;
};

TEST_F(AsyncSocketTest, AcceptedConnectionOpensOnlyAfterReadAndWriteReadiness) {
  connectPair();
  EXPECT_EQ(client_events_.openHost, "127.0.0.1");
  EXPECT_EQ(client_events_.openPort, listener_->localPort());
  // Writable but nothing to read yet: not open.
  loop_.runFor(50);
  EXPECT_FALSE(server_.has("open"));
  // Bytes sent before the server side is open are queued and delivered.
  client_->write({'h', 'e', 'l', 'l', 'o'}, -1, 9);
  ASSERT_TRUE(runUntil(&loop_, [&] { return server_.data.size() == 5; }));
  EXPECT_EQ(std::count(server_.events.begin(), server_.events.end(), "open"), 1);
  EXPECT_EQ(server_.openHost, "127.0.0.1");
  EXPECT_EQ(server_.openPort, client_->localPort());
  EXPECT_EQ(serverSocket()->peerPort(), client_->localPort());
  EXPECT_EQ(serverSocket()->localPort(), listener_->localPort());
  EXPECT_EQ(serverSocket()->peerAddress(), "127.0.0.1");
  EXPECT_EQ(client_events_.written, std::vector<uint32_t>{9});
  const uint32_t started = AsyncSocket::kStarted | AsyncSocket::kSeenReadable | AsyncSocket::kSeenWritable;
  EXPECT_EQ(serverSocket()->flags() & started, started);
  // A listener has no peer.
  EXPECT_EQ(listener_->peerAddress(), "");
  EXPECT_EQ(listener_->peerPort(), 0);
}

TEST_F(AsyncSocketTest, LargeTransfersArriveIntactInBoundedReads) {
  connectPair();
  std::mt19937 random(3);
  std::vector<uint8_t> toServer(1 << 20), toClient(300000);
  for (auto& b : toServer) b = static_cast<uint8_t>(random());
  for (auto& b : toClient) b = static_cast<uint8_t>(random());
  client_->write(toServer, -1, 1);
  client_->write({1, 2, 3}, -1, 2);
  ASSERT_TRUE(runUntil(&loop_, [&] { return server_.data.size() == toServer.size() + 3; }, 20000));
  server_.data.resize(toServer.size());
  EXPECT_TRUE(server_.data == toServer);
  EXPECT_EQ(client_events_.written, (std::vector<uint32_t>{1, 2}));
  EXPECT_LE(server_.largestRead, AsyncSocket::kMaxReadBytes);

  serverSocket()->write(toClient, -1, 5);
  ASSERT_TRUE(runUntil(&loop_, [&] { return client_events_.data.size() == toClient.size(); }, 20000));
  EXPECT_TRUE(client_events_.data == toClient);
  EXPECT_EQ(server_.written, std::vector<uint32_t>{5});
}

TEST_F(AsyncSocketTest, ReadTimeoutsAskForExtensionsAndCloseWhenRefused) {
  connectPair();
  client_->write({1}, -1, 0);
  ASSERT_TRUE(runUntil(&loop_, [&] { return server_.reads == 1; }));
  server_.keepReading = false;
  // No time-out: no timer.
  serverSocket()->read(-1, 3);
  loop_.runFor(60);
  EXPECT_TRUE(server_.readTimeouts.empty());
  serverSocket()->close();
  server_.events.clear();

  // A second connection whose first read has time-out 0: it fires at once,
  // is extended once by 30 ms, and the refusal closes the socket.
  Recorder peer;
  std::unique_ptr<AsyncSocket> peerSocket;
  server_.readOnOpen = false;
  AsyncSocket* second = connectAnother(&peer, &peerSocket);
  ASSERT_NE(second, nullptr);
  server_.readExtension = [](int call) { return call == 1 ? 30 : 0; };
  second->read(0, 7);
  ASSERT_TRUE(runUntil(&loop_, [&] { return server_.has("did-close"); }));
  EXPECT_EQ(server_.readTimeouts, (std::vector<int32_t>{0, 30}));
  EXPECT_EQ(server_.events, (std::vector<std::string>{"will-close:1:4", "did-close"}));
  EXPECT_EQ(server_.lastError.description, "Read operation timed out");
  EXPECT_TRUE(second->isClosed());
  ASSERT_TRUE(runUntil(&loop_, [&] { return peer.has("did-close"); }));
}

TEST_F(AsyncSocketTest, WriteTimeoutAbandonsOnZeroAndClosesOnNegative) {
  // The peers read nothing more after their first read, so a write larger
  // than every buffer the system can grow stays in progress.
  constexpr size_t kStallingBytes = 40u << 20;
  connectPair();
  client_events_.keepReading = false;
  client_->write({0}, -1, 0);
  ASSERT_TRUE(runUntil(&loop_, [&] { return server_.has("open"); }));
  server_.writeExtension = 0;
  serverSocket()->setMaxQueuedWriteBytes(0);  // this one may hold more than a phone's connection
  serverSocket()->write(std::vector<uint8_t>(kStallingBytes, 0x55), 0, 1);
  serverSocket()->write({1}, -1, 2);
  ASSERT_TRUE(runUntil(&loop_, [&] { return server_.writeTimeouts.size() == 1; }));
  // Zero abandons the stalled write and the queue goes on with the next one.
  EXPECT_EQ(server_.writeTimeouts[0], 0);
  EXPECT_GT(server_.lastWriteBytesDone, 0u);
  EXPECT_LT(server_.lastWriteBytesDone, kStallingBytes);
  EXPECT_LE(serverSocket()->queuedWrites(), 1u);
  EXPECT_FALSE(serverSocket()->isClosed());
  EXPECT_TRUE(std::find(server_.written.begin(), server_.written.end(), 1u) == server_.written.end());

  // A negative answer closes with the write time-out error.
  Recorder peer;
  std::unique_ptr<AsyncSocket> peerSocket;
  AsyncSocket* second = connectAnother(&peer, &peerSocket);
  ASSERT_NE(second, nullptr);
  peer.keepReading = false;
  server_.writeExtension = -1;
  server_.writeTimeouts.clear();
  second->setMaxQueuedWriteBytes(0);
  second->write(std::vector<uint8_t>(kStallingBytes, 0x66), 0, 3);
  ASSERT_TRUE(runUntil(&loop_, [&] { return server_.has("will-close:1:5"); }));
  EXPECT_EQ(server_.writeTimeouts, std::vector<int32_t>{0});
  EXPECT_EQ(server_.lastError.description, "Write operation timed out");
  EXPECT_TRUE(second->isClosed());
}

TEST_F(AsyncSocketTest, CloseAfterWritingSendsEverythingAndRefusesMore) {
  connectPair();
  client_->write({0}, -1, 0);
  ASSERT_TRUE(runUntil(&loop_, [&] { return server_.has("open"); }));
  AsyncSocket* server = serverSocket();
  // Empty writes are ignored and produce no report.
  server->write({}, -1, 99);
  EXPECT_EQ(server->queuedWrites(), 0u);
  server->write(std::vector<uint8_t>(10000, 7), -1, 1);
  server->write(std::vector<uint8_t>(10, 8), -1, 2);
  server->closeAfterWriting();
  server->write({9}, -1, 3);
  server->read(-1, 4);
  EXPECT_FALSE(server->isClosed());
  ASSERT_TRUE(runUntil(&loop_, [&] { return server_.has("did-close"); }));
  EXPECT_EQ(server_.written, (std::vector<uint32_t>{1, 2}));
  EXPECT_FALSE(server_.has("will-close:2:0"));  // a plain close, not an error
  ASSERT_TRUE(runUntil(&loop_, [&] { return client_events_.has("did-close"); }));
  EXPECT_EQ(client_events_.data.size(), 10010u);
  // The peer's close is an error close of domain 2 with code 0.
  EXPECT_TRUE(client_events_.has("will-close:2:0"));
}

TEST_F(AsyncSocketTest, CloseAfterWritingWithNothingQueuedClosesAtOnce) {
  connectPair();
  client_->closeAfterWriting();
  EXPECT_TRUE(client_->isClosed());
  EXPECT_EQ(client_events_.events.back(), "did-close");
  ASSERT_TRUE(runUntil(&loop_, [&] { return server_.has("did-close"); }));
}

TEST_F(AsyncSocketTest, BytesSentRightBeforeThePeerClosesAreDelivered) {
  connectPair();
  client_->write(std::vector<uint8_t>(5000, 4), -1, 0);
  client_->closeAfterWriting();
  ASSERT_TRUE(runUntil(&loop_, [&] { return server_.has("did-close"); }));
  EXPECT_EQ(server_.data.size(), 5000u);
  EXPECT_EQ(server_.events.back(), "did-close");
}

TEST_F(AsyncSocketTest, SocketsThatNeverStartedReportNothing) {
  Recorder events;
  {
    AsyncSocket idle(&events);
    idle.read(-1, 0);
    idle.write({1}, -1, 0);
    idle.close();
    idle.close();
    // A closed socket cannot be used again.
    idle.write({1}, -1, 0);
    EXPECT_EQ(idle.queuedWrites(), 0u);
    EXPECT_FALSE(idle.listenOnPort(0, nullptr));
  }
  loop_.runFor(20);
  EXPECT_TRUE(events.events.empty());
  EXPECT_EQ(AsyncSocket().localPort(), 0);
  EXPECT_EQ(AsyncSocket().localAddress(), "");

  // A listener is started: its close is reported, without an error.
  AsyncSocket listener(&events);
  ASSERT_TRUE(listener.listenOnPort(0, nullptr));
  listener.close();
  EXPECT_EQ(events.events, std::vector<std::string>{"did-close"});
}

TEST_F(AsyncSocketTest, FailedConnectionsReportTheirError) {
  AsyncSocket probe;
  ASSERT_TRUE(probe.listenOnPort(0, nullptr));
  const uint16_t freePort = probe.localPort();
  probe.close();

  // Refused: reported as a connect error with the system's code. (Wine does
  // not report the refusal of a connection started before the selection;
  // there the connect timer ends the attempt, which is as good a report.)
  Recorder events;
  AsyncSocket refused(&events);
  ASSERT_TRUE(refused.connectToHost("127.0.0.1", freePort, 1500, nullptr));
  ASSERT_TRUE(runUntil(&loop_, [&] { return events.has("did-close"); }));
  ASSERT_EQ(events.events.size(), 2u);
  EXPECT_EQ(events.lastError.domain, Error::kSocket);
  if (events.lastError.code == kConnectTimeoutError) {
    EXPECT_EQ(events.lastError.description, "Attempt to connect to host timed out");
  } else {
    EXPECT_NE(events.lastError.code, 0);
    EXPECT_EQ(events.lastError.description, "General CFSocket error while connect");
  }

  // A delegate that says no cancels before anything happens.
  Recorder no;
  no.allowOpen = false;
  AsyncSocket canceled(&no);
  std::unique_ptr<Error> error;
  EXPECT_FALSE(canceled.connectToHost("127.0.0.1", freePort, 5000, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, kConnectCanceledError);
  EXPECT_TRUE(no.events.empty());
}

TEST_F(AsyncSocketTest, DelegateMayDeleteTheSocketInsideItsReports) {
  connectPair();
  // Deleted while its read is being delivered (the server side), and while
  // its close is being reported (the client, which then sees the close).
  server_.onRead = [&](AsyncSocketBase*) { listenerEvents_.accepted.clear(); };
  client_events_.onClose = [&](AsyncSocketBase*) { client_.reset(); };
  client_->write(std::vector<uint8_t>(3000, 1), -1, 0);
  ASSERT_TRUE(runUntil(&loop_, [&] { return listenerEvents_.accepted.empty() && !client_; }));
  loop_.runFor(20);
}

TEST_F(AsyncSocketTest, OutputQueuedForAPeerThatDoesNotReadIsCapped) {
  connectPair();
  client_->write({0}, -1, 0);
  ASSERT_TRUE(runUntil(&loop_, [&] { return server_.has("open"); }));
  // A peer that reads keeps its connection however much passes through.
  const std::vector<uint8_t> block(64 * 1024, 0x42);
  const size_t total = 2 * AsyncSocket::kMaxQueuedWriteBytes;
  for (size_t sent = 0; sent < total; sent += block.size()) {
    serverSocket()->write(block, -1, 0);
    ASSERT_TRUE(runUntil(&loop_, [&] { return client_events_.data.size() >= sent + block.size(); }));
  }
  EXPECT_FALSE(serverSocket()->isClosed());
  EXPECT_EQ(serverSocket()->queuedWriteBytes(), 0u);

  // Queued faster than it can go: the write that passes the cap is refused,
  // the backlog is freed at once and the socket closes from the loop.
  client_events_.keepReading = false;
  size_t accepted = 0;
  for (int i = 0; i < 1000; ++i) {
    const size_t before = serverSocket()->queuedWriteBytes();
    serverSocket()->write(block, -1, 0);
    if (serverSocket()->queuedWriteBytes() == 0) {
      accepted = before;
      break;
    }
  }
  EXPECT_LE(accepted, AsyncSocket::kMaxQueuedWriteBytes);
  EXPECT_GT(accepted + block.size(), AsyncSocket::kMaxQueuedWriteBytes);
  EXPECT_EQ(serverSocket()->queuedWriteBytes(), 0u);
  EXPECT_FALSE(server_.has("did-close"));
  ASSERT_TRUE(runUntil(&loop_, [&] { return server_.has("did-close"); }));
  EXPECT_TRUE(server_.has("will-close:1:6"));
  EXPECT_EQ(server_.lastError.description, "Too many bytes waiting to be sent");
}

TEST(AsyncSocketErrors, FactoriesGiveTheDocumentedCodesAndTexts) {
  AsyncSocket socket;
  struct Expected {
    std::unique_ptr<Error> error;
    int32_t domain, code;
    const char* text;
  } table[] = {
      {socket.createConnectError(61), 1, 61, "General CFSocket error while connect"},
      {socket.createCanceledError(), 1, 1, "Connection canceled"},
      {socket.createGeneralSocketError(), 1, -1, "General socket error"},
      {socket.createConnectTimeoutError(), 1, 2, "Attempt to connect to host timed out"},
      {socket.createReadMaxLengthError(), 1, 3, "Read operation reached set maximum length"},
      {socket.createReadTimeoutError(), 1, 4, "Read operation timed out"},
      {socket.createWriteTimeoutError(), 1, 5, "Write operation timed out"},
  };
  for (const auto& e : table) {
    EXPECT_EQ(e.error->domain, e.domain);
    EXPECT_EQ(e.error->code, e.code);
    EXPECT_EQ(e.error->description, e.text);
  }
  errno = 2;
  EXPECT_EQ(socket.createRuntimeError()->domain, 0);
  EXPECT_EQ(socket.createRuntimeError()->code, 2);
  auto system = AsyncSocketBase::createSystemError(10054);
  EXPECT_EQ(system->domain, 2);
  EXPECT_EQ(system->code, 10054);
  EXPECT_FALSE(system->description.empty());
}

// The server side closes first, so its end of the connection lingers on the
// port after everything is closed; a new listener (a restarted server with
// a fixed port) still gets that port.
TEST_F(AsyncSocketTest, APortWithALingeringConnectionCanBeListenedOnAgain) {
  connectPair();
  const uint16_t port = listener_->localPort();
  serverSocket()->close();
  ASSERT_TRUE(runUntil(&loop_, [&] { return client_events_.has("did-close"); }));
  client_.reset();
  listener_->close();
  AsyncSocket again;
  std::unique_ptr<Error> error;
  EXPECT_TRUE(again.listenOnPort(port, &error)) << (error ? error->description : std::string());
  EXPECT_EQ(port, again.localPort());
}

TEST(AsyncSocketListen, ABusyPortIsReportedAsASystemError) {
  AsyncSocket first;
  ASSERT_TRUE(first.listenOnPort(0, nullptr));
  AsyncSocket second;
  std::unique_ptr<Error> error;
  if (second.listenOnPort(first.localPort(), &error))
    GTEST_SKIP() << "this system lets a second socket listen on a busy port";
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, Error::kSystem);
  EXPECT_NE(error->code, 0);
  EXPECT_TRUE(second.isClosed() || second.localPort() == 0);
}

}  // namespace
}  // namespace transport
