// SimWaveDevice: a stand-in for the virtual sound device, for tests and
// benchmarks on both builds (LUMORA_AUDIO_DEVICE=sim:DIR). What the link
// writes is appended to DIR/render.raw; reads come from DIR/capture.raw at
// real pace (whole 10 ms blocks as the clock makes them due) and are
// silence once the file is used up. Both files hold 48 kHz 16-bit mono
// little-endian samples without a header.
//
// Thread: as WaveDevice; the clock is shared with the link.
#ifndef COMPONENTS_AUDIO_SIM_WAVE_DEVICE_H_
#define COMPONENTS_AUDIO_SIM_WAVE_DEVICE_H_

#include <atomic>
#include <cstdio>
#include <string>

#include "components/audio/audio_clock.h"
#include "components/audio/wave_device.h"

namespace component {

class SimWaveDevice : public WaveDevice {
 public:
  // `folder` in UTF-8; `clock` null: the system clock.
  explicit SimWaveDevice(const std::string& folder, AudioClock* clock = nullptr);
  ~SimWaveDevice() override;

  bool open() override;
  void close() override;
  bool isOpen() const override { return open_; }
  size_t write(const uint8_t* data, size_t bytes) override;
  size_t read(uint8_t* data, size_t bytes) override;

  // Bytes written and read since open().
  uint64_t bytesWritten() const { return written_; }
  uint64_t bytesRead() const { return read_; }
  int64_t openedAtUs() const { return openedAt_; }

 private:
  std::string folder_;
  AudioClock* clock_;
  bool open_ = false;
  std::FILE* render_ = nullptr;
  std::FILE* capture_ = nullptr;
  int64_t openedAt_ = 0;
  std::atomic<uint64_t> written_{0};
  std::atomic<uint64_t> read_{0};
};

}  // namespace component

#endif  // COMPONENTS_AUDIO_SIM_WAVE_DEVICE_H_
