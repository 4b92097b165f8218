// The Linux camera's work per picture, in-process: fitting a phone picture
// (1280 x 720, as a phone sends it) into the camera's size, and turning the
// camera's picture into each offered format for a consumer. The sink's CPU
// share at 30 frames per second is 30 x (fit + format) for a phone at 30;
// the counter cpu_share_30fps says it for one consumer.
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "components/video/linux_camera/camera_picture.h"
#include "components/video/linux_camera/linux_camera.h"
#include "components/video/test_card.h"
#include "components/video/video_geometry.h"

namespace {

using component::CameraFormat;

void BM_CameraSinkPerFrame(benchmark::State& state) {
  const int32_t width = static_cast<int32_t>(state.range(0)), height = static_cast<int32_t>(state.range(1));
  const auto format = static_cast<CameraFormat>(state.range(2));
  component::LinuxCameraOptions options;
  options.width = width;
  options.height = height;
  options.pipewire = options.v4l2 = false;
  component::LinuxCamera camera(options);
  camera.SetPhoneAccepted(true);
  // The phone's 1280 x 720 picture, or (reduced) the picture as the decoder
  // hands it over when the camera asks for less than the whole: the fitted
  // rectangle's size.
  component::VideoFrame phone = component::makeTestCard(1280, 720);
  if (state.range(3) != 0) {
    const component::FitRect rect = component::fitRectangle(1280, 720, width, height, component::kFitInside);
    phone = component::makeTestCard(rect.width, rect.height);
    phone.picture_width = 1280;
    phone.picture_height = 720;
  }
  component::PictureFitter fitter;
  component::PictureFormatter formatter;
  std::vector<uint8_t> out(component::cameraFrameBytes(format, width, height));
  auto threadCpu = [] {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
  };
  const double cpuStart = threadCpu();
  for (auto _ : state) {
    // As the server does it: the fit on the frame's arrival, the format on
    // the consumer's tick.
    camera.picture()->update([&](uint8_t* i420) { return fitter.fit(phone, width, height, i420); });
    camera.picture()->read([&](const uint8_t* i420, uint64_t, int64_t) {
      formatter.format(i420, width, height, format, out.data());
    });
    benchmark::DoNotOptimize(out.data());
  }
  state.SetLabel(std::string(component::cameraFormatName(format)) + (state.range(3) != 0 ? " reduced" : ""));
  // The share of one core at 30 pictures a second.
  state.counters["cpu_share_30fps"] =
      30.0 * (threadCpu() - cpuStart) / static_cast<double>(std::max<int64_t>(1, state.iterations()));
}
BENCHMARK(BM_CameraSinkPerFrame)
    ->ArgNames({"w", "h", "format", "reduced"})
    ->Args({640, 480, static_cast<int>(CameraFormat::kI420), 0})
    ->Args({640, 480, static_cast<int>(CameraFormat::kYUY2), 0})
    ->Args({640, 480, static_cast<int>(CameraFormat::kBGR), 0})
    ->Args({640, 480, static_cast<int>(CameraFormat::kI420), 1})
    ->Args({640, 480, static_cast<int>(CameraFormat::kYUY2), 1})
    ->Args({640, 480, static_cast<int>(CameraFormat::kBGR), 1})
    ->Args({1280, 720, static_cast<int>(CameraFormat::kI420), 0})
    ->Args({1280, 720, static_cast<int>(CameraFormat::kYUY2), 0})
    ->Args({1280, 720, static_cast<int>(CameraFormat::kBGR), 0})
    ->Unit(benchmark::kMillisecond);

}  // namespace
