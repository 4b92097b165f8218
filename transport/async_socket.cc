#include "transport/async_socket.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "base/logging.h"
#include "base/socket.h"

namespace transport {
// After a delegate call the socket may have been closed or even deleted by
// the delegate: `alive.expired() || closed_` (in that order) tells.
namespace {

using base::kInvalidSocket;

bool isHarmless(int32_t error) {
  return error == 0 || base::isWouldBlock(error) || base::isInterrupted(error);
}

int32_t extended(int32_t timeoutMs, int32_t extensionMs) {
  const int64_t sum = static_cast<int64_t>(timeoutMs) + extensionMs;
  return static_cast<int32_t>(std::min<int64_t>(sum, std::numeric_limits<int32_t>::max()));
}

}  // namespace

AsyncSocket::AsyncSocket(Delegate* delegate)
    : delegate_(delegate), window_(std::make_unique<base::MessageWindow>(kWindowClass, static_cast<base::MessageWindow::Handler*>(this))) {}

AsyncSocket::~AsyncSocket() {
  delegate_ = nullptr;
  if (!closed_ && socket_ != kInvalidSocket && (flags_ & kCloseAfterWrites)) {
    // Best effort, never waiting: whatever the system takes now still goes out.
    std::deque<std::unique_ptr<WriteRequest>> pending;
    if (currentWrite_) pending.push_back(std::move(currentWrite_));
    for (auto& request : writeQueue_) pending.push_back(std::move(request));
    writeQueue_.clear();
    for (auto& request : pending) {
      while (request->done < request->bytes.size()) {
        const size_t chunk = std::min(kSendChunkBytes, request->bytes.size() - request->done);
        const long sent = base::socketSend(socket_, request->bytes.data() + request->done, chunk);
        if (sent <= 0) break;
        request->done += static_cast<size_t>(sent);
      }
      if (request->done < request->bytes.size()) break;
    }
  }
  close();
  window_.reset();
}

bool AsyncSocket::listenOnPort(uint16_t port, std::unique_ptr<Error>* error) {
  if (closed_ || socket_ != kInvalidSocket) {
    if (error) *error = createGeneralSocketError();
    return false;
  }
  int32_t code = 0;
  const base::SocketHandle handle = base::socketListen(port, false, &code);
  if (handle == kInvalidSocket) {
    if (error) *error = createSystemError(code);
    return false;
  }
  if (!window_->selectSocket(handle, kMsgSocketEvent, base::kFdAccept | base::kFdClose)) {
    code = base::lastSocketError();
    base::socketClose(handle);
    if (error) *error = createSystemError(code);
    return false;
  }
  socket_ = handle;
  listening_ = true;
  flags_ |= kStarted;
  return true;
}

bool AsyncSocket::connectToHost(const std::string& host, uint16_t port, int32_t timeoutMs,
                                std::unique_ptr<Error>* error) {
  if (closed_ || socket_ != kInvalidSocket) {
    if (error) *error = createGeneralSocketError();
    return false;
  }
  if (delegate_ && !delegate_->onSocketWillOpen(this)) {
    if (error) *error = createCanceledError();
    return false;
  }
  int32_t code = 0;
  const base::SocketHandle handle = base::socketConnect(host, port, &code);
  if (handle == kInvalidSocket) {
    if (error) *error = createSystemError(code);
    return false;
  }
  const uint32_t events = base::kFdConnect | base::kFdRead | base::kFdWrite | base::kFdClose;
  if (!window_->selectSocket(handle, kMsgSocketEvent, events)) {
    code = base::lastSocketError();
    base::socketClose(handle);
    if (error) *error = createSystemError(code);
    return false;
  }
  socket_ = handle;
  connecting_ = true;
  flags_ |= kStarted;
  if (timeoutMs >= 0) {
    connectTimer_ = kConnectTimerId;
    window_->setTimer(kConnectTimerId, static_cast<uint32_t>(timeoutMs));
  }
  return true;
}

bool AsyncSocket::adopt(base::SocketHandle handle) {
  // Only IPv4 connections are served.
  if (!base::socketLocalAddress(handle, nullptr, nullptr)) {
    base::socketClose(handle);
    close();
    return false;
  }
  socket_ = handle;
  maxQueuedWriteBytes_ = kMaxQueuedWriteBytes;
  if (!base::socketSetKeepAlive(handle, kKeepAliveIdleSeconds, kKeepAliveIntervalSeconds, kKeepAliveProbes))
    LOG(WARNING) << "Keepalive could not be turned on; a vanished peer goes unnoticed";
  if (!window_->selectSocket(handle, kMsgSocketEvent, base::kFdRead | base::kFdWrite | base::kFdClose)) {
    close();
    return false;
  }
  flags_ |= kStarted;
  return true;
}

void AsyncSocket::read(int32_t timeoutMs, uint32_t tag) {
  if (closed_ || (flags_ & kNoMoreRequests)) return;
  auto request = std::make_unique<ReadRequest>();
  request->timeoutMs = timeoutMs;
  request->tag = tag;
  readQueue_.push_back(std::move(request));
  postOnce(kReadServicePosted, kMsgServiceReads);
}

void AsyncSocket::write(std::vector<uint8_t> bytes, int32_t timeoutMs, uint32_t tag) {
  if (closed_ || bytes.empty() || (flags_ & kNoMoreRequests)) return;
  if (maxQueuedWriteBytes_ && bytes.size() > maxQueuedWriteBytes_ - std::min(queuedWriteBytes_, maxQueuedWriteBytes_)) {
    // The peer takes far less than it is sent (or asks and never reads):
    // free the backlog now and close from the loop, since the writer is
    // still on the stack and may be in the middle of its own work.
    LOG(WARNING) << "Connection to " << peerAddress() << ":" << peerPort() << " closed: "
                 << queuedWriteBytes_ << " bytes wait to be sent and " << bytes.size()
                 << " more would pass the limit of " << maxQueuedWriteBytes_;
    flags_ |= kNoMoreRequests;
    dropWrites();
    window_->post(kMsgWriteQueueFull);
    return;
  }
  queuedWriteBytes_ += bytes.size();
  auto request = std::make_unique<WriteRequest>();
  request->bytes = std::move(bytes);
  request->timeoutMs = timeoutMs;
  request->tag = tag;
  writeQueue_.push_back(std::move(request));
  postOnce(kWriteServicePosted, kMsgServiceWrites);
}

void AsyncSocket::closeAfterWriting() {
  if (closed_) return;
  flags_ |= kNoMoreRequests | kCloseAfterWrites;
  // Nothing left to send: there is no reason to wait for the queue to be
  // serviced again (which might never happen).
  if (writesDone() && (!(flags_ & kCloseAfterReads) || readsDone())) close();
}

void AsyncSocket::close() {
  if (closed_) return;
  window_->killTimer(kReadTimerId);
  window_->killTimer(kWriteTimerId);
  currentRead_.reset();
  readQueue_.clear();
  dropWrites();
  flags_ &= ~(kReadServicePosted | kWriteServicePosted);
  holding_.clear();
  closed_ = true;  // from here on the window's messages are ignored
  if (connectTimer_) {
    window_->killTimer(connectTimer_);
    connectTimer_ = 0;
  }
  if (socket_ != kInvalidSocket) {
    window_->selectSocket(socket_, kMsgSocketEvent, 0);
    // Closing with unread input makes the system reset the connection, and a
    // reset may throw away what was just sent (a farewell). Nobody will read
    // those bytes any more, so take them out of the way first.
    if (!listening_ && !(flags_ & kClosingWithError)) discardUnreadInput();
    base::socketClose(socket_);
    socket_ = kInvalidSocket;
  }
  const bool started = (flags_ & kStarted) != 0;
  flags_ = 0;
  if (started && delegate_) delegate_->onSocketDidClose(this);
  // The window stays until the object is destroyed: the delegate may delete
  // the socket from inside the report above, and the window's handler may be
  // running right now.
}

void AsyncSocket::dropWrites() {
  window_->killTimer(kWriteTimerId);
  currentWrite_.reset();
  writeQueue_.clear();
  queuedWriteBytes_ = 0;
}

void AsyncSocket::discardUnreadInput() {
  uint8_t scratch[4096];
  for (size_t total = 0; total < kMaxDiscardBytes;) {
    if (base::socketBytesAvailable(socket_) <= 0) break;
    const long got = base::socketRecv(socket_, scratch, sizeof(scratch));
    if (got <= 0) break;
    total += static_cast<size_t>(got);
  }
}

std::string AsyncSocket::peerAddress() const {
  std::string address;
  if (socket_ == kInvalidSocket || !base::socketPeerAddress(socket_, &address, nullptr)) return {};
  return address;
}

uint16_t AsyncSocket::peerPort() const {
  uint16_t port = 0;
  if (socket_ == kInvalidSocket || !base::socketPeerAddress(socket_, nullptr, &port)) return 0;
  return port;
}

std::string AsyncSocket::localAddress() const {
  std::string address;
  if (socket_ == kInvalidSocket || !base::socketLocalAddress(socket_, &address, nullptr)) return {};
  return address;
}

uint16_t AsyncSocket::localPort() const {
  uint16_t port = 0;
  if (socket_ == kInvalidSocket || !base::socketLocalAddress(socket_, nullptr, &port)) return 0;
  return port;
}

void AsyncSocket::onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  if (closed_) return;
  switch (msg) {
    case kMsgSocketEvent:
      onSocketEvent(static_cast<base::SocketHandle>(wparam), base::socketEventOf(lparam),
                    base::socketErrorOf(lparam));
      break;
    case kMsgServiceReads:
      serviceReadQueue();
      break;
    case kMsgServiceWrites:
      serviceWriteQueue();
      break;
    case kMsgWriteQueueFull:
      closeWithError(createWriteQueueFullError());
      break;
    case base::kMsgTimer:
      if (wparam == kReadTimerId) readTimedOut();
      else if (wparam == kWriteTimerId) writeTimedOut();
      else if (connectTimer_ != 0 && wparam == connectTimer_) connectTimedOut();
      break;
    default:
      break;
  }
}

