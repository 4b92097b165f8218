// End-to-end: a whole session with the real `server` and a simulated phone:
// the phone identifies itself, is accepted from the access list or waits for
// the user's answer (given here by another start with -allow, -allow-once
// or -deny), and sends actions, which reach the controller only once the
// phone has been accepted.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/e2e/server_process.h"
#include "base/file_util.h"
#include "base/message_loop.h"
#include "base/platform_thread.h"
#include "base/reg_key.h"
#include "base/socket.h"
#include "tools/hostilephone/hostile_peer.h"
#include "tools/phonesim/phone_connection.h"
#include "tools/phonesim/session_messages.h"

namespace {

// Bounds for hangs (Wine starts a program in seconds), not speed checks.
constexpr uint32_t kStartTimeoutMs = 90000;
constexpr uint32_t kEndTimeoutMs = 60000;
constexpr uint32_t kPollMs = 50;
constexpr int32_t kPhoneTimeoutMs = 30000;
// How long a phone listens to make sure that nothing comes.
constexpr uint32_t kQuietMs = 2000;

// A snapshot before any picture: the writer checks the kept frame.
constexpr char kSnapshotLine[] = "Check failed: video_frame.pixel_format == kPixelFormat_24RGB. ";
// The phone sent no picture, so the recorder has no size to record at.
constexpr char kRecordingLine[] = "Start recording. Frame: 0x0";
constexpr char kPromptLine[] = "Waiting for the user's answer about the phone";

// The phones run on the test thread's loop, which every wait pumps, so
// that what they send goes out while the test waits for the server.
class SessionPhone : public phonesim::PhoneConnection::Observer {
 public:
  SessionPhone() { connection_.addObserver(this); }
  ~SessionPhone() override { connection_.removeObserver(this); }

  bool connect(uint16_t port, const phonesim::PhoneIdentity& identity = phonesim::PhoneIdentity()) {
    std::string error;
    if (!connection_.connect("127.0.0.1", port, kPhoneTimeoutMs, &error)) return false;
    if (!runUntil([this] { return connection_.isConnected() || connection_.isClosed(); })) return false;
    if (!connection_.isConnected() || !connection_.sendHandshake(identity)) return false;
    return runUntil([this] { return connection_.serverHandshake() || connection_.isClosed(); }) &&
           connection_.serverHandshake() && !connection_.farewellReceived();
  }
  void sendAuth(const std::string& uid, const std::string& name, bool nameFirst = false) {
    connection_.sendMessage(phonesim::kAuthType, phonesim::authData(uid, name, nameFirst));
  }
  void sendRaw(uint32_t type, const std::vector<uint8_t>& body) { connection_.sendMessage(type, body); }
  void sendAction(int32_t action) { connection_.sendMessage(phonesim::kActionType, phonesim::actionMessage(action)); }

  template <typename Done>
  bool runUntil(Done done, uint32_t timeoutMs = kPhoneTimeoutMs) {
    for (uint32_t waited = 0; waited < timeoutMs && !done(); waited += kPollMs)
      base::MessageLoop::current()->runFor(kPollMs);
    return done();
  }
  void listen(uint32_t ms) { base::MessageLoop::current()->runFor(ms); }
  // Waits for the authorization result: 1, 0, or -1 when none came.
  int waitForResult(uint32_t timeoutMs = kPhoneTimeoutMs) {
    runUntil([this] { return !results_.empty() || connection_.isClosed(); }, timeoutMs);
    return results_.empty() ? -1 : results_.front();
  }
  const std::vector<int32_t>& results() const { return results_; }
  const std::vector<int32_t>& actions() const { return actions_; }
  phonesim::PhoneConnection& connection() { return connection_; }

 private:
  void onMessage(phonesim::PhoneConnection*, const transport::Frame& frame) override {
    int32_t kind = 0, value = 0;
    if (!phonesim::readKind(frame.payload, &kind)) return;
    if (frame.type == phonesim::kAuthType && kind == 2 && phonesim::readIntegerField(frame.payload, 1, &value))
      results_.push_back(value);
    if (frame.type == phonesim::kActionType) actions_.push_back(kind);
  }

