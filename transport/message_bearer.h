// Turns the byte stream of one connected DataBearer into typed messages and
// back. Before anything else the phone sends its handshake; the PC answers
// with its own (and, for a foreign application id, a farewell). Until the
// handshake has passed every other incoming message is dropped; afterwards
// every message goes to the delegate (the transport).
//
// Thread: the thread that owns the sockets.
#ifndef TRANSPORT_MESSAGE_BEARER_H_
#define TRANSPORT_MESSAGE_BEARER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "base/values.h"
#include "transport/data_bearer.h"
#include "transport/handshake.h"
#include "transport/message_frame.h"

namespace transport {

class MessageBearer : public DataBearer::Delegate {
 public:
  // Called synchronously; the bearer does not own its delegate.
  class Delegate {
   public:
    virtual ~Delegate() = default;
    // The phone's handshake has passed.
    virtual void onMessageBearerDidConnect(MessageBearer* bearer) {}
    // `error` may be null; borrowed for the call.
    virtual void onMessageBearerWillDisconnect(MessageBearer* bearer, const Error* error) {}
    // The owner may delete the bearer once this report has returned.
    virtual void onMessageBearerDidDisconnect(MessageBearer* bearer) {}
    // `payload` is borrowed for the call.
    virtual void onMessageBearerDidReceiveMessage(MessageBearer* bearer, uint32_t type,
                                                  const std::vector<uint8_t>& payload) {}
  };

  // False frame starts make the decoder scan their bytes again. A peer may
  // make it redo at most this many bytes within kFalseCandidateWindowMs;
  // past that the connection is closed. Before the handshake a single
  // false frame with a correct header closes it: a phone starts with its
  // handshake, exactly framed.
  static constexpr uint64_t kMaxFalseCandidateBytes = 4 * 1024 * 1024;
  static constexpr int64_t kFalseCandidateWindowMs = 10000;

  MessageBearer();
  ~MessageBearer() override;
  MessageBearer(const MessageBearer&) = delete;
  MessageBearer& operator=(const MessageBearer&) = delete;

  // Set before attach().
  void setApplicationId(uint32_t id) { applicationId_ = id; }
  void setVersion(uint32_t part1, uint32_t part2, uint32_t part3, uint32_t part4) {
    version_ = {part1, part2, part3, part4};
  }
  void setDelegate(Delegate* delegate) { delegate_ = delegate; }

  // Takes ownership of `dataBearer` (deleting any previous one), becomes its
  // delegate and starts a fresh decoder and encoder (sequence 0).
  void attach(DataBearer* dataBearer);

  // Frames `payload` as `type` and writes it without a time-out. False, with
  // nothing written, for a payload above kMaxSendPayloadBytes.
  bool sendMessage(uint32_t type, const std::vector<uint8_t>& payload);
  bool sendMessage(uint32_t type, const uint8_t* payload, size_t size);
  // The PC's handshake (type 3).
  bool sendHandshake();
  // Farewell (type 6) with `reason`; the connection closes once it is sent.
  // Whatever the phone sends afterwards is dropped.
  bool sendFarewell(uint32_t reason);

  // The phone's dictionary (borrowed, null when none) and version.
  const base::DictionaryValue* clientInformation() const { return clientInformation_.get(); }
  const Version& clientVersion() const { return clientVersion_; }
  bool handshakePassed() const { return handshakePassed_; }
  DataBearer* dataBearer() const { return dataBearer_.get(); }
  // Receive-side bookkeeping, for tests and diagnostics.
  const FrameDecoder* decoder() const { return decoder_.get(); }
  // Milliseconds of a steady clock; tests replace it before attach().
  void setClockForTesting(std::function<int64_t()> nowMs) { clock_ = std::move(nowMs); }

 private:
  // DataBearer::Delegate
  void onBearerDidConnect(DataBearer* bearer) override;
  void onBearerWillDisconnect(DataBearer* bearer, const Error* error) override;
  void onBearerDidDisconnect(DataBearer* bearer) override;
  void onBearerDidReadData(DataBearer* bearer, const std::vector<uint8_t>& bytes) override;

  void handleFrame(const Frame& frame);
  // Decides whether a false frame start ends the connection.
  bool acceptFalseCandidate(const FalseCandidate& candidate);
  void handleClientHandshake(const std::vector<uint8_t>& payload);

  Delegate* delegate_ = nullptr;
  std::unique_ptr<DataBearer> dataBearer_;
  std::unique_ptr<FrameDecoder> decoder_;
  std::unique_ptr<FrameEncoder> encoder_;
  uint32_t applicationId_ = 0;
  VersionParts version_{};
  bool handshakePassed_ = false;
  bool farewellSent_ = false;
  bool disconnected_ = false;
  Version clientVersion_;
  std::unique_ptr<base::DictionaryValue> clientInformation_;
  std::function<int64_t()> clock_;
  int64_t windowStartMs_ = 0;
  uint64_t windowBytes_ = 0;
  const char* closeReason_ = nullptr;  // set when the decoder was stopped
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace transport

#endif  // TRANSPORT_MESSAGE_BEARER_H_
