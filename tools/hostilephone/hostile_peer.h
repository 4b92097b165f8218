// Peers on the local network that the user never accepts, played against a
// real server: one that hides key:value lines and terminal control
// sequences in the strings it describes itself with, one that holds the
// phone slot in silence, one that stays after being denied, and one that
// changes who it says it is once accepted. End-to-end tests and the
// `hostilephone` program use them.
//
// Thread: everything on the thread that runs the message loop.
#ifndef TOOLS_HOSTILEPHONE_HOSTILE_PEER_H_
#define TOOLS_HOSTILEPHONE_HOSTILE_PEER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tools/phonesim/phone_connection.h"

namespace hostile {

// A model string that, passed on raw, would add a line of its own to the
// support tool's request and clear the terminal.
std::string injectedModel(const std::string& fileToSteal);
// Strings with terminal control sequences and a right-to-left override.
std::string escapeSystemName();
std::string escapeDeviceName();

// The identity of a peer whose every string is hostile.
phonesim::PhoneIdentity hostileIdentity(const std::string& fileToSteal);

// One connection with the observations the scenarios need.
class Peer : public phonesim::PhoneConnection::Observer {
 public:
  Peer();
  ~Peer() override;
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // Connects and sends the handshake; true once the PC's handshake came
  // and no farewell with it.
  bool connect(uint16_t port, const phonesim::PhoneIdentity& identity, uint32_t timeoutMs);
  void sendAuth(const std::string& uid, const std::string& name);
  // Asks for a snapshot (the phone's action 3).
  void sendSnapshotAction();

  // Pumps the current loop until `done` or `timeoutMs` passed.
  template <typename Done>
  bool runUntil(Done done, uint32_t timeoutMs) {
    for (uint32_t waited = 0; waited < timeoutMs && !done(); waited += kPollMs) pump(kPollMs);
    return done();
  }
  void pump(uint32_t ms);

  // Authorization results received (1 accepted, 0 rejected), in order.
  const std::vector<int32_t>& results() const { return results_; }
  // Actions the PC sent (3: it took a snapshot).
  const std::vector<int32_t>& actions() const { return actions_; }
  bool closed() const { return connection_.isClosed(); }
  bool farewell() const { return connection_.farewellReceived(); }
  uint32_t farewellReason() const { return connection_.farewellReason(); }
  phonesim::PhoneConnection& connection() { return connection_; }

  static constexpr uint32_t kPollMs = 20;

 private:
  void onMessage(phonesim::PhoneConnection* phone, const transport::Frame& frame) override;

  phonesim::PhoneConnection connection_;
  std::vector<int32_t> results_;
  std::vector<int32_t> actions_;
};

}  // namespace hostile

#endif  // TOOLS_HOSTILEPHONE_HOSTILE_PEER_H_
