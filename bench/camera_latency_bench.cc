// The Linux camera end to end: a phone on loopback sends the test card
// (1280 x 720, 10 pictures a second, so each new picture is told apart) to
// the real `server`, and a PipeWire consumer in this process takes the
// camera's frames. Each sample is the time from handing a picture to the
// socket to the first consumer frame that shows it. Counters: median_ms,
// p99_ms, and server_cpu (the server's CPU time over the wall time while it
// streams). The run with the camera off gives the server's share without
// the sink; the difference is the sink's.
//
// Run it beside a private PipeWire:
//   scripts/with-private-pipewire.sh build/linux/bench/bench_camera_latency
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/e2e/server_process.h"
#include "base/file_util.h"
#include "base/message_loop.h"
#include "base/platform_thread.h"
#include "base/reg_key.h"
#include "base/socket.h"
#include "components/component_message.h"
#include "tools/phonesim/phone_connection.h"
#include "tools/phonesim/video_sender.h"
#include "bench/server_bench_util.h"
#include "tools/vcamview/pipewire_view.h"

namespace {

using bench::cpuSeconds;
using bench::waitForServer;

using Clock = std::chrono::steady_clock;
constexpr char kPhoneId[] = "bench-camera-phone";
constexpr int kPhoneFramesPerSecond = 10;
constexpr int kFrames = 100;

uint64_t fingerprint(const std::vector<uint8_t>& data) {
  uint64_t hash = 1469598103934665603ULL;
  for (size_t i = 0; i < data.size(); i += 7) hash = (hash ^ data[i]) * 1099511628211ULL;
  return hash;
}

void BM_PhoneToPipeWireConsumer(benchmark::State& state) {
  const bool camera = state.range(0) != 0;
  const std::string size = std::to_string(state.range(1)) + "x" + std::to_string(state.range(2));
  PrivateUser user;
  if (!bench::prepareUser(state, user, size, camera, kPhoneId)) return;

  ServerProcess server;
  if (!server.start(ServerProcess::defaultProgram(), {}, base::joinPath(user.folder(), u"server.out"))) {
    state.SkipWithError("cannot start the server");
    return;
  }
  const int port = waitForServer(user, server, camera);
  base::MessageLoop loop;
  phonesim::PhoneConnection phone;
  std::vector<double> latenciesMs;
  double cpuShare = 0;
  std::string error;
  std::vector<std::vector<uint8_t>> messages;
  phonesim::VideoOptions options;
  options.source = "pattern";
  options.width = 1280;
  options.height = 720;
  if (port == 0 ||
      !bench::startVideoPhone(&loop, &phone, port, kPhoneId, options, &messages, &error)) {
    state.SkipWithError("no server to talk to");
  } else {
    loop.runFor(200);  // the acceptance goes first

    // The consumer: the times at which a new picture showed.
    std::mutex mu;
    std::vector<Clock::time_point> changes;
    std::atomic<bool> stop{false};
    std::thread consumer;
    if (camera) {
      consumer = std::thread([&] {
        uint64_t last = 0;
        std::string format, error;
        vcamview::watchPipeWire("lumora_camera", 120000, [&](const component::VideoFrame& picture) {
          const uint64_t now = fingerprint(picture.data);
          if (now != last) {
            last = now;
            std::lock_guard<std::mutex> lock(mu);
            changes.push_back(Clock::now());
          }
          return !stop.load();
        }, &format, &error);
      });
      base::PlatformThread::sleepMs(500);
    }
    for (auto _ : state) {
      std::vector<Clock::time_point> sent;
      const double cpuBefore = cpuSeconds(server.pid());
      const Clock::time_point start = Clock::now();
      Clock::time_point slot = start;
      for (int i = 0; i < kFrames && phone.isConnected(); ++i) {
        while (Clock::now() < slot) loop.runFor(1);
        slot += std::chrono::microseconds(1000000 / kPhoneFramesPerSecond);
        sent.push_back(Clock::now());
        phone.sendMessage(component::kVideoComponentId, messages[i % messages.size()]);
      }
      while (Clock::now() < slot) loop.runFor(1);
      cpuShare = (cpuSeconds(server.pid()) - cpuBefore) /
                 std::chrono::duration<double>(Clock::now() - start).count();
      std::lock_guard<std::mutex> lock(mu);
      for (const Clock::time_point& at : sent) {
        auto it = std::lower_bound(changes.begin(), changes.end(), at);
        if (it != changes.end() && *it - at < std::chrono::milliseconds(1000 / kPhoneFramesPerSecond))
          latenciesMs.push_back(std::chrono::duration<double, std::milli>(*it - at).count());
      }
    }
    stop = true;
    if (consumer.joinable()) consumer.join();
  }
  bench::setLatencyCounters(state, latenciesMs);
  state.counters["server_cpu"] = cpuShare;
  state.SetLabel(camera ? "camera " + size : "camera off");
  phone.abort();
  server.terminate();
  int code = 0;
  server.wait(10000, &code);
}
BENCHMARK(BM_PhoneToPipeWireConsumer)
    ->Args({0, 640, 480})
    ->Args({1, 640, 480})
    ->Args({1, 1280, 720})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
