// Interim virtual sound device for `wavehost` until the audio component's
// endpoints (components/audio) replace this file: only the simulated device
// that LUMORA_AUDIO_DEVICE=sim:DIR selects. Writes are appended to
// DIR/render.raw; reads come from DIR/capture.raw at real pace (48 kHz,
// 16-bit mono) and are silence once it is used up. Without the variable
// there is no device and open() fails with a log line.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/logging.h"
#include "components/audio/wave_device.h"

namespace component {
namespace {

constexpr char kSimPrefix[] = "sim:";
constexpr size_t kBytesPerSecond = WaveDevice::kSampleRate * 2;

class SimWaveDevice : public WaveDevice {
 public:
  explicit SimWaveDevice(std::string folder) : folder_(std::move(folder)) {}
  ~SimWaveDevice() override { close(); }

  bool open() override {
    close();
    render_ = std::fopen((folder_ + "/render.raw").c_str(), "ab");
    if (!render_) {
      LOG(ERROR) << "The simulated sound device has no folder " << folder_;
      return false;
    }
    capture_ = std::fopen((folder_ + "/capture.raw").c_str(), "rb");
    start_ = std::chrono::steady_clock::now();
    handedOut_ = 0;
    return true;
  }
  void close() override {
    if (render_) std::fclose(render_);
    if (capture_) std::fclose(capture_);
    render_ = capture_ = nullptr;
  }
  bool isOpen() const override { return render_ != nullptr; }

  size_t write(const uint8_t* data, size_t bytes) override {
    if (!render_) return 0;
    const size_t n = std::fwrite(data, 1, bytes, render_);
    std::fflush(render_);
    return n;
  }

  size_t read(uint8_t* data, size_t bytes) override {
    if (!render_) return 0;
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start_);
    const uint64_t due = static_cast<uint64_t>(elapsed.count()) * kBytesPerSecond / 1000000 / 2 * 2;
    if (due <= handedOut_) return 0;
    size_t n = static_cast<size_t>(std::min<uint64_t>(due - handedOut_, bytes)) / 2 * 2;
    size_t got = capture_ ? std::fread(data, 1, n, capture_) : 0;
    std::memset(data + got, 0, n - got);  // used up: silence
    handedOut_ += n;
    return n;
  }

 private:
  std::string folder_;
  FILE* render_ = nullptr;
  FILE* capture_ = nullptr;
  std::chrono::steady_clock::time_point start_;
  uint64_t handedOut_ = 0;
};

class AbsentWaveDevice : public WaveDevice {
 public:
  bool open() override {
    LOG(ERROR) << "No virtual sound device: this build of wavehost only knows LUMORA_AUDIO_DEVICE=sim:DIR";
    return false;
  }
  void close() override {}
  bool isOpen() const override { return false; }
  size_t write(const uint8_t*, size_t) override { return 0; }
  size_t read(uint8_t*, size_t) override { return 0; }
};

}  // namespace

std::unique_ptr<WaveDevice> createWaveDevice() {
  const char* choice = std::getenv("LUMORA_AUDIO_DEVICE");
  if (choice && std::strncmp(choice, kSimPrefix, std::strlen(kSimPrefix)) == 0)
    return std::make_unique<SimWaveDevice>(choice + std::strlen(kSimPrefix));
  return std::make_unique<AbsentWaveDevice>();
}

}  // namespace component
