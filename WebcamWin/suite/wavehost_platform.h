// The operating-system side of CWaveHost (wavehost_win.cc: the service
// control manager; wavehost_posix.cc: the daemon's control socket).
#ifndef WEBCAMWIN_WAVEHOST_PLATFORM_H_
#define WEBCAMWIN_WAVEHOST_PLATFORM_H_

#include "WebcamWin/suite/wavehost.h"

namespace wavehost_platform {

enum class Step { kManager, kService };

// The handles of the manager and of the service, or null with the step that
// failed and its error.
CWaveHost::Handles* open(Step* failed, CWaveHost::SystemError* error);
bool queryState(CWaveHost::Handles* handles, int32_t* state, CWaveHost::SystemError* error);
bool control(CWaveHost::Handles* handles, uint32_t code, CWaveHost::SystemError* error);

}  // namespace wavehost_platform

#endif  // WEBCAMWIN_WAVEHOST_PLATFORM_H_
