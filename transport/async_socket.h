// The asynchronous socket. Its state machine (status flags, read and write
// queues, time-outs, close rules) runs entirely in the handler of a hidden
// MessageWindow that the socket owns: socket events, the "service the queue"
// messages it posts to itself and its timers all arrive there, on the thread
// that created the socket. Only the window and the socket calls differ per
// platform (base/message_loop.h, base/socket.h).
//
// Thread: everything, including destruction, on the creating thread.
#ifndef TRANSPORT_ASYNC_SOCKET_H_
#define TRANSPORT_ASYNC_SOCKET_H_

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "base/message_loop.h"
#include "transport/async_socket_base.h"

namespace transport {

class AsyncSocket : public AsyncSocketBase, private base::MessageWindow::Handler {
 public:
  static constexpr const char16_t* kWindowClass = u"com.quillonlabs.transport.AsyncSocketWindow";

  // Messages of the hidden window.
  static constexpr uint32_t kMsgSocketEvent = base::kMsgUser;
  static constexpr uint32_t kMsgServiceReads = base::kMsgUser + 1;
  static constexpr uint32_t kMsgServiceWrites = base::kMsgUser + 2;
  static constexpr uint32_t kMsgWriteQueueFull = base::kMsgUser + 3;

  static constexpr uintptr_t kReadTimerId = 1;
  static constexpr uintptr_t kWriteTimerId = 2;
  static constexpr uintptr_t kConnectTimerId = 3;

  // Reads take at most this much per receive call, sends give at most this
  // much per send call.
  static constexpr size_t kReceiveStepBytes = 256;
  static constexpr size_t kSendChunkBytes = 4096;
  // One read request delivers at most this much; the rest follows with the
  // next request. Keeps a fast peer from growing a single read without end.
  static constexpr size_t kMaxReadBytes = 64 * 1024;
  // Accepted connections hold at most this much unsent output. The PC sends
  // a phone audio (about 16 KB/s) and small answers; a peer that asks and
  // never reads would otherwise grow the queue without end.
  static constexpr size_t kMaxQueuedWriteBytes = 4 * 1024 * 1024;
  // A plain close first drops at most this much input nobody will read.
  static constexpr size_t kMaxDiscardBytes = 256 * 1024;

  // Every accepted connection probes a silent peer: a phone that vanished
  // (its Wi-Fi gone, so no FIN or RST ever comes) fails the connection about
  // idle + interval * probes = 25 s after it was last heard.
  static constexpr uint32_t kKeepAliveIdleSeconds = 10;
  static constexpr uint32_t kKeepAliveIntervalSeconds = 5;
  static constexpr uint32_t kKeepAliveProbes = 3;

  // Status flags.
  enum Flag : uint32_t {
    kStarted = 0x2,            // listening or connected: only then is the close reported
    kSeenReadable = 0x4,       // the first read readiness has been seen
    kSeenWritable = 0x8,       // the first write readiness has been seen
    kNoMoreRequests = 0x40,    // reads and writes are ignored
    kCloseAfterReads = 0x80,   // close when the read queue is empty
    kCloseAfterWrites = 0x100, // close when the write queue is empty
    kClosingWithError = 0x200,
    kReadServicePosted = 0x400,
    kWriteServicePosted = 0x800,
    kCanSend = 0x1000,         // write readiness seen since the last send
    kHasBytes = 0x2000,        // read readiness seen since the last receive
  };

  explicit AsyncSocket(Delegate* delegate = nullptr);
  // Closes without telling the delegate. Bytes still queued after
  // closeAfterWriting() are handed to the system first if it takes them
  // without waiting, so a farewell survives a prompt shutdown.
  ~AsyncSocket() override;
  AsyncSocket(const AsyncSocket&) = delete;
  AsyncSocket& operator=(const AsyncSocket&) = delete;

  Delegate* delegate() const override { return delegate_; }
  void setDelegate(Delegate* delegate) override { delegate_ = delegate; }
  uint32_t userValue() const override { return userValue_; }
  void setUserValue(uint32_t value) override { userValue_ = value; }

