#include "tools/vcamview/pipewire_view.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <cstring>

#include "components/video/linux_camera/camera_picture.h"

namespace vcamview {
namespace {

struct Consumer {
  pw_main_loop* loop = nullptr;
  pw_stream* stream = nullptr;
  spa_hook listener{};
  spa_video_info_raw info{};
  component::CameraFormat format = component::CameraFormat::kBGR;
  bool negotiated = false;
  std::function<bool(const component::VideoFrame&)> picture;
  std::string format_name;
  std::string error;
};

void onParamChanged(void* data, uint32_t id, const spa_pod* param) {
  auto* c = static_cast<Consumer*>(data);
  if (id != SPA_PARAM_Format || !param) return;
  if (spa_format_video_raw_parse(param, &c->info) < 0) return;
  switch (c->info.format) {
    case SPA_VIDEO_FORMAT_I420: c->format = component::CameraFormat::kI420; break;
    case SPA_VIDEO_FORMAT_YUY2: c->format = component::CameraFormat::kYUY2; break;
    default: c->format = component::CameraFormat::kBGR; break;
  }
  c->negotiated = true;
  c->format_name = std::string(component::cameraFormatName(c->format)) + " " +
                       std::to_string(c->info.size.width) + "x" + std::to_string(c->info.size.height);
}

void onProcess(void* data) {
  auto* c = static_cast<Consumer*>(data);
  pw_buffer* buffer = pw_stream_dequeue_buffer(c->stream);
  if (!buffer) return;
  const spa_data& plane = buffer->buffer->datas[0];
  const int32_t w = static_cast<int32_t>(c->info.size.width), h = static_cast<int32_t>(c->info.size.height);
  const size_t bytes = component::cameraFrameBytes(c->format, w, h);
  bool more = true;
  if (c->negotiated && plane.data && plane.chunk->size >= bytes && plane.chunk->offset + bytes <= plane.maxsize) {
    component::VideoFrame picture;
    picture.width = w;
    picture.height = h;
    picture.pixel_format = component::kPixelFormat_24RGB;
    picture.stride = w * 3;
    component::cameraPictureToBGR(static_cast<const uint8_t*>(plane.data) + plane.chunk->offset, c->format, w, h,
                                  &picture.data);
    more = c->picture(picture);
  }
  pw_stream_queue_buffer(c->stream, buffer);
  if (!more) pw_main_loop_quit(c->loop);
}

void onStateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error) {
  auto* c = static_cast<Consumer*>(data);
  if (state == PW_STREAM_STATE_ERROR) {
    c->error = std::string("stream error: ") + (error ? error : "");
    pw_main_loop_quit(c->loop);
  }
}

void onTimeout(void* data, uint64_t) {
  auto* c = static_cast<Consumer*>(data);
  if (c->error.empty()) c->error = "no pictures in time";
  pw_main_loop_quit(c->loop);
}

}  // namespace

bool capturePipeWire(const std::string& target, int skip, int count, int timeoutMs, PipeWireCapture* capture,
                     std::string* error) {
  const bool ran = watchPipeWire(
      target, timeoutMs,
      [&](const component::VideoFrame& picture) {
        if (skip > 0) {
          --skip;
          return true;
        }
        capture->pictures.push_back(picture);
        return static_cast<int>(capture->pictures.size()) < count;
      },
      &capture->format, error);
  if (ran && static_cast<int>(capture->pictures.size()) < count) *error = "too few pictures";
  return ran && static_cast<int>(capture->pictures.size()) >= count;
}

bool watchPipeWire(const std::string& target, int timeoutMs,
                   const std::function<bool(const component::VideoFrame& picture)>& picture, std::string* format,
                   std::string* error) {
  pw_init(nullptr, nullptr);
  Consumer c;
  c.picture = picture;
  c.loop = pw_main_loop_new(nullptr);
  pw_context* context = pw_context_new(pw_main_loop_get_loop(c.loop), nullptr, 0);
  pw_core* core = context ? pw_context_connect(context, nullptr, 0) : nullptr;
  if (!core) {
    *error = "no PipeWire daemon answers";
    if (context) pw_context_destroy(context);
    pw_main_loop_destroy(c.loop);
    return false;
  }
  pw_stream_events events{};
  events.version = PW_VERSION_STREAM_EVENTS;
  events.param_changed = onParamChanged;
  events.process = onProcess;
  events.state_changed = onStateChanged;
  c.stream = pw_stream_new(core, "vcamview",
                           pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                             PW_KEY_MEDIA_ROLE, "Camera", PW_KEY_TARGET_OBJECT, target.c_str(),
                                             nullptr));
  pw_stream_add_listener(c.stream, &c.listener, &events, &c);
  uint8_t buffer[1024];
  spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
  spa_rectangle size = SPA_RECTANGLE(640, 480), smallest = SPA_RECTANGLE(1, 1), largest = SPA_RECTANGLE(8192, 8192);
  spa_fraction rate = SPA_FRACTION(30, 1), slowest = SPA_FRACTION(0, 1), fastest = SPA_FRACTION(1000, 1);
  const spa_pod* params[1] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat,
      SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
      SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
      SPA_FORMAT_VIDEO_format, SPA_POD_CHOICE_ENUM_Id(4, SPA_VIDEO_FORMAT_BGR, SPA_VIDEO_FORMAT_BGR,
                                                      SPA_VIDEO_FORMAT_I420, SPA_VIDEO_FORMAT_YUY2),
      SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&size, &smallest, &largest),
      SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&rate, &slowest, &fastest)))};
  pw_stream_connect(c.stream, PW_DIRECTION_INPUT, PW_ID_ANY,
                    static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
  spa_source* timer = pw_loop_add_timer(pw_main_loop_get_loop(c.loop), onTimeout, &c);
  timespec value{timeoutMs / 1000, static_cast<long>(timeoutMs % 1000) * 1000000L};
  pw_loop_update_timer(pw_main_loop_get_loop(c.loop), timer, &value, nullptr, false);
  pw_main_loop_run(c.loop);
  pw_loop_destroy_source(pw_main_loop_get_loop(c.loop), timer);
  pw_stream_destroy(c.stream);
  pw_core_disconnect(core);
  pw_context_destroy(context);
  pw_main_loop_destroy(c.loop);
  *format = c.format_name;
  if (!c.error.empty()) {
    *error = c.error;
    return false;
  }
  return true;
}

}  // namespace vcamview
