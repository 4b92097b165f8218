// Windows: the wave mapper of each direction is opened without a callback;
// the mixer that belongs to the opened handle names the default device.
#include <windows.h>
#include <mmsystem.h>

#include "PC_Audio_DRV/defprobe/defprobe.h"
#include "base/win_util.h"

namespace {

WAVEFORMATEX probeFormat() {
  WAVEFORMATEX format = {};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = 1;
  format.nSamplesPerSec = 8000;
  format.wBitsPerSample = 16;
  format.nBlockAlign = 2;
  format.nAvgBytesPerSec = 16000;
  return format;
}

DefaultDevice mixerName(HMIXEROBJ handle, DWORD flags) {
  DefaultDevice device;
  UINT mixer = 0;
  if (::mixerGetID(handle, &mixer, flags) != MMSYSERR_NOERROR) return device;
  MIXERCAPSW caps = {};
  if (::mixerGetDevCapsW(mixer, &caps, sizeof(caps)) != MMSYSERR_NOERROR) return device;
  caps.szPname[MAXPNAMELEN - 1] = 0;
  device.found = true;
  device.name = base::fromWide(caps.szPname);
  return device;
}

}  // namespace

DefaultDevice defaultRecordingDevice() {
  WAVEFORMATEX format = probeFormat();
  HWAVEIN wave = nullptr;
  if (::waveInOpen(&wave, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) return DefaultDevice();
  DefaultDevice device = mixerName(reinterpret_cast<HMIXEROBJ>(wave), MIXER_OBJECTF_HWAVEIN);
  ::waveInClose(wave);
  return device;
}

DefaultDevice defaultPlaybackDevice() {
  WAVEFORMATEX format = probeFormat();
  HWAVEOUT wave = nullptr;
  if (::waveOutOpen(&wave, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) return DefaultDevice();
  DefaultDevice device = mixerName(reinterpret_cast<HMIXEROBJ>(wave), MIXER_OBJECTF_HWAVEOUT);
  ::waveOutClose(wave);
  return device;
}
