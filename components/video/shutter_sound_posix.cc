// The default PulseAudio sink through the simple API, on a short-lived
// worker so the interface never waits for the sound server.
#include <pulse/error.h>
#include <pulse/simple.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "components/video/shutter_sound.h"

namespace component {

namespace {

// Only a sound server that already runs is used: connecting to none would
// make the library start one of its own.
bool soundServerRunning() {
  if (const char* server = std::getenv("PULSE_SERVER")) return server[0] != '\0';
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime || !runtime[0]) return false;
  struct stat info;
  return stat((std::string(runtime) + "/pulse/native").c_str(), &info) == 0;
}

// The PCM data of a RIFF/WAVE file of 16-bit samples.
bool pcmOf(const std::vector<uint8_t>& wave, pa_sample_spec* spec, const uint8_t** data, size_t* size) {
  if (wave.size() < 12 || std::memcmp(wave.data(), "RIFF", 4) != 0 || std::memcmp(wave.data() + 8, "WAVE", 4) != 0)
    return false;
  auto u32 = [&](size_t at) {
    return static_cast<uint32_t>(wave[at]) | (static_cast<uint32_t>(wave[at + 1]) << 8) |
           (static_cast<uint32_t>(wave[at + 2]) << 16) | (static_cast<uint32_t>(wave[at + 3]) << 24);
  };
  bool haveFormat = false;
  for (size_t at = 12; at + 8 <= wave.size();) {
    const uint32_t length = u32(at + 4);
    const size_t body = at + 8;
    if (length > wave.size() - body) return false;
    if (std::memcmp(wave.data() + at, "fmt ", 4) == 0 && length >= 16) {
      spec->format = PA_SAMPLE_S16LE;
      spec->channels = static_cast<uint8_t>(wave[body + 2]);
      spec->rate = u32(body + 4);
      haveFormat = wave[body] == 1 && wave[body + 14] == 16 && spec->channels > 0;
    } else if (std::memcmp(wave.data() + at, "data", 4) == 0) {
      *data = wave.data() + body;
      *size = length;
      return haveFormat;
    }
    at = body + length + (length & 1);
  }
  return false;
}

}  // namespace

struct ShutterSound::Player {
  std::thread worker;
  std::atomic<bool> busy{false};
};

ShutterSound::ShutterSound(std::vector<uint8_t> wave) : wave_(std::move(wave)), player_(std::make_unique<Player>()) {
  if (wave_.empty()) wave_ = makeShutterWave();
}

ShutterSound::~ShutterSound() {
  if (player_->worker.joinable()) player_->worker.join();
}

void ShutterSound::play() {
  if (player_->busy.load()) return;
  if (!soundServerRunning()) return;
  pa_sample_spec spec{};
  const uint8_t* data = nullptr;
  size_t size = 0;
  if (!pcmOf(wave_, &spec, &data, &size)) return;
  if (player_->worker.joinable()) player_->worker.join();
  player_->busy = true;
  Player* player = player_.get();
  player_->worker = std::thread([player, spec, data, size] {
    int error = 0;
    pa_simple* stream =
        pa_simple_new(nullptr, "server", PA_STREAM_PLAYBACK, nullptr, "camera shutter", &spec, nullptr, nullptr, &error);
    if (stream) {
      if (pa_simple_write(stream, data, size, &error) == 0) pa_simple_drain(stream, &error);
      pa_simple_free(stream);
    }
    player->busy = false;
  });
}

}  // namespace component