void AsyncSocket::onSocketEvent(base::SocketHandle handle, uint32_t event, uint32_t error) {
  if (handle != socket_) return;  // a stale event of an earlier handle
  const std::weak_ptr<char> alive(alive_);
  if (event == base::kFdConnect || (connecting_ && event == base::kFdWrite &&
                                    !(flags_ & kSeenWritable) && error == 0)) {
    // An outgoing connection: done (some systems report only the write
    // readiness when the connection completed before the selection).
    if (flags_ & kSeenWritable) return;
    if (error != 0) {
      LOG(ERROR) << "Connect failed: " << error;
      closeWithError(createConnectError(static_cast<int32_t>(error)));
      return;
    }
    flags_ |= kSeenReadable | kSeenWritable;
    opened();
    if (alive.expired() || closed_) return;
    flags_ |= kCanSend;
    sendBytes();
    return;
  }
  if (error != 0) {
    LOG(ERROR) << "Error: " << error;
    closeWithError(createGeneralSocketError());
    return;
  }
  switch (event) {
    case base::kFdAccept:
      acceptConnection();
      break;
    case base::kFdRead:
      if (!(flags_ & kSeenReadable)) {
        flags_ |= kSeenReadable;
        opened();
        if (alive.expired() || closed_) return;
      }
      flags_ |= kHasBytes;
      bytesAvailable();
      break;
    case base::kFdWrite:
      if (!(flags_ & kSeenWritable)) {
        flags_ |= kSeenWritable;
        opened();
        if (alive.expired() || closed_) return;
      }
      flags_ |= kCanSend;
      sendBytes();
      break;
    case base::kFdClose:
      // Hand out what the peer sent before it closed, then close.
      flags_ |= kHasBytes;
      bytesAvailable();
      if (alive.expired() || closed_) return;
      closeWithError(createSystemError(0));
      break;
    default:
      break;
  }
}

