// The virtual sound device on Linux, served by PulseAudio (also PipeWire
// through pipewire-pulse). PC programs play into the sink "lumora_wave";
// the link reads its monitor. The link plays the phone's audio into the
// null sink "lumora_wave_mic_feed", whose monitor the remap source
// "lumora_wave_mic" offers to PC programs as a microphone. The devices are
// made at start-up when they are missing and only those made here are
// removed again at exit.
#include <pulse/pulseaudio.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "base/logging.h"
#include "components/audio/wave_device.h"

namespace component {

namespace {

constexpr char kClientName[] = "Lumora ZuvIridar";
constexpr char kSinkName[] = "lumora_wave";
constexpr char kFeedSinkName[] = "lumora_wave_mic_feed";
constexpr char kSourceName[] = "lumora_wave_mic";
constexpr char kSinkArgs[] =
    "sink_name=lumora_wave rate=48000 channels=1 format=s16le "
    "sink_properties=device.description=\"Lumora\\ Wave\\ Audio\\ Device\"";
constexpr char kFeedSinkArgs[] =
    "sink_name=lumora_wave_mic_feed rate=48000 channels=1 format=s16le "
    "sink_properties=device.description=\"Lumora\\ Wave\\ Audio\\ Device\\ (phone\\ audio)\"";
constexpr char kSourceArgs[] =
    "source_name=lumora_wave_mic master=lumora_wave_mic_feed.monitor channels=1 channel_map=mono "
    "source_properties=device.description=\"Lumora\\ Wave\\ Audio\\ Device\"";
constexpr auto kConnectTimeout = std::chrono::seconds(3);
// The phone's audio waits at most this long in PulseAudio's buffer.
constexpr uint32_t kPlaybackBufferBytes = 3840;  // 40 ms
// Beyond this much waiting in PulseAudio's buffer a block is dropped.
constexpr size_t kMaxQueuedBytes = 9600;  // 100 ms
// What the link has read from the monitor but not yet taken, at most.
constexpr size_t kMaxPendingBytes = 48000 * 2;

class PulseWaveDevice : public WaveDevice {
 public:
  ~PulseWaveDevice() override {
    close();
    disconnect();
  }

  bool prepare() override {
    if (!connect()) return false;
    Lock lock(loop_);
    bool ok = ensure(kSinkName, false, "module-null-sink", kSinkArgs) &&
              ensure(kFeedSinkName, false, "module-null-sink", kFeedSinkArgs) &&
              ensure(kSourceName, true, "module-remap-source", kSourceArgs);
    if (ok) LOG(INFO) << "PulseAudio devices '" << kSinkName << "' and '" << kSourceName << "' are ready";
    return ok;
  }

  void release() override {
    if (!context_) return;
    Lock lock(loop_);
    // The source first: it depends on the feed sink's monitor.
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
      pa_operation* op = pa_context_unload_module(context_, *it, &PulseWaveDevice::onSuccess, this);
      waitFor(op);
    }
    made_.clear();
  }

  bool open() override {
    if (isOpen()) return true;
    if (!connect()) return false;
    Lock lock(loop_);
    pa_sample_spec spec = {PA_SAMPLE_S16LE, kSampleRate, 1};
    playback_ = pa_stream_new(context_, "Phone audio", &spec, nullptr);
    record_ = pa_stream_new(context_, "PC audio for the phone", &spec, nullptr);
    if (!playback_ || !record_) return failOpen("the streams could not be made");
    pa_stream_set_state_callback(playback_, &PulseWaveDevice::onStreamState, this);
    pa_stream_set_state_callback(record_, &PulseWaveDevice::onStreamState, this);

    pa_buffer_attr play = {};
    play.maxlength = static_cast<uint32_t>(-1);
    play.tlength = kPlaybackBufferBytes;
    play.prebuf = 0;  // never stop for an underrun: silence plays on
    play.minreq = static_cast<uint32_t>(kBlockBytes);
    play.fragsize = static_cast<uint32_t>(-1);
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_playback(playback_, kFeedSinkName, &play, flags, nullptr, nullptr) < 0)
      return failOpen("the phone's audio stream could not be connected");

