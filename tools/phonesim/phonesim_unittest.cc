#include <gtest/gtest.h>

#include <sstream>

#include "base/message_loop.h"
#include "components/action_component.h"
#include "components/auth_component.h"
#include "components/session_gate.h"
#include "tools/phonesim/phone_connection.h"
#include "tools/phonesim/session_messages.h"
#include "tools/phonesim/simulator.h"
#include "tools/phonesim/wav_file.h"
#include "base/test_util.h"
#include "base/string_util.h"
#include <cstdio>
#include "transport/transport.h"
#include "transport/transport_test_support.h"

namespace phonesim {
namespace {

using transport::runUntil;

struct Heard : transport::Transport::Observer {
  explicit Heard(uint32_t type) : type_(type) {}
  uint32_t messageType() const override { return type_; }
  void onClientDidConnect(transport::Transport*) override { ++connects; }
  void onMessage(transport::Transport*, uint32_t, const std::vector<uint8_t>& payload) override {
    messages.push_back(payload);
  }
  uint32_t type_;
  int connects = 0;
  std::vector<std::vector<uint8_t>> messages;
};

struct PhoneEvents : PhoneConnection::Observer {
  void onPhoneConnected(PhoneConnection*) override { lines.push_back("connected"); }
  void onServerHandshake(PhoneConnection*, const transport::ServerHandshake& h, uint32_t seq) override {
    lines.push_back("handshake:" + std::to_string(seq) + ":" + std::to_string(h.applicationId));
  }
  void onFarewell(PhoneConnection*, uint32_t reason, uint32_t seq) override {
    lines.push_back("farewell:" + std::to_string(seq) + ":" + std::to_string(reason));
  }
  void onMessage(PhoneConnection*, const transport::Frame& f) override {
    lines.push_back("message:" + std::to_string(f.type));
  }
  void onPhoneDisconnected(PhoneConnection*, const transport::Error*) override { lines.push_back("disconnected"); }
  std::vector<std::string> lines;
};

class PhoneSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    transport_.setApplicationId(12000);
    transport_.setVersion("2.2.0.0");
    transport_.addObserver(&auth_);
    ASSERT_TRUE(transport_.startListening(0));
  }
  void TearDown() override { transport_.removeObserver(&auth_); }

  SimulatorOptions options() {
    SimulatorOptions o;
    o.port = transport_.localPort();
    o.lingerMs = 100;
    return o;
  }

  base::MessageLoop loop_;
  transport::Transport transport_;
  Heard auth_{14};
};

TEST_F(PhoneSimTest, PhoneIsAdmittedDescribedAndHeard) {
  PhoneConnection phone;
  PhoneEvents events;
  phone.addObserver(&events);
  ASSERT_TRUE(phone.connect("127.0.0.1", transport_.localPort(), 5000, nullptr));
  ASSERT_TRUE(runUntil(&loop_, [&] { return phone.isConnected(); }));
  PhoneIdentity identity;
  identity.deviceModel = "iPad8,1";
  identity.systemVersion = "16.4";
  ASSERT_TRUE(phone.sendHandshake(identity));
  ASSERT_TRUE(runUntil(&loop_, [&] { return phone.serverHandshake() && auth_.connects == 1; }));
  EXPECT_EQ(transport_.deviceModel(), "iPad8,1");
  EXPECT_EQ(transport_.systemName(), "iOS");
  EXPECT_EQ(transport_.systemVersion(), "16.4");
  EXPECT_EQ(transport_.clientPort(), phone.localPort());
  std::string appVersion;
  ASSERT_TRUE(phone.serverHandshake()->information);
  EXPECT_TRUE(phone.serverHandshake()->information->getString("AppVersion", &appVersion));
  EXPECT_EQ(appVersion, "2.2.0.0");

  ASSERT_TRUE(phone.sendMessage(14, {1, 2}));
  ASSERT_TRUE(runUntil(&loop_, [&] { return auth_.messages.size() == 1; }));
  transport_.clientBearer()->sendMessage(14, {3});
  ASSERT_TRUE(runUntil(&loop_, [&] { return events.lines.size() == 3; }));
  EXPECT_EQ(events.lines, (std::vector<std::string>{"connected", "handshake:0:12000", "message:14"}));
  EXPECT_EQ(phone.framesSent(), 2u);

  transport_.disconnectClient();
  ASSERT_TRUE(runUntil(&loop_, [&] { return phone.isClosed(); }));
  EXPECT_EQ(events.lines[3], "farewell:2:0");
  EXPECT_EQ(events.lines.back(), "disconnected");
  phone.removeObserver(&events);
}

