#include "transport/transport.h"

#include <gtest/gtest.h>

#include <random>

#include "base/message_loop.h"
#include "transport/byte_order.h"
#include "transport/transport_test_support.h"

namespace transport {
namespace {

constexpr uint32_t kAppId = 12000;

struct Observer : Transport::Observer {
  explicit Observer(uint32_t type = 0, std::vector<std::string>* log = nullptr, std::string name = "")
      : type_(type), log_(log), name_(std::move(name)) {}
  uint32_t messageType() const override { return type_; }
  void onTransportDidStartListening(Transport*) override { events.push_back("start"); }
  void onTransportDidStopListening(Transport*) override { events.push_back("stop"); }
  void onClientDidConnect(Transport*) override { events.push_back("connect"); }
  void onClientDidDisconnect(Transport*) override { events.push_back("disconnect"); }
  void onMessage(Transport* transport, uint32_t type, const std::vector<uint8_t>& payload) override {
    messages.push_back(payload);
    if (log_) log_->push_back(name_);
    if (onMessageDo) onMessageDo(transport);
  }
  int count(const std::string& e) const { return static_cast<int>(std::count(events.begin(), events.end(), e)); }

  uint32_t type_;
  std::vector<std::string>* log_;
  std::string name_;
  std::vector<std::string> events;
  std::vector<std::vector<uint8_t>> messages;
  std::function<void(Transport*)> onMessageDo;
};

uint32_t farewellReason(const Frame& frame) {
  return frame.payload.size() == 4 ? loadLe32(frame.payload.data()) : 0xFFFFFFFF;
}

class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    transport_.setApplicationId(kAppId);
    transport_.setVersion("2.2.0.0");
    transport_.addObserver(&watcher_);
    ASSERT_TRUE(transport_.startListening(0));
    port_ = transport_.localPort();
    ASSERT_NE(port_, 0);
  }

  // A phone that connected and whose handshake the PC answered.
  std::unique_ptr<TestPeer> phone(uint32_t appId = kAppId, uint32_t major = 2, uint32_t minor = 0,
                                  const std::vector<uint8_t>& dictionary = {}) {
    auto peer = std::make_unique<TestPeer>();
    EXPECT_TRUE(peer->connect(port_));
    EXPECT_TRUE(runUntil(&loop_, [&] { return peer->connected; }));
    peer->sendHandshake(appId, major, minor, 1234, dictionary);
    EXPECT_TRUE(runUntil(&loop_, [&] { return !peer->frames.empty(); }));
    return peer;
  }

  base::MessageLoop loop_;
  Transport transport_;
  Observer watcher_;
  uint16_t port_ = 0;
};

TEST_F(TransportTest, ForeignApplicationIsAnsweredThenSentAwayUnheard) {
  EXPECT_EQ(watcher_.events, std::vector<std::string>{"start"});
  auto peer = phone(999);
  ASSERT_TRUE(runUntil(&loop_, [&] { return peer->closed; }));
  ASSERT_EQ(peer->frames.size(), 2u);
  EXPECT_EQ(peer->frames[0].type, kMessageHandshake);
  EXPECT_EQ(peer->frames[0].sequence, 0u);
  const std::vector<uint8_t> farewell = {0x01, 0, 0, 0, 0x06, 0, 0, 0, 0, 0, 0, 0, 0x01, 0, 0, 0,
                                         0x04, 0, 0, 0, 0x6B, 0xC5, 0x3E, 0x75, 0x02, 0, 0, 0,
                                         0x6B, 0xC5, 0x3E, 0x75};
  ASSERT_GE(peer->received.size(), 32u);
  EXPECT_EQ(std::vector<uint8_t>(peer->received.end() - 32, peer->received.end()), farewell);
  EXPECT_EQ(peer->received.size(), peer->frames[0].payload.size() + 28 + 32);
  EXPECT_EQ(watcher_.events, std::vector<std::string>{"start"});
  EXPECT_EQ(transport_.clientBearer(), nullptr);
  ASSERT_TRUE(runUntil(&loop_, [&] { return transport_.connectionCount() == 0; }));
}