    pa_buffer_attr rec = {};
    rec.maxlength = static_cast<uint32_t>(-1);
    rec.fragsize = static_cast<uint32_t>(kBlockBytes);
    rec.tlength = rec.prebuf = rec.minreq = static_cast<uint32_t>(-1);
    const std::string monitor = std::string(kSinkName) + ".monitor";
    if (pa_stream_connect_record(record_, monitor.c_str(), &rec, flags) < 0)
      return failOpen("the PC's audio stream could not be connected");

    const auto deadline = std::chrono::steady_clock::now() + kConnectTimeout;
    for (;;) {
      const pa_stream_state_t a = pa_stream_get_state(playback_);
      const pa_stream_state_t b = pa_stream_get_state(record_);
      if (a == PA_STREAM_READY && b == PA_STREAM_READY) break;
      if (!PA_STREAM_IS_GOOD(a) || !PA_STREAM_IS_GOOD(b) || std::chrono::steady_clock::now() > deadline)
        return failOpen(pa_strerror(pa_context_errno(context_)));
      pa_threaded_mainloop_wait(loop_);
    }
    pending_.clear();
    pending_.reserve(kMaxPendingBytes + kBlockBytes);
    open_ = true;
    LOG(INFO) << "Device 'PulseAudio " << kSinkName << " / " << kSourceName << "' opened successfully";
    return true;
  }

  void close() override {
    if (!loop_) return;
    Lock lock(loop_);
    if (droppedBlocks_) LOG(INFO) << "PulseAudio took " << droppedBlocks_ << " blocks of the phone's audio too late";
    droppedBlocks_ = 0;
    for (pa_stream** stream : {&playback_, &record_}) {
      if (!*stream) continue;
      pa_stream_set_state_callback(*stream, nullptr, nullptr);
      pa_stream_disconnect(*stream);
      pa_stream_unref(*stream);
      *stream = nullptr;
    }
    open_ = false;
  }

  bool isOpen() const override { return open_; }

  size_t write(const uint8_t* data, size_t bytes) override {
    if (!open_) return 0;
    Lock lock(loop_);
    if (pa_stream_get_state(playback_) != PA_STREAM_READY) return 0;
    // The sink takes the audio in its own bursts; only a buffer that holds
    // more than it may (the sink's clock runs slower than ours) makes the
    // block go, rather than letting the delay grow.
    const size_t room = pa_stream_writable_size(playback_);
    const pa_buffer_attr* attr = pa_stream_get_buffer_attr(playback_);
    const size_t target = attr ? attr->tlength : kPlaybackBufferBytes;
    const size_t queued = room == static_cast<size_t>(-1) ? kMaxQueuedBytes : (room >= target ? 0 : target - room);
    if (queued + bytes > kMaxQueuedBytes) {
      ++droppedBlocks_;
      return 0;
    }
    if (pa_stream_write(playback_, data, bytes, nullptr, 0, PA_SEEK_RELATIVE) < 0) return 0;
    return bytes;
  }