// A stalled network: nothing reaches the PC while held, then everything in
// order at once, on the same connection.
TEST_F(PhoneSimTest, HeldMessagesArriveTogetherAfterTheStall) {
  PhoneConnection phone;
  ASSERT_TRUE(phone.connect("127.0.0.1", transport_.localPort(), 5000, nullptr));
  ASSERT_TRUE(runUntil(&loop_, [&] { return phone.isConnected(); }));
  ASSERT_TRUE(phone.sendHandshake(PhoneIdentity()));
  ASSERT_TRUE(runUntil(&loop_, [&] { return phone.serverHandshake() && auth_.connects == 1; }));
  ASSERT_TRUE(phone.sendMessage(14, {1}));
  ASSERT_TRUE(runUntil(&loop_, [&] { return auth_.messages.size() == 1; }));

  phone.hold();
  for (uint8_t i = 2; i <= 4; ++i) ASSERT_TRUE(phone.sendMessage(14, {i}));
  loop_.runFor(200);
  EXPECT_EQ(1u, auth_.messages.size());
  EXPECT_GT(phone.release(), 0u);
  EXPECT_FALSE(phone.holding());
  ASSERT_TRUE(runUntil(&loop_, [&] { return auth_.messages.size() == 4; }));
  EXPECT_EQ((std::vector<uint8_t>{4}), auth_.messages[3]);
  EXPECT_EQ(1, auth_.connects);
  EXPECT_TRUE(phone.isConnected());

  // What is held when the phone hangs up still goes out first.
  phone.hold();
  ASSERT_TRUE(phone.sendMessage(14, {5}));
  phone.disconnect();
  ASSERT_TRUE(runUntil(&loop_, [&] { return auth_.messages.size() == 5; }));
  ASSERT_TRUE(runUntil(&loop_, [&] { return phone.isClosed(); }));
}

