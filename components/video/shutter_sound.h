// The camera-shutter sound played after a snapshot: a short wave file held
// in memory, played asynchronously. Windows: sndPlaySound from memory, no
// default sound. Linux: the default PulseAudio sink when a sound server is
// running; without one nothing is played and nothing is said.
//
// Thread: the user-interface thread; playing never blocks it.
#ifndef COMPONENTS_VIDEO_SHUTTER_SOUND_H_
#define COMPONENTS_VIDEO_SHUTTER_SOUND_H_

#include <cstdint>
#include <memory>
#include <vector>

namespace component {

// A RIFF/WAVE file: 16-bit mono PCM, two short clicks of a shutter.
std::vector<uint8_t> makeShutterWave();

class ShutterSound {
 public:
  // `wave` is a whole RIFF/WAVE file (16-bit PCM); empty: the built-in one.
  explicit ShutterSound(std::vector<uint8_t> wave = {});
  ~ShutterSound();  // waits for a sound still playing (it is short)
  ShutterSound(const ShutterSound&) = delete;
  ShutterSound& operator=(const ShutterSound&) = delete;

  // Starts the sound; a sound still playing is not interrupted (the new
  // one is skipped on Linux, restarted by the system on Windows).
  void play();
  const std::vector<uint8_t>& wave() const { return wave_; }

  struct Player;

 private:
  std::vector<uint8_t> wave_;
  std::unique_ptr<Player> player_;
};

}  // namespace component

#endif  // COMPONENTS_VIDEO_SHUTTER_SOUND_H_
