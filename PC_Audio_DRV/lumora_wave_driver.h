// CLumoraWaveDriver: the bridge's link to the virtual sound device. Its
// reader thread, paced every 10 ms, reads what PC programs play into the
// device (up to 1920 bytes a tick) and hands it to the sink; Write() carries
// the real microphone's audio into the device.
//
// Thread: Open/Start/Stop on the service's threads (serialised by it); the
// reader thread reads, the recording pump writes.
#ifndef PC_AUDIO_DRV_LUMORA_WAVE_DRIVER_H_
#define PC_AUDIO_DRV_LUMORA_WAVE_DRIVER_H_

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "PC_Audio_DRV/bridge.h"
#include "components/audio/wave_device.h"

class CLumoraWaveDriver : public IDriverLink {
 public:
  static constexpr unsigned kTickMs = 10;
  static constexpr size_t kReadBytes = 1920;
  static constexpr unsigned kStartDelayMs = 40;
  // Reads of what the device buffered before the first tick; bounded so a
  // device that always has data can't keep the reader from starting.
  static constexpr unsigned kMaxDrainReads = 200;

  explicit CLumoraWaveDriver(std::unique_ptr<component::WaveDevice> device);
  ~CLumoraWaveDriver() override;

  bool Open();
  void setSink(IAudioCallback* sink) { sink_ = sink; }
  bool Start() override;
  void Stop() override;
  void Write(const uint8_t* bytes, size_t length) override;

 private:
  void ThreadFromDriver();

  std::unique_ptr<component::WaveDevice> device_;
  IAudioCallback* sink_ = nullptr;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool stopping_ = false;
};

// Opens the link on `device` with `sink`; nothing when the device is absent
// or refuses.
std::unique_ptr<IDriverLink> OpenDriverLink(std::unique_ptr<component::WaveDevice> device, IAudioCallback* sink);

// Per build: the finest timer resolution for the reader's pacing (Windows:
// the multimedia timer's minimum period) and its raised thread priority.
class ScopedFinePacing {
 public:
  ScopedFinePacing();
  ~ScopedFinePacing();

 private:
  unsigned period_ = 0;
};
void raiseReaderPriority();

#endif  // PC_AUDIO_DRV_LUMORA_WAVE_DRIVER_H_
