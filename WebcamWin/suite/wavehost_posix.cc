// Linux: the control socket of the `wavehost` daemon. Every request is one
// connection: one line out, one line back. A daemon that does not answer
// within a second is reported as a time-out; the caller is the interface
// thread and must not hang.
#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "WebcamWin/suite/wavehost_platform.h"
#include "base/string_util.h"

namespace {

constexpr char kSocketName[] = "lumora-wave-service.sock";
constexpr char kUnitName[] = "lumora-wave-service.service";
constexpr int kAnswerTimeoutMs = 1000;
constexpr size_t kMaxAnswerBytes = 256;

// Win32 numbers for what can go wrong here, so that the log reads alike.
constexpr uint32_t kErrorInvalidData = 13;
constexpr uint32_t kErrorServiceRequestTimeout = 1053;
constexpr uint32_t kErrorServiceNotActive = 1062;
constexpr uint32_t kErrorServiceSpecific = 1066;

CWaveHost::SystemError makeError(uint32_t code, const std::string& text) {
  CWaveHost::SystemError error;
  error.code = code;
  error.message = base::utf8ToWide(text);
  return error;
}

std::string runtimeFolder() {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  if (dir && *dir) return dir;
  return "/run/user/" + std::to_string(::getuid());
}

std::string unitPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string folder;
  if (config && *config) {
    folder = config;
  } else {
    const char* home = std::getenv("HOME");
    folder = std::string(home ? home : "") + "/.config";
  }
  return folder + "/systemd/user/" + kUnitName;
}

bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

int remainingMs(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits for `events` on `fd` until the deadline; false on time-out.
bool waitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    pollfd p = {fd, events, 0};
    const int n = ::poll(&p, 1, remainingMs(deadline));
    if (n > 0) return true;
    if (n == 0) return false;
    if (errno != EINTR) return false;
  }
}

class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

enum class Exchange { kAnswered, kNoDaemon, kFailed };

// Sends `request` and reads the answer line (without its line feed).
Exchange exchange(const std::string& socketPath, const std::string& request, std::string* answer,
                  CWaveHost::SystemError* error) {
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (socketPath.size() >= sizeof(address.sun_path)) {
    *error = makeError(kErrorInvalidData, "the socket path " + socketPath + " is too long");
    return Exchange::kFailed;
  }
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  ScopedFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) {
    *error = makeError(static_cast<uint32_t>(errno), std::strerror(errno));
    return Exchange::kFailed;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerTimeoutMs);
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    // No socket, or nobody listening on it: the daemon is not running.
    if (errno == ENOENT || errno == ECONNREFUSED) return Exchange::kNoDaemon;
    if (errno != EAGAIN && errno != EINPROGRESS) {
      *error = makeError(static_cast<uint32_t>(errno), std::strerror(errno));
      return Exchange::kFailed;
    }
    if (!waitFor(fd.get(), POLLOUT, deadline)) {
      *error = makeError(kErrorServiceRequestTimeout, "the service does not answer");
      return Exchange::kFailed;
    }
  }
  const std::string line = request + "\n";
  size_t sent = 0;
  while (sent < line.size()) {
    const ssize_t n = ::send(fd.get(), line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN && waitFor(fd.get(), POLLOUT, deadline)) continue;
    if (n < 0 && (errno == ECONNREFUSED || errno == EPIPE || errno == ECONNRESET)) return Exchange::kNoDaemon;
    *error = makeError(kErrorServiceRequestTimeout, "the request could not be sent");
    return Exchange::kFailed;
  }
  answer->clear();
  char buffer[kMaxAnswerBytes];
  for (;;) {
    const ssize_t n = ::recv(fd.get(), buffer, sizeof(buffer), 0);
    if (n > 0) {
      answer->append(buffer, static_cast<size_t>(n));
      const size_t end = answer->find('\n');
      if (end != std::string::npos) {
        answer->resize(end);
        if (!answer->empty() && answer->back() == '\r') answer->pop_back();
        return Exchange::kAnswered;
      }
      if (answer->size() > kMaxAnswerBytes) {
        *error = makeError(kErrorInvalidData, "the answer is longer than " + std::to_string(kMaxAnswerBytes) + " bytes");
        return Exchange::kFailed;
      }
      continue;
    }
    if (n == 0) {
      *error = makeError(kErrorInvalidData, "the service closed the connection without an answer");
      return Exchange::kFailed;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN && waitFor(fd.get(), POLLIN, deadline)) continue;
    *error = makeError(kErrorServiceRequestTimeout, errno == EAGAIN ? "the service does not answer"
                                                                     : std::strerror(errno));
    return Exchange::kFailed;
  }
}