  phonesim::PhoneConnection connection_;
  std::vector<int32_t> results_;
  std::vector<int32_t> actions_;
};

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class SessionE2ETest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!user_.setUp()) GTEST_SKIP() << "no private user on this system";
    base::initializeSockets();
  }
  void TearDown() override {
    if (server_.running()) endServer();
    EXPECT_EQ("", user_.sanitizerReports());
  }

  base::string16 output(const std::string& name) { return base::joinPath(user_.folder(), base::utf8ToWide(name)); }

  // Starts `server` and returns its listening port (0 when it did not listen).
  uint16_t startServer() {
    if (!server_.start(ServerProcess::defaultProgram(), {}, output("server" + std::to_string(++starts_) + ".out")))
      return 0;
    const std::string log = waitForLog("Listen on ");
    std::smatch match;
    static const std::regex kListen("Listen on [0-9.]+:([0-9]+)");
    return std::regex_search(log, match, kListen) ? static_cast<uint16_t>(std::stoi(match[1])) : 0;
  }
  // Ends it with "-exit"; its exit code.
  int endServer() {
    int code = -100;
    runOther("-exit", &code);
    if (!server_.wait(kEndTimeoutMs, &code)) {
      server_.kill();
      return -100;
    }
    return code;
  }
  // Another start of the program with `switchText`; false when it did not end.
  bool runOther(const std::string& switchText, int* code) {
    ServerProcess other;
    if (!other.start(ServerProcess::defaultProgram(), {switchText}, output("other" + std::to_string(++starts_) + ".out")))
      return false;
    for (uint32_t waited = 0; waited < kEndTimeoutMs && other.running(); waited += kPollMs) loop_.runFor(kPollMs);
    return other.wait(kEndTimeoutMs, code);
  }
  std::string waitForLog(const std::string& text, size_t times = 1, uint32_t timeoutMs = kStartTimeoutMs) {
    for (uint32_t waited = 0; waited < timeoutMs; waited += kPollMs) {
      if (count(user_.logOf(server_.pid()), text) >= times || !server_.running()) break;
      loop_.runFor(kPollMs);
    }
    return user_.logOf(server_.pid());
  }
  std::string log() { return user_.logOf(server_.pid()); }

  // The access list as stored.
  static bool storedDevice(const base::string16& keyName, base::string16* name, uint32_t* status) {
    base::RegKey key;
    return key.open(base::RegRoot::kCurrentUser, base::string16(kAppRegistryKey) + u"\\ACL\\" + keyName) ==
               base::kRegOk &&
           key.readValue(u"Name", name) == base::kRegOk && key.readValueDW(u"Status", status) == base::kRegOk;
  }
  static bool storeDevice(const base::string16& uid, const base::string16& name, uint32_t status) {
    base::RegKey key;
    return key.create(base::RegRoot::kCurrentUser, base::string16(kAppRegistryKey) + u"\\ACL\\" + uid) ==
               base::kRegOk &&
           key.writeValue(u"Name", name) == base::kRegOk && key.writeValueDW(u"Status", status) == base::kRegOk;
  }

  base::MessageLoop loop_;
  PrivateUser user_;
  ServerProcess server_;
  int starts_ = 0;
};

