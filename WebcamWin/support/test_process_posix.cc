#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "WebcamWin/support/test_process.h"

extern char** environ;

namespace support_test {

struct ChildProcess::Impl {
  pid_t pid = -1;
  int input = -1;
  int output = -1;
  std::thread reader;
  mutable std::mutex mutex;
  std::string collected;
  bool exited = false;
};

ChildProcess::ChildProcess() : impl_(std::make_unique<Impl>()) {}

ChildProcess::~ChildProcess() {
  if (impl_->pid > 0 && !impl_->exited) {
    ::kill(impl_->pid, SIGKILL);
    int status;
    ::waitpid(impl_->pid, &status, 0);
  }
  closeInput();
  if (impl_->reader.joinable()) impl_->reader.join();
  if (impl_->output >= 0) ::close(impl_->output);
}

bool ChildProcess::start(const std::string& program,
                         const std::map<std::string, std::string>& env, bool withInput) {
  ::signal(SIGPIPE, SIG_IGN);
  int in[2] = {-1, -1}, out[2];
  if ((withInput && ::pipe2(in, O_CLOEXEC) != 0) || ::pipe2(out, O_CLOEXEC) != 0) return false;

  std::vector<std::string> entries;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (!env.count(name)) entries.push_back(entry);
  }
  for (const auto& kv : env) entries.push_back(kv.first + "=" + kv.second);
  std::vector<char*> envp;
  for (auto& e : entries) envp.push_back(&e[0]);
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (withInput) posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  else posix_spawn_file_actions_addclose(&actions, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, out[1], 2);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // A new session: no controlling terminal, so the tool never asks.
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
  const int rc = ::posix_spawn(&impl_->pid, program.c_str(), &actions, &attr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (withInput) ::close(in[0]);
  ::close(out[1]);
  impl_->input = withInput ? in[1] : -1;
  impl_->output = out[0];
  if (rc != 0) {
    impl_->pid = -1;
    return false;
  }
  Impl* impl = impl_.get();
  impl_->reader = std::thread([impl] {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(impl->output, buffer, sizeof(buffer));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      std::lock_guard<std::mutex> lock(impl->mutex);
      impl->collected.append(buffer, static_cast<size_t>(n));
    }
  });
  return true;
}

bool ChildProcess::writeInput(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(impl_->input, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void ChildProcess::closeInput() {
  if (impl_->input >= 0) ::close(impl_->input);
  impl_->input = -1;
}

std::string ChildProcess::output() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->collected;
}

bool ChildProcess::wait(int timeoutMs, int* exitCode) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(impl_->pid, &status, WNOHANG);
    if (done == impl_->pid) {
      impl_->exited = true;
      *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      if (impl_->reader.joinable()) impl_->reader.join();
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(impl_->pid, SIGKILL);
      ::waitpid(impl_->pid, &status, 0);
      impl_->exited = true;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::string nativeTestPath(const std::string& path) { return path; }

}  // namespace support_test