void AsyncSocket::acceptConnection() {
  const base::SocketHandle handle = base::socketAccept(socket_);
  if (handle == kInvalidSocket) return;
  if (!delegate_) {
    LOG(WARNING) << "Accepted connection dropped: the listener has no delegate";
    base::socketClose(handle);
    return;
  }
  auto accepted = std::make_unique<AsyncSocket>(delegate_);
  if (!accepted->adopt(handle)) {
    LOG(WARNING) << "Accepted connection dropped: it could not be set up";
    return;
  }
  delegate_->onSocketDidAcceptNewSocket(this, accepted.release());
}

void AsyncSocket::opened() {
  if (!(flags_ & kSeenReadable) || !(flags_ & kSeenWritable)) return;
  if (connectTimer_) {
    window_->killTimer(connectTimer_);
    connectTimer_ = 0;
  }
  const std::weak_ptr<char> alive(alive_);
  if (delegate_) {
    delegate_->onSocketDidOpen(this, peerAddress(), peerPort());
    if (alive.expired() || closed_) return;
  }
  serviceReadQueue();
  if (alive.expired() || closed_) return;
  serviceWriteQueue();
}

void AsyncSocket::postOnce(uint32_t flag, uint32_t msg) {
  if (flags_ & flag) return;
  flags_ |= flag;
  window_->post(msg);
}

