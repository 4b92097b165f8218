#include "components/audio/wdm_audio_driver.h"

#include <cstring>
#include <algorithm>
#include <thread>

#include "base/logging.h"
#include "components/audio/link_timer.h"

namespace component {

namespace {

bool stopping(const std::atomic<bool>* stop) { return stop && stop->load(std::memory_order_acquire); }

}  // namespace

// ---------------------------------------------------------------------------

void RenderPacer::start(int64_t nowUs) {
  position_ = 0;
  deadline_ = nowUs + 1000;
}

void RenderPacer::tick(int64_t nowUs) {
  int64_t ahead = deadline_ - nowUs;
  if (ahead < 0) {
    // The thread fell behind: the device clock went on without us. The
    // device starts again half a block from now, so the ticks that follow
    // fall halfway between two block boundaries (25 ms ahead) and one a
    // little late or early still writes exactly one block; starting at
    // `now` put every later tick on a boundary, where the scheduler's
    // jitter flipped the lead between two and three blocks.
    position_ += -ahead * 48 / 1000;
    deadline_ = nowUs + kRestartMarginUs;
    ahead = kRestartMarginUs;
  }
  const int64_t blocks = kLeadBlocks - ahead / kBlockUs;
  if (blocks <= 0) return;
  deadline_ += blocks * kBlockUs;
  for (int64_t i = 0; i < blocks; ++i) {
    if (stopping(stop_)) return;
    std::memset(buffer_.data(), 0, buffer_.size());
    if (delegate_) delegate_->render(driver_, buffer_.data(), buffer_.size(), position_);
    device_->write(buffer_.data(), buffer_.size());
    position_ += kBlockSamples;
  }
}

// ---------------------------------------------------------------------------

void RecordPacer::drain() {
  for (int i = 0; i < kMaxDrainBlocks && !stopping(stop_); ++i)
    if (device_->read(buffer_.data(), buffer_.size()) == 0) break;
}

void RecordPacer::start(int64_t nowUs) {
  position_ = 0;
  clock_ = nowUs;
}

void RecordPacer::tick(int64_t nowUs) {
  const int64_t lag = nowUs - clock_;
  const int64_t blocks = lag / RenderPacer::kBlockUs + 1;
  for (int64_t i = 0; i < blocks; ++i) {
    std::memset(buffer_.data(), 0, buffer_.size());
    const size_t bytes = device_->read(buffer_.data(), buffer_.size());
    if (bytes == 0 || stopping(stop_)) return;
    if (lag > kResyncLagUs) {
      // Too far behind to catch up: drop this block and start again from
      // now, with the position moved on by the time that passed.
      position_ += lag * 48 / 1000;
      clock_ = nowUs;
      ++resyncs_;
      // What piled up in the device meanwhile is as old as the lag.
      dropSurplus();
      return;
    }
    if (delegate_) delegate_->captured(driver_, buffer_.data(), bytes, position_);
    position_ += static_cast<int64_t>(bytes / 2);
    clock_ += static_cast<int64_t>(bytes) * 1000 / 96;
    if (bytes < WaveDevice::kBlockBytes) return;
  }
  surplusTicks_ = device_->readable() > kSurplusBytes ? surplusTicks_ + 1 : 0;
  if (surplusTicks_ >= kSurplusTicks) dropSurplus();
}

void RecordPacer::dropSurplus() {
  surplusTicks_ = 0;
  size_t waiting = device_->readable();
  while (waiting > WaveDevice::kBlockBytes && !stopping(stop_)) {
    const size_t bytes = device_->read(buffer_.data(), buffer_.size());
    if (bytes == 0) break;
    // The time the dropped audio spans passed all the same.
    position_ += static_cast<int64_t>(bytes / 2);
    droppedBytes_ += bytes;
    waiting -= std::min(waiting, bytes);
  }
}

// ---------------------------------------------------------------------------

struct WDMAudioDriver::Threads {
  std::shared_ptr<WaveDevice> device;
  AudioDriver* driver = nullptr;
  AudioDriver::Delegate* delegate = nullptr;
  AudioClock* clock = nullptr;
  std::unique_ptr<LinkStopEvent> stopEvent;
  std::atomic<bool> stopping{false};
  std::atomic<bool> renderEnded{false};
  std::atomic<bool> recordEnded{false};
  std::thread render;
  std::thread record;
};

WDMAudioDriver::WDMAudioDriver(std::unique_ptr<WaveDevice> device, AudioClock* clock)
    : device_(device ? std::move(device) : createWaveDevice()), clock_(clock ? clock : AudioClock::system()) {}

WDMAudioDriver::~WDMAudioDriver() {
  Stop();
  Close();
  if (prepared_) Release();
}

bool WDMAudioDriver::Prepare() {
  // Released at the end even when it failed: a device whose sound server
  // came later makes its devices then, and they go with us.
  prepared_ = true;
  return device_->prepare();
}

void WDMAudioDriver::Release() {
  device_->release();
  prepared_ = false;
}

bool WDMAudioDriver::isOpen() const { return device_->isOpen(); }

bool WDMAudioDriver::Open() {
  if (device_->isOpen()) {
    LOG(WARNING) << "Device was already opened";
    return true;
  }
  return device_->open();
}

void WDMAudioDriver::Close() {
  Stop();
  // A thread left behind by a forced stop may still be inside a device
  // call; the device then closes with its last user.
  if (abandoned_ && !(abandoned_->renderEnded && abandoned_->recordEnded)) return;
  abandoned_.reset();
  device_->close();
}

bool WDMAudioDriver::Start() {
  LOG(INFO) << "Starting WDM audio driver";
  if (!device_->isOpen()) {
    LOG(ERROR) << "Device isn't opened yet. Call Open() first.";
    return false;
  }
  if (threads_) return true;
  auto threads = std::make_shared<Threads>();
  threads->device = device_;
  threads->driver = this;
  threads->delegate = delegate_;
  threads->clock = clock_;
  threads->stopEvent = LinkStopEvent::create();
  if (!threads->stopEvent) return false;
  try {
    threads->record = std::thread(&WDMAudioDriver::recordThread, threads);
    threads->render = std::thread(&WDMAudioDriver::renderThread, threads);
  } catch (const std::system_error& error) {
    LOG(ERROR) << "Couldn't create the device threads: " << error.what();
    threads->stopping = true;
    threads->stopEvent->set();
    if (threads->record.joinable()) threads->record.join();
    return false;
  }
  threads_ = std::move(threads);
  return true;
}

void WDMAudioDriver::Stop() {
  if (!threads_) return;
  LOG(INFO) << "Stop WDM audio driver";
  threads_->stopping = true;
  threads_->stopEvent->set();
  const int64_t start = clock_->nowUs();
  while (!(threads_->renderEnded && threads_->recordEnded) && clock_->nowUs() - start < kStopTimeoutUs)
    clock_->sleepMs(1);
  if (threads_->renderEnded && threads_->recordEnded) {
    threads_->render.join();
    threads_->record.join();
  } else {
    // A thread stuck in a device call is left to end on its own when the
    // call returns: killing it could leave a lock of the C runtime held.
    // It holds its own reference to everything it uses and calls nobody
    // once the stop is set.
    LOG(WARNING) << "Force threads shutdown";
    threads_->render.detach();
    threads_->record.detach();
    abandoned_ = threads_;
  }
  threads_.reset();
}

void WDMAudioDriver::renderThread(std::shared_ptr<Threads> threads) {
  raiseLinkThreadPriority();
  LOG(INFO) << "Render thread begin";
  if (std::unique_ptr<LinkTimer> timer = LinkTimer::create(threads->stopEvent.get())) {
    RenderPacer pacer(threads->device.get(), threads->driver, threads->delegate, &threads->stopping);
    pacer.start(threads->clock->nowUs());
    while (timer->wait()) pacer.tick(threads->clock->nowUs());
  }
  LOG(INFO) << "Render thread end";
  threads->renderEnded = true;
}

void WDMAudioDriver::recordThread(std::shared_ptr<Threads> threads) {
  raiseLinkThreadPriority();
  LOG(INFO) << "Record thread begin";
  if (std::unique_ptr<LinkTimer> timer = LinkTimer::create(threads->stopEvent.get())) {
    RecordPacer pacer(threads->device.get(), threads->driver, threads->delegate, &threads->stopping);
    pacer.drain();
    pacer.start(threads->clock->nowUs());
    while (timer->wait()) pacer.tick(threads->clock->nowUs());
    if (pacer.droppedBytes())
      LOG(INFO) << "PC audio: " << pacer.droppedBytes() / 96 << " ms left waiting in the device were dropped";
  }
  LOG(INFO) << "Record thread end";
  threads->recordEnded = true;
}

}  // namespace component