  bool listenOnPort(uint16_t port, std::unique_ptr<Error>* error) override;
  // Starts an outgoing connection (used by the simulated phone and tests).
  // The delegate is asked onSocketWillOpen first. Completion is reported by
  // onSocketDidOpen; failure by onSocketWillClose with a connect error and
  // onSocketDidClose. A non-negative `timeoutMs` arms the connect timer.
  bool connectToHost(const std::string& host, uint16_t port, int32_t timeoutMs,
                     std::unique_ptr<Error>* error);

  void read(int32_t timeoutMs, uint32_t tag) override;
  void write(std::vector<uint8_t> bytes, int32_t timeoutMs, uint32_t tag) override;
  void close() override;
  void closeAfterWriting() override;
  // Past `bytes` of unsent output a write is refused and the socket closes
  // (soon, never inside write()) with the write-queue-full error; 0 means no
  // limit. Accepted connections start with kMaxQueuedWriteBytes.
  void setMaxQueuedWriteBytes(size_t bytes) { maxQueuedWriteBytes_ = bytes; }
  size_t queuedWriteBytes() const { return queuedWriteBytes_; }

  std::string peerAddress() const override;
  uint16_t peerPort() const override;
  std::string localAddress() const override;
  uint16_t localPort() const override;

  // For tests and diagnostics.
  uint32_t flags() const { return flags_; }
  bool isClosed() const { return closed_; }
  size_t queuedReads() const { return readQueue_.size() + (currentRead_ ? 1 : 0); }
  size_t queuedWrites() const { return writeQueue_.size() + (currentWrite_ ? 1 : 0); }

 private:
  struct ReadRequest {
    std::vector<uint8_t> buffer;
    size_t done = 0;
    int32_t timeoutMs = -1;
    uint32_t tag = 0;
  };
  struct WriteRequest {
    std::vector<uint8_t> bytes;
    size_t done = 0;
    int32_t timeoutMs = -1;
    uint32_t tag = 0;
  };

  // Adopts an accepted connection; false (handle closed) on failure.
  bool adopt(base::SocketHandle handle);

  void onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) override;
  void onSocketEvent(base::SocketHandle handle, uint32_t event, uint32_t error);
  void acceptConnection();
  void opened();
  // Makes the front request of `queue` the current one (arming its timer)
  // when none is in progress.
  template <typename Request>
  bool takeNextRequest(std::deque<std::unique_ptr<Request>>* queue, std::unique_ptr<Request>* current,
                       uintptr_t timerId);
  bool readsDone() const;
  bool writesDone() const;
  void serviceReadQueue();
  void serviceWriteQueue();
  void bytesAvailable();
  void sendBytes();
  void readTimedOut();
  void writeTimedOut();
  void connectTimedOut();
  void closeWithError(std::unique_ptr<Error> error);
  void discardUnreadInput();
  void postOnce(uint32_t flag, uint32_t msg);
  void dropWrites();

  Delegate* delegate_;
  uint32_t userValue_ = 0;
  std::unique_ptr<base::MessageWindow> window_;
  base::SocketHandle socket_ = base::kInvalidSocket;
  uint32_t flags_ = 0;
  uintptr_t connectTimer_ = 0;
  bool connecting_ = false;
  bool listening_ = false;
  bool closed_ = false;
  std::deque<std::unique_ptr<ReadRequest>> readQueue_;
  std::unique_ptr<ReadRequest> currentRead_;
  std::deque<std::unique_ptr<WriteRequest>> writeQueue_;
  std::unique_ptr<WriteRequest> currentWrite_;
  size_t queuedWriteBytes_ = 0;  // in the write queue and the write in progress
  size_t maxQueuedWriteBytes_ = 0;
  std::vector<uint8_t> holding_;
  // Expires when the socket is destroyed, so code that called out to the
  // delegate can tell whether it still may touch the socket.
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace transport

#endif  // TRANSPORT_ASYNC_SOCKET_H_
