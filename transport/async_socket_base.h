// The callback-driven TCP socket of the transport: it never blocks, queues
// reads and writes as requests and reports every result, with the caller's
// tag, to one AsyncSocketBase::Delegate on the thread that owns the socket.
// AsyncSocket (async_socket.h) is the implementation.
#ifndef TRANSPORT_ASYNC_SOCKET_BASE_H_
#define TRANSPORT_ASYNC_SOCKET_BASE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/error.h"

namespace transport {

// Codes of the socket's own errors (domain Error::kSocket).
enum SocketErrorCode : int32_t {
  kGeneralSocketError = -1,
  kConnectCanceledError = 1,
  kConnectTimeoutError = 2,
  kReadMaxLengthError = 3,
  kReadTimeoutError = 4,
  kWriteTimeoutError = 5,
  kWriteQueueFullError = 6,
};

class AsyncSocketBase {
 public:
  // Every operation is called on the socket's thread; the socket does not own
  // its delegate. The defaults do nothing.
  class Delegate {
   public:
    virtual ~Delegate() = default;
    // The socket closes because of `error` (borrowed for the call).
    virtual void onSocketWillClose(AsyncSocketBase* socket, const Error* error) {}
    // A started socket has closed; it cannot be used again.
    virtual void onSocketDidClose(AsyncSocketBase* socket) {}
    // A listener accepted `newSocket`; its ownership passes to the delegate,
    // which may give it another delegate here.
    virtual void onSocketDidAcceptNewSocket(AsyncSocketBase* socket, AsyncSocketBase* newSocket) {}
    // Asked before an outgoing connection is attempted; false cancels it.
    virtual bool onSocketWillOpen(AsyncSocketBase* socket) { return false; }
    // The connection is usable: an accepted one once both its first read and
    // its first write readiness have been seen, an outgoing one once connected.
    virtual void onSocketDidOpen(AsyncSocketBase* socket, const std::string& host, uint16_t port) {}
    virtual void onSocketDataRead(AsyncSocketBase* socket, const std::vector<uint8_t>& bytes, uint32_t tag) {}
    virtual void onSocketDataWritten(AsyncSocketBase* socket, uint32_t tag) {}
    // The time-out of a read or write has run out. `elapsedMs` is the time-out
    // so far (with every extension granted). A positive answer extends it by
    // that many milliseconds. Otherwise a read closes the socket; a write
    // closes it for a negative answer and is abandoned for zero.
    virtual int32_t onSocketReadTimeout(AsyncSocketBase* socket, uint32_t tag, int32_t elapsedMs,
                                        uint32_t bytesDone) {
      return -1;
    }
    virtual int32_t onSocketWriteTimeout(AsyncSocketBase* socket, uint32_t tag, int32_t elapsedMs,
                                         uint32_t bytesDone) {
      return -1;
    }
  };

  virtual ~AsyncSocketBase() = default;

  virtual Delegate* delegate() const = 0;
  virtual void setDelegate(Delegate* delegate) = 0;
  // A value for the owner; the socket never looks at it.
  virtual uint32_t userValue() const = 0;
  virtual void setUserValue(uint32_t value) = 0;

  // Listens on all interfaces (port 0: the system picks one). On failure a
  // system error is stored into *error (when given) and false returned.
  virtual bool listenOnPort(uint16_t port, std::unique_ptr<Error>* error) = 0;
  // Queues a request that reads whatever is available. A negative time-out
  // means none.
  virtual void read(int32_t timeoutMs, uint32_t tag) = 0;
  // Queues `bytes` for sending; an empty block is ignored.
  virtual void write(std::vector<uint8_t> bytes, int32_t timeoutMs, uint32_t tag) = 0;
  virtual void close() = 0;
  // Accepts no more requests and closes once every queued write is sent.
  virtual void closeAfterWriting() = 0;

  virtual std::string peerAddress() const = 0;
  virtual uint16_t peerPort() const = 0;
  virtual std::string localAddress() const = 0;
  virtual uint16_t localPort() const = 0;

  // Error factories. The run-time error takes errno and its text; the others
  // are the socket's own codes above.
  virtual std::unique_ptr<Error> createRuntimeError() const;
  virtual std::unique_ptr<Error> createConnectError(int32_t code) const;
  virtual std::unique_ptr<Error> createCanceledError() const;
  virtual std::unique_ptr<Error> createGeneralSocketError() const;
  virtual std::unique_ptr<Error> createConnectTimeoutError() const;
  virtual std::unique_ptr<Error> createReadMaxLengthError() const;
  virtual std::unique_ptr<Error> createReadTimeoutError() const;
  virtual std::unique_ptr<Error> createWriteTimeoutError() const;
  virtual std::unique_ptr<Error> createWriteQueueFullError() const;

  // A system (socket) error: the code and the system's text for it.
  static std::unique_ptr<Error> createSystemError(int32_t code);
};

}  // namespace transport

#endif  // TRANSPORT_ASYNC_SOCKET_BASE_H_
