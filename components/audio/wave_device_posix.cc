// The virtual sound device on Linux, served by PulseAudio (also PipeWire
// through pipewire-pulse). PC programs play into the sink "lumora_wave";
// the link reads its monitor. The link plays the phone's audio into the
// null sink "lumora_wave_mic_feed", whose monitor the remap source
// "lumora_wave_mic" offers to PC programs as a microphone. The devices are
// made at start-up when they are missing and only those made here are
// removed again at exit.
//
// The sound server may go away under us (an update, a crash, a switch to
// another server). A watcher thread notices the failed context or stream,
// says so once and connects again with a growing pause; once the server is
// back it remakes the devices made here and reopens the streams, so the
// link's threads carry on without anyone else noticing. Until then reads
// and writes move nothing.
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
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
// Writes in a row that found the sink reading ahead of them before the
// next one is put where it reads (100 ms of blocks).
constexpr int kBehindWritesToJump = 10;
// A sink running further ahead than this when the phone's stream opens has
// its clock started again (it runs one period, 10 ms, ahead when it follows
// our stream's latency).
constexpr pa_usec_t kMostFeedSinkAheadUs = 50000;
// Pauses between reconnection attempts: the first, doubled up to the last.
constexpr auto kFirstRetry = std::chrono::milliseconds(1000);
constexpr auto kLongestRetry = std::chrono::milliseconds(5000);

// A virtual device this process made, to make again after a restart.
struct MadeDevice {
  const char* name;
  bool source;
  const char* module;
  const char* args;
  uint32_t index;
};

class PulseWaveDevice : public WaveDevice {
 public:
  ~PulseWaveDevice() override {
    stopWatcher();
    close();
    std::lock_guard<std::shared_mutex> guard(mutex_);
    disconnect();
  }

  bool prepare() override {
    std::lock_guard<std::shared_mutex> guard(mutex_);
    wantDevices_ = true;
    if (!connect(false)) {
      // A session whose sound server comes up after us: keep trying, and
      // make then whichever of the devices is missing.
      made_ = {MadeDevice{kSinkName, false, "module-null-sink", kSinkArgs, PA_INVALID_INDEX},
               MadeDevice{kFeedSinkName, false, "module-null-sink", kFeedSinkArgs, PA_INVALID_INDEX},
               MadeDevice{kSourceName, true, "module-remap-source", kSourceArgs, PA_INVALID_INDEX}};
      lost(false);
      return false;
    }
    Lock lock(loop_);
    bool ok = ensure(kSinkName, false, "module-null-sink", kSinkArgs) &&
              ensure(kFeedSinkName, false, "module-null-sink", kFeedSinkArgs) &&
              ensure(kSourceName, true, "module-remap-source", kSourceArgs);
    if (ok) LOG(INFO) << "PulseAudio devices '" << kSinkName << "' and '" << kSourceName << "' are ready";
    return ok;
  }

