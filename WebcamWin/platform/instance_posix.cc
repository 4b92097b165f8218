// Linux side of the single-instance lock: one instance per user through a
// lock file; other starts reach that instance through a Unix socket beside
// the lock ("show\n", "close <param>\n" or "answer ...\n", answered
// "ok\n"). Both live in $XDG_RUNTIME_DIR/quillon-labs (or
// $XDG_STATE_HOME/quillon-labs), a folder only the user can enter.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "WebcamWin/platform/instance.h"
#include "WebcamWin/platform/stoppable_thread_posix.h"
#include "WebcamWin/platform/xdg_posix.h"
#include "base/file_util.h"
#include "base/logging.h"

namespace shell {
namespace {

constexpr size_t kMaxRequestBytes = 64;
constexpr int kRequestTimeoutMs = 2000;
constexpr int kReplyTimeoutMs = 5000;

std::string instanceFolder() {
  const char* runtime = ::getenv("XDG_RUNTIME_DIR");
  const std::string base =
      runtime && runtime[0] == '/' ? runtime : xdgBase("XDG_STATE_HOME", ".local/state");
  return base + "/quillon-labs";
}

std::string lockPath(const base::string16& name) {
  return instanceFolder() + "/" + base::wideToUtf8(name) + ".lock";
}
std::string socketName(const base::string16& name) { return base::wideToUtf8(name) + ".sock"; }

// The socket's address. A path too long for sun_path is reached through the
// folder's descriptor in /proc (the descriptor must stay open meanwhile).
bool socketAddress(const base::string16& name, sockaddr_un* address, int* folderFd) {
  std::memset(address, 0, sizeof(*address));
  address->sun_family = AF_UNIX;
  std::string path = instanceFolder() + "/" + socketName(name);
  *folderFd = -1;
  if (path.size() >= sizeof(address->sun_path)) {
    *folderFd = ::open(instanceFolder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (*folderFd < 0) return false;
    path = "/proc/self/fd/" + std::to_string(*folderFd) + "/" + socketName(name);
    if (path.size() >= sizeof(address->sun_path)) return false;
  }
  std::memcpy(address->sun_path, path.c_str(), path.size());
  return true;
}

bool waitFor(int fd, short events, int timeoutMs) {
  pollfd p = {fd, events, 0};
  for (;;) {
    const int n = ::poll(&p, 1, timeoutMs);
    if (n < 0 && errno == EINTR) continue;
    return n > 0;
  }
}

// One line (without its line feed) of at most kMaxRequestBytes, or false.
bool readLine(int fd, int timeoutMs, std::string* line) {
  line->clear();
  while (line->size() <= kMaxRequestBytes) {
    if (!waitFor(fd, POLLIN, timeoutMs)) return false;
    char c;
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (c == '\n') return true;
    line->push_back(c);
  }
  return false;
}

void writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

bool parseRequest(const std::string& line, InstanceRequest* request) {
  if (line == "show") {
    request->kind = InstanceRequest::kShow;
    request->param = 0;
    return true;
  }
  if (line.compare(0, 6, "close ") == 0 && line.size() > 6 && line.size() <= 6 + 20) {
    uintptr_t value = 0;
    for (size_t i = 6; i < line.size(); ++i) {
      if (line[i] < '0' || line[i] > '9') return false;
      const uintptr_t next = value * 10 + static_cast<uintptr_t>(line[i] - '0');
      if (next / 10 != value) return false;  // overflow
      value = next;
    }
    request->kind = InstanceRequest::kClose;
    request->param = value;
    return true;
  }
  static const struct {
    const char* line;
    uintptr_t answer;
  } kAnswers[] = {{"answer allow", kAnswerAllowAlways},
                  {"answer allow-once", kAnswerAllowOnce},
                  {"answer deny", kAnswerDeny}};
  for (const auto& answer : kAnswers) {
    if (line == answer.line) {
      request->kind = InstanceRequest::kAnswer;
      request->param = answer.answer;
      return true;
    }
  }
  return false;
}

std::string requestLine(const InstanceRequest& request) {
  switch (request.kind) {
    case InstanceRequest::kShow:
      return "show\n";
    case InstanceRequest::kClose:
      return "close " + std::to_string(request.param) + "\n";
    case InstanceRequest::kAnswer:
      return request.param == kAnswerAllowAlways ? "answer allow\n"
             : request.param == kAnswerAllowOnce ? "answer allow-once\n"
                                                 : "answer deny\n";
  }
  return "show\n";
}

}  // namespace

struct InstanceLock::Impl {
  ~Impl() {
    thread.stop();
    if (listenFd >= 0) {
      ::close(listenFd);
      ::unlink(socketPath.c_str());
    }
    if (folderFd >= 0) ::close(folderFd);
    if (lockFd >= 0) ::close(lockFd);  // releases the lock
  }