TEST_F(TransportTest, AdmittedClientIsDescribedAndItsMessagesRouted) {
  EXPECT_EQ(transport_.clientPort(), 65535);
  EXPECT_EQ(transport_.clientAddress(), "");
  EXPECT_EQ(transport_.deviceModel(), "");

  std::vector<std::string> order;
  Observer first(14, &order, "first"), second(14, &order, "second"), video(13001, &order, "video");
  transport_.addObserver(&first);
  transport_.addObserver(&video);
  transport_.addObserver(&second);

  auto peer = phone(kAppId, 2, 0,
                    pickledStrings({{"DeviceModel", "iPhone12,1"}, {"SystemName", "iOS"}, {"SystemVersion", "17.2"}}));
  ASSERT_TRUE(runUntil(&loop_, [&] { return watcher_.count("connect") == 1; }));
  ASSERT_NE(transport_.clientBearer(), nullptr);
  EXPECT_EQ(transport_.deviceModel(), "iPhone12,1");
  EXPECT_EQ(transport_.systemName(), "iOS");
  EXPECT_EQ(transport_.systemVersion(), "17.2");
  EXPECT_EQ(transport_.clientAddress(), "127.0.0.1");
  EXPECT_EQ(transport_.clientPort(), peer->socket()->localPort());
  EXPECT_EQ(transport_.localPort(), port_);

  // The PC's handshake says who it is.
  ServerHandshake answer;
  ASSERT_TRUE(parseServerHandshake(peer->frames[0].payload.data(), peer->frames[0].payload.size(), &answer));
  EXPECT_EQ(answer.applicationId, kAppId);
  EXPECT_EQ(answer.version, (VersionParts{2, 2, 0, 0}));

  peer->sendFrame(14, {7, 7});
  peer->sendFrame(55, {1});  // nobody's type: dropped
  peer->sendFrame(13001, {8});
  ASSERT_TRUE(runUntil(&loop_, [&] { return video.messages.size() == 1; }));
  EXPECT_EQ(order, (std::vector<std::string>{"first", "second", "video"}));
  EXPECT_EQ(first.messages[0], (std::vector<uint8_t>{7, 7}));

  // Messages from the PC carry the next sequence numbers.
  ASSERT_TRUE(transport_.clientBearer()->sendMessage(13001, {1, 2, 3}));
  ASSERT_TRUE(runUntil(&loop_, [&] { return peer->frames.size() == 2; }));
  EXPECT_EQ(peer->frames[1].sequence, 1u);
  EXPECT_EQ(peer->frames[1].type, 13001u);

  // The phone leaves.
  peer->close();
  ASSERT_TRUE(runUntil(&loop_, [&] { return watcher_.count("disconnect") == 1; }));
  EXPECT_EQ(transport_.clientBearer(), nullptr);
  EXPECT_EQ(transport_.clientPort(), 65535);
  EXPECT_EQ(transport_.connectionCount(), 0u);
  transport_.removeObserver(&first);
  transport_.removeObserver(&second);
  transport_.removeObserver(&video);
}

TEST_F(TransportTest, OlderPhoneHasNoDescription) {
  auto peer = phone(kAppId, 1, 9, pickledStrings({{"DeviceModel", "ignored"}}));
  ASSERT_TRUE(runUntil(&loop_, [&] { return watcher_.count("connect") == 1; }));
  EXPECT_EQ(transport_.deviceModel(), "");
  EXPECT_EQ(transport_.clientBearer()->clientVersion().toString(), "1.9.0.0");
}

TEST_F(TransportTest, SecondPhoneGetsFarewellOneAndIsNeverHeard) {
  Observer auth(14);
  transport_.addObserver(&auth);
  auto first = phone();
  ASSERT_TRUE(runUntil(&loop_, [&] { return watcher_.count("connect") == 1; }));

  auto second = std::make_unique<TestPeer>();
  ASSERT_TRUE(second->connect(port_));
  ASSERT_TRUE(runUntil(&loop_, [&] { return second->connected; }));
  second->sendHandshake(kAppId, 2, 0);
  second->sendFrame(14, {66});  // right behind its handshake
  ASSERT_TRUE(runUntil(&loop_, [&] { return second->closed; }));
  ASSERT_EQ(second->frames.size(), 2u);
  EXPECT_EQ(second->frames[0].type, kMessageHandshake);
  EXPECT_EQ(second->frames[1].type, kMessageFarewell);
  EXPECT_EQ(second->frames[1].sequence, 1u);
  EXPECT_EQ(farewellReason(second->frames[1]), kFarewellAnotherPhoneConnected);
  EXPECT_TRUE(auth.messages.empty());
  EXPECT_EQ(watcher_.count("connect"), 1);
  EXPECT_EQ(watcher_.count("disconnect"), 0);

  // The first phone is still the client and still heard.
  first->sendFrame(14, {1});
  ASSERT_TRUE(runUntil(&loop_, [&] { return auth.messages.size() == 1; }));
  EXPECT_EQ(auth.messages[0], std::vector<uint8_t>{1});
  transport_.removeObserver(&auth);
}

TEST_F(TransportTest, DisconnectClientSaysFarewellAndLetsTheNextPhoneIn) {
  auto first = phone();
  ASSERT_TRUE(runUntil(&loop_, [&] { return watcher_.count("connect") == 1; }));
  transport_.disconnectClient();
  EXPECT_EQ(transport_.clientBearer(), nullptr);
  ASSERT_TRUE(runUntil(&loop_, [&] { return first->closed; }));
  ASSERT_EQ(first->frames.size(), 2u);
  EXPECT_EQ(first->frames[1].type, kMessageFarewell);
  EXPECT_EQ(farewellReason(first->frames[1]), kFarewellSessionEnded);
  transport_.disconnectClient();  // no client: nothing happens

  auto next = phone();
  ASSERT_TRUE(runUntil(&loop_, [&] { return watcher_.count("connect") == 2; }));
  EXPECT_NE(transport_.clientBearer(), nullptr);
  EXPECT_EQ(transport_.clientPort(), next->socket()->localPort());
  loop_.runFor(20);
  EXPECT_EQ(watcher_.count("disconnect"), 0);
  ASSERT_EQ(next->frames.size(), 1u);
}

