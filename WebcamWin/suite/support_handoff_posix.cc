// Linux: two pipes whose ends are closed on exec; the tool is spawned clean
// with the child's ends as its standard handles.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "WebcamWin/platform/spawn_posix.h"
#include "WebcamWin/suite/support_handoff.h"
#include "base/file_util.h"
#include "base/logging.h"

namespace {

constexpr char16_t kProgramName[] = u"support";
constexpr int kPollMs = 50;
constexpr int kReapWaitMs = 2000;

// errno as the Win32 error the Windows build would report.
uint32_t win32ErrorOf(int error) {
  switch (error) {
    case ENOENT: return 2;   // ERROR_FILE_NOT_FOUND
    case EACCES: return 5;   // ERROR_ACCESS_DENIED
    case ENOMEM: return 8;   // ERROR_NOT_ENOUGH_MEMORY
    case EMFILE:
    case ENFILE: return 4;   // ERROR_TOO_MANY_OPEN_FILES
    case EPIPE: return 109;  // ERROR_BROKEN_PIPE
    case ENOEXEC: return 193;  // ERROR_BAD_EXE_FORMAT
  }
  return 31;  // ERROR_GEN_FAILURE
}

int32_t resultOf(int error) { return static_cast<int32_t>(0x80070000u | win32ErrorOf(error)); }

int32_t fail(const char* what, int error) {
  LOG(ERROR) << what << " (" << std::strerror(error) << ")";
  return resultOf(error);
}

struct Fds {
  ~Fds() {
    for (int fd : {outRead, outWrite, inRead, inWrite})
      if (fd >= 0) ::close(fd);
  }
  int outRead = -1, outWrite = -1, inRead = -1, inWrite = -1;
};

int32_t closeFd(int* fd, const char* what) {
  if (*fd < 0) return 0;
  const int rc = ::close(*fd);
  *fd = -1;
  return rc == 0 || errno == EINTR ? 0 : fail(what, errno);
}

// Writes everything; a tool that went away early (EPIPE) must not end us
// through SIGPIPE, so the signal is held for this thread meanwhile and a
// raised one taken back.
bool writeAll(int fd, const std::string& bytes) {
  sigset_t pipeSignal, previous;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
  size_t done = 0;
  bool ok = true;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      LOG(ERROR) << "Writing to the support tool failed: " << std::strerror(errno);
      ok = false;
      if (errno == EPIPE) {
        const timespec zero = {0, 0};
        ::sigtimedwait(&pipeSignal, nullptr, &zero);
      }
      break;
    }
    done += static_cast<size_t>(n);
  }
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return ok;
}

}  // namespace

base::string16 defaultSupportProgram() {
  const base::string16 beside = base::joinPath(base::executableDirectory(), kProgramName);
  if (::access(base::nativePath(beside).c_str(), X_OK) == 0) return beside;
  return kProgramName;
}

int32_t runSupportTool(const base::string16& program, const std::string& input,
                       const std::atomic<bool>* stop) {
  Fds f;
  int out[2], in[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return fail("Stdout pipe creation failed", errno);
  f.outRead = out[0];
  f.outWrite = out[1];
  if (::pipe2(in, O_CLOEXEC) != 0) return fail("Stdin pipe creation failed", errno);
  f.inRead = in[0];
  f.inWrite = in[1];

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, f.inRead, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, f.outWrite, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, f.outWrite, STDERR_FILENO);
  pid_t pid = -1;
  const int rc = spawnClean(base::nativePath(program), {}, &actions, &pid);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return fail("CreateProcess failed", rc);

  if (const int32_t hr = closeFd(&f.inRead, "Closing handle failed")) return hr;
  writeAll(f.inWrite, input);
  if (const int32_t hr = closeFd(&f.inWrite, "Close pipe failed")) return hr;
  if (const int32_t hr = closeFd(&f.outWrite, "Closing handle failed")) return hr;

  char buffer[kSupportDrainBytes];
  for (;;) {
    if (stop) {
      pollfd p = {f.outRead, POLLIN, 0};
      const int n = ::poll(&p, 1, kPollMs);
      if (n < 0 && errno != EINTR) break;
      if (n <= 0) {
        if (stop->load()) break;
        continue;
      }
    }
    const ssize_t n = ::read(f.outRead, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
  }
  // Not waited for (Windows closes the process handle at once); a tool that
  // ends as it closes its output is reaped here.
  reapChild(pid, stop && stop->load() ? 0 : kReapWaitMs);
  return 0;
}