  size_t read(uint8_t* data, size_t bytes) override {
    if (!open_) return 0;
    Lock lock(loop_);
    while (pending_.size() < bytes && pa_stream_get_state(record_) == PA_STREAM_READY &&
           pa_stream_readable_size(record_) > 0) {
      const void* chunk = nullptr;
      size_t length = 0;
      if (pa_stream_peek(record_, &chunk, &length) < 0 || length == 0) break;
      if (chunk) {
        const auto* bytesIn = static_cast<const uint8_t*>(chunk);
        pending_.insert(pending_.end(), bytesIn, bytesIn + length);
      } else {
        pending_.insert(pending_.end(), length, 0);  // a hole: silence
      }
      pa_stream_drop(record_);
      if (pending_.size() > kMaxPendingBytes) pending_.erase(pending_.begin(), pending_.end() - kMaxPendingBytes);
    }
    if (pending_.size() < bytes) return 0;
    std::memcpy(data, pending_.data(), bytes);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(bytes));
    return bytes;
  }

 private:
  class Lock {
   public:
    explicit Lock(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
    ~Lock() { pa_threaded_mainloop_unlock(loop_); }

   private:
    pa_threaded_mainloop* loop_;
  };

  bool connect() {
    if (context_ && pa_context_get_state(context_) == PA_CONTEXT_READY) return true;
    disconnect();
    loop_ = pa_threaded_mainloop_new();
    if (!loop_ || pa_threaded_mainloop_start(loop_) < 0) {
      LOG(WARNING) << "PulseAudio: no main loop; the server runs without PC audio";
      return false;
    }
    Lock lock(loop_);
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), kClientName);
    if (!context_) return false;
    pa_context_set_state_callback(context_, &PulseWaveDevice::onContextState, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
      LOG(WARNING) << "No connection to PulseAudio (" << pa_strerror(pa_context_errno(context_))
                   << "); the server runs without PC audio";
      return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + kConnectTimeout;
    for (;;) {
      const pa_context_state_t state = pa_context_get_state(context_);
      if (state == PA_CONTEXT_READY) return true;
      if (!PA_CONTEXT_IS_GOOD(state) || std::chrono::steady_clock::now() > deadline) {
        LOG(WARNING) << "No connection to PulseAudio (" << pa_strerror(pa_context_errno(context_))
                     << "); the server runs without PC audio";
        return false;
      }
      pa_threaded_mainloop_wait(loop_);
    }
  }

  void disconnect() {
    if (!loop_) return;
    {
      Lock lock(loop_);
      if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
      }
    }
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
  }

  bool failOpen(const char* why) {
    LOG(WARNING) << "PulseAudio: " << why << "; the server runs without PC audio";
    for (pa_stream** stream : {&playback_, &record_}) {
      if (!*stream) continue;
      pa_stream_set_state_callback(*stream, nullptr, nullptr);
      pa_stream_disconnect(*stream);
      pa_stream_unref(*stream);
      *stream = nullptr;
    }
    return false;
  }

  // Waits (lock held) for an operation to finish.
  void waitFor(pa_operation* op) {
    if (!op) return;
    while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(loop_);
    pa_operation_unref(op);
  }

  // Loads `module` unless a device called `name` is there already.
  bool ensure(const char* name, bool source, const char* module, const char* args) {
    found_ = false;
    pa_operation* op = source ? pa_context_get_source_info_by_name(context_, name, &PulseWaveDevice::onSource, this)
                              : pa_context_get_sink_info_by_name(context_, name, &PulseWaveDevice::onSink, this);
    waitFor(op);
    if (found_) return true;
    loadedIndex_ = PA_INVALID_INDEX;
    waitFor(pa_context_load_module(context_, module, args, &PulseWaveDevice::onLoaded, this));
    if (loadedIndex_ == PA_INVALID_INDEX) {
      LOG(WARNING) << "PulseAudio: could not make '" << name << "' (" << pa_strerror(pa_context_errno(context_))
                   << "); the server runs without PC audio";
      return false;
    }
    made_.push_back(loadedIndex_);
    return true;
  }

  static void onContextState(pa_context*, void* self) {
    pa_threaded_mainloop_signal(static_cast<PulseWaveDevice*>(self)->loop_, 0);
  }
  static void onStreamState(pa_stream*, void* self) {
    pa_threaded_mainloop_signal(static_cast<PulseWaveDevice*>(self)->loop_, 0);
  }
  static void onSuccess(pa_context*, int, void* self) {
    pa_threaded_mainloop_signal(static_cast<PulseWaveDevice*>(self)->loop_, 0);
  }
  static void onSink(pa_context*, const pa_sink_info* info, int eol, void* self) {
    auto* device = static_cast<PulseWaveDevice*>(self);
    if (!eol && info) device->found_ = true;
    pa_threaded_mainloop_signal(device->loop_, 0);
  }
  static void onSource(pa_context*, const pa_source_info* info, int eol, void* self) {
    auto* device = static_cast<PulseWaveDevice*>(self);
    if (!eol && info) device->found_ = true;
    pa_threaded_mainloop_signal(device->loop_, 0);
  }
  static void onLoaded(pa_context*, uint32_t index, void* self) {
    auto* device = static_cast<PulseWaveDevice*>(self);
    device->loadedIndex_ = index;
    pa_threaded_mainloop_signal(device->loop_, 0);
  }

  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* playback_ = nullptr;
  pa_stream* record_ = nullptr;
  bool open_ = false;
  std::vector<uint8_t> pending_;
  std::vector<uint32_t> made_;
  uint64_t droppedBlocks_ = 0;
  bool found_ = false;
  uint32_t loadedIndex_ = PA_INVALID_INDEX;
};

}  // namespace

std::unique_ptr<WaveDevice> createPlatformWaveDevice() { return std::make_unique<PulseWaveDevice>(); }

}  // namespace component
