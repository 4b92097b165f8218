#include "transport/transport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>

#ifdef __linux__
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "base/message_loop.h"
#include "base/socket.h"
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
    // Handshake deadlines run on this clock: nothing is overdue until a test
    // moves it.
    transport_.setClockForTesting([this] { return now_; });
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

  // A connection that says nothing, once the transport holds it.
  std::unique_ptr<TestPeer> silent() {
    auto peer = std::make_unique<TestPeer>();
    const size_t before = transport_.counters().pendingEvictions + transport_.pendingCount();
    EXPECT_TRUE(peer->connect(port_));
    EXPECT_TRUE(runUntil(&loop_, [&] {
      return peer->connected && transport_.counters().pendingEvictions + transport_.pendingCount() == before + 1;
    }));
    return peer;
  }

  int64_t now_ = 1000000;
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

TEST_F(TransportTest, PhoneDescriptionArrivesWithoutControlCharacters) {
  auto peer = phone(kAppId, 2, 0,
                    pickledStrings({{"DeviceModel", "X\nCompressedLog:/home/u/.ssh/id_rsa"},
                                    {"SystemName", "\x1b[2Jios"},
                                    {"SystemVersion", "17\xe2\x80\xae"}}));
  ASSERT_TRUE(runUntil(&loop_, [&] { return watcher_.count("connect") == 1; }));
  EXPECT_EQ(transport_.deviceModel(), "X\\x0aCompressedLog:/home/u/.ssh/id_rsa");
  EXPECT_EQ(transport_.systemName(), "\\x1b[2Jios");
  EXPECT_EQ(transport_.systemVersion(), "17\\u202e");
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
  transport_.setClientStanding(Transport::ClientStanding::kAccepted);

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

TEST_F(TransportTest, OnlyAnAcceptedClientOrOneBeingDecidedOnKeepsTheSlot) {
  using Standing = Transport::ClientStanding;
  const struct {
    Standing standing;
    bool keeps;
  } cases[] = {{Standing::kIdentifying, false}, {Standing::kRefused, false},
               {Standing::kAccepted, true}, {Standing::kDeciding, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.standing));
    const int connects = watcher_.count("connect");
    const int disconnects = watcher_.count("disconnect");
    auto holder = phone();
    ASSERT_TRUE(runUntil(&loop_, [&] { return watcher_.count("connect") == connects + 1; }));
    transport_.setClientStanding(c.standing);

    auto newcomer = phone();
    TestPeer* away = c.keeps ? newcomer.get() : holder.get();
    ASSERT_TRUE(runUntil(&loop_, [&] { return away->closed; }));
    ASSERT_EQ(away->frames.size(), 2u);
    EXPECT_EQ(away->frames[1].type, kMessageFarewell);
    EXPECT_EQ(farewellReason(away->frames[1]), c.keeps ? kFarewellAnotherPhoneConnected : kFarewellSessionEnded);
    TestPeer* stays = c.keeps ? holder.get() : newcomer.get();
    EXPECT_EQ(transport_.clientPort(), stays->socket()->localPort());
    EXPECT_EQ(watcher_.count("disconnect"), disconnects + (c.keeps ? 0 : 1));
    EXPECT_EQ(watcher_.count("connect"), connects + (c.keeps ? 1 : 2));
    EXPECT_EQ(transport_.clientStanding(), c.keeps ? c.standing : Standing::kIdentifying);

    transport_.disconnectClient();
    ASSERT_TRUE(runUntil(&loop_, [&] { return stays->closed; }));
  }
  EXPECT_EQ(transport_.counters().clientsDisplaced, 2u);
}

