#include <windows.h>
#include <mmsystem.h>

#include "WebcamWin/audio/audio_device_enumerator.h"
#include "base/logging.h"
#include "base/win_util.h"

namespace {

// The product names of devices 0 .. count-1; a device whose capabilities
// can't be read is left out.
template <typename Caps>
std::vector<base::string16> deviceNames(UINT count, MMRESULT(WINAPI* getCaps)(UINT_PTR, Caps*, UINT),
                                        const char* failure) {
  std::vector<base::string16> names;
  for (UINT id = 0; id < count; ++id) {
    Caps caps = {};
    const MMRESULT rc = getCaps(id, &caps, sizeof(caps));
    if (rc != MMSYSERR_NOERROR) {
      LOG(ERROR) << failure << rc;
      continue;
    }
    names.push_back(base::fromWide(caps.szPname, ::wcsnlen(caps.szPname, MAXPNAMELEN)));
  }
  return names;
}

}  // namespace

std::vector<base::string16> enumerateRecordingDevices(bool* answered) {
  if (answered) *answered = true;
  return deviceNames<WAVEINCAPSW>(::waveInGetNumDevs(), &::waveInGetDevCapsW, "waveInGetDevCaps() failed with code ");
}

std::vector<base::string16> enumeratePlaybackDevices(bool* answered) {
  if (answered) *answered = true;
  return deviceNames<WAVEOUTCAPSW>(::waveOutGetNumDevs(), &::waveOutGetDevCapsW,
                                   "waveOutGetDevCaps() failed with code ");
}
