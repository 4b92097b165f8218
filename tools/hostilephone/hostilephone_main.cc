// hostilephone: plays one peer the user never accepts against a server.
//   hostilephone --port P --mode inject|silent|denied|swap [--steal FILE]
//                [--uid ID] [--swap-uid ID] [--seconds N]
// inject: hostile strings in the handshake and the authorization data, then
// stays; silent: handshake, then nothing; denied: identifies itself and
// stays whatever the answer; swap: identifies as --uid, waits to be
// accepted, turns into --swap-uid and asks for a snapshot. Prints what the
// PC did ("result N", "action N", "farewell N", "closed").
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/logging.h"
#include "base/message_loop.h"
#include "base/socket.h"
#include "tools/hostilephone/hostile_peer.h"

namespace {

constexpr uint32_t kConnectTimeoutMs = 10000;

int usage() {
  std::fputs("usage: hostilephone --port P --mode inject|silent|denied|swap [--steal FILE] [--uid ID]"
             " [--swap-uid ID] [--seconds N]\n",
             stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode, steal = "/etc/passwd", uid = "HOSTILE-1", swapUid = "HOSTILE-2";
  int port = 0;
  int seconds = 30;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i], value = argv[i + 1];
    if (key == "--port") port = std::atoi(value.c_str());
    else if (key == "--mode") mode = value;
    else if (key == "--steal") steal = value;
    else if (key == "--uid") uid = value;
    else if (key == "--swap-uid") swapUid = value;
    else if (key == "--seconds") seconds = std::atoi(value.c_str());
    else return usage();
  }
  if (port <= 0 || port > 65535 || seconds < 0) return usage();
  if (mode != "inject" && mode != "silent" && mode != "denied" && mode != "swap") return usage();
  base::initLogging(base::string16(), base::kLogNone, base::kLockInProcess, 1);
  base::initializeSockets();
  base::MessageLoop loop;
  hostile::Peer peer;
  const phonesim::PhoneIdentity identity =
      mode == "inject" ? hostile::hostileIdentity(steal) : phonesim::PhoneIdentity();
  if (!peer.connect(static_cast<uint16_t>(port), identity, kConnectTimeoutMs)) {
    std::puts(peer.farewell() ? ("farewell " + std::to_string(peer.farewellReason())).c_str() : "no connection");
    return 1;
  }
  std::puts("connected");
  if (mode == "inject") peer.sendAuth(uid + "\r\n\x1b[1A", hostile::escapeDeviceName());
  if (mode == "denied" || mode == "swap") peer.sendAuth(uid, "Hostile");
  const uint32_t totalMs = static_cast<uint32_t>(seconds) * 1000;
  size_t results = 0, actions = 0;
  bool swapped = false;
  for (uint32_t waited = 0; waited < totalMs && !peer.closed(); waited += hostile::Peer::kPollMs) {
    peer.pump(hostile::Peer::kPollMs);
    for (; results < peer.results().size(); ++results) {
      std::printf("result %d\n", peer.results()[results]);
      if (mode == "swap" && !swapped && peer.results()[results] == 1) {
        swapped = true;
        peer.sendAuth(swapUid, "Somebody else");
        peer.sendSnapshotAction();
      }
    }
    for (; actions < peer.actions().size(); ++actions) std::printf("action %d\n", peer.actions()[actions]);
    std::fflush(stdout);
  }
  if (peer.farewell()) std::printf("farewell %u\n", peer.farewellReason());
  if (peer.closed()) std::puts("closed");
  return 0;
}
