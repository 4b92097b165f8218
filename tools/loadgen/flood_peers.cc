#include "tools/loadgen/flood_peers.h"

#include <algorithm>

#include "base/logging.h"
#include "base/pickle.h"
#include "base/values.h"
#include "components/component_message.h"
#include "tools/loadgen/loadgen.h"
#include "transport/handshake.h"
#include "transport/transport_test_support.h"

namespace loadgen {
namespace {

constexpr uintptr_t kTickTimer = 1;
constexpr uintptr_t kReadTimer = 2;
constexpr uint32_t kVideoComponent = 13001;
constexpr uint32_t kAudioComponent = 56001;
constexpr int32_t kVideoSourceInfo = 4;
constexpr int32_t kAudioSourceInfo = 3;
// False headers go out in writes of this size, one more only when the last
// one has been taken by the system, so the count of bytes sent is exact.
constexpr size_t kFalseHeaderWriteBytes = 64 * 1024;
constexpr uint32_t kFalseHeaderTag = 7;

std::vector<uint8_t> bytesOf(const base::Pickle& pickle) {
  return std::vector<uint8_t>(pickle.data(), pickle.data() + pickle.size());
}

}  // namespace

FloodPeer::FloodPeer()
    : window_(std::make_unique<base::MessageWindow>(kWindowClass, static_cast<base::MessageWindow::Handler*>(this))) {}

FloodPeer::~FloodPeer() { stop(); }

bool FloodPeer::start(const FloodPlan& plan) {
  if (!isLoopbackHost(plan.host) || plan.port == 0 || socket_) return false;
  plan_ = plan;
  socket_ = std::make_unique<transport::AsyncSocket>(static_cast<transport::AsyncSocketBase::Delegate*>(this));
  std::unique_ptr<transport::Error> error;
  if (!socket_->connectToHost(plan.host, plan.port, 20000, &error)) {
    socket_.reset();
    return false;
  }
  return true;
}

bool FloodPeer::done() const {
  if (stats_.closedByServer) return true;
  return plan_.mode == FloodPlan::Mode::kFalseHeaders && stats_.handshaken &&
         stats_.falseHeaderBytesSent >= plan_.falseHeaderBytes;
}

void FloodPeer::stop() {
  stopping_ = true;
  if (window_) {
    window_->killTimer(kTickTimer);
    window_->killTimer(kReadTimer);
  }
  if (socket_) socket_->close();
}

void FloodPeer::sendFrame(uint32_t type, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> frame;
  if (encoder_.encode(type, payload.data(), payload.size(), &frame)) socket_->write(std::move(frame), -1, 0);
}

void FloodPeer::onSocketDidOpen(transport::AsyncSocketBase*, const std::string&, uint16_t) {
  stats_.connected = true;
  base::DictionaryValue phone;
  phone.setString("DeviceModel", "iPhone14,2");
  phone.setString("SystemName", "iOS");
  phone.setString("SystemVersion", "17.0");
  std::vector<uint8_t> handshake;
  transport::buildClientHandshake(12000, {2, 0, 0, 0}, 0, &phone, &handshake);
  sendFrame(transport::kMessageHandshake, handshake);
  socket_->read(-1, 0);  // the server's handshake
}

void FloodPeer::onSocketDataRead(transport::AsyncSocketBase*, const std::vector<uint8_t>& bytes, uint32_t) {
  stats_.bytesRead += bytes.size();
  const bool first = !stats_.handshaken;
  decoder_.feed(bytes.data(), bytes.size(), [this](transport::Frame& frame) {
    if (frame.type == transport::kMessageHandshake) stats_.handshaken = true;
    if (frame.type == kVideoComponent || frame.type == kAudioComponent) ++stats_.capabilityAnswers;
    return true;
  });
  if (stopping_) return;
  // The false-header sender reads everything, to see the close at once.
  if (!stats_.handshaken || plan_.mode == FloodPlan::Mode::kFalseHeaders) socket_->read(-1, 0);
  if (!first || !stats_.handshaken) return;
  if (plan_.mode == FloodPlan::Mode::kRequester) {
    // From here on only a read now and then: the answers pile up at the server.
    window_->setTimer(kTickTimer, plan_.tickMs);
    window_->setTimer(kReadTimer, plan_.readIntervalMs);
  } else {
    falseHeaders_ = transport::falseFrameHeaders(plan_.falseHeaderBytes / transport::kFrameHeaderBytes,
                                                 plan_.declaredPayloadBytes);
    sendFalseHeaders();
  }
}

void FloodPeer::sendRequests() {
  for (int i = 0; i < plan_.requestsPerTick; ++i) {
    base::Pickle video = component::makeComponentMessage(kVideoSourceInfo);
    base::DictionaryValue camera;
    camera.setString("Camera", "back");
    base::writeDictionaryToPickle(camera, &video);
    sendFrame(kVideoComponent, bytesOf(video));
    sendFrame(kAudioComponent, bytesOf(component::makeComponentMessage(kAudioSourceInfo)));
    stats_.requestsSent += 2;
  }
}

void FloodPeer::sendFalseHeaders() {
  if (falseHeadersAt_ >= falseHeaders_.size()) return;
  const size_t n = std::min(kFalseHeaderWriteBytes, falseHeaders_.size() - falseHeadersAt_);
  socket_->write(std::vector<uint8_t>(falseHeaders_.begin() + falseHeadersAt_,
                                      falseHeaders_.begin() + falseHeadersAt_ + n),
                 -1, kFalseHeaderTag);
  falseHeadersAt_ += n;
  stats_.falseHeaderBytesQueued = falseHeadersAt_;
}

void FloodPeer::onSocketDataWritten(transport::AsyncSocketBase*, uint32_t tag) {
  if (tag != kFalseHeaderTag) return;
  stats_.falseHeaderBytesSent = stats_.falseHeaderBytesQueued;
  if (!stopping_) sendFalseHeaders();
}

void FloodPeer::onSocketDidClose(transport::AsyncSocketBase*) {
  if (!stopping_) stats_.closedByServer = true;
  window_->killTimer(kTickTimer);
  window_->killTimer(kReadTimer);
}

void FloodPeer::onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t) {
  if (msg != base::kMsgTimer || stopping_ || !socket_ || socket_->isClosed()) return;
  if (wparam == kTickTimer) sendRequests();
  else if (wparam == kReadTimer) socket_->read(-1, 0);
}

}  // namespace loadgen
