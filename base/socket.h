// Thin, portable wrappers over the system's TCP calls (Winsock 2.2 or BSD
// sockets). Sockets are non-blocking. On Linux these calls also tell the
// thread's MessageLoop which socket events to re-enable, the way Winsock
// does for WSAAsyncSelect (see base/message_loop.h).
#ifndef BASE_SOCKET_H_
#define BASE_SOCKET_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/message_loop.h"

namespace base {

// Starts Winsock 2.2 once per process (no-op on Linux). False on failure.
bool initializeSockets();

// The last socket error of this thread (WSAGetLastError / errno) and the
// portable names of the codes the socket logic acts on.
int32_t lastSocketError();
bool isWouldBlock(int32_t error);
bool isInterrupted(int32_t error);

// A non-blocking IPv4 TCP socket listening on `port` (0: the system picks)
// on all interfaces, or on loopback only when `loopbackOnly`.
SocketHandle socketListen(uint16_t port, bool loopbackOnly, int32_t* error);
// A non-blocking outgoing connection to host:port (IPv4 literal or name).
// Completion is reported as FD_CONNECT (or FD_WRITE) by selectSocket.
SocketHandle socketConnect(const std::string& host, uint16_t port, int32_t* error);
// Accepts one pending connection; kInvalidSocket when none (see lastSocketError()).
SocketHandle socketAccept(SocketHandle listener);
// recv/send; -1 on error (lastSocketError()), recv 0 at end of stream.
long socketRecv(SocketHandle s, void* buffer, size_t length);
long socketSend(SocketHandle s, const void* data, size_t length);
// Bytes readable without blocking (FIONREAD); -1 on error.
long socketBytesAvailable(SocketHandle s);
// Pending error of the socket (SO_ERROR).
int32_t socketPendingError(SocketHandle s);
void socketShutdownSend(SocketHandle s);
// Turns on TCP keepalive so that a peer that vanished without a word (its
// network gone) is noticed: the first probe after `idleSeconds` without
// traffic, then one every `intervalSeconds`; after `probes` unanswered ones
// the connection fails. Where the system allows, bytes left unacknowledged
// for as long fail it as well (probes are only sent on an idle connection).
// False when the system refused keepalive itself; the finer settings are
// best effort.
bool socketSetKeepAlive(SocketHandle s, uint32_t idleSeconds, uint32_t intervalSeconds, uint32_t probes);
void socketClose(SocketHandle s);

// Dotted address and port of either end; empty / 0 when unknown.
bool socketPeerAddress(SocketHandle s, std::string* address, uint16_t* port);
bool socketLocalAddress(SocketHandle s, std::string* address, uint16_t* port);

}  // namespace base

#endif  // BASE_SOCKET_H_
