// End-to-end on Linux: a user at the real `server`'s console, typing into a
// pseudo-terminal: allowing a phone, a snapshot, removing the phone from the
// access list (so it is asked about again) and quitting with the question
// that fits (a connected phone first, then the plain one).
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/e2e/server_process.h"
#include "base/file_util.h"
#include "base/platform_thread.h"
#include "base/reg_key.h"
#include "base/socket.h"
#include "tools/phonesim/simulator.h"

namespace {

constexpr uint32_t kTimeoutMs = 30000;
constexpr uint32_t kPollMs = 20;

// `server` on a pseudo-terminal: what it prints is gathered, keys are typed.
class TerminalServer {
 public:
  ~TerminalServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    stop_ = true;
    if (reader_.joinable()) reader_.join();
    if (master_ >= 0) ::close(master_);
  }
  bool start(const std::string& program) {
    pid_ = ::forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      sigset_t none;
      sigemptyset(&none);
      ::sigprocmask(SIG_SETMASK, &none, nullptr);
      ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    reader_ = std::thread([this] {
      char buffer[4096];
      while (!stop_) {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const ssize_t n = ::read(master_, buffer, sizeof(buffer));
        if (n <= 0) break;  // the program ended
        std::lock_guard<std::mutex> lock(mu_);
        output_.append(buffer, static_cast<size_t>(n));
      }
    });
    return true;
  }
  void type(char key) { ASSERT_EQ(1, ::write(master_, &key, 1)); }
  std::string output() {
    std::lock_guard<std::mutex> lock(mu_);
    return output_;
  }
  // Waits until `pattern` matches the output after `from`; the match's end.
  // `match` stays valid until the next wait.
  size_t waitFor(const std::string& pattern, size_t from, std::smatch* match = nullptr) {
    const std::regex re(pattern);
    for (uint32_t waited = 0; waited < kTimeoutMs; waited += kPollMs) {
      const std::string text = output();
      std::smatch m;
      if (from <= text.size()) {
        // The match points into the text it was found in: it is kept until
        // the next wait.
        matched_ = text.substr(from);
        const std::string& rest = matched_;
        if (std::regex_search(rest, m, re)) {
          if (match) *match = m;
          return from + static_cast<size_t>(m.position(0) + m.length(0));
        }
      }
      base::PlatformThread::sleepMs(kPollMs);
    }
    ADD_FAILURE() << "no \"" << pattern << "\" in:\n" << output().substr(std::min(from, output().size()));
    return std::string::npos;
  }
  bool wait(int* code) {
    for (uint32_t waited = 0; waited < kTimeoutMs; waited += kPollMs) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        *code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return true;
      }
      base::PlatformThread::sleepMs(kPollMs);
    }
    return false;
  }
  pid_t pid() const { return pid_; }
  void terminate() { ::kill(pid_, SIGTERM); }

 private:
  pid_t pid_ = -1;
  int master_ = -1;
  std::atomic<bool> stop_{false};
  std::thread reader_;
  std::mutex mu_;
  std::string matched_;
  std::string output_;
};

// A phone that asks to be allowed and sends the test card for `seconds`.
std::thread phone(int port, int seconds, std::string* transcript) {
  return std::thread([=] {
    phonesim::SimulatorOptions options;
    options.port = static_cast<uint16_t>(port);
    options.timeoutMs = 20000;
    options.lingerMs = 300;
    options.authorize = true;
    options.uid = "console-e2e-phone";
    options.name = "Console phone";
    options.answerTimeoutMs = 20000;
    options.video.source = "pattern";
    options.video.fps = 10;
    options.video.frames = static_cast<uint32_t>(seconds * 10);
    options.video.width = 160;
    options.video.height = 120;
    std::ostringstream out;
    phonesim::runSession(options, out, nullptr);
    *transcript = out.str();
  });
}

