// WDMAudioDriver: the link between the audio pipeline and the virtual sound
// device. A render thread keeps the device up to three 10 ms blocks ahead of
// the clock, filling each block from the delegate (the phone's audio); a
// record thread reads what PC programs played into the device and hands it
// to the delegate. Both are paced by a 10 ms timer; the device itself sits
// behind the WaveDevice seam, so this pacing is written once.
//
// Thread: Open/Close/Start/Stop and the destructor on the owner's thread;
// the delegate is called on the render and record threads.
#ifndef COMPONENTS_AUDIO_WDM_AUDIO_DRIVER_H_
#define COMPONENTS_AUDIO_WDM_AUDIO_DRIVER_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "components/audio/audio_clock.h"
#include "components/audio/audio_driver.h"
#include "components/audio/wave_device.h"

namespace component {

// What both pacers work with: the device, the driver and delegate they
// report to, one block's buffer and how many blocks have gone through.
class Pacer {
 public:
  // `stop` (may be null) is checked before every block.
  Pacer(WaveDevice* device, AudioDriver* driver, AudioDriver::Delegate* delegate,
        const std::atomic<bool>* stop = nullptr)
      : device_(device), driver_(driver), delegate_(delegate), stop_(stop) {}
  int64_t position() const { return position_; }

 protected:
  WaveDevice* device_;
  AudioDriver* driver_;
  AudioDriver::Delegate* delegate_;
  const std::atomic<bool>* stop_;
  std::vector<uint8_t> buffer_ = std::vector<uint8_t>(WaveDevice::kBlockBytes);
  int64_t position_ = 0;
};

// The render side's pacing: one tick of the 10 ms timer at a time.
class RenderPacer : public Pacer {
 public:
  static constexpr int64_t kBlockUs = 10000;
  static constexpr int kLeadBlocks = 3;
  static constexpr int64_t kBlockSamples = 480;
  // Where the device starts again after the thread fell behind.
  static constexpr int64_t kRestartMarginUs = kBlockUs / 2;

  using Pacer::Pacer;
  void start(int64_t nowUs);
  void tick(int64_t nowUs);
  int64_t deadline() const { return deadline_; }

 private:
  int64_t deadline_ = 0;
};

// The record side's pacing.
class RecordPacer : public Pacer {
 public:
  static constexpr int64_t kResyncLagUs = 200000;
  // The pacer takes what the clock says is due, so a device that holds
  // more (the thread was held up, the device delivered late and then all
  // at once) would keep that delay for as long as it is open. More than
  // this waiting after a tick's blocks, tick after tick for this many
  // ticks, is dropped down to a block.
  static constexpr size_t kSurplusBytes = 4 * WaveDevice::kBlockBytes;
  static constexpr int kSurplusTicks = 25;
  // A device that never runs dry is not drained for ever.
  static constexpr int kMaxDrainBlocks = 1000;

  using Pacer::Pacer;
  void drain();
  void start(int64_t nowUs);
  void tick(int64_t nowUs);
  int64_t clock() const { return clock_; }
  uint64_t resyncs() const { return resyncs_; }
  uint64_t droppedBytes() const { return droppedBytes_; }

 private:
  void dropSurplus();

  int64_t clock_ = 0;
  uint64_t resyncs_ = 0;
  int surplusTicks_ = 0;
  uint64_t droppedBytes_ = 0;
};

class WDMAudioDriver : public AudioDriver {
 public:
  // Stop() waits this long for both threads together.
  static constexpr int64_t kStopTimeoutUs = 5000000;

  // `device` null: the device of this build (createWaveDevice()). `clock`
  // null: the system clock.
  explicit WDMAudioDriver(std::unique_ptr<WaveDevice> device = nullptr, AudioClock* clock = nullptr);
  // Stop(), then Close().
  ~WDMAudioDriver() override;
  WDMAudioDriver(const WDMAudioDriver&) = delete;
  WDMAudioDriver& operator=(const WDMAudioDriver&) = delete;

  void setDelegate(Delegate* delegate) { delegate_ = delegate; }

  // At start-up: make the device available to PC programs (see
  // WaveDevice::prepare); release() at exit.
  bool Prepare();
  void Release();

  bool Open() override;
  void Close() override;
  bool Start() override;
  void Stop() override;
  bool isOpen() const;
  bool isRunning() const { return threads_ != nullptr; }

 private:
  struct Threads;
  static void renderThread(std::shared_ptr<Threads> threads);
  static void recordThread(std::shared_ptr<Threads> threads);

  std::shared_ptr<WaveDevice> device_;
  AudioClock* clock_;
  Delegate* delegate_ = nullptr;
  std::shared_ptr<Threads> threads_;
  // The threads of a forced stop, until they have ended.
  std::shared_ptr<Threads> abandoned_;
  bool prepared_ = false;
};

}  // namespace component

#endif  // COMPONENTS_AUDIO_WDM_AUDIO_DRIVER_H_
