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
//   disconnected[ error domain=<d> code=<c> <text>]
//   error <text>
#ifndef TOOLS_PHONESIM_SIMULATOR_H_
#define TOOLS_PHONESIM_SIMULATOR_H_

#include <cstdint>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "tools/phonesim/phone_audio.h"
#include "tools/phonesim/phone_connection.h"

namespace phonesim {

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
  // The phone's audio (authorization, profile, what to send and keep).
  AudioOptions audio;
};

enum ExitCode : int {
  kExitAdmitted = 0,   // the PC answered and did not send the phone away
  kExitFailed = 1,     // no connection, no answer in time, or bad arguments
  kExitFarewell = 2,   // the PC said farewell
};

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
