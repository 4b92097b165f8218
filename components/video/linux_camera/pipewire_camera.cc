#include "components/video/linux_camera/pipewire_camera.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <spa/utils/result.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

#include "base/logging.h"
#include "components/video/linux_camera/camera_picture.h"

namespace component {

struct PipeWireCamera::Impl {
  LatestPicture* picture = nullptr;
  std::string nodeName;
  std::string description;
  pw_thread_loop* loop = nullptr;
  pw_context* context = nullptr;
  pw_core* core = nullptr;
  pw_stream* stream = nullptr;
  spa_hook streamListener{};
  spa_hook coreListener{};
  spa_source* timer = nullptr;
  // The loop thread's own.
  CameraFormat format = CameraFormat::kI420;
  bool negotiated = false;
  bool streaming = false;
  bool coreErrorLogged = false;
  uint64_t sequence = 0;
  PictureFormatter formatter;
  std::atomic<uint64_t> sent{0};

  // The watcher: publishes the node once a daemon answers, and again after
  // the daemon went away and came back.
  std::thread watcher;
  std::mutex watchMutex;
  std::condition_variable watchCv;
  bool quit = false;
  bool lost = false;  // the node is not published and should be

  void startTimer(bool on) {
    timespec value{}, interval{};
    if (on) {
      value.tv_nsec = 1;
      interval.tv_nsec = 1000000000L / kPipeWireFramesPerSecond;
    }
    pw_loop_update_timer(pw_thread_loop_get_loop(loop), timer, on ? &value : nullptr, on ? &interval : nullptr,
                         false);
  }
};

namespace {

using Impl = PipeWireCamera::Impl;

bool cameraFormatOf(uint32_t spaFormat, CameraFormat* format) {
  switch (spaFormat) {
    case SPA_VIDEO_FORMAT_I420: *format = CameraFormat::kI420; return true;
    case SPA_VIDEO_FORMAT_YUY2: *format = CameraFormat::kYUY2; return true;
    case SPA_VIDEO_FORMAT_BGR: *format = CameraFormat::kBGR; return true;
    default: return false;
  }
}

void onStateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error) {
  auto* impl = static_cast<Impl*>(data);
  if (state == PW_STREAM_STATE_ERROR) LOG(WARNING) << "Linux camera: the PipeWire stream failed: " << (error ? error : "");
  const bool streaming = state == PW_STREAM_STATE_STREAMING;
  if (streaming != impl->streaming) {
    impl->streaming = streaming;
    LOG(INFO) << "Linux camera: PipeWire " << (streaming ? "streams to a consumer" : "stream paused");
    impl->startTimer(streaming);
  }
}

void onParamChanged(void* data, uint32_t id, const spa_pod* param) {
  auto* impl = static_cast<Impl*>(data);
  if (id != SPA_PARAM_Format || !param) return;
  spa_video_info_raw info{};
  CameraFormat format;
  if (spa_format_video_raw_parse(param, &info) < 0 || !cameraFormatOf(info.format, &format) ||
      static_cast<int32_t>(info.size.width) != impl->picture->width() ||
      static_cast<int32_t>(info.size.height) != impl->picture->height()) {
    impl->negotiated = false;
    pw_stream_set_error(impl->stream, -EINVAL, "unsupported format");
    return;
  }
  impl->format = format;
  impl->negotiated = true;
  const int32_t width = impl->picture->width(), height = impl->picture->height();
  LOG(INFO) << "Linux camera: a PipeWire consumer takes " << cameraFormatName(format) << " at " << width << "x"
            << height;
  uint8_t buffer[1024];
  spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
  const spa_pod* params[2];
  params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers,
      SPA_PARAM_BUFFERS_buffers, SPA_POD_CHOICE_RANGE_Int(4, 2, 8),
      SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
      SPA_PARAM_BUFFERS_size, SPA_POD_Int(static_cast<int>(cameraFrameBytes(format, width, height))),
      SPA_PARAM_BUFFERS_stride, SPA_POD_Int(cameraRowBytes(format, width)),
      SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
  params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta,
      SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
      SPA_PARAM_META_size, SPA_POD_Int(static_cast<int>(sizeof(spa_meta_header)))));
  pw_stream_update_params(impl->stream, params, 2);
}

