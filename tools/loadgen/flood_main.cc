// floodpeer: one hostile peer against a server on this machine.
//   floodpeer --port P --mode requester [--seconds S] [--read-interval MS] [--watch-pid PID]
//   floodpeer --port P --mode false-headers [--bytes N] [--declared N] [--watch-pid PID]
// With --watch-pid the server's resident memory and CPU time are shown
// before and after. Exit code 0 when the peer ran (whatever the server did).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/logging.h"
#include "base/message_loop.h"
#include "base/socket.h"
#include "tools/loadgen/flood_peers.h"
#include "tools/loadgen/loadgen.h"

int main(int argc, char** argv) {
  loadgen::FloodPlan plan;
  int seconds = 20;
  int watchPid = -1;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    const char* value = argv[i + 1];
    if (arg == "--port") plan.port = static_cast<uint16_t>(std::atoi(value));
    else if (arg == "--host") plan.host = value;
    else if (arg == "--mode" && std::string(value) == "requester") plan.mode = loadgen::FloodPlan::Mode::kRequester;
    else if (arg == "--mode" && std::string(value) == "false-headers") plan.mode = loadgen::FloodPlan::Mode::kFalseHeaders;
    else if (arg == "--seconds") seconds = std::atoi(value);
    else if (arg == "--read-interval") plan.readIntervalMs = static_cast<uint32_t>(std::atoi(value));
    else if (arg == "--bytes") plan.falseHeaderBytes = static_cast<size_t>(std::atoll(value));
    else if (arg == "--declared") plan.declaredPayloadBytes = static_cast<uint32_t>(std::atoll(value));
    else if (arg == "--watch-pid") watchPid = std::atoi(value);
    else {
      std::fprintf(stderr, "unknown option %s (see the head of flood_main.cc)\n", arg.c_str());
      return 2;
    }
  }
  base::initLogging(base::string16(), base::kLogNone, base::kLockInProcess, 1);
  base::initializeSockets();
  base::MessageLoop loop;
  loadgen::ProcessStats before, peak, now;
  const bool watching = watchPid > 0 && loadgen::readProcessStats(watchPid, &before);
  peak = before;
  loadgen::FloodPeer peer;
  if (!peer.start(plan)) {
    std::fprintf(stderr, "only a port on this machine (--host 127.x.x.x) can be flooded\n");
    return 2;
  }
  for (int ms = 0; ms < seconds * 1000 && !peer.done(); ms += 100) {
    loop.runFor(100);
    if (watching && loadgen::readProcessStats(watchPid, &now))
      peak.residentBytes = std::max(peak.residentBytes, now.residentBytes);
  }
  const loadgen::FloodStats& s = peer.stats();
  std::printf("handshaken %s, closed by the server %s, requests %llu, answers %llu, read %llu bytes, "
              "false headers sent %llu bytes\n",
              s.handshaken ? "yes" : "no", s.closedByServer ? "yes" : "no",
              static_cast<unsigned long long>(s.requestsSent), static_cast<unsigned long long>(s.capabilityAnswers),
              static_cast<unsigned long long>(s.bytesRead), static_cast<unsigned long long>(s.falseHeaderBytesSent));
  peer.stop();
  if (watching && loadgen::readProcessStats(watchPid, &now)) {
    std::printf("server resident %.1f MB -> peak %.1f MB; CPU %.2f s during the run\n",
                before.residentBytes / 1048576.0, peak.residentBytes / 1048576.0, now.cpuSeconds - before.cpuSeconds);
  }
  return 0;
}