TEST_F(TransportTest, ClientThatNeverIdentifiesItselfIsSentAway) {
  auto silentOne = phone();
  ASSERT_TRUE(runUntil(&loop_, [&] { return watcher_.count("connect") == 1; }));
  now_ += Transport::kIdentifyTimeoutMs - 1;
  transport_.closeOverdueHandshakes();
  EXPECT_NE(transport_.clientBearer(), nullptr);
  now_ += 1;
  transport_.closeOverdueHandshakes();
  EXPECT_EQ(transport_.clientBearer(), nullptr);
  EXPECT_EQ(watcher_.count("disconnect"), 1);
  EXPECT_EQ(transport_.counters().identifyTimeouts, 1u);
  ASSERT_TRUE(runUntil(&loop_, [&] { return silentOne->closed; }));
  ASSERT_EQ(silentOne->frames.size(), 2u);
  EXPECT_EQ(farewellReason(silentOne->frames[1]), kFarewellSessionEnded);

  // One that identified itself in time is not held to the deadline.
  auto talker = phone();
  ASSERT_TRUE(runUntil(&loop_, [&] { return watcher_.count("connect") == 2; }));
  transport_.setClientStanding(Transport::ClientStanding::kRefused);
  now_ += 10 * Transport::kIdentifyTimeoutMs;
  transport_.closeOverdueHandshakes();
  EXPECT_NE(transport_.clientBearer(), nullptr);
  EXPECT_EQ(transport_.counters().identifyTimeouts, 1u);
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

TEST_F(TransportTest, ConnectionsWithoutAHandshakeAreClosedAfterTenSeconds) {
  LogCapture log;
  auto quiet = silent();
  const uint16_t quietPort = quiet->socket()->localPort();
  now_ += 4000;
  auto trickle = silent();
  trickle->send({0x01, 0x00});  // the start of a frame, never finished
  now_ += Transport::kHandshakeTimeoutMs - 4000 - 1;
  transport_.closeOverdueHandshakes();
  EXPECT_EQ(transport_.pendingCount(), 2u);

  // A phone that handshakes is not held to the deadline.
  auto phoneNow = phone();
  ASSERT_TRUE(runUntil(&loop_, [&] { return watcher_.count("connect") == 1; }));
  transport_.setClientStanding(Transport::ClientStanding::kAccepted);
  EXPECT_EQ(transport_.pendingCount(), 2u);

  now_ += 1;
  transport_.closeOverdueHandshakes();
  ASSERT_TRUE(runUntil(&loop_, [&] { return quiet->closed; }));
  EXPECT_EQ(transport_.pendingCount(), 1u);
  EXPECT_EQ(transport_.counters().handshakeTimeouts, 1u);
  EXPECT_TRUE(quiet->frames.empty());  // closed without a word
  EXPECT_FALSE(trickle->closed);

  now_ += 4000;
  transport_.closeOverdueHandshakes();
  ASSERT_TRUE(runUntil(&loop_, [&] { return trickle->closed && transport_.connectionCount() == 1; }));
  EXPECT_EQ(transport_.counters().handshakeTimeouts, 2u);
  EXPECT_EQ(transport_.counters().pendingEvictions, 0u);

  // Long after, the admitted phone is still there; nobody heard of the others.
  now_ += 3600 * 1000;
  transport_.closeOverdueHandshakes();
  loop_.runFor(20);
  EXPECT_FALSE(phoneNow->closed);
  EXPECT_NE(transport_.clientBearer(), nullptr);
  EXPECT_EQ(watcher_.events, (std::vector<std::string>{"start", "connect"}));
  const std::string text = log.contents();
  size_t lines = 0;
  for (size_t at = text.find("closed: no handshake within the time-out"); at != std::string::npos;
       at = text.find("closed: no handshake within the time-out", at + 1)) {
    ++lines;
  }
  EXPECT_EQ(lines, 2u);
  EXPECT_TRUE(log.contains("Connection from 127.0.0.1:" + std::to_string(quietPort) + " closed"));
}

TEST_F(TransportTest, AConnectionThatLeavesBeforeItsHandshakeStopsWaiting) {
  // A foreign application never passes the handshake; once its farewell is
  // written and it is gone, it no longer counts against the limit.
  auto foreign = phone(999);
  ASSERT_TRUE(runUntil(&loop_, [&] { return foreign->closed; }));
  ASSERT_TRUE(runUntil(&loop_, [&] { return transport_.connectionCount() == 0; }));
  EXPECT_EQ(transport_.pendingCount(), 0u);
  EXPECT_EQ(transport_.counters().handshakeTimeouts, 0u);
}

TEST_F(TransportTest, AtMostThirtyTwoConnectionsWaitAndANewOneClosesTheOldest) {
  LogCapture log;
  std::vector<std::unique_ptr<TestPeer>> waiting;
  for (size_t i = 0; i < Transport::kMaxPendingConnections; ++i) waiting.push_back(silent());
  EXPECT_EQ(transport_.pendingCount(), Transport::kMaxPendingConnections);
  EXPECT_EQ(transport_.counters().pendingEvictions, 0u);

  waiting.push_back(silent());
  ASSERT_TRUE(runUntil(&loop_, [&] { return waiting[0]->closed; }));
  EXPECT_EQ(transport_.pendingCount(), Transport::kMaxPendingConnections);
  EXPECT_EQ(transport_.counters().pendingEvictions, 1u);
  loop_.runFor(20);
  for (size_t i = 1; i < waiting.size(); ++i) EXPECT_FALSE(waiting[i]->closed) << i;

  // A real phone still gets in during the crowd (pushing out the next oldest).
  auto real = phone();
  ASSERT_TRUE(runUntil(&loop_, [&] { return watcher_.count("connect") == 1 && waiting[1]->closed; }));
  transport_.setClientStanding(Transport::ClientStanding::kAccepted);
  EXPECT_EQ(transport_.counters().pendingEvictions, 2u);
  EXPECT_EQ(real->frames.size(), 1u);
  EXPECT_EQ(transport_.pendingCount(), Transport::kMaxPendingConnections - 1);
  EXPECT_EQ(transport_.connectionCount(), Transport::kMaxPendingConnections);
  EXPECT_TRUE(log.contains("closed: too many connections are waiting for their handshake"));

  // The deadline still applies to the crowd; the client stays.
  now_ += Transport::kHandshakeTimeoutMs;
  transport_.closeOverdueHandshakes();
  ASSERT_TRUE(runUntil(&loop_, [&] { return transport_.connectionCount() == 1; }));
  EXPECT_EQ(transport_.counters().handshakeTimeouts, Transport::kMaxPendingConnections - 1);
  EXPECT_NE(transport_.clientBearer(), nullptr);
}

TEST(SocketKeepAlive, AcceptedConnectionsProbeTheirPeer) {
  int32_t error = 0;
  const base::SocketHandle s = base::socketListen(0, true, &error);
  ASSERT_NE(s, base::kInvalidSocket);
  EXPECT_TRUE(base::socketSetKeepAlive(s, AsyncSocket::kKeepAliveIdleSeconds, AsyncSocket::kKeepAliveIntervalSeconds,
                                       AsyncSocket::kKeepAliveProbes));
  // Idle 10 s, then 3 probes 5 s apart: a silent peer is gone after 25 s.
  EXPECT_EQ(AsyncSocket::kKeepAliveIdleSeconds + AsyncSocket::kKeepAliveIntervalSeconds * AsyncSocket::kKeepAliveProbes,
            25u);
#ifdef __linux__
  const int fd = static_cast<int>(s);
  auto option = [fd](int level, int name) {
    int value = -1;
    socklen_t length = sizeof(value);
    return ::getsockopt(fd, level, name, &value, &length) == 0 ? value : -1;
  };
  EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE), 1);
  EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), 10);
  EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), 5);
  EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPCNT), 3);
  EXPECT_EQ(option(IPPROTO_TCP, TCP_USER_TIMEOUT), 25000);