  void serveLoop(int stopFd) {
    for (;;) {
      pollfd fds[2] = {{listenFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
      const int n = ::poll(fds, 2, -1);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 || (fds[1].revents & POLLIN)) return;
      if (!(fds[0].revents & POLLIN)) continue;
      const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      serve(fd);
      ::close(fd);
    }
  }

  void serve(int fd) {
    ucred peer = {};
    socklen_t length = sizeof(peer);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.uid != ::getuid()) {
      LOG(WARNING) << "Refused a request of another user on the instance socket";
      return;
    }
    std::string line;
    InstanceRequest request;
    if (!readLine(fd, kRequestTimeoutMs, &line) || !parseRequest(line, &request)) {
      LOG(WARNING) << "Ignored a malformed request on the instance socket";
      writeAll(fd, "error\n");
      return;
    }
    // "no": the instance heard the request but had nothing to do it to.
    writeAll(fd, handler(request) ? "ok\n" : "no\n");
  }

  int lockFd = -1;
  int listenFd = -1;
  int folderFd = -1;
  base::string16 name;
  std::string socketPath;
  Handler handler;
  StoppableThread thread;
};

InstanceLock::InstanceLock() = default;
InstanceLock::~InstanceLock() = default;

bool InstanceLock::acquire(const base::string16& name) {
  if (impl_) return true;
  const std::string folder = instanceFolder();
  if (!base::createDirectories(base::utf8ToWide(folder))) {
    LOG(ERROR) << "Can't create " << folder;
    return false;
  }
  ::chmod(folder.c_str(), 0700);
  auto impl = std::make_unique<Impl>();
  impl->lockFd = ::open(lockPath(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (impl->lockFd < 0) {
    LOG(ERROR) << "Can't open " << lockPath(name) << ": " << std::strerror(errno);
    return false;
  }
  if (::flock(impl->lockFd, LOCK_EX | LOCK_NB) != 0) return false;
  // For the curious: the process that holds the lock.
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(impl->lockFd, 0) == 0) {
    ssize_t r = ::pwrite(impl->lockFd, pid.data(), pid.size(), 0);
    (void)r;
  }
  impl->name = name;
  impl_ = std::move(impl);
  return true;
}

bool InstanceLock::serveRequests(Handler handler) {
  if (!impl_ || impl_->listenFd >= 0) return false;
  Impl& impl = *impl_;
  sockaddr_un address;
  if (!socketAddress(impl.name, &address, &impl.folderFd)) {
    LOG(ERROR) << "No address for the instance socket in " << instanceFolder();
    return false;
  }
  impl.listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (impl.listenFd < 0) return false;
  // The lock is ours, so a socket file left by a crashed instance is stale.
  impl.socketPath = address.sun_path;
  ::unlink(impl.socketPath.c_str());
  if (::bind(impl.listenFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(impl.listenFd, 4) != 0) {
    LOG(ERROR) << "Can't listen on " << impl.socketPath << ": " << std::strerror(errno);
    ::close(impl.listenFd);
    impl.listenFd = -1;
    return false;
  }
  // Through /proc the path only works while the folder descriptor is open;
  // unlinking later needs the real path.
  impl.socketPath = instanceFolder() + "/" + socketName(impl.name);
  impl.handler = std::move(handler);
  if (!impl.thread.start([&impl](int stopFd) { impl.serveLoop(stopFd); })) {
    LOG(ERROR) << "Can't start the instance socket's thread";
    return false;
  }
  return true;
}

void InstanceLock::stopServing() {
  if (impl_) impl_->thread.stop();
}

bool instanceRunning(const base::string16& name) {
  const int fd = ::open(lockPath(name).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

bool sendToInstance(const base::string16& name, const InstanceRequest& request, bool* reached) {
  sockaddr_un address;
  int folderFd = -1;
  bool ok = socketAddress(name, &address, &folderFd);
  const int fd = ok ? ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0) : -1;
  ok = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  if (reached) *reached = false;
  if (ok) {
    writeAll(fd, requestLine(request));
    std::string reply;
    ok = readLine(fd, kReplyTimeoutMs, &reply);
    if (reached) *reached = ok && (reply == "ok" || reply == "no");
    ok = ok && reply == "ok";
  }
  if (fd >= 0) ::close(fd);
  if (folderFd >= 0) ::close(folderFd);
  return ok;
}

}  // namespace shell
