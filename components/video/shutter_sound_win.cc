// sndPlaySound from memory: asynchronous, no default sound when the wave
// cannot be played.
#include <windows.h>
#include <mmsystem.h>

#include "components/video/shutter_sound.h"

namespace component {

struct ShutterSound::Player {};

ShutterSound::ShutterSound(std::vector<uint8_t> wave) : wave_(std::move(wave)) {
  if (wave_.empty()) wave_ = makeShutterWave();
}

ShutterSound::~ShutterSound() {
  // The system may still read our bytes: stop it first.
  sndPlaySoundW(nullptr, 0);
}

void ShutterSound::play() {
  sndPlaySoundW(reinterpret_cast<LPCWSTR>(wave_.data()), SND_ASYNC | SND_NODEFAULT | SND_MEMORY);
}

}  // namespace component
