#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>

#include <cstring>
#include <mutex>

#include "base/logging.h"
#include "base/socket.h"

namespace base {
namespace {

SOCKET sock(SocketHandle s) { return static_cast<SOCKET>(s); }

bool describe(const sockaddr_in& addr, std::string* address, uint16_t* port) {
  const uint32_t a = ntohl(addr.sin_addr.s_addr);
  if (address)
    *address = stringPrintf("%u.%u.%u.%u", (a >> 24) & 0xFF, (a >> 16) & 0xFF, (a >> 8) & 0xFF,
                            a & 0xFF);
  if (port) *port = ntohs(addr.sin_port);
  return true;
}

}  // namespace

// A non-blocking IPv4 TCP socket, Winsock started first.
static SOCKET newNonBlockingSocket(int32_t* error) {
  initializeSockets();
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    if (error) *error = ::WSAGetLastError();
    return INVALID_SOCKET;
  }
  u_long nonBlocking = 1;
  ::ioctlsocket(s, FIONBIO, &nonBlocking);
  return s;
}

bool initializeSockets() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] {
    WSADATA data;
    const int r = ::WSAStartup(MAKEWORD(2, 2), &data);
    ok = r == 0;
    if (!ok) LOG(ERROR) << "WSAStartup failed: " << r;
  });
  return ok;
}

int32_t lastSocketError() { return ::WSAGetLastError(); }
bool isWouldBlock(int32_t error) { return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS; }
bool isInterrupted(int32_t error) { return error == WSAEINTR; }

SocketHandle socketListen(uint16_t port, bool loopbackOnly, int32_t* error) {
  const SOCKET s = newNonBlockingSocket(error);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  // A restart takes its port back while connections of the last run still
  // linger on it.
  const BOOL one = TRUE;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof(one));
  sockaddr_in addr;
  std::memset(&addr, 0, sizeof(addr));
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(loopbackOnly ? INADDR_LOOPBACK : INADDR_ANY);
  if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      ::listen(s, SOMAXCONN) != 0) {
    if (error) *error = ::WSAGetLastError();
    ::closesocket(s);
    return kInvalidSocket;
  }
  if (error) *error = 0;
  return static_cast<SocketHandle>(s);
}

SocketHandle socketConnect(const std::string& host, uint16_t port, int32_t* error) {
  initializeSockets();
  addrinfo hints;
  std::memset(&hints, 0, sizeof(hints));
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) {
    if (error) *error = WSAHOST_NOT_FOUND;
    return kInvalidSocket;
  }
  sockaddr_in addr;
  std::memcpy(&addr, found->ai_addr, sizeof(addr));
  ::freeaddrinfo(found);
  addr.sin_port = htons(port);
  const SOCKET s = newNonBlockingSocket(error);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  BOOL one = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof(one));
  if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 &&
      ::WSAGetLastError() != WSAEWOULDBLOCK) {
    if (error) *error = ::WSAGetLastError();
    ::closesocket(s);
    return kInvalidSocket;
  }
  if (error) *error = 0;
  return static_cast<SocketHandle>(s);
}

SocketHandle socketAccept(SocketHandle listener) {
  SOCKET s = ::accept(sock(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  // Accepted sockets inherit the listener's WSAAsyncSelect; the owner
  // selects its own events right away.
  BOOL one = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof(one));
  return static_cast<SocketHandle>(s);
}

long socketRecv(SocketHandle s, void* buffer, size_t length) {
  const int n = ::recv(sock(s), static_cast<char*>(buffer), static_cast<int>(length), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

long socketSend(SocketHandle s, const void* data, size_t length) {
  const int n = ::send(sock(s), static_cast<const char*>(data), static_cast<int>(length), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

long socketBytesAvailable(SocketHandle s) {
  u_long n = 0;
  if (::ioctlsocket(sock(s), FIONREAD, &n) != 0) return -1;
  return static_cast<long>(n);
}

int32_t socketPendingError(SocketHandle s) {
  int err = 0;
  int len = sizeof(err);
  if (::getsockopt(sock(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0)
    return ::WSAGetLastError();
  return err;
}

void socketShutdownSend(SocketHandle s) { ::shutdown(sock(s), SD_SEND); }

bool socketSetKeepAlive(SocketHandle s, uint32_t idleSeconds, uint32_t intervalSeconds, uint32_t probes) {
  tcp_keepalive values;
  values.onoff = 1;
  values.keepalivetime = idleSeconds * 1000;
  values.keepaliveinterval = intervalSeconds * 1000;
  DWORD returned = 0;
  if (::WSAIoctl(sock(s), SIO_KEEPALIVE_VALS, &values, sizeof(values), nullptr, 0, &returned, nullptr,
                 nullptr) != 0) {
    return false;
  }
  // The probe count (Windows 10 1703 on; older systems keep their 10) and the
  // limit on retransmissions of unacknowledged bytes (seconds); best effort.
  constexpr int kTcpMaxRt = 5, kTcpKeepCnt = 16;
  const DWORD count = probes;
  ::setsockopt(sock(s), IPPROTO_TCP, kTcpKeepCnt, reinterpret_cast<const char*>(&count), sizeof(count));
  const DWORD maxRt = idleSeconds + intervalSeconds * probes;
  ::setsockopt(sock(s), IPPROTO_TCP, kTcpMaxRt, reinterpret_cast<const char*>(&maxRt), sizeof(maxRt));
  return true;
}

void socketClose(SocketHandle s) {
  if (s == kInvalidSocket) return;
  ::closesocket(sock(s));
}

// getpeername or getsockname, as an IPv4 address and port.
template <typename GetName>
bool namedAddress(GetName getName, SocketHandle s, std::string* address, uint16_t* port) {
  sockaddr_in addr;
  int len = sizeof(addr);
  if (getName(sock(s), reinterpret_cast<sockaddr*>(&addr), &len) != 0 || addr.sin_family != AF_INET)
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