template <typename Request>
bool AsyncSocket::takeNextRequest(std::deque<std::unique_ptr<Request>>* queue,
                                  std::unique_ptr<Request>* current, uintptr_t timerId) {
  if (*current || queue->empty()) return false;
  *current = std::move(queue->front());
  queue->pop_front();
  if ((*current)->timeoutMs >= 0) window_->setTimer(timerId, static_cast<uint32_t>((*current)->timeoutMs));
  return true;
}

bool AsyncSocket::readsDone() const { return !currentRead_ && readQueue_.empty(); }
bool AsyncSocket::writesDone() const { return !currentWrite_ && writeQueue_.empty(); }

void AsyncSocket::serviceReadQueue() {
  flags_ &= ~kReadServicePosted;
  if (takeNextRequest(&readQueue_, &currentRead_, kReadTimerId)) {
    bytesAvailable();
    return;
  }
  if (readsDone() && (flags_ & kCloseAfterReads) && (!(flags_ & kCloseAfterWrites) || writesDone())) close();
}

void AsyncSocket::bytesAvailable() {
  if (!currentRead_ || socket_ == kInvalidSocket) return;
  ReadRequest& request = *currentRead_;
  bool failed = false;
  int32_t code = 0;
  size_t takenNow = 0;
  while (takenNow < kMaxReadBytes) {
    if (!(flags_ & kHasBytes) && holding_.empty() && base::socketBytesAvailable(socket_) <= 0) break;
    if (request.buffer.size() < request.done + kReceiveStepBytes)
      request.buffer.resize(request.done + kReceiveStepBytes);
    uint8_t* free = request.buffer.data() + request.done;
    if (!holding_.empty()) {
      const size_t n = std::min(kReceiveStepBytes, holding_.size());
      std::memcpy(free, holding_.data(), n);
      holding_.erase(holding_.begin(), holding_.begin() + static_cast<std::ptrdiff_t>(n));
      request.done += n;
      takenNow += n;
      continue;
    }
    flags_ &= ~kHasBytes;
    const long got = base::socketRecv(socket_, free, kReceiveStepBytes);
    if (got < 0) {
      failed = true;
      code = base::lastSocketError();
      break;
    }
    if (got == 0) break;  // end of stream; the close event follows
    request.done += static_cast<size_t>(got);
    takenNow += static_cast<size_t>(got);
  }
  const bool fatal = failed && !isHarmless(code);
  if (request.done > 0) {
    std::unique_ptr<ReadRequest> done = std::move(currentRead_);
    window_->killTimer(kReadTimerId);
    done->buffer.resize(done->done);
    const std::weak_ptr<char> alive(alive_);
    if (delegate_) {
      delegate_->onSocketDataRead(this, done->buffer, done->tag);
      if (alive.expired() || closed_) return;
    }
    if (!fatal) postOnce(kReadServicePosted, kMsgServiceReads);
  }
  if (fatal) closeWithError(createSystemError(code));
}

void AsyncSocket::serviceWriteQueue() {
  flags_ &= ~kWriteServicePosted;
  if (takeNextRequest(&writeQueue_, &currentWrite_, kWriteTimerId)) {
    sendBytes();
    return;
  }
  if (writesDone() && (flags_ & kCloseAfterWrites) && (!(flags_ & kCloseAfterReads) || readsDone())) close();
}

