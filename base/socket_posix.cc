#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "base/message_loop_internal.h"
#include "base/socket.h"

namespace base {
namespace {


int fdOf(SocketHandle s) { return static_cast<int>(s); }

bool describe(const sockaddr_in& addr, std::string* address, uint16_t* port) {
  char text[INET_ADDRSTRLEN] = {0};
  if (!::inet_ntop(AF_INET, &addr.sin_addr, text, sizeof(text))) return false;
  if (address) *address = text;
  if (port) *port = ntohs(addr.sin_port);
  return true;
}

}  // namespace

bool initializeSockets() { return true; }

int32_t lastSocketError() { return errno; }
bool isWouldBlock(int32_t error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINPROGRESS; }
bool isInterrupted(int32_t error) { return error == EINTR; }

SocketHandle socketListen(uint16_t port, bool loopbackOnly, int32_t* error) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    if (error) *error = errno;
    return kInvalidSocket;
  }
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_in addr;
  std::memset(&addr, 0, sizeof(addr));
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(loopbackOnly ? INADDR_LOOPBACK : INADDR_ANY);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      ::listen(fd, SOMAXCONN) != 0) {
    if (error) *error = errno;
    ::close(fd);
    return kInvalidSocket;
  }
  if (error) *error = 0;
  return static_cast<SocketHandle>(fd);
}

SocketHandle socketConnect(const std::string& host, uint16_t port, int32_t* error) {
  addrinfo hints;
  std::memset(&hints, 0, sizeof(hints));
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) {
    if (error) *error = EHOSTUNREACH;
    return kInvalidSocket;
  }
  sockaddr_in addr;
  std::memcpy(&addr, found->ai_addr, sizeof(addr));
  ::freeaddrinfo(found);
  addr.sin_port = htons(port);
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    if (error) *error = errno;
    return kInvalidSocket;
  }
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 && errno != EINPROGRESS) {
    if (error) *error = errno;
    ::close(fd);
    return kInvalidSocket;
  }
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  if (error) *error = 0;
  return static_cast<SocketHandle>(fd);
}

SocketHandle socketAccept(SocketHandle listener) {
  const int fd = ::accept4(fdOf(listener), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  const int saved = errno;
  internal::reenableSocketEvent(listener, kFdAccept);
  if (fd < 0) {
    errno = saved;
    return kInvalidSocket;
  }
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  return static_cast<SocketHandle>(fd);
}

long socketRecv(SocketHandle s, void* buffer, size_t length) {
  const ssize_t n = ::recv(fdOf(s), buffer, length, MSG_DONTWAIT);
  const int saved = errno;
  internal::reenableSocketEvent(s, kFdRead);
  errno = saved;
  return static_cast<long>(n);
}

long socketSend(SocketHandle s, const void* data, size_t length) {
  const ssize_t n = ::send(fdOf(s), data, length, MSG_DONTWAIT | MSG_NOSIGNAL);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
    const int saved = errno;
    internal::reenableSocketEvent(s, kFdWrite);
    errno = saved;
  }
  return static_cast<long>(n);
}

long socketBytesAvailable(SocketHandle s) {
  int n = 0;
  if (::ioctl(fdOf(s), FIONREAD, &n) != 0) return -1;
  return n;
}

int32_t socketPendingError(SocketHandle s) {
  int err = 0;
  socklen_t len = sizeof(err);
  if (::getsockopt(fdOf(s), SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

void socketShutdownSend(SocketHandle s) { ::shutdown(fdOf(s), SHUT_WR); }

bool socketSetKeepAlive(SocketHandle s, uint32_t idleSeconds, uint32_t intervalSeconds, uint32_t probes) {
  const int fd = fdOf(s);
  const int on = 1;
  if (::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof(on)) != 0) return false;
  const int idle = static_cast<int>(idleSeconds), interval = static_cast<int>(intervalSeconds),
            count = static_cast<int>(probes);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof(idle));
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof(interval));
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof(count));
  // While the server is sending (audio to the phone) the connection is never
  // idle and keepalive never probes; the retransmissions would go on for
  // many minutes. This bounds them the same way.
  const unsigned int userTimeoutMs = (idleSeconds + intervalSeconds * probes) * 1000u;
  ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof(userTimeoutMs));
  return true;
}

void socketClose(SocketHandle s) {
  if (s == kInvalidSocket) return;
  internal::forgetSocket(s);
  ::close(fdOf(s));
}

// getpeername or getsockname, as an IPv4 address and port.
template <typename GetName>
bool namedAddress(GetName getName, SocketHandle s, std::string* address, uint16_t* port) {
  sockaddr_in addr;
  socklen_t len = sizeof(addr);
  if (getName(fdOf(s), reinterpret_cast<sockaddr*>(&addr), &len) != 0 || addr.sin_family != AF_INET)
    return false;
  return describe(addr, address, port);
}

bool socketPeerAddress(SocketHandle s, std::string* address, uint16_t* port) {
  return namedAddress(::getpeername, s, address, port);
}

bool socketLocalAddress(SocketHandle s, std::string* address, uint16_t* port) {
  return namedAddress(::getsockname, s, address, port);
}

}  // namespace base