TEST_F(PhoneSimTest, SessionReportsAnswerAndFarewell) {
  std::ostringstream out;
  SimulatorOptions o = options();
  o.identity.applicationId = 4242;
  EXPECT_EQ(runSession(o, out, nullptr), kExitFarewell);
  const std::string text = out.str();
  EXPECT_NE(text.find("connected 127.0.0.1:"), std::string::npos) << text;
  EXPECT_NE(text.find("handshake sequence=0 app_id=12000 version=2.2.0.0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("info AppID=12000\n"), std::string::npos) << text;
  EXPECT_NE(text.find("info AppVersion=2.2.0.0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("farewell sequence=1 reason=2\n"), std::string::npos) << text;
  EXPECT_NE(text.find("disconnected"), std::string::npos) << text;
  EXPECT_EQ(auth_.connects, 0);
}

TEST_F(PhoneSimTest, SessionSendsMessagesAfterGarbageAndTakesCommands) {
  std::ostringstream out;
  SimulatorOptions o = options();
  o.garbageBytes = 100000;
  o.messages.emplace_back(14, std::vector<uint8_t>{0xAB});
  o.stay = true;
  std::istringstream commands("send 14 0102\n# a comment\nraw 01\nbogus\nsend 14 03\nquit\n");
  EXPECT_EQ(runSession(o, out, &commands), kExitAdmitted);
  ASSERT_TRUE(runUntil(&loop_, [&] { return auth_.messages.size() == 3; }));
  EXPECT_EQ(auth_.messages[0], std::vector<uint8_t>{0xAB});
  EXPECT_EQ(auth_.messages[1], (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(auth_.messages[2], std::vector<uint8_t>{3});
  EXPECT_NE(out.str().find("error unknown command: bogus"), std::string::npos) << out.str();
}

TEST_F(PhoneSimTest, SessionWithoutAListenerFails) {
  SimulatorOptions o = options();
  transport_.stopListening();
  o.timeoutMs = 1500;
  std::ostringstream out;
  EXPECT_EQ(runSession(o, out, nullptr), kExitFailed);
  EXPECT_EQ(out.str().find("handshake"), std::string::npos);
}

// The PC's side of a session, decided in advance: accept, reject or say
// nothing; accepted phones' actions are answered with that action and a
// recording time.
class SessionPc : public component::AuthComponent::Observer, public component::ActionComponent::Observer {
 public:
  enum Decision { kAccept, kReject, kSilent };
  SessionPc(transport::Transport* transport, Decision decision)
      : gate_(transport), auth_(transport, 14), action_(transport, 91001, &gate_), decision_(decision) {
    auth_.AddObserver(this);
    action_.AddObserver(this);
  }
  ~SessionPc() override {
    auth_.RemoveObserver(this);
    action_.RemoveObserver(this);
  }
  void OnAuthDataReceived(component::AuthComponent* auth, const component::AuthComponent::Record& record) override {
    seen = record;
    if (decision_ == kAccept) {
      gate_.open();
      auth->Accept();
    } else if (decision_ == kReject) {
      auth->Reject();
    }
  }
  void OnActionReceived(component::ActionComponent* action, int32_t number) override {
    actions.push_back(number);
    action->SendAction(number);
    action->SendRecordingTime(1234);
  }
  component::AuthComponent::Record seen;
  std::vector<int32_t> actions;

 private:
  component::SessionGate gate_;
  component::AuthComponent auth_;
  component::ActionComponent action_;
  Decision decision_;
};

TEST_F(PhoneSimTest, SessionAuthorizesAndSendsActionsOnceAccepted) {
  SessionPc pc(&transport_, SessionPc::kAccept);
  std::ostringstream out;
  SimulatorOptions o = options();
  o.authorize = true;
  o.uid = "U-7";
  o.name = "Ann";
  o.nameFirst = true;
  o.earlyActions = {1};  // the gate is closed then: dropped
  o.actions = {3};
  EXPECT_EQ(runSession(o, out, nullptr), kExitAdmitted);
  const std::string text = out.str();
  EXPECT_EQ("U-7", pc.seen.uniqueId);
  EXPECT_EQ("Ann", pc.seen.name);
  EXPECT_EQ(std::vector<int32_t>{3}, pc.actions);
  EXPECT_NE(text.find("sent action 1\nauth sent uid=U-7 name=Ann\n"), std::string::npos) << text;
  EXPECT_NE(text.find("auth accepted\nsent action 3\n"), std::string::npos) << text;
  EXPECT_NE(text.find("action 3\n"), std::string::npos) << text;
  EXPECT_NE(text.find("recording-time ms=1234\n"), std::string::npos) << text;
}

TEST_F(PhoneSimTest, SessionExitCodesTellRejectedFromUnanswered) {
  {
    SessionPc pc(&transport_, SessionPc::kReject);
    std::ostringstream out;
    SimulatorOptions o = options();
    o.authorize = true;
    o.uid = "U-8";
    o.name = "Bob";
    o.actions = {3};
    EXPECT_EQ(runSession(o, out, nullptr), kExitRejected) << out.str();
    EXPECT_NE(out.str().find("auth rejected\n"), std::string::npos);
    EXPECT_TRUE(pc.actions.empty());
  }
  SessionPc pc(&transport_, SessionPc::kSilent);
  std::ostringstream out;
  SimulatorOptions o = options();
  o.authorize = true;
  o.uid = "U-9";
  o.name = "Cid";
  o.answerTimeoutMs = 300;
  EXPECT_EQ(runSession(o, out, nullptr), kExitNoAnswer) << out.str();
  EXPECT_NE(out.str().find("auth none within 300 ms\n"), std::string::npos) << out.str();
}

TEST(PhoneSimMessages, BodiesAreLaidOutAsThePhoneSendsThem) {
  // Size word, kind 1, then tag 1 / kind 1 / length 3 / "abc" padded, tag 2.
  const std::vector<uint8_t> expected = {
      32, 0, 0, 0,  1, 0, 0, 0,  1, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 'c', 0,
      2, 0, 0, 0,   1, 0, 0, 0,  0, 0, 0, 0};
  EXPECT_EQ(expected, authData("abc", ""));
  EXPECT_EQ((std::vector<uint8_t>{4, 0, 0, 0, 2, 0, 0, 0}), actionMessage(2));

  int32_t kind = 0, value = 0;
  const std::vector<uint8_t> result = BodyWriter(2).bytesField(5, "skip").integerField(1, 1).bytes();
  EXPECT_TRUE(readKind(result, &kind));
  EXPECT_EQ(2, kind);
  EXPECT_TRUE(readIntegerField(result, 1, &value));
  EXPECT_EQ(1, value);
  EXPECT_FALSE(readIntegerField(result, 2, &value));
  // Cut short or lying about its size: nothing is read.
  std::vector<uint8_t> cut(result.begin(), result.end() - 2);
  EXPECT_FALSE(readKind(cut, &kind));
  EXPECT_FALSE(readIntegerField(cut, 1, &value));
  EXPECT_FALSE(readKind({}, &kind));
  EXPECT_FALSE(readIntegerField(BodyWriter(2).oddField(1, 9, {1, 2, 3, 4}).bytes(), 1, &value));
}

TEST(PhoneSimArguments, ParsesAndRefuses) {
  SimulatorOptions o;
  std::string error;
  ASSERT_TRUE(parseArguments({"--port", "5000", "--app-id", "7", "--version", "1.9", "--pin", "12",
                              "--send", "14:0a0B", "--send", "13001:", "--garbage", "10", "--stay",
                              "--device-model", "X"},
                             &o, &error))
      << error;
  EXPECT_EQ(o.port, 5000);
  EXPECT_EQ(o.identity.applicationId, 7u);
  EXPECT_EQ(o.identity.version, (transport::VersionParts{1, 9, 0, 0}));
  EXPECT_EQ(o.identity.pin, 12u);
  ASSERT_EQ(o.messages.size(), 2u);
  EXPECT_EQ(o.messages[0].second, (std::vector<uint8_t>{0x0A, 0x0B}));
  EXPECT_TRUE(o.messages[1].second.empty());
  EXPECT_EQ(o.garbageBytes, 10u);
  EXPECT_TRUE(o.stay);
  EXPECT_EQ(o.identity.deviceModel, "X");

  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{}, {"--port"}, {"--port", "0"}, {"--port", "65536"}, {"--port", "12x"},
        {"--port", "1", "--send", "14"}, {"--port", "1", "--send", "14:abc"}, {"--port", "1", "--what"},
        {"--port", "1", "--app-id", "4294967296"}, {"--uid", "x"}, {"--port", "1", "--action", "x"},
        {"--port", "1", "--answer-timeout", "-1"}}) {
    EXPECT_FALSE(parseArguments(bad, &o, &error));
    EXPECT_FALSE(error.empty());
  }
  ASSERT_TRUE(parseArguments({"--discover", "--uid", "U", "--name", "N", "--action", "3", "--early-action", "1",
                              "--answer-timeout", "900", "--name-first"},
                             &o, &error))
      << error;
  EXPECT_TRUE(o.discover);
  EXPECT_TRUE(o.authorize);
  EXPECT_TRUE(o.nameFirst);
  EXPECT_EQ("U", o.uid);
  EXPECT_EQ(std::vector<int32_t>{3}, o.actions);
  EXPECT_EQ(std::vector<int32_t>{1}, o.earlyActions);
  EXPECT_EQ(900, o.answerTimeoutMs);

  std::vector<uint8_t> bytes;
  EXPECT_TRUE(parseHex("de AD be ef", &bytes));
  EXPECT_EQ(hexOf(bytes.data(), bytes.size(), 3), "deadbe...");
  EXPECT_FALSE(parseHex("0g", &bytes));
}

}  // namespace
TEST(PhoneSimAudio, ArgumentsChooseWhatToSendAndHowLongToStay) {
  phonesim::SimulatorOptions options;
  std::string error;
  ASSERT_TRUE(phonesim::parseArguments({"--port", "5", "--auth", "UID-1", "--tone", "1000", "--tone-seconds", "3",
                                        "--profile", "ilbc-20ms", "--record-audio", "out.wav"},
                                       &options, &error))
      << error;
  EXPECT_TRUE(options.audio.wanted());
  EXPECT_EQ("UID-1", options.uid);
  EXPECT_TRUE(options.authorize);
  EXPECT_EQ(1000.0, options.audio.toneHz);
  EXPECT_EQ("ilbc-20ms", options.audio.profile);
  EXPECT_EQ(-1, options.lingerMs);  // until the tone is out
  ASSERT_TRUE(phonesim::parseArguments({"--port", "5", "--tone", "440", "--linger", "50"}, &options, &error));
  EXPECT_EQ(50, options.lingerMs);
  EXPECT_FALSE(phonesim::parseArguments({"--port", "5", "--tone", "0"}, &options, &error));
  EXPECT_FALSE(phonesim::parseArguments({"--port", "5", "--tone", "9000"}, &options, &error));
  // A phone clock off the PC's, either way.
  ASSERT_TRUE(phonesim::parseArguments({"--port", "5", "--tone", "440", "--clock-ppm", "-500"}, &options, &error));
  EXPECT_EQ(-500, options.audio.clockPpm);
  ASSERT_TRUE(phonesim::parseArguments({"--port", "5", "--tone", "440", "--clock-ppm", "250"}, &options, &error));
  EXPECT_EQ(250, options.audio.clockPpm);
  for (const char* bad : {"--5", "-", "100001", "1.5"})
    EXPECT_FALSE(phonesim::parseArguments({"--port", "5", "--clock-ppm", bad}, &options, &error)) << bad;

  // A stall: when and how long, decimals allowed, kept below a lost connection.
  ASSERT_TRUE(phonesim::parseArguments({"--port", "5", "--tone", "440", "--stall-at", "2.5", "--stall-seconds", "5"},
                                       &options, &error))
      << error;
  EXPECT_EQ(2500, options.stallAtMs);
  EXPECT_EQ(5000, options.stallMs);
  ASSERT_TRUE(phonesim::parseArguments({"--port", "5", "--stall-seconds", "20", "--stall-at", "0"}, &options, &error));
  EXPECT_EQ(20000, options.stallMs);
  ASSERT_TRUE(phonesim::parseArguments({"--port", "5"}, &options, &error));
  EXPECT_EQ(0, options.stallMs);
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--stall-at", "1"}, {"--stall-seconds", "5"}, {"--stall-at", "1", "--stall-seconds", "0"},
        {"--stall-at", "1", "--stall-seconds", "20.5"}, {"--stall-at", "1", "--stall-seconds", "21"},
        {"--stall-at", "-1", "--stall-seconds", "5"}, {"--stall-at", "1", "--stall-seconds", "x"}}) {
    std::vector<std::string> args = {"--port", "5"};
    args.insert(args.end(), bad.begin(), bad.end());
    error.clear();
    EXPECT_FALSE(phonesim::parseArguments(args, &options, &error)) << bad[0];
    EXPECT_FALSE(error.empty());
  }
}

TEST(PhoneSimAudio, WavFilesRoundTripAndStereoIsMixedDown) {
  const base::string16 dir = base::makeTempDirectory(u"phonesimwav");
  const std::string mono = base::wideToUtf8(dir) + "/mono.wav";
  const std::vector<int16_t> samples = {0, 1000, -1000, 32767, -32768};
  ASSERT_TRUE(phonesim::writeWav(mono, 8000, samples));
  int rate = 0;
  std::vector<int16_t> back;
  std::string error;
  ASSERT_TRUE(phonesim::readWav(mono, &rate, &back, &error)) << error;
  EXPECT_EQ(8000, rate);
  EXPECT_EQ(samples, back);

  // A stereo file with an extra chunk before the samples.
  const std::string stereo = base::wideToUtf8(dir) + "/stereo.wav";
  const uint8_t bytes[] = {'R', 'I', 'F', 'F', 48, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,
                           1, 0, 2, 0, 0x80, 0xBB, 0, 0, 0, 0xEE, 2, 0, 4, 0, 16, 0, 'L', 'I', 'S', 'T', 1, 0,
                           0, 0, 'x', 0, 'd', 'a', 't', 'a', 8, 0, 0, 0, 100, 0, 200, 0, 0x9C, 0xFF, 0x9C, 0xFF};
  FILE* f = std::fopen(stereo.c_str(), "wb");
  ASSERT_TRUE(f);
  std::fwrite(bytes, 1, sizeof(bytes), f);
  std::fclose(f);
  ASSERT_TRUE(phonesim::readWav(stereo, &rate, &back, &error)) << error;
  EXPECT_EQ(48000, rate);
  EXPECT_EQ((std::vector<int16_t>{150, -100}), back);
  EXPECT_FALSE(phonesim::readWav(base::wideToUtf8(dir) + "/missing.wav", &rate, &back, &error));
  base::removeTree(dir);
}

}  // namespace phonesim