TEST_F(TransportTest, FarewellSurvivesTheTransportBeingDestroyedRightAfter) {
  // What the main window does when it closes: farewell, then tear down.
  auto owner = std::make_unique<Transport>();
  owner->setApplicationId(kAppId);
  owner->setVersion("2.2.0.0");
  ASSERT_TRUE(owner->startListening(0));
  TestPeer peer;
  ASSERT_TRUE(peer.connect(owner->localPort()));
  ASSERT_TRUE(runUntil(&loop_, [&] { return peer.connected; }));
  peer.sendHandshake(kAppId, 2, 0);
  ASSERT_TRUE(runUntil(&loop_, [&] { return owner->clientBearer() != nullptr; }));
  owner->disconnectClient();
  owner.reset();
  ASSERT_TRUE(runUntil(&loop_, [&] { return peer.closed; }));
  ASSERT_EQ(peer.frames.size(), 2u);
  EXPECT_EQ(peer.frames[1].type, kMessageFarewell);
  EXPECT_EQ(farewellReason(peer.frames[1]), kFarewellSessionEnded);
}

TEST_F(TransportTest, ObserverMayRemoveItselfWhileBeingNotified) {
  Observer leaving(14), staying(14);
  leaving.onMessageDo = [&](Transport* t) { t->removeObserver(&leaving); };
  transport_.addObserver(&leaving);
  transport_.addObserver(&staying);
  auto peer = phone();
  peer->sendFrame(14, {1});
  peer->sendFrame(14, {2});
  ASSERT_TRUE(runUntil(&loop_, [&] { return staying.messages.size() == 2; }));
  EXPECT_EQ(leaving.messages.size(), 1u);
  transport_.removeObserver(&staying);
}

TEST_F(TransportTest, StreamIsResynchronisedAndGarbageNeverPilesUp) {
  Observer auth(14);
  transport_.addObserver(&auth);
  auto peer = phone();
  ASSERT_TRUE(runUntil(&loop_, [&] { return transport_.clientBearer() != nullptr; }));

  // A stray 01, then a frame sent one byte at a time.
  peer->send({0x01});
  std::vector<uint8_t> frame;
  appendFrame(14, 1, std::vector<uint8_t>{5, 6, 7}.data(), 3, &frame);
  for (uint8_t b : frame) {
    peer->send({b});
    loop_.runFor(1);
  }
  ASSERT_TRUE(runUntil(&loop_, [&] { return auth.messages.size() == 1; }));
  EXPECT_EQ(auth.messages[0], (std::vector<uint8_t>{5, 6, 7}));

  // A flood of bytes that keep looking like frame starts.
  const FrameDecoder* decoder = transport_.clientBearer()->decoder();
  std::mt19937 random(11);
  size_t peak = 0;
  for (int round = 0; round < 32; ++round) {
    std::vector<uint8_t> garbage(64 * 1024);
    for (auto& b : garbage) b = static_cast<uint8_t>(random() % 3);
    peer->send(std::move(garbage));
    loop_.runFor(2);
    peak = std::max(peak, decoder->bufferedBytes());
  }
  peer->send({0x02, 0x02, 0x02, 0x02});  // end any half-seen candidate
  peer->sendFrame(14, {9});
  ASSERT_TRUE(runUntil(&loop_, [&] { return auth.messages.size() == 2; }, 20000));
  peak = std::max(peak, decoder->bufferedBytes());
  EXPECT_EQ(auth.messages[1], std::vector<uint8_t>{9});
  EXPECT_LE(peak, kFrameOverheadBytes + kMaxReceivePayloadBytes);
  EXPECT_GE(decoder->skippedBytes(), 32u * 64 * 1024);
  transport_.removeObserver(&auth);
}

TEST_F(TransportTest, ListeningIsReportedAndABusyPortRefused) {
  LogCapture log;
  Transport other;
  Observer events;
  other.addObserver(&events);
  if (other.startListening(port_)) {
    other.removeObserver(&events);
    GTEST_SKIP() << "this system lets a second socket listen on a busy port";
  }
  EXPECT_TRUE(events.events.empty());
  EXPECT_EQ(other.localPort(), 0);
  EXPECT_TRUE(log.contains("Start listen on port " + std::to_string(port_)));
  EXPECT_TRUE(log.contains("StartListen failed with error <Error: 0x"));

  transport_.stopListening();
  EXPECT_EQ(watcher_.events, (std::vector<std::string>{"start", "stop"}));
  EXPECT_EQ(transport_.localPort(), 0);
  // Listening again replaces the stopped listener.
  ASSERT_TRUE(transport_.startListening(0));
  EXPECT_EQ(watcher_.count("start"), 2);
  EXPECT_NE(transport_.localPort(), 0);
  other.removeObserver(&events);
}

}  // namespace
}  // namespace transport
