// Linux: the real devices are PulseAudio's sinks and sources (monitors of
// sinks left out), chosen by description. Each direction is a simple stream
// served by its own thread: the output thread writes queued blocks (the
// server's pacing makes the write wait) and hands each back when taken; the
// input thread reads one 960-byte block at a time into the next queued one.
// A stream that fails (the sound server went away) is made again by its
// thread after a pause that grows from one to five seconds; the loss and the
// return are logged once each, and output blocks are handed back unplayed
// meanwhile so the bridge never waits on a dead server.
#include <pulse/pulseaudio.h>
#include <pulse/simple.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "PC_Audio_DRV/real_wave_device.h"
#include "base/logging.h"
#include "components/audio/pulse_listing_posix.h"

namespace {

constexpr char kClientName[] = "Lumora Wave Service";
// The longest description we take as a device name.
constexpr size_t kMaxNameChars = 511;

std::vector<RealDeviceInfo> list(pulse::DeviceKind kind) {
  std::vector<RealDeviceInfo> devices;
  for (const pulse::Device& device : pulse::listDevices(kind, kClientName).devices) {
    if (device.monitor) continue;
    RealDeviceInfo info;
    info.name = base::utf8ToWide(device.description);
    // The server converts to whatever rate we ask for.
    info.formats = kFormat48M16 | kFormat44M16 | kFormat22M16;
    info.id = device.name;
    devices.push_back(info);
  }
  return devices;
}

// Pauses between attempts to make a failed stream again.
constexpr auto kFirstRetry = std::chrono::milliseconds(1000);
constexpr auto kLongestRetry = std::chrono::milliseconds(5000);

pa_simple* openStream(pa_stream_direction_t direction, const RealDeviceInfo* device, uint32_t rate, size_t blockBytes,
                      int* error) {
  pa_sample_spec spec = {};
  spec.format = PA_SAMPLE_S16LE;
  spec.channels = 1;
  spec.rate = rate;
  pa_buffer_attr attr;
  attr.maxlength = static_cast<uint32_t>(-1);
  attr.prebuf = static_cast<uint32_t>(-1);
  attr.minreq = static_cast<uint32_t>(-1);
  // About 40 ms queued at the server, 10 ms fragments when recording.
  attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(40 * 1000, &spec));
  attr.fragsize = static_cast<uint32_t>(blockBytes);
  return pa_simple_new(nullptr, kClientName, direction, device ? device->id.c_str() : nullptr,
                       direction == PA_STREAM_PLAYBACK ? "bridge playback" : "bridge recording", &spec, nullptr, &attr,
                       error);
}

// One direction's stream and how to make it again. Used by its own thread
// only, apart from open and close.
class Stream {
 public:
  bool open(pa_stream_direction_t direction, const RealDeviceInfo* device, uint32_t rate, size_t blockBytes,
            int* error) {
    direction_ = direction;
    hasDevice_ = device != nullptr;
    if (device) device_ = *device;
    rate_ = rate;
    blockBytes_ = blockBytes;
    stream_ = openStream(direction, device, rate, blockBytes, error);
    return stream_ != nullptr;
  }
  pa_simple* get() const { return stream_; }
  explicit operator bool() const { return stream_ != nullptr; }
  void close() {
    if (stream_) pa_simple_free(stream_);
    stream_ = nullptr;
  }
  // The stream failed: drop it; logged the first time only.
  void lost(int error) {
    if (!stream_) return;
    LOG(WARNING) << "PulseAudio " << what() << " stream lost (" << pa_strerror(error) << "); trying to make it again";
    close();
    pause_ = kFirstRetry;
    next_ = std::chrono::steady_clock::now() + pause_;
  }
  // Waits for the next attempt's time (or until `wake`) and tries once;
  // true once the stream is back. `lock` is released while waiting and
  // connecting.
  template <typename Wake>
  bool retry(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Wake wake) {
    if (cv.wait_until(lock, next_, wake)) return false;
    pause_ = std::min(pause_ * 2, std::chrono::duration_cast<std::chrono::milliseconds>(kLongestRetry));
    next_ = std::chrono::steady_clock::now() + pause_;
    lock.unlock();
    int error = 0;
    pa_simple* stream = openStream(direction_, hasDevice_ ? &device_ : nullptr, rate_, blockBytes_, &error);
    lock.lock();
    if (!stream) return false;
    stream_ = stream;
    LOG(INFO) << "PulseAudio " << what() << " stream is back";
    return true;
  }

 private:
  const char* what() const { return direction_ == PA_STREAM_PLAYBACK ? "playback" : "recording"; }

  pa_simple* stream_ = nullptr;
  pa_stream_direction_t direction_ = PA_STREAM_PLAYBACK;
  bool hasDevice_ = false;
  RealDeviceInfo device_;
  uint32_t rate_ = 0;
  size_t blockBytes_ = 0;
  std::chrono::milliseconds pause_ = kFirstRetry;
  std::chrono::steady_clock::time_point next_;
};