TEST_F(SessionE2ETest, AnUnknownPhoneWaitsForAllowAndIsAcceptedAtOnceNextTime) {
  const uint16_t port = startServer();
  ASSERT_NE(0, port) << log();
  {
    SessionPhone phone;
    ASSERT_TRUE(phone.connect(port));
    // Before it is accepted its actions go nowhere.
    phone.sendAction(3);
    phone.sendAction(1);
    // The name first, and fields of unknown tags of both kinds in between.
    phone.sendRaw(phonesim::kAuthType, phonesim::BodyWriter(1)
                                           .integerField(7, 99)
                                           .bytesField(2, "Ann's iPhone")
                                           .bytesField(9, "ignored")
                                           .bytesField(1, "A1B2-C3D4")
                                           .bytes());
    ASSERT_NE(std::string::npos, waitForLog(kPromptLine).find(kPromptLine)) << log();
    phone.listen(500);
    EXPECT_TRUE(phone.results().empty());
    EXPECT_TRUE(phone.actions().empty());

    int code = -100;
    ASSERT_TRUE(runOther("-allow", &code));
    EXPECT_EQ(0, code);
    EXPECT_EQ(1, phone.waitForResult());
    std::string text = waitForLog("Connection was accepted.");
    EXPECT_NE(std::string::npos, text.find("Name: Ann's iPhone"));
    EXPECT_NE(std::string::npos, text.find("UID: A1B2-C3D4"));
    EXPECT_NE(std::string::npos, text.find("Dropping actions from a phone that has not been accepted"));
    EXPECT_EQ(std::string::npos, text.find(kSnapshotLine));
    EXPECT_EQ(std::string::npos, text.find(kRecordingLine));
    // Listed at once, before the program ends.
    base::string16 name;
    uint32_t status = 0;
    ASSERT_TRUE(storedDevice(u"A1B2-C3D4", &name, &status));
    EXPECT_EQ(u"Ann's iPhone", name);
    EXPECT_EQ(1u, status);

    // Accepted, its actions reach the controller; a snapshot is announced.
    phone.sendAction(3);
    phone.sendAction(1);
    phone.sendAction(4);
    phone.sendAction(7);
    text = waitForLog(kRecordingLine);
    EXPECT_EQ(1u, count(text, kSnapshotLine));
    EXPECT_EQ(1u, count(text, kRecordingLine));
    ASSERT_TRUE(phone.runUntil([&] { return !phone.actions().empty(); }));
    EXPECT_EQ(std::vector<int32_t>{3}, phone.actions());
    // Nothing could start recording, so no "recording started" goes out.
    phone.listen(300);
    EXPECT_EQ(std::vector<int32_t>{3}, phone.actions());
  }
  EXPECT_EQ(1, endServer());

  // After a restart the phone is accepted without a question.
  const uint16_t again = startServer();
  ASSERT_NE(0, again);
  SessionPhone phone;
  ASSERT_TRUE(phone.connect(again));
  phone.sendAuth("A1B2-C3D4", "Ann's iPhone");
  EXPECT_EQ(1, phone.waitForResult());
  const std::string text = waitForLog("Connection was accepted.");
  EXPECT_EQ(std::string::npos, text.find(kPromptLine));
  EXPECT_EQ(1, endServer());
}

TEST_F(SessionE2ETest, DeniedPhonesStayConnectedAndStatusZeroGetsNoAnswer) {
  ASSERT_TRUE(storeDevice(u"Z-0", u"Blocked", 0));
  const uint16_t port = startServer();
  ASSERT_NE(0, port) << log();
  {
    // Listed with status 0: no answer and no question.
    SessionPhone phone;
    ASSERT_TRUE(phone.connect(port));
    phone.sendAuth("Z-0", "Blocked");
    waitForLog("UID: Z-0");
    EXPECT_EQ(-1, phone.waitForResult(kQuietMs));
    EXPECT_EQ(std::string::npos, log().find(kPromptLine));
    // Only the unique id: not even read as authorization data.
    phone.sendRaw(phonesim::kAuthType, phonesim::BodyWriter(1).bytesField(1, "U-only").bytes());
    phone.listen(kQuietMs);
    EXPECT_EQ(1u, count(log(), "Did receive auth data"));
    phone.connection().disconnect();
    phone.runUntil([&] { return phone.connection().isClosed(); });
  }
  waitForLog("Transport disconnected");

  SessionPhone phone;
  ASSERT_TRUE(phone.connect(port));
  phone.sendAuth("B-2", "Bob");
  waitForLog(kPromptLine);
  int code = -100;
  ASSERT_TRUE(runOther("-deny", &code));
  EXPECT_EQ(0, code);
  EXPECT_EQ(0, phone.waitForResult());
  EXPECT_NE(std::string::npos, waitForLog("Connection was rejected.").find("Connection was rejected."));
  // Nothing is waiting any more.
  ASSERT_TRUE(runOther("-allow", &code));
  EXPECT_EQ(1, code);
  // Still connected, and its actions have no effect.
  phone.sendAction(3);
  phone.listen(kQuietMs);
  EXPECT_TRUE(phone.connection().isConnected());
  EXPECT_FALSE(phone.connection().farewellReceived());
  EXPECT_TRUE(phone.actions().empty());
  EXPECT_EQ(std::string::npos, log().find(kSnapshotLine));
  base::string16 name;
  uint32_t status = 0;
  EXPECT_FALSE(storedDevice(u"B-2", &name, &status));
  EXPECT_EQ(1, endServer());
}