#endif
  base::socketClose(s);
}

#ifdef __linux__
// A phone on the other end of a veth pair in a network namespace of its own.
// Setting its end down drops every packet both ways: no FIN, no RST, just
// silence, as when a phone's Wi-Fi goes.
class VanishingPhoneTest : public TransportTest {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a network namespace";
    const std::string id = std::to_string(::getpid() % 100000);
    ns_ = "lumora-ka" + id;
    pcEnd_ = "lka" + id + "p";
    phoneEnd_ = "lka" + id + "f";
    octet_ = std::to_string(1 + ::getpid() % 250);
    if (!sh("ip netns add " + ns_) || !sh("ip link add " + pcEnd_ + " type veth peer name " + phoneEnd_) ||
        !sh("ip link set " + phoneEnd_ + " netns " + ns_) ||
        !sh("ip addr add 10.213." + octet_ + ".1/24 dev " + pcEnd_) || !sh("ip link set " + pcEnd_ + " up") ||
        !sh(inNs("ip addr add 10.213." + octet_ + ".2/24 dev " + phoneEnd_)) || !phoneLink(true)) {
      GTEST_SKIP() << "network namespaces or veth pairs cannot be made here";
    }
    made_ = true;
    TransportTest::SetUp();
  }
  void TearDown() override {
    if (made_) sh("ip netns del " + ns_ + "; ip link del " + pcEnd_ + " 2>/dev/null");
  }

  static bool sh(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }
  std::string inNs(const std::string& command) const { return "ip netns exec " + ns_ + " " + command; }
  bool phoneLink(bool up) { return sh(inNs(std::string("ip link set ") + phoneEnd_ + (up ? " up" : " down"))); }

  // Connects from inside the namespace: the socket belongs to the namespace
  // that the creating thread is in when it is made.
  std::unique_ptr<TestPeer> phoneInNamespace() {
    const int home = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    const int there = ::open(("/var/run/netns/" + ns_).c_str(), O_RDONLY | O_CLOEXEC);
    auto peer = std::make_unique<TestPeer>();
    bool ok = home >= 0 && there >= 0 && ::setns(there, CLONE_NEWNET) == 0;
    if (ok) ok = peer->socket()->connectToHost("10.213." + octet_ + ".1", port_, 5000, nullptr);
    if (home >= 0) EXPECT_EQ(::setns(home, CLONE_NEWNET), 0);
    if (home >= 0) ::close(home);
    if (there >= 0) ::close(there);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(runUntil(&loop_, [&] { return peer->connected; }));
    peer->sendHandshake(kAppId, 2, 0);
    EXPECT_TRUE(runUntil(&loop_, [&] { return !peer->frames.empty(); }));
    return peer;
  }

  std::string ns_, pcEnd_, phoneEnd_, octet_;
  bool made_ = false;
};