// "ok <state>": a number is taken as it is; any other word means the
// daemon runs. "error <text>" and anything else fail.
bool parseAnswer(const std::string& answer, int32_t* state, CWaveHost::SystemError* error) {
  if (answer == "ok" || answer.compare(0, 3, "ok ") == 0) {
    const std::string word = answer.size() > 3 ? answer.substr(3) : std::string();
    *state = kServiceRunning;
    if (!word.empty() && word.size() <= 2 && word.find_first_not_of("0123456789") == std::string::npos)
      *state = std::atoi(word.c_str());
    return true;
  }
  if (answer.compare(0, 6, "error ") == 0) {
    *error = makeError(kErrorServiceSpecific, answer.substr(6));
    return false;
  }
  *error = makeError(kErrorInvalidData, "unexpected answer \"" + answer + "\"");
  return false;
}

const char* requestFor(uint32_t code) {
  switch (code) {
    case WAVE_SERVICE_PING: return "ping";
    case WAVE_SERVICE_PAUSE: return "pause";
    case WAVE_SERVICE_CONTINUE: return "continue";
    case WAVE_SERVICE_OPEN_DEVICE: return "reload";
  }
  return nullptr;
}

// One request and its answer. No daemon reads as stopped (and sets
// *noDaemon).
bool ask(const std::string& socketPath, const char* request, int32_t* state, bool* noDaemon,
         CWaveHost::SystemError* error) {
  std::string answer;
  *noDaemon = false;
  switch (exchange(socketPath, request, &answer, error)) {
    case Exchange::kNoDaemon:
      *noDaemon = true;
      *state = kServiceStopped;
      return true;
    case Exchange::kFailed:
      return false;
    case Exchange::kAnswered:
      break;
  }
  return parseAnswer(answer, state, error);
}

}  // namespace

struct CWaveHost::Handles {
  std::string socketPath;
};

void CWaveHost::HandlesDeleter::operator()(Handles* handles) const { delete handles; }

namespace wavehost_platform {

CWaveHost::Handles* open(Step* failed, CWaveHost::SystemError* error) {
  auto handles = std::make_unique<CWaveHost::Handles>();
  handles->socketPath = runtimeFolder() + "/" + kSocketName;
  if (!exists(handles->socketPath) && !exists(unitPath())) {
    *failed = Step::kService;
    *error = makeError(kErrorServiceDoesNotExist, "The specified service does not exist as an installed service.");
    return nullptr;
  }
  return handles.release();
}

bool queryState(CWaveHost::Handles* handles, int32_t* state, CWaveHost::SystemError* error) {
  bool noDaemon = false;
  return ask(handles->socketPath, "state", state, &noDaemon, error);
}

bool control(CWaveHost::Handles* handles, uint32_t code, CWaveHost::SystemError* error) {
  const char* request = requestFor(code);
  if (!request) {
    *error = makeError(kErrorInvalidData, "no request for the control code " + std::to_string(code));
    return false;
  }
  int32_t state = kServiceStopped;
  bool noDaemon = false;
  if (!ask(handles->socketPath, request, &state, &noDaemon, error)) return false;
  if (noDaemon) {
    // The daemon went away between the state question and the code.
    *error = makeError(kErrorServiceNotActive, "The service has not been started.");
    return false;
  }
  return true;
}

}  // namespace wavehost_platform
