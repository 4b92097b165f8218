#include "transport/socket_data_bearer.h"

#include "base/logging.h"
#include "base/string_util.h"
#include "transport/async_socket.h"

namespace transport {
namespace {

std::string addressText(const void* object) {
  return base::stringPrintf("0x%lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(object)));
}

}  // namespace

SocketDataBearer::SocketDataBearer() = default;

SocketDataBearer::SocketDataBearer(AsyncSocketBase* socket) { setSocket(socket); }

SocketDataBearer::~SocketDataBearer() = default;

void SocketDataBearer::setSocket(AsyncSocketBase* socket) {
  socket_.reset(socket);
  if (socket_) socket_->setDelegate(this);
}

bool SocketDataBearer::listen(uint16_t port, std::unique_ptr<Error>* error) {
  listening_ = true;
  reading_ = false;
  setSocket(new AsyncSocket);
  if (!socket_->listenOnPort(port, error)) return false;
  if (delegate_) delegate_->onBearerDidStartListening(this);
  return true;
}

bool SocketDataBearer::connect(const std::string& host, uint16_t port, int32_t timeoutMs,
                               std::unique_ptr<Error>* error) {
  listening_ = false;
  reading_ = false;
  auto* socket = new AsyncSocket;
  setSocket(socket);
  return socket->connectToHost(host, port, timeoutMs, error);
}

bool SocketDataBearer::startListening() { return listen(0, nullptr); }

bool SocketDataBearer::stopListening() {
  if (socket_) socket_->close();
  listening_ = false;
  return true;
}

bool SocketDataBearer::disconnect() {
  if (socket_) socket_->close();
  return true;
}

bool SocketDataBearer::disconnectAfterWriting() {
  if (socket_) socket_->closeAfterWriting();
  return true;
}

bool SocketDataBearer::write(std::vector<uint8_t> bytes, int32_t timeoutMs) {
  if (socket_) socket_->write(std::move(bytes), timeoutMs, 0);
  return true;
}

void SocketDataBearer::startReading() {
  if (reading_ || !socket_) return;
  reading_ = true;
  socket_->read(-1, 0);
}

std::string SocketDataBearer::localAddress() const { return socket_ ? socket_->localAddress() : std::string(); }
uint16_t SocketDataBearer::localPort() const { return socket_ ? socket_->localPort() : 0; }
std::string SocketDataBearer::peerAddress() const { return socket_ ? socket_->peerAddress() : std::string(); }
uint16_t SocketDataBearer::peerPort() const { return socket_ ? socket_->peerPort() : 0; }

void SocketDataBearer::onSocketDidAcceptNewSocket(AsyncSocketBase* socket, AsyncSocketBase* newSocket) {
  LOG(INFO) << "onSocketDidAcceptNewSocket(" << addressText(socket) << ", " << addressText(newSocket) << ")";
  auto* bearer = new SocketDataBearer(newSocket);
  if (delegate_) delegate_->onBearerDidAcceptNewBearer(this, bearer);
  else delete bearer;  // nobody to own it: the connection is dropped
}

bool SocketDataBearer::onSocketWillOpen(AsyncSocketBase* socket) {
  LOG(INFO) << "Socket will connect";
  return true;
}

void SocketDataBearer::onSocketDidOpen(AsyncSocketBase* socket, const std::string& host, uint16_t port) {
  LOG(INFO) << "Socket connected to " << host << ":" << port;
  if (delegate_) delegate_->onBearerDidConnect(this);
}

void SocketDataBearer::onSocketWillClose(AsyncSocketBase* socket, const Error* error) {
  LOG(INFO) << "Socket will be closed with error " << error;
  if (delegate_) delegate_->onBearerWillDisconnect(this, error);
}

void SocketDataBearer::onSocketDidClose(AsyncSocketBase* socket) {
  LOG(INFO) << "Socket disconnected";
  reading_ = false;
  if (!delegate_) return;
  if (listening_) delegate_->onBearerDidStopListening(this);
  else delegate_->onBearerDidDisconnect(this);
}

void SocketDataBearer::onSocketDataRead(AsyncSocketBase* socket, const std::vector<uint8_t>& bytes,
                                        uint32_t tag) {
  const std::weak_ptr<char> alive(alive_);
  if (delegate_) {
    delegate_->onBearerDidReadData(this, bytes);
    if (alive.expired()) return;
  }
  reading_ = false;
  startReading();
}

int32_t SocketDataBearer::onSocketReadTimeout(AsyncSocketBase*, uint32_t, int32_t, uint32_t) {
  return kTimeoutExtensionMs;
}

int32_t SocketDataBearer::onSocketWriteTimeout(AsyncSocketBase*, uint32_t, int32_t, uint32_t) {
  return kTimeoutExtensionMs;
}

}  // namespace transport
