#include "WebcamWin/platform/spawn_posix.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

extern char** environ;

int spawnClean(const std::string& program, const std::vector<std::string>& args,
               posix_spawn_file_actions_t* actions, pid_t* pid) {
  // Whatever else is open here, even without close-on-exec, stays ours.
  posix_spawn_file_actions_addclosefrom_np(actions, STDERR_FILENO + 1);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const int rc = program.find('/') == std::string::npos
                     ? ::posix_spawnp(pid, program.c_str(), actions, &attr, argv.data(), environ)
                     : ::posix_spawn(pid, program.c_str(), actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  return rc;
}

void reapChild(pid_t pid, int waitMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) return;
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::thread([pid] {
    int code = 0;
    while (::waitpid(pid, &code, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}
