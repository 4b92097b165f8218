#include "WebcamWin/testing/test_wave_daemon_posix.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool FakeWaveDaemon::start(const std::string& socketPath) {
  stop();
  path_ = socketPath;
  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (listenFd_ < 0 || path_.size() >= sizeof(address.sun_path)) return false;
  std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
  ::unlink(path_.c_str());
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(listenFd_, 16) != 0)
    return false;
  return thread_.start([this](int stopFd) { serve(stopFd); });
}

void FakeWaveDaemon::stop() {
  thread_.stop();
  for (int fd : held_) ::close(fd);
  held_.clear();
  if (listenFd_ >= 0) {
    ::close(listenFd_);
    ::unlink(path_.c_str());
  }
  listenFd_ = -1;
}

void FakeWaveDaemon::setAnswer(const std::string& request, const std::string& answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_.emplace_back(request, answer);
}

std::vector<std::string> FakeWaveDaemon::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::string FakeWaveDaemon::answerFor(const std::string& request) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = answers_.rbegin(); it != answers_.rend(); ++it)
    if (it->first == request || it->first.empty()) return it->second;
  return "ok 4";
}

void FakeWaveDaemon::serve(int stopFd) {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopFd, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::string line;
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n') line.push_back(c);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(line);
    }
    switch (mode_.load()) {
      case Mode::kAnswer: {
        const std::string answer = answerFor(line) + "\n";
        ssize_t written = ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
        (void)written;
        ::close(fd);
        break;
      }
      case Mode::kSilent:
        held_.push_back(fd);
        break;
      case Mode::kHangUp:
        ::close(fd);
        break;
    }
  }
}
