// The whole Linux server at its real job: a phone on loopback sends the
// 1280 x 720 test card as JPEG at 30 pictures a second and speaks iLBC
// without pause, PC programs play into the simulated sound device, the
// PipeWire camera runs at 1280 x 720 with a consumer in this process taking
// its frames, and (second run) the phone has a recording running. Counters:
// cpu_pct, the server's user + system time over the measured span as a
// share of one core; peak_rss_mb, its resident high-water mark; and the
// frames the consumer saw a second.
//
// Run it beside a private PipeWire:
//   scripts/with-private-pipewire.sh build/linux/bin/bench_server_load
// LUMORA_LOAD_SECONDS sets the span (30 by default).
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
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
#include "tools/phonesim/phone_audio.h"
#include "tools/phonesim/phone_connection.h"
#include "tools/phonesim/session_messages.h"
#include "tools/phonesim/video_sender.h"
#include "bench/server_bench_util.h"
#include "tools/vcamview/pipewire_view.h"

namespace {

using bench::cpuSeconds;
using bench::waitForServer;

using Clock = std::chrono::steady_clock;
constexpr char kPhoneId[] = "bench-load-phone";
constexpr int kFramesPerSecond = 30;
constexpr double kPi = 3.14159265358979323846;

// The resident high-water mark of a process.

double peakRssMb(uint32_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024;
  return 0;
}

// CPU seconds per thread name ("main" for the first thread), summed.
std::map<std::string, double> threadSeconds(uint32_t pid) {
  std::map<std::string, double> out;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = ::opendir(tasks.c_str());
  if (!dir) return out;
  while (dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream comm(tasks + "/" + entry->d_name + "/comm");
    std::string name;
    std::getline(comm, name);
    if (std::to_string(pid) == entry->d_name) name = "main";
    out[name] += cpuSeconds(pid, entry->d_name);
  }
  ::closedir(dir);
  return out;
}

// What PC programs play: a tone the simulated device hands the server at
// its pace (48 kHz, 16-bit mono), longer than any run.
bool writeCaptureTone(const std::string& folder, int seconds) {
  std::vector<int16_t> pcm(static_cast<size_t>(48000) * seconds);
  for (size_t i = 0; i < pcm.size(); ++i)
    pcm[i] = static_cast<int16_t>(3000 * std::sin(2 * kPi * 300 * static_cast<double>(i) / 48000));
  std::ofstream out(folder + "/capture.raw", std::ios::binary);
  out.write(reinterpret_cast<const char*>(pcm.data()), static_cast<std::streamsize>(pcm.size() * 2));
  return static_cast<bool>(out);
}

void BM_ServerAtWork(benchmark::State& state) {
  const bool recording = state.range(0) != 0;
  const char* secondsText = std::getenv("LUMORA_LOAD_SECONDS");
  const int seconds = secondsText ? std::max(5, std::atoi(secondsText)) : 30;
  PrivateUser user;
  if (!bench::prepareUser(state, user, "1280x720", true, kPhoneId)) return;
  const std::string device = base::wideToUtf8(base::joinPath(user.folder(), u"device"));
  base::createDirectories(base::joinPath(user.folder(), u"device"));
  if (!writeCaptureTone(device, seconds + 30)) {
    state.SkipWithError("cannot write the simulated device's capture file");
    return;
  }
  ::setenv("LUMORA_AUDIO_DEVICE", ("sim:" + device).c_str(), 1);

  ServerProcess server;
  if (!server.start(ServerProcess::defaultProgram(), {}, base::joinPath(user.folder(), u"server.out"))) {
    state.SkipWithError("cannot start the server");
    return;
  }
  const int port = waitForServer(user, server, true);

  base::MessageLoop loop;
  phonesim::PhoneConnection phone;
  std::ostringstream audioReport;
  phonesim::AudioOptions audioOptions;
  audioOptions.awaitAuth = true;
  audioOptions.profile = "ilbc-20ms";
  audioOptions.microphone = [](uint64_t packet, Clock::time_point, int16_t* pcm) {
    for (size_t i = 0; i < phonesim::PhoneAudio::kPacketSamples; ++i) {
      const double t = static_cast<double>(packet * phonesim::PhoneAudio::kPacketSamples + i) / 8000;
      pcm[i] = static_cast<int16_t>(3000 * std::sin(2 * kPi * 200 * t));
    }
  };
  std::atomic<uint64_t> heard{0};
  audioOptions.onReceived = [&](const int16_t*, size_t count) { heard += count; };
  bool audioOk = false;
  phonesim::PhoneAudio audio(audioOptions, &phone, audioReport, &audioOk);

  std::string error;
  std::vector<std::vector<uint8_t>> messages;
  phonesim::VideoOptions video;
  video.source = "pattern";
  video.width = 1280;
  video.height = 720;
  if (port == 0 || !audioOk ||
      !bench::startVideoPhone(&loop, &phone, port, kPhoneId, video, &messages, &error)) {
    state.SkipWithError(("no server to talk to: " + error).c_str());
    server.terminate();
    int code = 0;
    server.wait(10000, &code);
    return;
  }
  loop.runFor(500);  // the acceptance goes first

  std::atomic<uint64_t> consumed{0};
  std::atomic<bool> stop{false};
  std::thread consumer([&] {
    std::string format, watchError;
    vcamview::watchPipeWire("lumora_camera", (seconds + 60) * 1000, [&](const component::VideoFrame&) {
      ++consumed;
      return !stop.load();
    }, &format, &watchError);
  });
  // Settle for two seconds (the consumer connects, the pictures flow; the
  // recording takes its size from them, so it starts after), then measure.
  const auto frameSlot = std::chrono::microseconds(1000000 / kFramesPerSecond);
  Clock::time_point slot = Clock::now();
  uint64_t sent = 0;
  auto sendFor = [&](Clock::duration span) {
    const Clock::time_point end = Clock::now() + span;
    while (Clock::now() < end && phone.isConnected()) {
      const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(slot - Clock::now()).count();
      if (wait > 0) loop.runFor(static_cast<uint32_t>(wait));
      slot = std::max(slot + frameSlot, Clock::now() - frameSlot);
      phone.sendMessage(component::kVideoComponentId, messages[sent++ % messages.size()]);
    }
  };
  sendFor(std::chrono::seconds(2));
  if (recording) {
    phone.sendMessage(phonesim::kActionType, phonesim::actionMessage(1));
    sendFor(std::chrono::seconds(1));
  }
  const std::string log = user.logOf(server.pid());
  const bool started = !recording || (log.find("Start recording. Frame: 1280x720") != std::string::npos &&
                                      log.find("could not open") == std::string::npos);
  if (!started) {
    state.SkipWithError("the recording did not start");
    std::fprintf(stderr, "%s\n", log.c_str());
  }
  double cpuShare = 0, consumedPerSecond = 0, heardPerSecond = 0;
  std::map<std::string, double> threadsBefore, threadShare;
  for (auto _ : state) {
    if (!started) break;
    const double cpuBefore = cpuSeconds(server.pid());
    threadsBefore = threadSeconds(server.pid());
    const uint64_t consumedBefore = consumed, heardBefore = heard;
    const Clock::time_point start = Clock::now();
    sendFor(std::chrono::seconds(seconds));
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    cpuShare = (cpuSeconds(server.pid()) - cpuBefore) / wall;
    for (const auto& [name, after] : threadSeconds(server.pid()))
      threadShare[name] = (after - threadsBefore[name]) / wall;
    consumedPerSecond = static_cast<double>(consumed - consumedBefore) / wall;
    heardPerSecond = static_cast<double>(heard - heardBefore) / wall;
  }
  if (std::getenv("LUMORA_LOAD_LOG")) std::fprintf(stderr, "%s\n", user.logOf(server.pid()).c_str());
  state.counters["cpu_pct"] = 100 * cpuShare;
  // By thread: "main" decodes and fits the pictures, "lumora-camera" serves
  // the PipeWire consumer, the rest are audio, network and recording.
  for (const auto& [name, share] : threadShare)
    if (share >= 0.001) state.counters["cpu_pct_" + name] = 100 * share;
  state.counters["peak_rss_mb"] = peakRssMb(server.pid());
  state.counters["consumer_fps"] = consumedPerSecond;
  // 8000 when the PC's sound reaches the phone without gaps.
  state.counters["phone_hears_sps"] = heardPerSecond;
  state.SetLabel(recording ? "1280x720 30 fps, audio, recording" : "1280x720 30 fps, audio");
  if (recording) {
    phone.sendMessage(phonesim::kActionType, phonesim::actionMessage(2));
    loop.runFor(500);
  }
  stop = true;
  phone.abort();
  consumer.join();
  server.terminate();
  int code = 0;
  server.wait(10000, &code);
}
BENCHMARK(BM_ServerAtWork)->Arg(0)->Arg(1)->ArgName("recording")->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
