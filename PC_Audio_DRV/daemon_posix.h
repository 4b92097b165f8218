// Linux: `wavehost run`, the bridge service as a user daemon. Its control
// channel is the Unix socket $XDG_RUNTIME_DIR/lumora-wave-service.sock: one
// connection per request, one line each way. Requests "ping", "pause",
// "continue", "reload" (the codes 200 to 203) and "state"; the answer is
// "ok <state>" with the service state number (4 running) or
// "error <text>". A line longer than kMaxRequestBytes, or one that does
// not come within a second, is refused with a log line.
#ifndef PC_AUDIO_DRV_DAEMON_POSIX_H_
#define PC_AUDIO_DRV_DAEMON_POSIX_H_

#include <string>

#include "PC_Audio_DRV/control_line.h"

class BridgeFactory;
class UserDeviceNames;

std::string waveSocketPath();
std::string waveUnitPath();  // empty when neither XDG_CONFIG_HOME nor HOME is set

// Runs the service until `stopFd` becomes readable (or SIGTERM / SIGINT
// when stopFd is -1). Returns the exit code.
int runWaveDaemon(const std::string& socketPath, BridgeFactory* factory, UserDeviceNames* userNames, int stopFd);

#endif  // PC_AUDIO_DRV_DAEMON_POSIX_H_
