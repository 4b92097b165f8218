#include "PC_Audio_DRV/lumora_wave_driver.h"

#include <chrono>
#include <vector>

#include "PC_Audio_DRV/trace.h"

namespace {
constexpr char kTraceSource[] = "LumoraWaveDriver";
}  // namespace

CLumoraWaveDriver::CLumoraWaveDriver(std::unique_ptr<component::WaveDevice> device) : device_(std::move(device)) {}

CLumoraWaveDriver::~CLumoraWaveDriver() {
  Stop();
  if (device_ && device_->isOpen()) device_->close();
}

bool CLumoraWaveDriver::Open() { return device_ && device_->open(); }

bool CLumoraWaveDriver::Start() {
  WTRACE(wave::kTraceInfo, "Starting ThreadFromDriver thread");
  if (reader_.joinable()) {
    WTRACE(wave::kTraceWarning, "ThreadFromDriver already exists");
    return true;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = false;
  }
  try {
    reader_ = std::thread([this] { ThreadFromDriver(); });
  } catch (...) {
    WTRACE(wave::kTraceError, "CreateThread failed");
    return false;
  }
  return true;
}

void CLumoraWaveDriver::Stop() {
  if (!reader_.joinable()) return;
  WTRACE(wave::kTraceInfo, "Stop ThreadFromDriver thread");
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  cv_.notify_all();
  reader_.join();
}

void CLumoraWaveDriver::Write(const uint8_t* bytes, size_t length) {
  if (device_ && length > 0) device_->write(bytes, length);
}

void CLumoraWaveDriver::ThreadFromDriver() {
  WTRACE(wave::kTraceInfo, "ThreadFromDriver did start");
  raiseReaderPriority();
  ScopedFinePacing pacing;
  std::vector<uint8_t> buffer(kReadBytes);  // once, before the loop
  auto next = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartDelayMs);
  std::unique_lock<std::mutex> lock(mutex_);
  if (!cv_.wait_until(lock, next, [this] { return stopping_; })) {
    lock.unlock();
    for (unsigned i = 0; i < kMaxDrainReads && device_->read(buffer.data(), buffer.size()) > 0; ++i) {
    }
    lock.lock();
    for (;;) {
      next += std::chrono::milliseconds(kTickMs);
      if (cv_.wait_until(lock, next, [this] { return stopping_; })) break;
      lock.unlock();
      const size_t got = device_->read(buffer.data(), buffer.size());
      if (sink_ && got > 0) sink_->Write(buffer.data(), static_cast<int>(got));
      lock.lock();
      // After a long stall, pace from now rather than rushing to catch up.
      const auto now = std::chrono::steady_clock::now();
      if (now - next > std::chrono::milliseconds(10 * kTickMs)) next = now;
    }
  }
  WTRACE(wave::kTraceInfo, "ThreadFromDriver did stop");
}

std::unique_ptr<IDriverLink> OpenDriverLink(std::unique_ptr<component::WaveDevice> device, IAudioCallback* sink) {
  auto link = std::make_unique<CLumoraWaveDriver>(std::move(device));
  if (!link->Open()) return nullptr;
  link->setSink(sink);
  return link;
}
