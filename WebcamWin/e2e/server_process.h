// Test support: the real `server` program started as a child process, and a
// private user environment for it (Linux: a fresh HOME and XDG folders;
// under Wine: the program's registry key cleared before and after).
#ifndef WEBCAMWIN_E2E_SERVER_PROCESS_H_
#define WEBCAMWIN_E2E_SERVER_PROCESS_H_

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/string_util.h"

class ServerProcess {
 public:
  ServerProcess();
  ~ServerProcess();  // kills a child that is still running

  // The program built beside the tests (bin/server, bin/server.exe).
  static base::string16 defaultProgram();

  // Starts `program` with `args`; its standard output and error go to
  // `outputFile` (Linux; empty: discarded).
  bool start(const base::string16& program, const std::vector<std::string>& args,
             const base::string16& outputFile = base::string16());
  // Waits up to `timeoutMs` for the end; true with the exit code when it ended.
  bool wait(uint32_t timeoutMs, int* exitCode);
  bool running();
  uint32_t pid() const { return pid_; }
  // Linux: SIGTERM; Windows: nothing.
  bool terminate();
  void kill();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
  uint32_t pid_ = 0;
};

// The user `server` runs as, kept apart from the real one.
class PrivateUser {
 public:
  PrivateUser();
  ~PrivateUser();
  // False when this system cannot give the program a private user (then the
  // test is skipped: outside Wine the Windows tests would touch real data).
  bool setUp();
  // Linux: the programs started from now on see the desktop's display
  // again (setUp() hides it). False when there is none.
  bool useDisplay();
  // Writes `Port` as a user would (Linux: into the registry file by hand).
  bool storePort(uint32_t port);
  // Lists the phone `uid` as always allowed, as the access list keeps it,
  // so that it is admitted without a question.
  bool allowPhone(const std::string& uid, const base::string16& name);
  // The program's log lines of process `pid`, from the log files made since
  // setUp() (process ids come back under Wine).
  std::string logOf(uint32_t pid);
  // Reports of the sanitizers found in the programs' output files (*.out in
  // folder()); empty when there are none.
  std::string sanitizerReports();
  // A scratch folder for the test.
  const base::string16& folder() const { return folder_; }

 private:
  void rememberOldLogs();

  base::string16 folder_;
  std::set<base::string16> oldLogs_;
  std::vector<std::pair<std::string, std::string>> savedEnv_;
};

// What the tests do with a server run as `user`; each waits at most
// `timeoutMs` (generous: the server runs slowly under Wine and sanitizers).
namespace e2e {
constexpr uint32_t kStartTimeoutMs = 90000;
constexpr uint32_t kEndTimeoutMs = 60000;

// The port of the "Listen on 0.0.0.0:<port>" line in `log`, or 0.
int listeningPort(const std::string& log);
// Starts the program with its output in the user's "server.out" and waits
// for it to listen: its port, or 0 when it ended or did not listen.
int startServer(PrivateUser& user, ServerProcess* server, uint32_t timeoutMs = kStartTimeoutMs);
// Until the log of `server` holds `text` at least `count` times: a phone's
// messages are all handled before its disconnection is logged, so waiting
// for that makes checks independent of how slow the server runs (Wine).
bool waitForLogCount(PrivateUser& user, ServerProcess* server, const std::string& text, size_t count,
                     uint32_t timeoutMs = kStartTimeoutMs);
// Ends `server` with another start given "-exit": the server's exit code,
// or -100 when something did not end.
int endServer(PrivateUser& user, ServerProcess* server, uint32_t timeoutMs = kEndTimeoutMs);
}  // namespace e2e

#endif  // WEBCAMWIN_E2E_SERVER_PROCESS_H_
