// Helpers of the benchmarks that drive the real Linux `server` beside a
// private PipeWire: its CPU time from /proc, the wait until it listens
// (and, with the camera, until its PipeWire node is up), the phone's video
// session and the latency counters. Called from the benchmark's own thread.
#ifndef BENCH_SERVER_BENCH_UTIL_H_
#define BENCH_SERVER_BENCH_UTIL_H_

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/e2e/server_process.h"
#include "base/platform_thread.h"
#include "base/reg_key.h"
#include "base/socket.h"
#include "base/string_util.h"
#include "tools/phonesim/phone_connection.h"
#include "tools/phonesim/video_sender.h"

namespace bench {

// User plus system time of a process (or of one of its threads), seconds.
inline double cpuSeconds(uint32_t pid, const std::string& thread = "") {
  std::ifstream in("/proc/" + std::to_string(pid) + (thread.empty() ? "" : "/task/" + thread) + "/stat");
  const std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t end = stat.rfind(')');
  if (end == std::string::npos) return 0;
  unsigned long utime = 0, stime = 0;
  // Fields 14 and 15 after the name.
  std::sscanf(stat.c_str() + end + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime);
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The port the server listens on; 0 when it did not start within 30 s.
inline int waitForServer(PrivateUser& user, ServerProcess& server, bool camera) {
  static const std::regex kListen("Listen on [0-9.]+:([0-9]+)");
  for (int waited = 0; waited < 30000 && server.running(); waited += 50) {
    std::smatch match;
    const std::string log = user.logOf(server.pid());
    if (std::regex_search(log, match, kListen) &&
        (!camera || log.find("PipeWire node \"lumora_camera\"") != std::string::npos))
      return std::stoi(match[1]);
    base::PlatformThread::sleepMs(50);
  }
  return 0;
}

// Sets up the private user the server will run as: the Linux camera at
// `size` ("off" without one), the phone `phoneId` allowed. False, with the
// benchmark skipped and the reason given, when that cannot be done.
inline bool prepareUser(benchmark::State& state, PrivateUser& user, const std::string& size, bool camera,
                        const char* phoneId) {
  if (!std::getenv("PIPEWIRE_RUNTIME_DIR") && camera) {
    state.SkipWithError("run through scripts/with-private-pipewire.sh");
    return false;
  }
  if (!user.setUp()) {
    state.SkipWithError("no private user");
    return false;
  }
  base::initializeSockets();
  base::RegKey app;
  app.create(base::RegRoot::kCurrentUser, kAppRegistryKey);
  app.writeValue(u"CameraSize", base::utf8ToWide(size));
  app.writeValue(u"LinuxCamera", camera ? u"pipewire" : u"off");
  user.allowPhone(phoneId, u"Bench phone");
  return true;
}

// Connects `phone` to the server at `port` as the allowed phone `phoneId`,
// starts the video session and makes the messages of `options`' pictures.
// False, with `error`, when any of it fails.
inline bool startVideoPhone(base::MessageLoop* loop, phonesim::PhoneConnection* phone, int port, const char* phoneId,
                            const phonesim::VideoOptions& options, std::vector<std::vector<uint8_t>>* messages,
                            std::string* error) {
  return phonesim::startVideoSession(loop, phone, static_cast<uint16_t>(port), phonesim::PhoneIdentity(), phoneId,
                                     "bench", error) &&
         !(*messages = phonesim::videoFrameMessages(options, error)).empty();
}

// The counters median_ms, p99_ms and frames of the measured latencies (none
// when nothing was measured).
inline void setLatencyCounters(benchmark::State& state, std::vector<double> latenciesMs) {
  if (latenciesMs.empty()) return;
  std::sort(latenciesMs.begin(), latenciesMs.end());
  state.counters["median_ms"] = latenciesMs[latenciesMs.size() / 2];
  state.counters["p99_ms"] = latenciesMs[std::min(latenciesMs.size() - 1, latenciesMs.size() * 99 / 100)];
  state.counters["frames"] = static_cast<double>(latenciesMs.size());
}

}  // namespace bench

#endif  // BENCH_SERVER_BENCH_UTIL_H_