// What both directions share: the stream, the block numbers queued for the
// serving thread and stopping that thread. The queue and the flag are
// guarded by `mutex_`.
class PulseWorker {
 protected:
  // Waits for a queued block and takes it; false when the thread is to stop.
  bool nextBlock(std::unique_lock<std::mutex>& lock, unsigned* index) {
    cv_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) return false;
    *index = queue_.front();
    queue_.pop_front();
    return true;
  }

  // Asks the serving thread to stop and waits for it.
  void stopThread() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      cv_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
  }

  Stream stream_;
  bool opened_ = false;
  std::vector<uint8_t*> blocks_;
  std::deque<unsigned> queue_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool stopping_ = false;
  std::thread thread_;
};

class PulseWaveOut : public WaveOutPort, private PulseWorker {
 public:
  ~PulseWaveOut() override { close(); }

  bool open(const RealDeviceInfo* device, uint32_t rate, Client* client, uint8_t* const* blocks, unsigned count,
            size_t, int* error) override {
    if (!stream_.open(PA_STREAM_PLAYBACK, device, rate, 0, error)) return false;
    client_ = client;
    blocks_.assign(blocks, blocks + count);
    sizes_.assign(count, 0);
    opened_ = true;
    stopping_ = false;
    thread_ = std::thread([this] { serve(); });
    return true;
  }

  bool write(unsigned index, size_t bytes, int* error) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!opened_ || index >= blocks_.size()) {
      *error = PA_ERR_INVALID;
      return false;
    }
    sizes_[index] = bytes;
    queue_.push_back(index);
    cv_.notify_all();
    return true;
  }

  void reset() override {
    std::deque<unsigned> dropped;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      dropped.swap(queue_);
    }
    for (unsigned index : dropped) client_->onBlockDone(index);
  }

  void close() override {
    if (!opened_) return;
    stopThread();
    reset();
    stream_.close();
    opened_ = false;
  }

 private:
  void serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (!stream_) {
        // Nothing can play: what the bridge queued goes back unplayed.
        std::deque<unsigned> dropped;
        dropped.swap(queue_);
        lock.unlock();
        for (unsigned index : dropped) client_->onBlockDone(index);
        lock.lock();
        stream_.retry(lock, cv_, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        continue;
      }
      unsigned index = 0;
      if (!nextBlock(lock, &index)) return;
      const size_t bytes = sizes_[index];
      lock.unlock();
      int error = 0;
      const bool ok = pa_simple_write(stream_.get(), blocks_[index], bytes, &error) >= 0;
      client_->onBlockDone(index);
      lock.lock();
      if (!ok) stream_.lost(error);
    }
  }

  Client* client_ = nullptr;
  std::vector<size_t> sizes_;
};

class PulseWaveIn : public WaveInPort, private PulseWorker {
 public:
  ~PulseWaveIn() override { close(); }

  bool open(const RealDeviceInfo* device, uint32_t rate, Client* client, uint8_t* const* blocks, unsigned count,
            size_t blockBytes, int* error) override {
    if (!stream_.open(PA_STREAM_RECORD, device, rate, blockBytes, error)) return false;
    opened_ = true;
    client_ = client;
    blockBytes_ = blockBytes;
    blocks_.assign(blocks, blocks + count);
    for (unsigned i = 0; i < count; ++i) queue_.push_back(i);
    return true;
  }

  bool requeue(unsigned index) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index >= blocks_.size()) return false;
    queue_.push_back(index);
    cv_.notify_all();
    return true;
  }

  bool start() override {
    if (!opened_ || thread_.joinable()) return opened_;
    stopping_ = false;
    thread_ = std::thread([this] { serve(); });
    return true;
  }

  void stop() override { stopThread(); }

  void close() override {
    stop();
    stream_.close();
    opened_ = false;
    queue_.clear();
  }

 private:
  void serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (!stream_) {
        stream_.retry(lock, cv_, [this] { return stopping_; });
        if (stopping_) return;
        continue;
      }
      unsigned index = 0;
      if (!nextBlock(lock, &index)) return;
      lock.unlock();
      int error = 0;
      // The source runs on the server's clock, so a read returns within a
      // block's time and the stop is seen promptly.
      const bool ok = pa_simple_read(stream_.get(), blocks_[index], blockBytes_, &error) >= 0;
      lock.lock();
      if (!ok) {
        queue_.push_front(index);
        stream_.lost(error);
        continue;
      }
      if (stopping_) {
        queue_.push_front(index);
        return;
      }
      lock.unlock();
      client_->onBlockFilled(index, blockBytes_);
      lock.lock();
    }
  }

  Client* client_ = nullptr;
  size_t blockBytes_ = 0;
};

}  // namespace

size_t maxRealDeviceNameChars() { return kMaxNameChars; }
std::vector<RealDeviceInfo> listRealOutputs() { return list(pulse::DeviceKind::kSinks); }
std::vector<RealDeviceInfo> listRealInputs() { return list(pulse::DeviceKind::kSources); }
std::unique_ptr<WaveOutPort> createWaveOutPort() { return std::make_unique<PulseWaveOut>(); }
std::unique_ptr<WaveInPort> createWaveInPort() { return std::make_unique<PulseWaveIn>(); }
