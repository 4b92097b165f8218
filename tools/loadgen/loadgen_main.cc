// loadgen: bounded load against a server on this machine.
//   loadgen --port P [--cycles N] [--parallel N] [--idle N] [--garbage N]
//           [--slow N] [--silent N] [--hold SECONDS] [--watch-pid PID]
// Cycles run to the end; the held connections (idle, garbage, slow, silent)
// stay for --hold seconds (default 15) or until the server closes them. With
// --watch-pid (Linux) the server's descriptors and resident memory are shown
// before, at their peak, and a few seconds after the load ended. The exit
// code is 1 when the server stopped answering (a connection failed, or a
// cycle got no handshake).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/logging.h"
#include "base/message_loop.h"
#include "base/socket.h"
#include "tools/loadgen/loadgen.h"

namespace {

void printStats(const char* label, const loadgen::ProcessStats& stats) {
  std::printf("server %-6s descriptors %zu, resident %.1f MB\n", label, stats.descriptors,
              stats.residentBytes / (1024.0 * 1024.0));
}

}  // namespace

int main(int argc, char** argv) {
  loadgen::LoadPlan plan;
  int holdSeconds = 15;
  int watchPid = -1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) {
      std::fprintf(stderr, "%s needs a value\n", arg.c_str());
      return 2;
    }
    const char* value = argv[++i];
    const int n = std::atoi(value);
    if (arg == "--host") plan.host = value;
    else if (arg == "--port") plan.port = static_cast<uint16_t>(n);
    else if (arg == "--cycles") plan.cycles = n;
    else if (arg == "--parallel") plan.parallel = n > 0 ? n : 1;
    else if (arg == "--idle") plan.idle = n;
    else if (arg == "--garbage") plan.garbage = n;
    else if (arg == "--slow") plan.slow = n;
    else if (arg == "--silent") plan.silentAfterHandshake = n;
    else if (arg == "--hold") holdSeconds = n;
    else if (arg == "--watch-pid") watchPid = n;
    else {
      std::fprintf(stderr, "unknown option %s (see the head of loadgen_main.cc)\n", arg.c_str());
      return 2;
    }
  }
  base::initLogging(base::string16(), base::kLogNone, base::kLockInProcess, 1);
  base::initializeSockets();
  base::MessageLoop loop;

  loadgen::ProcessStats before, peak, after, now;
  const bool watching = watchPid > 0 && loadgen::readProcessStats(watchPid, &before);
  if (watchPid > 0 && !watching) std::fprintf(stderr, "cannot read the stats of process %d\n", watchPid);
  if (watching) printStats("before", before);
  peak = before;

  loadgen::LoadGenerator generator;
  if (!generator.start(plan)) {
    std::fprintf(stderr, "only a port on this machine (--host 127.x.x.x) can be loaded\n");
    return 2;
  }
  const auto started = std::chrono::steady_clock::now();
  auto seconds = [&] {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count();
  };
  long long lastReport = -1;
  while (!generator.cyclesFinished() || (seconds() < holdSeconds && generator.openHeld() > 0)) {
    loop.runFor(100);
    if (seconds() != lastReport) {
      lastReport = seconds();
      if (watching && loadgen::readProcessStats(watchPid, &now)) {
        peak.descriptors = std::max(peak.descriptors, now.descriptors);
        peak.residentBytes = std::max(peak.residentBytes, now.residentBytes);
      }
      const loadgen::LoadStats& s = generator.stats();
      std::printf("%3llds cycles %d, held open %zu, closed by the server %d, connect failures %d\n", lastReport,
                  s.cyclesDone, generator.openHeld(), s.closedByServer, s.connectFailures);
      std::fflush(stdout);
    }
  }
  generator.stop();
  loop.runFor(3000);  // the server notices the closes

  const loadgen::LoadStats& s = generator.stats();
  std::printf("connected %d, cycles %d of %d, handshakes answered %d, farewells 0/1/2: %d/%d/%d, "
              "held connections closed by the server %d, garbage sent %llu bytes, connect failures %d\n",
              s.connected, s.cyclesDone, plan.cycles, s.handshakesAnswered, s.farewells[0], s.farewells[1],
              s.farewells[2], s.closedByServer, static_cast<unsigned long long>(s.garbageBytesSent),
              s.connectFailures);
  if (watching && loadgen::readProcessStats(watchPid, &after)) {
    printStats("peak", peak);
    printStats("after", after);
  }
  return (s.connectFailures > 0 || s.cyclesDone < plan.cycles) ? 1 : 0;
}