  void release() override {
    std::lock_guard<std::shared_mutex> guard(mutex_);
    wantDevices_ = false;
    if (context_ && !lost_) {
      Lock lock(loop_);
      // The source first: it depends on the feed sink's monitor.
      for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
        if (it->index == PA_INVALID_INDEX) continue;
        pa_operation* op = pa_context_unload_module(context_, it->index, &PulseWaveDevice::onSuccess, this);
        waitFor(op);
      }
    }
    made_.clear();
  }

  bool open() override {
    std::lock_guard<std::shared_mutex> guard(mutex_);
    if (open_) return true;
    if (lost_ || !connect(false)) return false;
    if (!openStreams(false)) return false;
    open_ = true;
    LOG(INFO) << "Device 'PulseAudio " << kSinkName << " / " << kSourceName << "' opened successfully";
    return true;
  }

  void close() override {
    std::lock_guard<std::shared_mutex> guard(mutex_);
    if (!open_) return;
    open_ = false;
    closeStreams();
  }

  bool isOpen() const override { return open_; }

  size_t write(const uint8_t* data, size_t bytes) override {
    // The device threads never wait for a reconnection in progress.
    std::shared_lock<std::shared_mutex> guard(mutex_, std::try_to_lock);
    if (!guard.owns_lock() || !open_ || lost_ || !playback_) return 0;
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
    // More room than the target means the sink ran dry and read on past
    // what we wrote (it never stops for an underrun). Audio written behind
    // its read position is thrown away unheard, and a writer that keeps
    // exact pace, like the bridge's microphone, never catches up again:
    // once that has lasted a while (a writer that is ahead catches up by
    // itself within a block or two), the block goes where the sink reads
    // next.
    behindWrites_ = room != static_cast<size_t>(-1) && room > target ? behindWrites_ + 1 : 0;
    const bool behind = behindWrites_ >= kBehindWritesToJump;
    if (behind) behindWrites_ = 0;
    if (pa_stream_write(playback_, data, bytes, nullptr, 0, behind ? PA_SEEK_RELATIVE_ON_READ : PA_SEEK_RELATIVE) < 0)
      return 0;
    return bytes;
  }

  size_t readable() override {
    std::shared_lock<std::shared_mutex> guard(mutex_, std::try_to_lock);
    if (!guard.owns_lock() || !open_ || lost_ || !record_) return 0;
    Lock lock(loop_);
    if (pa_stream_get_state(record_) != PA_STREAM_READY) return pending_.size();
    const size_t waiting = pa_stream_readable_size(record_);
    return pending_.size() + (waiting == static_cast<size_t>(-1) ? 0 : waiting);
  }

  size_t read(uint8_t* data, size_t bytes) override {
    std::shared_lock<std::shared_mutex> guard(mutex_, std::try_to_lock);
    if (!guard.owns_lock() || !open_ || lost_ || !record_) return 0;
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

  // mutex_ held. `quiet`: a reconnection attempt, whose failures the
  // watcher has already announced.
  bool connect(bool quiet) {
    if (context_ && pa_context_get_state(context_) == PA_CONTEXT_READY) return true;
    disconnect();
    loop_ = pa_threaded_mainloop_new();
    if (!loop_ || pa_threaded_mainloop_start(loop_) < 0) {
      if (!quiet) LOG(WARNING) << "PulseAudio: no main loop; the server runs without PC audio";
      return false;
    }
    Lock lock(loop_);
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), kClientName);
    if (!context_) return false;
    pa_context_set_state_callback(context_, &PulseWaveDevice::onContextState, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
      if (!quiet)
        LOG(WARNING) << "No connection to PulseAudio (" << pa_strerror(pa_context_errno(context_))
                     << "); the server runs without PC audio until it answers";
      return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + kConnectTimeout;
    for (;;) {
      const pa_context_state_t state = pa_context_get_state(context_);
      if (state == PA_CONTEXT_READY) {
        up_ = true;
        return true;
      }
      if (!PA_CONTEXT_IS_GOOD(state) || std::chrono::steady_clock::now() > deadline) {
        if (!quiet)
          LOG(WARNING) << "No connection to PulseAudio (" << pa_strerror(pa_context_errno(context_))
                       << "); the server runs without PC audio until it answers";
        return false;
      }
      pa_threaded_mainloop_wait(loop_);
    }
  }

  // mutex_ held.
  void disconnect() {
    up_ = false;
    if (!loop_) return;
    {
      Lock lock(loop_);
      dropStreams();
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

  // mutex_ held, connected: both streams made and ready, or none.
  bool openStreams(bool quiet) {
    Lock lock(loop_);
    pa_sample_spec spec = {PA_SAMPLE_S16LE, kSampleRate, 1};
    playback_ = pa_stream_new(context_, "Phone audio", &spec, nullptr);
    record_ = pa_stream_new(context_, "PC audio for the phone", &spec, nullptr);
    if (!playback_ || !record_) return failOpen("the streams could not be made", quiet);
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
      return failOpen("the phone's audio stream could not be connected", quiet);

    pa_buffer_attr rec = {};
    rec.maxlength = static_cast<uint32_t>(-1);
    rec.fragsize = static_cast<uint32_t>(kBlockBytes);
    rec.tlength = rec.prebuf = rec.minreq = static_cast<uint32_t>(-1);
    const std::string monitor = std::string(kSinkName) + ".monitor";
    if (pa_stream_connect_record(record_, monitor.c_str(), &rec, flags) < 0)
      return failOpen("the PC's audio stream could not be connected", quiet);

    const auto deadline = std::chrono::steady_clock::now() + kConnectTimeout;
    for (;;) {
      const pa_stream_state_t a = pa_stream_get_state(playback_);
      const pa_stream_state_t b = pa_stream_get_state(record_);
      if (a == PA_STREAM_READY && b == PA_STREAM_READY) break;
      if (!PA_STREAM_IS_GOOD(a) || !PA_STREAM_IS_GOOD(b) || std::chrono::steady_clock::now() > deadline)
        return failOpen(pa_strerror(pa_context_errno(context_)), quiet);
      pa_threaded_mainloop_wait(loop_);
    }
    pending_.clear();
    pending_.reserve(kMaxPendingBytes + kBlockBytes);
    restartFeedSinkIfAhead(quiet);
    return true;
  }

  // Loop lock held, the streams ready. A null sink that nobody listens to,
  // or whose only listener asked for a long latency, renders seconds ahead
  // of the clock and sleeps meanwhile; the shorter latency our stream asks
  // for does not wake it, so what the link writes first would wait there
  // and the phone would be heard that much late for the whole session. A
  // suspend and resume starts the sink's clock again at now.
  void restartFeedSinkIfAhead(bool quiet) {
    waitFor(pa_stream_update_timing_info(playback_, &PulseWaveDevice::onStreamSuccess, this));
    const pa_timing_info* timing = pa_stream_get_timing_info(playback_);
    if (!timing || timing->sink_usec <= kMostFeedSinkAheadUs) return;
    if (!quiet)
      LOG(INFO) << "PulseAudio: '" << kFeedSinkName << "' ran " << timing->sink_usec / 1000
                << " ms ahead; its clock starts again, so that the phone is heard at once";
    for (const int suspend : {1, 0})
      waitFor(pa_context_suspend_sink_by_name(context_, kFeedSinkName, suspend, &PulseWaveDevice::onSuccess, this));
    // The resumed sink takes whatever is written at once, so the link's
    // blocks, written at the sink's own pace, would find it dry at the
    // slightest delay and land behind where it reads (heard as gaps, 20 to
    // 70 % of the sound gone with a listener that asked for a long
    // latency). A buffer's worth of silence ahead of them keeps that slack.
    const std::vector<uint8_t> silence(kPlaybackBufferBytes, 0);
    pa_stream_write(playback_, silence.data(), silence.size(), nullptr, 0, PA_SEEK_RELATIVE);
  }

  // mutex_ held.
  void closeStreams() {
    if (!loop_) return;
    Lock lock(loop_);
    if (droppedBlocks_) LOG(INFO) << "PulseAudio took " << droppedBlocks_ << " blocks of the phone's audio too late";
    droppedBlocks_ = 0;
    dropStreams();
  }

  // Loop lock held.
  void dropStreams() {
    for (pa_stream** stream : {&playback_, &record_}) {
      if (!*stream) continue;
      pa_stream_set_state_callback(*stream, nullptr, nullptr);
      pa_stream_disconnect(*stream);
      pa_stream_unref(*stream);
      *stream = nullptr;
    }
  }

  bool failOpen(const char* why, bool quiet) {
    if (!quiet) LOG(WARNING) << "PulseAudio: " << why << "; the server runs without PC audio";
    dropStreams();
    return false;
  }

  // Waits (lock held) for an operation to finish.
  void waitFor(pa_operation* op) {
    if (!op) return;
    while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(loop_);
    pa_operation_unref(op);
  }

  // Loads `module` unless a device called `name` is there already.
  bool ensure(const char* name, bool source, const char* module, const char* args, bool quiet = false) {
    found_ = false;
    pa_operation* op = source ? pa_context_get_source_info_by_name(context_, name, &PulseWaveDevice::onSource, this)
                              : pa_context_get_sink_info_by_name(context_, name, &PulseWaveDevice::onSink, this);
    waitFor(op);
    if (found_) return true;
    loadedIndex_ = PA_INVALID_INDEX;
    waitFor(pa_context_load_module(context_, module, args, &PulseWaveDevice::onLoaded, this));
    if (loadedIndex_ == PA_INVALID_INDEX) {
      if (!quiet)
        LOG(WARNING) << "PulseAudio: could not make '" << name << "' (" << pa_strerror(pa_context_errno(context_))
                     << "); the server runs without PC audio";
      return false;
    }
    made_.push_back(MadeDevice{name, source, module, args, loadedIndex_});
    return true;
  }

  // The connection failed (or never came): the watcher takes over. Called
  // with mutex_ held or from a PulseAudio callback, so it only flags.
  void lost(bool announce) {
    std::lock_guard<std::mutex> lock(watchMutex_);
    if (lost_ || quit_) return;
    lost_ = true;
    announce_ = announce;
    if (!watcher_.joinable()) watcher_ = std::thread([this] { watch(); });
    watchCv_.notify_all();
  }

  void stopWatcher() {
    {
      std::lock_guard<std::mutex> lock(watchMutex_);
      quit_ = true;
      watchCv_.notify_all();
    }
    if (watcher_.joinable()) watcher_.join();
  }

  void watch() {
    std::unique_lock<std::mutex> lock(watchMutex_);
    for (;;) {
      watchCv_.wait(lock, [this] { return quit_ || lost_; });
      if (quit_) return;
      if (announce_) LOG(WARNING) << "PulseAudio connection lost; trying to connect again";
      auto pause = std::chrono::duration_cast<std::chrono::milliseconds>(kFirstRetry);
      bool back = false;
      while (!quit_ && !back) {
        if (watchCv_.wait_for(lock, pause, [this] { return quit_; })) return;
        pause = std::min(pause * 2, std::chrono::duration_cast<std::chrono::milliseconds>(kLongestRetry));
        lock.unlock();
        back = reconnect();
        lock.lock();
      }
      if (back) {
        lost_ = false;
        LOG(INFO) << "PulseAudio answers again; the devices and streams are back";
      }
    }
  }

  // One attempt, from the watcher: a fresh connection, the devices made
  // here, the streams if the link is open.
  bool reconnect() {
    std::lock_guard<std::shared_mutex> guard(mutex_);
    disconnect();
    if (!connect(true)) {
      disconnect();
      return false;
    }
    bool ok = true;
    {
      Lock lock(loop_);
      std::vector<MadeDevice> wanted;
      wanted.swap(made_);
      for (const MadeDevice& device : wanted)
        if (ok && wantDevices_) ok = ensure(device.name, device.source, device.module, device.args, true);
      if (!ok) made_ = wanted;  // the next attempt makes them again
    }
    if (ok && open_) ok = openStreams(true);
    if (!ok) disconnect();
    return ok;
  }

  static void onContextState(pa_context* context, void* self) {
    auto* device = static_cast<PulseWaveDevice*>(self);
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) device->lostInCallback();
    pa_threaded_mainloop_signal(device->loop_, 0);
  }
  static void onStreamState(pa_stream* stream, void* self) {
    auto* device = static_cast<PulseWaveDevice*>(self);
    if (pa_stream_get_state(stream) == PA_STREAM_FAILED) device->lostInCallback();
    pa_threaded_mainloop_signal(device->loop_, 0);
  }
  // Only a connection that was up counts as lost; failures while making
  // one are the maker's to report.
  void lostInCallback() {
    if (up_) lost(true);
  }
  static void onSuccess(pa_context*, int, void* self) {
    pa_threaded_mainloop_signal(static_cast<PulseWaveDevice*>(self)->loop_, 0);
  }
  static void onStreamSuccess(pa_stream*, int, void* self) {
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

  // Guards the connection against the watcher's swap: held exclusively by
  // the owner's calls and the watcher; the two device threads only try it
  // shared, so they never wait for a reconnection nor turn each other away.
  std::shared_mutex mutex_;
  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* playback_ = nullptr;
  pa_stream* record_ = nullptr;
  std::atomic<bool> open_{false};
  // Connected and ready: a failure from now on is a lost connection.
  std::atomic<bool> up_{false};
  bool wantDevices_ = false;
  std::vector<uint8_t> pending_;
  std::vector<MadeDevice> made_;
  uint64_t droppedBlocks_ = 0;
  int behindWrites_ = 0;
  bool found_ = false;
  uint32_t loadedIndex_ = PA_INVALID_INDEX;

  std::mutex watchMutex_;
  std::condition_variable watchCv_;
  std::thread watcher_;
  std::atomic<bool> lost_{false};
  bool announce_ = false;
  bool quit_ = false;
};

}  // namespace

std::unique_ptr<WaveDevice> createPlatformWaveDevice() { return std::make_unique<PulseWaveDevice>(); }

}  // namespace component
