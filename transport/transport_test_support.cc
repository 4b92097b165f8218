#include "transport/transport_test_support.h"

#include <chrono>

#include "base/pickle.h"
#include "base/values.h"
#include "transport/byte_order.h"
#include "transport/handshake.h"

namespace transport {

bool runUntil(base::MessageLoop* loop, const std::function<bool()>& done, uint32_t timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    loop->runFor(5);
  }
  return true;
}

std::vector<uint8_t> FakeDataBearer::written() const {
  std::vector<uint8_t> all;
  for (const auto& w : writes) all.insert(all.end(), w.begin(), w.end());
  return all;
}

TestPeer::TestPeer() : socket_(std::make_unique<AsyncSocket>(static_cast<AsyncSocketBase::Delegate*>(this))) {}

TestPeer::~TestPeer() = default;

bool TestPeer::connect(uint16_t port) { return socket_->connectToHost("127.0.0.1", port, 5000, nullptr); }

void TestPeer::send(std::vector<uint8_t> bytes) { socket_->write(std::move(bytes), -1, 0); }

void TestPeer::sendFrame(uint32_t type, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> frame;
  encoder_.encode(type, payload.data(), payload.size(), &frame);
  send(std::move(frame));
}

void TestPeer::sendHandshake(uint32_t applicationId, uint32_t major, uint32_t minor, uint32_t pin,
                             const std::vector<uint8_t>& dictionary) {
  std::vector<uint8_t> payload;
  buildClientHandshake(applicationId, {major, minor, 0, 0}, pin, nullptr, &payload);
  payload.insert(payload.end(), dictionary.begin(), dictionary.end());
  sendFrame(kMessageHandshake, payload);
}

void TestPeer::close() { socket_->close(); }

void TestPeer::onSocketDidOpen(AsyncSocketBase* socket, const std::string&, uint16_t) {
  connected = true;
  socket->read(-1, 0);
}

void TestPeer::onSocketDataRead(AsyncSocketBase* socket, const std::vector<uint8_t>& bytes, uint32_t) {
  received.insert(received.end(), bytes.begin(), bytes.end());
  decoder_.feed(bytes.data(), bytes.size(), [this](Frame& frame) {
    frames.push_back(std::move(frame));
    return true;
  });
  socket->read(-1, 0);
}

std::vector<uint8_t> falseFrameHeaders(size_t count, uint32_t declaredBytes) {
  std::vector<uint8_t> out(count * kFrameHeaderBytes);
  for (size_t i = 0; i < count; ++i) {
    uint8_t* header = out.data() + i * kFrameHeaderBytes;
    storeLe32(header, kFrameMagic);
    storeLe32(header + 4, 13001);
    storeLe32(header + 8, 0);
    storeLe32(header + 12, static_cast<uint32_t>(i));  // every CRC differs
    storeLe32(header + 16, declaredBytes);
    storeLe32(header + 20, frameCrc(header, 20));
  }
  return out;
}

std::vector<uint8_t> pickledStrings(const std::vector<std::pair<std::string, std::string>>& entries) {
  base::DictionaryValue dictionary;
  for (const auto& [key, value] : entries) dictionary.setString(key, value);
  base::Pickle pickle;
  base::writeDictionaryToPickle(dictionary, &pickle);
  return std::vector<uint8_t>(pickle.data(), pickle.data() + pickle.size());
}

}  // namespace transport