void onProcess(void* data) {
  auto* impl = static_cast<Impl*>(data);
  pw_buffer* buffer = pw_stream_dequeue_buffer(impl->stream);
  if (!buffer) return;
  spa_buffer* spa = buffer->buffer;
  spa_data& plane = spa->datas[0];
  const int32_t width = impl->picture->width(), height = impl->picture->height();
  const size_t bytes = cameraFrameBytes(impl->format, width, height);
  bool filled = false;
  if (impl->negotiated && plane.data && plane.maxsize >= bytes) {
    impl->picture->read([&](const uint8_t* i420, uint64_t, int64_t) {
      filled = impl->formatter.format(i420, width, height, impl->format, static_cast<uint8_t*>(plane.data));
    });
  }
  plane.chunk->offset = 0;
  plane.chunk->size = filled ? static_cast<uint32_t>(bytes) : 0;
  plane.chunk->stride = cameraRowBytes(impl->format, width);
  plane.chunk->flags = filled ? 0 : SPA_CHUNK_FLAG_CORRUPTED;
  if (auto* header = static_cast<spa_meta_header*>(spa_buffer_find_meta_data(spa, SPA_META_Header, sizeof(spa_meta_header)))) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    header->pts = static_cast<int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
    header->flags = 0;
    header->seq = impl->sequence++;
    header->dts_offset = 0;
  }
  pw_stream_queue_buffer(impl->stream, buffer);
  if (filled) impl->sent.fetch_add(1, std::memory_order_relaxed);
}

void onTimer(void* data, uint64_t) {
  auto* impl = static_cast<Impl*>(data);
  if (impl->streaming) pw_stream_trigger_process(impl->stream);
}

void daemonLost(Impl& impl);

void onCoreError(void* data, uint32_t id, int, int res, const char* message) {
  auto* impl = static_cast<Impl*>(data);
  // EPIPE: the connection broke, the daemon is gone (stopped or crashed).
  if (id == PW_ID_CORE && res == -EPIPE) {
    daemonLost(*impl);
    return;
  }
  // The daemon went away or refused us: said once, the server runs on.
  if (id == PW_ID_CORE && !impl->coreErrorLogged) {
    impl->coreErrorLogged = true;
    LOG(WARNING) << "Linux camera: PipeWire: " << (message ? message : "") << " (" << spa_strerror(res) << ")";
  }
}

pw_stream_events makeStreamEvents() {
  pw_stream_events events{};
  events.version = PW_VERSION_STREAM_EVENTS;
  events.state_changed = onStateChanged;
  events.param_changed = onParamChanged;
  events.process = onProcess;
  return events;
}

pw_core_events makeCoreEvents() {
  pw_core_events events{};
  events.version = PW_VERSION_CORE_EVENTS;
  events.error = onCoreError;
  return events;
}

const pw_stream_events kStreamEvents = makeStreamEvents();
const pw_core_events kCoreEvents = makeCoreEvents();

}  // namespace

PipeWireCamera::PipeWireCamera(LatestPicture* picture, const std::string& nodeName, const std::string& description)
    : impl_(std::make_unique<Impl>()) {
  impl_->picture = picture;
  impl_->nodeName = nodeName;
  impl_->description = description;
}

PipeWireCamera::~PipeWireCamera() { Stop(); }

namespace {

void teardown(Impl& impl);

// Connects and publishes the node. `quiet`: a retry of the watcher, which
// has said already that no daemon answers.
bool publish(Impl& impl, bool quiet) {
  pw_init(nullptr, nullptr);
  impl.coreErrorLogged = quiet;
  impl.loop = pw_thread_loop_new("lumora-camera", nullptr);
  if (!impl.loop) {
    LOG(WARNING) << "Linux camera: can't make PipeWire's loop";
    return false;
  }
  impl.context = pw_context_new(pw_thread_loop_get_loop(impl.loop), nullptr, 0);
  if (!impl.context) {
    LOG(WARNING) << "Linux camera: can't make a PipeWire context";
    teardown(impl);
    return false;
  }
  if (pw_thread_loop_start(impl.loop) < 0) {
    LOG(WARNING) << "Linux camera: can't start PipeWire's loop";
    teardown(impl);
    return false;
  }
  pw_thread_loop_lock(impl.loop);
  impl.core = pw_context_connect(impl.context, nullptr, 0);
  if (!impl.core) {
    const int error = errno;
    pw_thread_loop_unlock(impl.loop);
    // EHOSTDOWN: nothing listens on the socket, the usual case.
    if (!quiet)
      LOG(WARNING) << "Linux camera: no PipeWire daemon answers"
                   << (error != EHOSTDOWN ? " (" + std::string(std::strerror(error)) + ")" : std::string())
                   << "; the camera is published through PipeWire once one does";
    teardown(impl);
    return false;
  }
  pw_core_add_listener(impl.core, &impl.coreListener, &kCoreEvents, &impl);
  pw_properties* props = pw_properties_new(
      PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE, "Camera",
      PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_NODE_NAME, impl.nodeName.c_str(),
      PW_KEY_NODE_DESCRIPTION, impl.description.c_str(), nullptr);
  impl.stream = pw_stream_new(impl.core, impl.nodeName.c_str(), props);
  if (!impl.stream) {
    pw_thread_loop_unlock(impl.loop);
    LOG(WARNING) << "Linux camera: can't make the PipeWire stream";
    teardown(impl);
    return false;
  }
  pw_stream_add_listener(impl.stream, &impl.streamListener, &kStreamEvents, &impl);
  impl.timer = pw_loop_add_timer(pw_thread_loop_get_loop(impl.loop), onTimer, &impl);

  uint8_t buffer[2048];
  spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
  spa_rectangle size = SPA_RECTANGLE(static_cast<uint32_t>(impl.picture->width()),
                                     static_cast<uint32_t>(impl.picture->height()));
  spa_fraction rate = SPA_FRACTION(kPipeWireFramesPerSecond, 1);
  const uint32_t formats[] = {SPA_VIDEO_FORMAT_I420, SPA_VIDEO_FORMAT_YUY2, SPA_VIDEO_FORMAT_BGR};
  const spa_pod* params[3];
  for (size_t i = 0; i < 3; ++i) {
    params[i] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat,
        SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
        SPA_FORMAT_VIDEO_format, SPA_POD_Id(formats[i]),
        SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate)));
  }
  const int rc = pw_stream_connect(
      impl.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
      static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS), params, 3);
  pw_thread_loop_unlock(impl.loop);
  if (rc < 0) {
    if (!quiet) LOG(WARNING) << "Linux camera: can't publish the PipeWire node (" << spa_strerror(rc) << ")";
    teardown(impl);
    return false;
  }
  LOG(INFO) << "Linux camera: PipeWire node \"" << impl.nodeName << "\" at " << impl.picture->width() << "x"
            << impl.picture->height();
  return true;
}