TEST_F(SessionE2ETest, NewDataRestartsTheQuestionAndADisconnectionEndsIt) {
  const uint16_t port = startServer();
  ASSERT_NE(0, port) << log();
  {
    SessionPhone phone;
    ASSERT_TRUE(phone.connect(port));
    phone.sendAuth("first-id", "First");
    waitForLog(kPromptLine);
    phone.sendAuth("second\\id", "Second");
    waitForLog(kPromptLine, 2);
    // Allowed once: accepted, not listed.
    int code = -100;
    ASSERT_TRUE(runOther("-allow-once", &code));
    EXPECT_EQ(0, code);
    EXPECT_EQ(1, phone.waitForResult());
    phone.listen(300);
    EXPECT_EQ(std::vector<int32_t>{1}, phone.results());
    base::string16 name;
    uint32_t status = 0;
    EXPECT_FALSE(storedDevice(u"first-id", &name, &status));
    EXPECT_FALSE(storedDevice(u"%second%005Cid", &name, &status));
    phone.connection().disconnect();
    phone.runUntil([&] { return phone.connection().isClosed(); });
  }
  waitForLog("Transport disconnected");
  {
    // Gone while asked about: the question ends without an answer.
    SessionPhone phone;
    ASSERT_TRUE(phone.connect(port));
    phone.sendAuth("second\\id", "Second");
    waitForLog(kPromptLine, 3);
    phone.connection().disconnect();
    phone.runUntil([&] { return phone.connection().isClosed(); });
  }
  waitForLog("Transport disconnected", 2);
  int code = -100;
  ASSERT_TRUE(runOther("-allow", &code));
  EXPECT_EQ(1, code);
  base::string16 name;
  uint32_t status = 0;
  EXPECT_FALSE(storedDevice(u"%second%005Cid", &name, &status));

  // An id with a backslash allowed always lands in one escaped key.
  SessionPhone phone;
  ASSERT_TRUE(phone.connect(port));
  phone.sendAuth("second\\id", "Second");
  waitForLog(kPromptLine, 4);
  ASSERT_TRUE(runOther("-allow", &code));
  EXPECT_EQ(0, code);
  EXPECT_EQ(1, phone.waitForResult());
  EXPECT_TRUE(storedDevice(u"%second%005Cid", &name, &status));
  EXPECT_EQ(u"Second", name);
  EXPECT_EQ(1, endServer());
}

// Peers the user never accepts. Each must leave the real phone its place,
// learn nothing, and carry nothing raw into the log or the console.
TEST_F(SessionE2ETest, HostileStringsReachTheLogAndConsoleOnlyEscaped) {
  const uint16_t port = startServer();
  ASSERT_NE(0, port) << log();
  const std::string consoleFile = "server" + std::to_string(starts_) + ".out";
  SessionPhone peer;
  ASSERT_TRUE(peer.connect(port, hostile::hostileIdentity("/home/user/.ssh/id_rsa")));
  peer.sendAuth("EVIL\r\n\x1b[1A", hostile::escapeDeviceName());
  const std::string text = waitForLog(kPromptLine);
  ASSERT_NE(std::string::npos, text.find(kPromptLine)) << text;
  EXPECT_NE(std::string::npos, text.find("UID: EVIL\\x0d\\x0a\\x1b[1A"));
  EXPECT_NE(std::string::npos, text.find("Name: Anna\\x1b[8m\\u202egpj.exe\\x9b0m"));
  EXPECT_NE(std::string::npos, text.find("escaped"));
  EXPECT_EQ(std::string::npos, text.find("\nCompressedLog:"));
  EXPECT_EQ(std::string::npos, text.find("\nTarFile:"));
  EXPECT_EQ(std::string::npos, text.find('\x1b'));
  EXPECT_EQ(std::string::npos, text.find("\xe2\x80\xae"));
  EXPECT_EQ(std::string::npos, text.find("\xc2\x9b"));
  EXPECT_EQ(1, endServer());
  // What the console printed (the prompt names the phone) is as clean.
  std::string console;
  base::readFile(output(consoleFile), &console);
  EXPECT_EQ(std::string::npos, console.find('\x1b'));
  EXPECT_EQ(std::string::npos, console.find("\xe2\x80\xae"));
  EXPECT_EQ(std::string::npos, console.find("\nCompressedLog:"));
  // Linux: the console's status line shows the model (the Windows window
  // writes nothing to standard output).
  if (!console.empty()) EXPECT_NE(std::string::npos, console.find("iPhone15,3\\x0aCompressedLog:")) << console;
}

