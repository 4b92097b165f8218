// Latency from phone to camera: a phone on loopback sends the test card at 30 frames per second to
// the real `server`; each sample is the time from handing a frame to the
// socket to its picture standing complete in the camera's shared memory
// (no more changes for 2 ms). Counters: median and 99th percentile in
// milliseconds. Goal: median under 5 ms.
//
// Needs the `server` program and its resource library built beside the
// benchmark (bin/), like the end-to-end tests.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/e2e/server_process.h"
#include "base/file_util.h"
#include "base/message_loop.h"
#include "base/reg_key.h"
#include "base/socket.h"
#include "bench/server_bench_util.h"
#include "components/component_message.h"
#include "tools/phonesim/phone_connection.h"
#include "tools/phonesim/video_sender.h"
#include "tools/soak/frame_probe.h"
#include "tools/vcamview/camera_view.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr char kPhoneId[] = "bench-phone";
constexpr int kFramesPerSecond = 30;
constexpr int kFrames = 300;

void BM_PhoneToCameraLatency(benchmark::State& state) {
  PrivateUser user;
  if (!user.setUp()) {
    state.SkipWithError("no private user");
    return;
  }
  base::initializeSockets();
  const std::string section = "LumoraZuvIridarLatency-" + std::to_string(Clock::now().time_since_epoch().count() % 100000);
  setenv("LUMORA_CAMERA_SECTION", section.c_str(), 1);
  component::SharedSection::unlink(section);
  user.allowPhone(kPhoneId, u"Bench phone");

  ServerProcess server;
  if (!server.start(ServerProcess::defaultProgram(), {}, base::joinPath(user.folder(), u"server.out"))) {
    state.SkipWithError("cannot start the server");
    return;
  }
  const int port = bench::waitForServer(user, server, false);
  vcamview::CameraView camera(section);
  base::MessageLoop loop;
  phonesim::PhoneConnection phone;
  std::vector<double> latenciesMs;
  std::string error;
  std::vector<std::vector<uint8_t>> messages;
  if (port != 0 && camera.ok()) camera.request(352, 288);
  phonesim::VideoOptions options;
  options.source = "pattern";
  options.orientation = 4;
  if (port == 0 || !camera.ok() ||
      !bench::startVideoPhone(&loop, &phone, port, kPhoneId, options, &messages, &error)) {
    state.SkipWithError("no server to talk to");
  } else {
    loop.runFor(200);  // the acceptance goes first

    soak::CameraWatcher watcher(&camera, 0);
    for (auto _ : state) {
      latenciesMs.clear();
      Clock::time_point slot = Clock::now();
      for (int i = 0; i < kFrames && phone.isConnected(); ++i) {
        std::this_thread::sleep_until(slot);
        slot += std::chrono::microseconds(1000000 / kFramesPerSecond);
        double ms = 0;
        if (soak::measureFrame(
                watcher, [&] { phone.sendMessage(component::kVideoComponentId, messages[i % messages.size()]); },
                [&] { loop.runFor(0); }, &ms))
          latenciesMs.push_back(ms);
      }
    }
  }
  bench::setLatencyCounters(state, latenciesMs);
  phone.abort();
  server.terminate();
  int code = 0;
  server.wait(10000, &code);
  component::SharedSection::unlink(section);
}
BENCHMARK(BM_PhoneToCameraLatency)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