void teardown(Impl& impl) {
  if (!impl.loop) return;
  pw_thread_loop_lock(impl.loop);
  if (impl.timer) pw_loop_destroy_source(pw_thread_loop_get_loop(impl.loop), impl.timer);
  impl.timer = nullptr;
  if (impl.stream) pw_stream_destroy(impl.stream);
  impl.stream = nullptr;
  if (impl.core) {
    spa_hook_remove(&impl.coreListener);
    pw_core_disconnect(impl.core);
  }
  impl.core = nullptr;
  impl.streaming = false;
  pw_thread_loop_unlock(impl.loop);
  pw_thread_loop_stop(impl.loop);
  if (impl.context) pw_context_destroy(impl.context);
  impl.context = nullptr;
  pw_thread_loop_destroy(impl.loop);
  impl.loop = nullptr;
}

constexpr auto kFirstRetry = std::chrono::milliseconds(1000);
constexpr auto kLongestRetry = std::chrono::milliseconds(5000);

// The watcher's thread: whenever the node should be there and is not, tries
// again after a pause that grows from one second to five.
void watch(Impl& impl) {
  std::unique_lock<std::mutex> lock(impl.watchMutex);
  for (;;) {
    impl.watchCv.wait(lock, [&] { return impl.quit || impl.lost; });
    if (impl.quit) return;
    auto pause = kFirstRetry;
    while (impl.lost) {
      if (impl.watchCv.wait_for(lock, pause, [&] { return impl.quit; })) return;
      pause = std::min(pause * 2, kLongestRetry);
      lock.unlock();
      teardown(impl);
      const bool published = publish(impl, true);
      lock.lock();
      if (published) impl.lost = false;
    }
  }
}

// From the loop thread: the daemon is gone; the watcher takes over.
void daemonLost(Impl& impl) {
  std::lock_guard<std::mutex> lock(impl.watchMutex);
  if (impl.lost || impl.quit) return;
  LOG(WARNING) << "Linux camera: the PipeWire daemon went away; the camera is published again when it is back";
  impl.lost = true;
  impl.watchCv.notify_all();
}

}  // namespace

bool PipeWireCamera::Start() {
  Impl& impl = *impl_;
  if (impl.watcher.joinable()) return true;
  const bool published = publish(impl, false);
  impl.quit = false;
  impl.lost = !published;
  impl.watcher = std::thread([&impl] { watch(impl); });
  return published;
}

void PipeWireCamera::Stop() {
  Impl& impl = *impl_;
  if (impl.watcher.joinable()) {
    {
      std::lock_guard<std::mutex> lock(impl.watchMutex);
      impl.quit = true;
      impl.watchCv.notify_all();
    }
    impl.watcher.join();
  }
  teardown(impl);
}

bool PipeWireCamera::waiting() const {
  std::lock_guard<std::mutex> lock(impl_->watchMutex);
  return impl_->watcher.joinable() && impl_->lost;
}

uint64_t PipeWireCamera::framesSent() const { return impl_->sent.load(std::memory_order_relaxed); }

}  // namespace component