TEST(ConsoleE2ETest, TheKeysAllowSnapRemoveAndQuitWithTheRightQuestion) {
  PrivateUser user;
  ASSERT_TRUE(user.setUp());
  base::initializeSockets();
  const base::string16 pictures = base::joinPath(user.folder(), u"Snapshots");
  {
    base::RegKey app;
    ASSERT_EQ(base::kRegOk, app.create(base::RegRoot::kCurrentUser, kAppRegistryKey));
    ASSERT_EQ(base::kRegOk, app.writeValue(u"PicturesFolder", pictures));
    ASSERT_EQ(base::kRegOk, app.writeValue(u"LinuxCamera", u"off"));
  }
  TerminalServer server;
  ASSERT_TRUE(server.start(base::nativePath(ServerProcess::defaultProgram())));
  std::smatch match;
  size_t at = server.waitFor("Listen on [0-9.]+:([0-9]+)", 0, &match);
  ASSERT_NE(std::string::npos, at);
  const int port = std::stoi(match[1]);
  at = server.waitFor("Keys: s snapshot, r record, p pictures, v videos, l access list, q quit", 0);
  ASSERT_NE(std::string::npos, at);

  // The phone asks; "a" allows it for good; the status line shows it.
  std::string transcript;
  std::thread first = phone(port, 4, &transcript);
  at = server.waitFor("Phone 'Console phone' \\(Unique ID: console-e2e-phone\\) wants to connect", at);
  ASSERT_NE(std::string::npos, at);
  server.type('a');
  at = server.waitFor("Phone: Console phone \\| 160x120 at [0-9]+ fps", at);
  ASSERT_NE(std::string::npos, at);

  // A snapshot lands in the pictures folder.
  server.type('s');
  bool snapped = false;
  for (uint32_t waited = 0; waited < kTimeoutMs && !snapped; waited += kPollMs) {
    snapped = !base::listDirectory(pictures).empty();
    base::PlatformThread::sleepMs(kPollMs);
  }
  EXPECT_TRUE(snapped);

  // Quitting with a phone there asks about the connection; "n" keeps it.
  server.type('q');
  at = server.waitFor("You have active connection\\. Are you sure you want to quit\\? \\[y\\]es", at);
  ASSERT_NE(std::string::npos, at);
  server.type('n');
  at = server.waitFor("Not quitting\\.", at);
  first.join();
  at = server.waitFor("Phone: none", at);
  ASSERT_NE(std::string::npos, at);

  // Removed from the list, the phone is asked about again; "d" denies it.
  server.type('l');
  at = server.waitFor("1\\. Console phone \\(console-e2e-phone\\), always allowed", at);
  ASSERT_NE(std::string::npos, at);
  server.type('1');
  server.type('\r');
  at = server.waitFor("Removed Console phone \\(console-e2e-phone\\)\\.", at);
  ASSERT_NE(std::string::npos, at);
  std::thread second = phone(port, 1, &transcript);
  at = server.waitFor("Phone 'Console phone' \\(Unique ID: console-e2e-phone\\) wants to connect", at);
  ASSERT_NE(std::string::npos, at);
  server.type('d');
  second.join();

  // No phone now: the plain question; "y" quits.
  server.type('q');
  at = server.waitFor("Lumora ZuvIridar will be closed now\\. Are you sure you want to quit\\?", at);
  ASSERT_NE(std::string::npos, at);
  server.type('y');
  int code = -100;
  const pid_t pid = server.pid();
  ASSERT_TRUE(server.wait(&code));
  EXPECT_EQ(1, code);
  const std::string log = user.logOf(static_cast<uint32_t>(pid));
  EXPECT_NE(std::string::npos, log.find("UI event: Make snapshot"));
  EXPECT_NE(std::string::npos, log.find("Removed Console phone (console-e2e-phone) from the access list"));
  EXPECT_NE(std::string::npos, log.find("WM_DESTROY message"));
}

// Ended by the system (SIGTERM), the console does not ask: the program
// closes the normal way at once.
TEST(ConsoleE2ETest, TheTerminationSignalQuitsWithoutAQuestion) {
  PrivateUser user;
  ASSERT_TRUE(user.setUp());
  {
    base::RegKey app;
    ASSERT_EQ(base::kRegOk, app.create(base::RegRoot::kCurrentUser, kAppRegistryKey));
    ASSERT_EQ(base::kRegOk, app.writeValue(u"LinuxCamera", u"off"));
  }
  TerminalServer server;
  ASSERT_TRUE(server.start(base::nativePath(ServerProcess::defaultProgram())));
  ASSERT_NE(std::string::npos, server.waitFor("Keys: s snapshot", 0));
  const pid_t pid = server.pid();
  server.terminate();
  int code = -100;
  ASSERT_TRUE(server.wait(&code));
  EXPECT_EQ(1, code);
  EXPECT_EQ(std::string::npos, server.output().find("Are you sure you want to quit?"));
  EXPECT_NE(std::string::npos, user.logOf(static_cast<uint32_t>(pid)).find("WM_CLOSE message. wParam: 0"));
}

}  // namespace
