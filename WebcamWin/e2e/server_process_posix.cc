// Linux: fork and exec; the private user is a fresh HOME with its own XDG
// folders, set in this process's environment so that children inherit it.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "WebcamWin/e2e/server_process.h"
#include "WebcamWin/app/app_info.h"
#include "base/file_util.h"
#include "base/platform_thread.h"
#include "base/test_util.h"

struct ServerProcess::Impl {
  pid_t pid = -1;
  bool reaped = false;
  int status = 0;
};

ServerProcess::ServerProcess() : impl_(std::make_unique<Impl>()) {}

ServerProcess::~ServerProcess() { kill(); }

base::string16 ServerProcess::defaultProgram() {
  return base::joinPath(base::joinPath(base::dirName(base::executableDirectory()), u"bin"),
                        u"server");
}

bool ServerProcess::start(const base::string16& program, const std::vector<std::string>& args,
                          const base::string16& outputFile) {
  const std::string path = base::nativePath(program);
  const std::string output = outputFile.empty() ? "/dev/null" : base::nativePath(outputFile);
  std::vector<std::string> argv = {path};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> raw;
  for (auto& a : argv) raw.push_back(&a[0]);
  raw.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const int in = ::open("/dev/null", O_RDONLY);
    if (out >= 0) {
      ::dup2(out, STDOUT_FILENO);
      ::dup2(out, STDERR_FILENO);
    }
    if (in >= 0) ::dup2(in, STDIN_FILENO);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execv(path.c_str(), raw.data());
    ::_exit(127);
  }
  impl_->pid = pid;
  impl_->reaped = false;
  pid_ = static_cast<uint32_t>(pid);
  return true;
}

bool ServerProcess::running() {
  if (impl_->pid < 0 || impl_->reaped) return false;
  if (::waitpid(impl_->pid, &impl_->status, WNOHANG) == impl_->pid) impl_->reaped = true;
  return !impl_->reaped;
}

bool ServerProcess::wait(uint32_t timeoutMs, int* exitCode) {
  constexpr uint32_t kStepMs = 20;
  for (uint32_t waited = 0;; waited += kStepMs) {
    if (!running()) break;
    if (waited >= timeoutMs) return false;
    base::PlatformThread::sleepMs(kStepMs);
  }
  if (impl_->pid < 0) return false;
  *exitCode = WIFEXITED(impl_->status) ? WEXITSTATUS(impl_->status)
                                       : 128 + WTERMSIG(impl_->status);
  return true;
}

bool ServerProcess::terminate() { return running() && ::kill(impl_->pid, SIGTERM) == 0; }

void ServerProcess::kill() {
  if (running()) {
    ::kill(impl_->pid, SIGKILL);
    ::waitpid(impl_->pid, &impl_->status, 0);
    impl_->reaped = true;
  }
}

PrivateUser::PrivateUser() = default;

PrivateUser::~PrivateUser() {
  for (auto it = savedEnv_.rbegin(); it != savedEnv_.rend(); ++it) {
    if (it->second == "\x01") ::unsetenv(it->first.c_str());
    else ::setenv(it->first.c_str(), it->second.c_str(), 1);
  }
  if (!folder_.empty()) base::removeTree(folder_);
}

bool PrivateUser::setUp() {
  folder_ = base::makeTempDirectory(u"server-e2e");
  if (folder_.empty()) return false;
  const std::string root = base::nativePath(folder_);
  const std::pair<const char*, std::string> vars[] = {
      {"HOME", root + "/home"},
      {"XDG_CONFIG_HOME", root + "/home/.config"},
      {"XDG_STATE_HOME", root + "/home/.local/state"},
      {"XDG_DATA_HOME", root + "/home/.local/share"},
      {"XDG_RUNTIME_DIR", root + "/run"},
      // The update check at start stays on this machine (nothing listens there).
      {"LUMORA_UPDATE_URL", "http://127.0.0.1:9/server/webcam-win-latest.php"},
  };
  for (const auto& var : vars) {
    const char* old = ::getenv(var.first);
    savedEnv_.emplace_back(var.first, old ? old : "\x01");
    ::setenv(var.first, var.second.c_str(), 1);
    if (var.second[0] == '/') base::createDirectories(base::utf8ToWide(var.second));
  }
  // A program the tests start meets no desktop, as on a server, unless a
  // test asks for the display (useDisplay()).
  for (const char* var : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* old = ::getenv(var);
    savedEnv_.emplace_back(var, old ? old : "\x01");
    ::unsetenv(var);
  }
  rememberOldLogs();
  return true;
}

bool PrivateUser::useDisplay() {
  bool any = false;
  for (const auto& var : savedEnv_) {
    if ((var.first == "DISPLAY" || var.first == "WAYLAND_DISPLAY") && var.second != "\x01") {
      ::setenv(var.first.c_str(), var.second.c_str(), 1);
      any = true;
    }
  }
  return any;
}

bool PrivateUser::storePort(uint32_t port) {
  // As a user would type it into the file: LF line endings, upper-case hex.
  const std::string root = base::nativePath(folder_) + "/home/.config/quillon-labs/registry";
  const std::string text =
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_CURRENT_USER\\Software\\Quillon Labs\\Lumora ZuvIridar for iPhone]\n" +
      base::stringPrintf("\"Port\"=dword:%08X\n", port);
  return base::createDirectories(base::utf8ToWide(root)) &&
         base::writeFileAtomic(base::utf8ToWide(root + "/HKEY_CURRENT_USER.reg"), text);
}