void AsyncSocket::sendBytes() {
  if (!currentWrite_ || socket_ == kInvalidSocket) return;
  if (connecting_ && !(flags_ & kSeenWritable)) return;  // not connected yet
  WriteRequest& request = *currentWrite_;
  bool failed = false;
  int32_t code = 0;
  while (request.done < request.bytes.size()) {
    const size_t chunk = std::min(kSendChunkBytes, request.bytes.size() - request.done);
    const long sent = base::socketSend(socket_, request.bytes.data() + request.done, chunk);
    flags_ &= ~kCanSend;
    if (sent < 0) {
      failed = true;
      code = base::lastSocketError();
      break;
    }
    if (sent == 0) break;  // nothing taken: wait for the next write readiness
    request.done += static_cast<size_t>(sent);
  }
  if (request.done == request.bytes.size()) {
    std::unique_ptr<WriteRequest> done = std::move(currentWrite_);
    queuedWriteBytes_ -= done->bytes.size();
    window_->killTimer(kWriteTimerId);
    const std::weak_ptr<char> alive(alive_);
    if (delegate_) {
      delegate_->onSocketDataWritten(this, done->tag);
      if (alive.expired() || closed_) return;
    }
    postOnce(kWriteServicePosted, kMsgServiceWrites);
    return;
  }
  // Would-block: the next write readiness resumes the request.
  if (failed && !isHarmless(code)) closeWithError(createSystemError(code));
}

void AsyncSocket::readTimedOut() {
  if (!currentRead_) {
    window_->killTimer(kReadTimerId);
    return;
  }
  int32_t extension = -1;
  if (delegate_) {
    const std::weak_ptr<char> alive(alive_);
    extension = delegate_->onSocketReadTimeout(this, currentRead_->tag, currentRead_->timeoutMs,
                                               static_cast<uint32_t>(currentRead_->done));
    if (alive.expired() || closed_) return;
  }
  if (extension > 0 && currentRead_) {
    currentRead_->timeoutMs = extended(currentRead_->timeoutMs, extension);
    window_->setTimer(kReadTimerId, static_cast<uint32_t>(extension));
    return;
  }
  closeWithError(createReadTimeoutError());
}

void AsyncSocket::writeTimedOut() {
  if (!currentWrite_) {
    window_->killTimer(kWriteTimerId);
    return;
  }
  int32_t extension = 0;
  if (delegate_) {
    const std::weak_ptr<char> alive(alive_);
    extension = delegate_->onSocketWriteTimeout(this, currentWrite_->tag, currentWrite_->timeoutMs,
                                                static_cast<uint32_t>(currentWrite_->done));
    if (alive.expired() || closed_) return;
  }
  if (extension > 0 && currentWrite_) {
    currentWrite_->timeoutMs = extended(currentWrite_->timeoutMs, extension);
    window_->setTimer(kWriteTimerId, static_cast<uint32_t>(extension));
    return;
  }
  if (extension < 0) {
    closeWithError(createWriteTimeoutError());
    return;
  }
  // Zero: give up this write and go on with the next one.
  window_->killTimer(kWriteTimerId);
  queuedWriteBytes_ -= currentWrite_->bytes.size();
  currentWrite_.reset();
  serviceWriteQueue();
}

void AsyncSocket::connectTimedOut() {
  window_->killTimer(connectTimer_);
  connectTimer_ = 0;
  closeWithError(createConnectTimeoutError());
}

void AsyncSocket::closeWithError(std::unique_ptr<Error> error) {
  flags_ |= kClosingWithError;
  if (flags_ & kStarted) {
    if (currentRead_ && currentRead_->done > 0) {
      holding_.insert(holding_.begin(), currentRead_->buffer.begin(),
                      currentRead_->buffer.begin() + static_cast<std::ptrdiff_t>(currentRead_->done));
      currentRead_->done = 0;
    }
    if (delegate_) {
      const std::weak_ptr<char> alive(alive_);
      delegate_->onSocketWillClose(this, error.get());
      if (alive.expired() || closed_) return;
    }
  }
  close();
}

}  // namespace transport
