#include "components/audio/sim_wave_device.h"

#include <cstring>
#include <filesystem>

#include "base/logging.h"

namespace component {

namespace {

std::FILE* openFile(const std::filesystem::path& path, bool forWriting) {
#ifdef _WIN32
  return _wfopen(path.c_str(), forWriting ? L"ab" : L"rb");
#else
  return std::fopen(path.c_str(), forWriting ? "ab" : "rb");
#endif
}

}  // namespace

SimWaveDevice::SimWaveDevice(const std::string& folder, AudioClock* clock)
    : folder_(folder), clock_(clock ? clock : AudioClock::system()) {}

SimWaveDevice::~SimWaveDevice() { close(); }

bool SimWaveDevice::open() {
  if (open_) return true;
  const std::filesystem::path folder = std::filesystem::u8path(folder_);
  render_ = openFile(folder / "render.raw", true);
  if (!render_) {
    LOG(ERROR) << "Couldn't open the simulated sound device in " << folder_;
    return false;
  }
  // No capture file: PC programs play nothing.
  capture_ = openFile(folder / "capture.raw", false);
  openedAt_ = clock_->nowUs();
  written_ = 0;
  read_ = 0;
  open_ = true;
  LOG(INFO) << "Device 'simulated sound device in " << folder_ << "' opened successfully";
  return true;
}

void SimWaveDevice::close() {
  if (render_) std::fclose(render_);
  if (capture_) std::fclose(capture_);
  render_ = capture_ = nullptr;
  open_ = false;
}

size_t SimWaveDevice::write(const uint8_t* data, size_t bytes) {
  if (!open_ || !render_) return 0;
  const size_t done = std::fwrite(data, 1, bytes, render_);
  // Readers (tests) follow the file while the link runs.
  std::fflush(render_);
  written_ += done;
  return done;
}

size_t SimWaveDevice::read(uint8_t* data, size_t bytes) {
  if (!open_) return 0;
  // Whole blocks only, as the clock makes them due.
  const int64_t elapsed = clock_->nowUs() - openedAt_;
  const uint64_t due = elapsed <= 0 ? 0 : static_cast<uint64_t>(elapsed) * 96 / 1000 / kBlockBytes * kBlockBytes;
  if (due <= read_) return 0;
  size_t n = static_cast<size_t>(due - read_);
  if (n > bytes) n = bytes;
  size_t got = capture_ ? std::fread(data, 1, n, capture_) : 0;
  if (got < n) std::memset(data + got, 0, n - got);  // used up: silence
  read_ += n;
  return n;
}

}  // namespace component
