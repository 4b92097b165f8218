// Windows: the wave mapper of each direction is opened without a callback;
// the mixer that belongs to the opened handle names the default device.
#include <windows.h>
#include <mmsystem.h>

#include "PC_Audio_DRV/defprobe/defprobe.h"
#include "base/win_util.h"

#ifndef DRVM_MAPPER_PREFERRED_GET
#define DRVM_MAPPER_PREFERRED_GET (0x2000 + 21)  // DRVM_MAPPER + 21
#endif

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

// Some systems (Wine among them) give a mapper handle no mixer; the
// mapper's preferred device then names the default.
DefaultDevice preferredName(bool recording) {
  DWORD device = 0, flags = 0;
  const MMRESULT result =
      recording ? ::waveInMessage(reinterpret_cast<HWAVEIN>(static_cast<UINT_PTR>(WAVE_MAPPER)),
                                  DRVM_MAPPER_PREFERRED_GET, reinterpret_cast<DWORD_PTR>(&device),
                                  reinterpret_cast<DWORD_PTR>(&flags))
                : ::waveOutMessage(reinterpret_cast<HWAVEOUT>(static_cast<UINT_PTR>(WAVE_MAPPER)),
                                   DRVM_MAPPER_PREFERRED_GET, reinterpret_cast<DWORD_PTR>(&device),
                                   reinterpret_cast<DWORD_PTR>(&flags));
  if (result != MMSYSERR_NOERROR) return DefaultDevice();
  return mixerName(reinterpret_cast<HMIXEROBJ>(static_cast<UINT_PTR>(device)),
                   recording ? MIXER_OBJECTF_WAVEIN : MIXER_OBJECTF_WAVEOUT);
}

}  // namespace

DefaultDevice defaultRecordingDevice() {
  WAVEFORMATEX format = probeFormat();
  HWAVEIN wave = nullptr;
  if (::waveInOpen(&wave, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) return DefaultDevice();
  DefaultDevice device = mixerName(reinterpret_cast<HMIXEROBJ>(wave), MIXER_OBJECTF_HWAVEIN);
  ::waveInClose(wave);
  return device.found ? device : preferredName(true);
}

DefaultDevice defaultPlaybackDevice() {
  WAVEFORMATEX format = probeFormat();
  HWAVEOUT wave = nullptr;
  if (::waveOutOpen(&wave, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) return DefaultDevice();
  DefaultDevice device = mixerName(reinterpret_cast<HMIXEROBJ>(wave), MIXER_OBJECTF_HWAVEOUT);
  ::waveOutClose(wave);
  return device.found ? device : preferredName(false);
}
