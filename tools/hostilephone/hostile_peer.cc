#include "tools/hostilephone/hostile_peer.h"

#include "base/message_loop.h"
#include "tools/phonesim/session_messages.h"

namespace hostile {

std::string injectedModel(const std::string& fileToSteal) {
  return "iPhone15,3\nCompressedLog:" + fileToSteal + "\nTarFile:TRUE\r\n\x1b[2J\x1b[H";
}

std::string escapeSystemName() { return "iOS\x1b]0;owned\x07\x1b[31m"; }

// Ends with a right-to-left override and a C1 CSI, the kind a terminal
// acts on as well.
std::string escapeDeviceName() { return "Anna\x1b[8m\xe2\x80\xae" "gpj.exe\xc2\x9b" "0m"; }

phonesim::PhoneIdentity hostileIdentity(const std::string& fileToSteal) {
  phonesim::PhoneIdentity identity;
  identity.deviceModel = injectedModel(fileToSteal);
  identity.systemName = escapeSystemName();
  identity.systemVersion = "17.4\nDeviceSoftware:evil";
  return identity;
}

Peer::Peer() { connection_.addObserver(this); }

Peer::~Peer() { connection_.removeObserver(this); }

void Peer::pump(uint32_t ms) { base::MessageLoop::current()->runFor(ms); }

bool Peer::connect(uint16_t port, const phonesim::PhoneIdentity& identity, uint32_t timeoutMs) {
  std::string error;
  if (!connection_.connect("127.0.0.1", port, static_cast<int32_t>(timeoutMs), &error)) return false;
  if (!runUntil([this] { return connection_.isConnected() || connection_.isClosed(); }, timeoutMs)) return false;
  if (!connection_.isConnected() || !connection_.sendHandshake(identity)) return false;
  return runUntil([this] { return connection_.serverHandshake() || connection_.isClosed(); }, timeoutMs) &&
         connection_.serverHandshake() && !connection_.farewellReceived();
}

void Peer::sendAuth(const std::string& uid, const std::string& name) {
  connection_.sendMessage(phonesim::kAuthType, phonesim::authData(uid, name));
}

void Peer::sendSnapshotAction() {
  connection_.sendMessage(phonesim::kActionType, phonesim::actionMessage(3));
}

void Peer::onMessage(phonesim::PhoneConnection*, const transport::Frame& frame) {
  int32_t kind = 0, value = 0;
  if (!phonesim::readKind(frame.payload, &kind)) return;
  if (frame.type == phonesim::kAuthType && kind == 2 && phonesim::readIntegerField(frame.payload, 1, &value))
    results_.push_back(value);
  if (frame.type == phonesim::kActionType) actions_.push_back(kind);
}

}  // namespace hostile