TEST_F(VanishingPhoneTest, APhoneWhoseNetworkVanishedIsLostAndAdmittedWhenItReturns) {
  auto gone = phoneInNamespace();
  ASSERT_TRUE(runUntil(&loop_, [&] { return watcher_.count("connect") == 1; }));
  EXPECT_EQ(transport_.clientAddress(), "10.213." + octet_ + ".2");

  ASSERT_TRUE(phoneLink(false));
  const auto lost = std::chrono::steady_clock::now();
  // Keepalive: 10 s idle, then 3 probes 5 s apart, so about 25 s.
  ASSERT_TRUE(runUntil(&loop_, [&] { return watcher_.count("disconnect") == 1; }, 60000));
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - lost).count();
  std::printf("the vanished phone was lost after %lld s\n", static_cast<long long>(seconds));
  EXPECT_EQ(transport_.clientBearer(), nullptr);
  EXPECT_FALSE(gone->closed);  // it never heard a thing

  ASSERT_TRUE(phoneLink(true));
  auto back = phoneInNamespace();
  ASSERT_TRUE(runUntil(&loop_, [&] { return watcher_.count("connect") == 2; }));
  loop_.runFor(20);
  ASSERT_EQ(back->frames.size(), 1u);
  EXPECT_EQ(back->frames[0].type, kMessageHandshake);
  EXPECT_NE(transport_.clientBearer(), nullptr);
}
#endif  // __linux__

}  // namespace
}  // namespace transport