TEST_F(SessionE2ETest, SilentAndDeniedPeersMakeWayForTheRealPhone) {
  ASSERT_TRUE(storeDevice(u"REAL-PHONE", u"Real", 1));
  const uint16_t port = startServer();
  ASSERT_NE(0, port) << log();
  SessionPhone silent;
  ASSERT_TRUE(silent.connect(port));
  waitForLog("Did connect to ");

  // The denied one takes the slot from the silent one, and after the
  // answer stays connected so that it can show it.
  SessionPhone denied;
  ASSERT_TRUE(denied.connect(port));
  ASSERT_TRUE(silent.runUntil([&] { return silent.connection().isClosed(); }));
  EXPECT_TRUE(silent.connection().farewellReceived());
  EXPECT_EQ(0u, silent.connection().farewellReason());
  denied.sendAuth("STRANGER", "Stranger");
  waitForLog(kPromptLine);
  // While its prompt is open, it keeps its place.
  {
    SessionPhone early;
    early.connect(port);
    ASSERT_TRUE(early.runUntil([&] { return early.connection().farewellReceived(); }));
    EXPECT_EQ(1u, early.connection().farewellReason());
  }
  int code = -100;
  ASSERT_TRUE(runOther("-deny", &code));
  EXPECT_EQ(0, denied.waitForResult());
  denied.listen(300);
  EXPECT_FALSE(denied.connection().isClosed());

  SessionPhone real;
  ASSERT_TRUE(real.connect(port));
  real.sendAuth("REAL-PHONE", "Real");
  EXPECT_EQ(1, real.waitForResult());
  ASSERT_TRUE(denied.runUntil([&] { return denied.connection().isClosed(); }));
  EXPECT_EQ(0u, denied.connection().farewellReason());
  EXPECT_FALSE(real.connection().farewellReceived());
  EXPECT_NE(std::string::npos, log().find("it was not accepted and another phone connected"));
  EXPECT_EQ(1, endServer());
}

TEST_F(SessionE2ETest, AnAcceptedPhoneThatChangesIdentityWaitsForTheAnswer) {
  ASSERT_TRUE(storeDevice(u"LISTED", u"Listed", 1));
  const uint16_t port = startServer();
  ASSERT_NE(0, port) << log();
  SessionPhone phone;
  ASSERT_TRUE(phone.connect(port));
  phone.sendAuth("LISTED", "Listed");
  EXPECT_EQ(1, phone.waitForResult());
  // Right behind the new identity, a snapshot: it must not be taken.
  phone.sendAuth("UNKNOWN", "Someone else");
  phone.sendAction(3);
  waitForLog(kPromptLine);
  phone.listen(kQuietMs);
  std::string text = log();
  EXPECT_EQ(0u, count(text, kSnapshotLine)) << text;
  EXPECT_TRUE(phone.actions().empty());
  EXPECT_NE(std::string::npos, text.find("Dropping actions from a phone that has not been accepted"));

  int code = -100;
  ASSERT_TRUE(runOther("-allow-once", &code));
  EXPECT_EQ(0, code);
  ASSERT_TRUE(phone.runUntil([&] { return phone.results().size() == 2; }));
  EXPECT_EQ(1, phone.results()[1]);
  phone.sendAction(3);
  text = waitForLog(kSnapshotLine);
  EXPECT_EQ(1u, count(text, kSnapshotLine));
  EXPECT_EQ(1, endServer());
}

}  // namespace
