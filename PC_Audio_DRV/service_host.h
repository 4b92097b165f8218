// The command line of `wavehost` and the host that runs CWaveService on
// this build: the service control manager on Windows
// (service_host_win.cc), a user daemon with a control socket on Linux
// (daemon_posix.cc).
#ifndef PC_AUDIO_DRV_SERVICE_HOST_H_
#define PC_AUDIO_DRV_SERVICE_HOST_H_

#include <vector>

#include "base/string_util.h"

// "install" and "remove" (first argument, any letter case) install and
// remove the service; anything else runs it. Returns the exit code.
int wavehostMain(const std::vector<base::string16>& args);

// Per build.
int installService();
int removeService();
int runServiceHost(const std::vector<base::string16>& args);

#endif  // PC_AUDIO_DRV_SERVICE_HOST_H_
