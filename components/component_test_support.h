// Test support for the session components (never linked into programs): a
// phone that talks to a real Transport through an in-memory bearer, so a
// test can send component messages and read the PC's answers without
// sockets. Construct it on a thread that has a MessageLoop.
#ifndef COMPONENTS_COMPONENT_TEST_SUPPORT_H_
#define COMPONENTS_COMPONENT_TEST_SUPPORT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/pickle.h"
#include "transport/message_frame.h"
#include "transport/transport.h"
#include "transport/transport_test_support.h"

namespace component {

class FakePhone {
 public:
  // `transport` must have its application id (12000) and version set.
  explicit FakePhone(transport::Transport* transport);
  ~FakePhone();
  FakePhone(const FakePhone&) = delete;
  FakePhone& operator=(const FakePhone&) = delete;

  // Connects and sends the phone's handshake with `version` ("2.0", "1.9").
  // True when the transport admitted the phone as its client.
  bool connect(const std::string& version = "2.0", uint32_t applicationId = 12000);
  // The connection drops (no farewell), as when the phone goes away.
  void drop();

  // Sends a component message (a whole pickle) under `type`.
  void send(uint32_t type, const base::Pickle& message);
  void sendRaw(uint32_t type, const std::vector<uint8_t>& payload);

  // The PC's frames since connect() (the handshake included), decoded.
  std::vector<transport::Frame> received();
  // Only the frames of `type`.
  std::vector<transport::Frame> receivedOfType(uint32_t type);

  transport::FakeDataBearer* bearer() const { return bearer_; }

 private:
  transport::Transport* transport_;
  transport::FakeDataBearer* bearer_ = nullptr;  // owned by the transport's bearer
  transport::FrameEncoder encoder_;
  bool connected_ = false;
};

// Reads the kind and tagged integer field `tag` of a PC message; false when
// the message holds no such field.
bool readTaggedInteger(const std::vector<uint8_t>& payload, int32_t* kind, uint8_t tag, int32_t* value);

}  // namespace component

#endif  // COMPONENTS_COMPONENT_TEST_SUPPORT_H_
