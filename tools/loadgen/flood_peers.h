// Hostile peers of the local network, one connection each, for checking what
// they can make the server spend: a requester that asks for the capabilities
// without pause and reads the answers only at a trickle, and a sender of
// false frame headers (correct header CRCs, payloads that never end in their
// trailer). Both handshake first, as a phone would, so that they reach the
// paths a phone reaches. Loopback only, like the rest of the generator.
//
// Thread: create, run and destroy on one thread that has a MessageLoop.
#ifndef TOOLS_LOADGEN_FLOOD_PEERS_H_
#define TOOLS_LOADGEN_FLOOD_PEERS_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/message_loop.h"
#include "transport/async_socket.h"
#include "transport/message_frame.h"

namespace loadgen {

struct FloodPlan {
  enum class Mode { kRequester, kFalseHeaders };
  Mode mode = Mode::kRequester;
  std::string host = "127.0.0.1";
  uint16_t port = 0;
  // Requester: capability requests (video and audio) per tick, and how often
  // it takes one read (of whatever is waiting, at most 64 KiB).
  int requestsPerTick = 100;
  uint32_t tickMs = 10;
  uint32_t readIntervalMs = 2000;
  // False headers: how many bytes of them, and the payload each declares.
  size_t falseHeaderBytes = 4 * 1024 * 1024;
  uint32_t declaredPayloadBytes = 65536;
};

struct FloodStats {
  bool connected = false;
  bool handshaken = false;       // the server's handshake came
  bool closedByServer = false;
  uint64_t requestsSent = 0;
  uint64_t bytesRead = 0;
  uint64_t capabilityAnswers = 0;
  uint64_t falseHeaderBytesQueued = 0;
  uint64_t falseHeaderBytesSent = 0;  // handed to the system before the close
};

class FloodPeer : private transport::AsyncSocketBase::Delegate, private base::MessageWindow::Handler {
 public:
  static constexpr const char16_t* kWindowClass = u"com.quillonlabs.loadgen.FloodPeer";

  FloodPeer();
  ~FloodPeer() override;
  FloodPeer(const FloodPeer&) = delete;
  FloodPeer& operator=(const FloodPeer&) = delete;

  // False (nothing started) for a host that is not loopback or no port.
  bool start(const FloodPlan& plan);
  // The false headers are all sent, or the server ended the connection.
  bool done() const;
  void stop();
  const FloodStats& stats() const { return stats_; }

 private:
  void sendFrame(uint32_t type, const std::vector<uint8_t>& payload);
  void sendRequests();
  void sendFalseHeaders();

  // AsyncSocketBase::Delegate
  bool onSocketWillOpen(transport::AsyncSocketBase*) override { return true; }
  void onSocketDidOpen(transport::AsyncSocketBase* socket, const std::string& host, uint16_t port) override;
  void onSocketDataRead(transport::AsyncSocketBase* socket, const std::vector<uint8_t>& bytes,
                        uint32_t tag) override;
  void onSocketDataWritten(transport::AsyncSocketBase* socket, uint32_t tag) override;
  void onSocketDidClose(transport::AsyncSocketBase* socket) override;

  // MessageWindow::Handler: the ticks.
  void onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) override;

  FloodPlan plan_;
  FloodStats stats_;
  bool stopping_ = false;
  std::unique_ptr<transport::AsyncSocket> socket_;
  transport::FrameEncoder encoder_;
  transport::FrameDecoder decoder_;
  std::vector<uint8_t> falseHeaders_;
  size_t falseHeadersAt_ = 0;
  std::unique_ptr<base::MessageWindow> window_;
};

}  // namespace loadgen

#endif  // TOOLS_LOADGEN_FLOOD_PEERS_H_
