// The video path's cost: one 640 x 480 JPEG frame from the phone, held turned (orientation 4),
// through the video component's decode and turn, then fitted to 352 x 288
// and drawn into the camera's shared memory, against the bare libjpeg-turbo
// decode of the same frame. Goal: the whole path at most 1.3 x the bare
// decode.
//
// BM_SideBySide times both in every iteration, one after the other, so a
// noisy machine slows both alike; its counters carry the two times and
// their ratio. The separate benchmarks give the usual per-path figures.
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <time.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/logging.h"
#include "base/message_loop.h"
#include "components/session_gate.h"
#include "components/video/picture_codec.h"
#include "components/video/test_card.h"
#include "components/video/video_component.h"
#include "components/video/video_driver.h"
#include "transport/transport.h"

namespace {

using namespace component;
using Clock = std::chrono::steady_clock;

constexpr int32_t kWidth = 640;
constexpr int32_t kHeight = 480;
constexpr uint32_t kOrientation = 4;  // turned by 90 degrees

std::vector<uint8_t> phoneJpeg() {
  // A 640 x 480 picture as the phone sends it (the card taken sideways).
  const VideoFrame taken = takeAsPhone(makeTestCard(kHeight, kWidth), kOrientation);
  std::vector<uint8_t> jpeg;
  encodeJpeg(taken.data.data(), taken.width, taken.height, taken.rowBytes(), &jpeg);
  return jpeg;
}

// The bare decode: TurboJPEG into a reused buffer.
class BareDecoder {
 public:
  BareDecoder() : handle_(tjInitDecompress()), pixels_(static_cast<size_t>(kWidth) * kHeight * 3) {}
  ~BareDecoder() { tjDestroy(handle_); }
  void decode(const std::vector<uint8_t>& jpeg) {
    tjDecompress2(handle_, jpeg.data(), static_cast<unsigned long>(jpeg.size()), pixels_.data(), kWidth,
                  kWidth * 3, kHeight, TJPF_BGR, 0);
    benchmark::DoNotOptimize(pixels_.data());
  }

 private:
  tjhandle handle_;
  std::vector<uint8_t> pixels_;
};

// The product's path: the video component's processing and the camera output.
class Pipeline {
 public:
  Pipeline() : name_("LumoraZuvIridarBench-" + std::to_string(Clock::now().time_since_epoch().count() % 100000)) {
    base::setMinLogSeverity(base::LOG_ERROR);
    transport_.setApplicationId(12000);
    driver_ = std::make_unique<VideoDriver>(name_);
    // As in the server: the camera output watches the component, which
    // asks it how much of the picture it needs.
    video_.AddObserver(driver_.get());
    camera_ = std::make_unique<SharedSection>(name_, kCameraSectionBytes, kCameraViewBytes, false);
    const int32_t w = 352, h = 288;
    std::memcpy(camera_->data() + kCameraRequestedWidthOffset, &w, 4);
    std::memcpy(camera_->data() + kCameraRequestedHeightOffset, &h, 4);
    input_.width = kWidth;
    input_.height = kHeight;
    input_.pixel_format = kPixelFormat_JPEG;
    input_.flags = kOrientation;
    input_.data = phoneJpeg();
  }
  ~Pipeline() {
    video_.RemoveObserver(driver_.get());
    SharedSection::unlink(name_);
  }
  const std::vector<uint8_t>& jpeg() const { return input_.data; }
  bool run() {
    if (!video_.ProcessFrame(input_, &output_)) return false;
    return driver_->WriteFrame(output_);
  }

 private:
  std::string name_;
  base::MessageLoop loop_;
  transport::Transport transport_;
  SessionGate gate_{&transport_};
  VideoComponent video_{&transport_, kVideoComponentId, &gate_};
  std::unique_ptr<VideoDriver> driver_;
  std::unique_ptr<SharedSection> camera_;
  VideoFrame input_;
  VideoFrame output_;
};

void BM_BareDecode(benchmark::State& state) {
  Pipeline pipeline;
  BareDecoder bare;
  for (auto _ : state) bare.decode(pipeline.jpeg());
}
BENCHMARK(BM_BareDecode)->Unit(benchmark::kMicrosecond);

void BM_DecodeTurnFitWrite(benchmark::State& state) {
  Pipeline pipeline;
  for (auto _ : state) {
    if (!pipeline.run()) state.SkipWithError("the pipeline failed");
  }
}
BENCHMARK(BM_DecodeTurnFitWrite)->Unit(benchmark::kMicrosecond);

// This thread's CPU time: on a machine shared with other work, the wall
// clock also counts the time the thread waited for a core.
double threadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
}

void BM_SideBySide(benchmark::State& state) {
  Pipeline pipeline;
  BareDecoder bare;
  double bareSeconds = 0, pipelineSeconds = 0;
  double bareCpu = 0, pipelineCpu = 0;
  for (auto _ : state) {
    const double cpuA = threadCpuSeconds();
    const Clock::time_point a = Clock::now();
    bare.decode(pipeline.jpeg());
    const Clock::time_point b = Clock::now();
    const double cpuB = threadCpuSeconds();
    const Clock::time_point b2 = Clock::now();
    if (!pipeline.run()) state.SkipWithError("the pipeline failed");
    const Clock::time_point c = Clock::now();
    const double cpuC = threadCpuSeconds();
    bareSeconds += std::chrono::duration<double>(b - a).count();
    pipelineSeconds += std::chrono::duration<double>(c - b2).count();
    bareCpu += cpuB - cpuA;
    pipelineCpu += cpuC - cpuB;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["bare_us"] = bareSeconds / n * 1e6;
  state.counters["pipeline_us"] = pipelineSeconds / n * 1e6;
  state.counters["ratio"] = bareSeconds > 0 ? pipelineSeconds / bareSeconds : 0;
  // The same from CPU time (each side also carries one clock reading).
  state.counters["bare_cpu_us"] = bareCpu / n * 1e6;
  state.counters["pipeline_cpu_us"] = pipelineCpu / n * 1e6;
  state.counters["cpu_ratio"] = bareCpu > 0 ? pipelineCpu / bareCpu : 0;
}
BENCHMARK(BM_SideBySide)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

}  // namespace

namespace {

// The parts on their own, to see where the time goes.
void BM_PartTurn(benchmark::State& state) {
  const component::VideoFrame taken = component::takeAsPhone(component::makeTestCard(kHeight, kWidth), kOrientation);
  component::VideoRotator rotator;
  component::VideoFrame out;
  for (auto _ : state) rotator.Convert(taken, &out);
}
BENCHMARK(BM_PartTurn)->Unit(benchmark::kMicrosecond);

void BM_PartFitWrite(benchmark::State& state) {
  const component::VideoFrame upright = component::makeTestCard(kHeight, kWidth);
  component::VideoScaler scaler(component::kFitInside);
  std::vector<uint8_t> area(component::kCameraPixelBytes);
  for (auto _ : state) scaler.Scale(upright, 352, 288, area.data());
}
BENCHMARK(BM_PartFitWrite)->Unit(benchmark::kMicrosecond);

}  // namespace
