// A DataBearer on one AsyncSocket: a listener produces a new SocketDataBearer
// for every accepted connection; a connected bearer keeps exactly one read
// outstanding once reading has started and hands every chunk of received
// bytes to its delegate as it arrives. Time-outs never end a read or write.
//
// Thread: the thread that owns the sockets.
#ifndef TRANSPORT_SOCKET_DATA_BEARER_H_
#define TRANSPORT_SOCKET_DATA_BEARER_H_

#include <memory>
#include <string>
#include <vector>

#include "transport/async_socket_base.h"
#include "transport/data_bearer.h"

namespace transport {

class SocketDataBearer : public DataBearer, private AsyncSocketBase::Delegate {
 public:
  // Every firing of a time-out extends it by this much.
  static constexpr int32_t kTimeoutExtensionMs = 500;

  // An idle bearer; listen() or connect() gives it a socket.
  SocketDataBearer();
  // A bearer for a connected socket; takes ownership and becomes its delegate.
  explicit SocketDataBearer(AsyncSocketBase* socket);
  ~SocketDataBearer() override;
  SocketDataBearer(const SocketDataBearer&) = delete;
  SocketDataBearer& operator=(const SocketDataBearer&) = delete;

  // Listens on `port` (0: the system picks) with a fresh socket. On success
  // the delegate hears onBearerDidStartListening; on failure it hears nothing
  // and *error (when given) holds the reason.
  bool listen(uint16_t port, std::unique_ptr<Error>* error);
  // Connects to host:port with a fresh socket (the phone's side). The
  // delegate hears onBearerDidConnect once connected.
  bool connect(const std::string& host, uint16_t port, int32_t timeoutMs,
               std::unique_ptr<Error>* error);

  void setDelegate(DataBearer::Delegate* delegate) override { delegate_ = delegate; }
  bool startListening() override;
  bool stopListening() override;
  bool disconnect() override;
  bool disconnectAfterWriting() override;
  bool write(std::vector<uint8_t> bytes, int32_t timeoutMs) override;
  void startReading() override;
  std::string localAddress() const override;
  uint16_t localPort() const override;
  std::string peerAddress() const override;
  uint16_t peerPort() const override;

  bool isListening() const { return listening_; }
  bool isReading() const { return reading_; }
  AsyncSocketBase* socket() const { return socket_.get(); }

 private:
  void setSocket(AsyncSocketBase* socket);

  // AsyncSocketBase::Delegate
  void onSocketWillClose(AsyncSocketBase* socket, const Error* error) override;
  void onSocketDidClose(AsyncSocketBase* socket) override;
  void onSocketDidAcceptNewSocket(AsyncSocketBase* socket, AsyncSocketBase* newSocket) override;
  bool onSocketWillOpen(AsyncSocketBase* socket) override;
  void onSocketDidOpen(AsyncSocketBase* socket, const std::string& host, uint16_t port) override;
  void onSocketDataRead(AsyncSocketBase* socket, const std::vector<uint8_t>& bytes, uint32_t tag) override;
  int32_t onSocketReadTimeout(AsyncSocketBase* socket, uint32_t tag, int32_t elapsedMs,
                              uint32_t bytesDone) override;
  int32_t onSocketWriteTimeout(AsyncSocketBase* socket, uint32_t tag, int32_t elapsedMs,
                               uint32_t bytesDone) override;

  std::unique_ptr<AsyncSocketBase> socket_;
  DataBearer::Delegate* delegate_ = nullptr;
  bool reading_ = false;
  bool listening_ = false;
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace transport

#endif  // TRANSPORT_SOCKET_DATA_BEARER_H_
