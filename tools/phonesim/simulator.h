// The simulated phone's session runner and command line: connect, introduce
// itself, report what the PC answers one line per event, and optionally keep
// the connection to send component messages typed on the input.
//
// Output lines (stable, for scripts and tests):
//   connected <host>:<port>
//   handshake sequence=<n> app_id=<id> version=<a.b.c.d>
//   info <key>=<value>                (each entry of the PC's dictionary)
//   message sequence=<n> type=<t> bytes=<n> data=<hex of the first 32 bytes>
//   farewell sequence=<n> reason=<r>
//   auth sent uid=<uid> name=<name>
//   auth accepted | auth rejected | auth none within <n> ms
//   sent action <n>
//   action <n>                        (the PC started/stopped recording, took a snapshot)
//   recording-time ms=<n>
//   discovered <name> <host>:<port>
//   video sending <n> pictures <w>x<h> orientation=<code> fps=<n>
//   video sent <n> frames
//   stall held for <ms> ms
//   stall released bytes=<n>
//   disconnected[ error domain=<d> code=<c> <text>]
//   error <text>
#ifndef TOOLS_PHONESIM_SIMULATOR_H_
#define TOOLS_PHONESIM_SIMULATOR_H_

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "tools/phonesim/phone_audio.h"
#include "tools/phonesim/phone_connection.h"
#include "tools/phonesim/video_sender.h"

namespace phonesim {

// The longest stall --stall-seconds allows: the PC counts a phone whose
// connection stays silent about 25 s as lost.
constexpr uint64_t kMaxStallSeconds = 20;

struct SimulatorOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 0;
  PhoneIdentity identity;
  // Sent in this order once the PC has answered the handshake.
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> messages;
  // Bytes that look a lot like frame starts, sent before the handshake.
  size_t garbageBytes = 0;
  // Keep the connection and take commands from the input until "quit".
  bool stay = false;
  // Without `stay`: how long to listen after the PC's handshake (-1: until
  // the audio to send has gone out).
  int32_t lingerMs = 300;
  // For connecting and for the PC's handshake.
  int32_t timeoutMs = 5000;
  // Log file of the transport code (none by default).
  std::string logFile;
  // Authorization data sent after the PC's handshake (when either is given);
  // then the phone waits this long for the answer.
  bool authorize = false;
  std::string uid;
  std::string name;
  bool nameFirst = false;
  int32_t answerTimeoutMs = 30000;
  // Actions sent once the PC accepted the phone (or, without
  // authorization data, after the handshake).
  std::vector<int32_t> actions;
  // Actions sent right after the handshake, before any authorization.
  std::vector<int32_t> earlyActions;
  // Actions sent this many milliseconds after the phone was accepted (or,
  // without authorization data, after the handshake): {ms, action}.
  std::vector<std::pair<int32_t, int32_t>> timedActions;
  // A network stall: this many milliseconds after the phone was accepted
  // (or, without authorization data, after the handshake) everything it
  // sends is held for `stallMs` and then sent at once (stallMs 0: none).
  int32_t stallAtMs = 0;
  int32_t stallMs = 0;
  // Called on the session's thread when the stall begins (true) and when
  // the held bytes go out (false).
  std::function<void(bool held)> onStall;
  // Find the PC by DNS-SD instead of --host/--port.
  bool discover = false;
  // The camera: streams frames once the PC answered (source empty: none).
  // Without `stay` the session ends `lingerMs` after the last of
  // `video.frames`, or runs until the PC ends it when that is 0.
  VideoOptions video;
  // The phone's audio (authorization, profile, what to send and keep).
  AudioOptions audio;
};

enum ExitCode : int {
  kExitAdmitted = 0,   // the PC answered and did not send the phone away
  kExitFailed = 1,     // no connection, no answer in time, or bad arguments
  kExitFarewell = 2,   // the PC said farewell
  kExitRejected = 3,   // the PC answered the authorization data with "rejected"
  kExitNoAnswer = 4,   // no answer to the authorization data in time
};

// Browses DNS-SD for "_lumora_webcam._tcp" and takes the first IPv4
// address and port found (Linux: through avahi-browse). False with a
// message in *error when nothing was found.
bool discoverServer(std::string* host, uint16_t* port, std::string* name, std::string* error);

// False, with a message in *error, for arguments that make no sense.
bool parseArguments(const std::vector<std::string>& args, SimulatorOptions* options, std::string* error);
const char* usageText();

// "0a0B ff" style text (blanks ignored) to bytes; false on anything else.
bool parseHex(const std::string& text, std::vector<uint8_t>* out);
std::string hexOf(const uint8_t* data, size_t size, size_t maxBytes);
// Deterministic bytes full of false frame starts.
std::vector<uint8_t> makeGarbage(size_t size, uint32_t seed);

// Runs one session on the calling thread's message loop (made here when the
// thread has none) and returns an ExitCode. In `stay` mode commands are read
// from `commands`, one per line: "send <type> <hex>", "raw <hex>",
// "garbage <bytes>", "handshake", "quit"; the end of the input quits too.
int runSession(const SimulatorOptions& options, std::ostream& out, std::istream* commands);

}  // namespace phonesim

#endif  // TOOLS_PHONESIM_SIMULATOR_H_
