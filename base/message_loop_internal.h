// Between the Linux socket calls and the Linux message loop: which socket
// event a call re-enables (see base/message_loop.h for the rules).
#ifndef BASE_MESSAGE_LOOP_INTERNAL_H_
#define BASE_MESSAGE_LOOP_INTERNAL_H_

#include <cstdint>

#include "base/message_loop.h"

namespace base {
namespace internal {

// Called on the socket's thread after recv (kFdRead), accept (kFdAccept) or
// a send that would block (kFdWrite). No effect for unselected sockets.
void reenableSocketEvent(SocketHandle socket, uint32_t event);
// Forgets the selection of a socket that is being closed.
void forgetSocket(SocketHandle socket);

}  // namespace internal
}  // namespace base

#endif  // BASE_MESSAGE_LOOP_INTERNAL_H_
