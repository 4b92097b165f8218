// Helpers for the transport's tests, fuzzers and test tools (never linked into
// the shipped programs):
// a DataBearer that records what it is asked to do, a raw peer on a real
// loopback socket, and a way to pump the message loop until something holds.
#ifndef TRANSPORT_TRANSPORT_TEST_SUPPORT_H_
#define TRANSPORT_TRANSPORT_TEST_SUPPORT_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/message_loop.h"
#include "base/test_util.h"
#include "transport/async_socket.h"
#include "transport/data_bearer.h"
#include "transport/message_frame.h"

namespace transport {

// Pumps the current thread's loop until `done` holds or `timeoutMs` passed.
bool runUntil(base::MessageLoop* loop, const std::function<bool()>& done, uint32_t timeoutMs = 5000);

// A DataBearer without a network: writes are recorded, and the test plays
// the socket's reports through the delegate it was given.
class FakeDataBearer : public DataBearer {
 public:
  void setDelegate(Delegate* delegate) override { delegate_ = delegate; }
  bool startListening() override { return true; }
  bool stopListening() override { return true; }
  bool disconnect() override {
    ++disconnects;
    return true;
  }
  bool disconnectAfterWriting() override {
    ++disconnectsAfterWriting;
    return true;
  }
  bool write(std::vector<uint8_t> bytes, int32_t timeoutMs) override {
    writes.push_back(std::move(bytes));
    return true;
  }
  void startReading() override { ++readsStarted; }
  std::string localAddress() const override { return "127.0.0.1"; }
  uint16_t localPort() const override { return 1; }
  std::string peerAddress() const override { return "127.0.0.2"; }
  uint16_t peerPort() const override { return 2; }

  // Plays the socket's side.
  void connect() { delegate_->onBearerDidConnect(this); }
  void receive(const std::vector<uint8_t>& bytes) { delegate_->onBearerDidReadData(this, bytes); }
  void drop(const Error* error) {
    delegate_->onBearerWillDisconnect(this, error);
    delegate_->onBearerDidDisconnect(this);
  }

  // Everything written, as one stream.
  std::vector<uint8_t> written() const;

  Delegate* delegate_ = nullptr;
  std::vector<std::vector<uint8_t>> writes;
  int disconnects = 0;
  int disconnectsAfterWriting = 0;
  int readsStarted = 0;
};

// A phone-side connection on a real socket that sends raw bytes and decodes
// what comes back into frames.
class TestPeer : private AsyncSocketBase::Delegate {
 public:
  TestPeer();
  ~TestPeer() override;

  bool connect(uint16_t port);
  void send(std::vector<uint8_t> bytes);
  // Frames `payload` with this peer's own sequence counter.
  void sendFrame(uint32_t type, const std::vector<uint8_t>& payload);
  void sendHandshake(uint32_t applicationId, uint32_t major, uint32_t minor, uint32_t pin = 1234,
                     const std::vector<uint8_t>& dictionary = {});
  void close();

  bool connected = false;
  bool closed = false;
  std::vector<uint8_t> received;  // every byte, in order
  std::vector<Frame> frames;      // decoded from `received`
  AsyncSocket* socket() const { return socket_.get(); }

 private:
  bool onSocketWillOpen(AsyncSocketBase*) override { return true; }
  void onSocketDidOpen(AsyncSocketBase* socket, const std::string&, uint16_t) override;
  void onSocketDataRead(AsyncSocketBase* socket, const std::vector<uint8_t>& bytes, uint32_t tag) override;
  void onSocketDidClose(AsyncSocketBase* socket) override { closed = true; }

  std::unique_ptr<AsyncSocket> socket_;
  FrameEncoder encoder_;
  FrameDecoder decoder_;
};

using base::LogCapture;

// `count` frame headers back to back, each with a correct header CRC and a
// declared payload of `declaredBytes`: every one is a false frame start
// whose "payload" runs over the headers after it, so the decoder takes each
// in and then has to scan it again. What a hostile peer sends to make the
// PC work.
std::vector<uint8_t> falseFrameHeaders(size_t count, uint32_t declaredBytes);

// Serialised form (size-prefixed pickle) of a dictionary of strings.
std::vector<uint8_t> pickledStrings(const std::vector<std::pair<std::string, std::string>>& entries);

}  // namespace transport

#endif  // TRANSPORT_TRANSPORT_TEST_SUPPORT_H_
