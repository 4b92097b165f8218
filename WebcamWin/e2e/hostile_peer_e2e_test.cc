// End-to-end: peers of the local network that never become an accepted
// phone and try to make the real `server` spend memory or time. The waits
// bound a hang; the figures printed are for the record, the limits checked
// are far from what a healthy server uses.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>

#include "WebcamWin/e2e/server_process.h"
#include "base/file_util.h"
#include "base/message_loop.h"
#include "base/platform_thread.h"
#include "base/socket.h"
#include "tools/loadgen/flood_peers.h"
#include "tools/loadgen/loadgen.h"

namespace {

constexpr uint32_t kStartTimeoutMs = 90000;
constexpr uint32_t kPollMs = 50;
constexpr uint32_t kRequesterMs = 20000;

class HostilePeerE2ETest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!user_.setUp()) GTEST_SKIP() << "no private user on this system";
    base::initializeSockets();
    ASSERT_TRUE(server_.start(ServerProcess::defaultProgram(), {}, base::joinPath(user_.folder(), u"server.out")));
    const std::string log = waitForLog("Listen on ");
    std::smatch match;
    static const std::regex kListen("Listen on [0-9.]+:([0-9]+)");
    ASSERT_TRUE(std::regex_search(log, match, kListen)) << log;
    port_ = static_cast<uint16_t>(std::stoi(match[1]));
  }
  void TearDown() override {
    server_.kill();
    EXPECT_EQ("", user_.sanitizerReports());
  }

  std::string waitForLog(const std::string& text, uint32_t timeoutMs = kStartTimeoutMs) {
    for (uint32_t waited = 0; waited < timeoutMs; waited += kPollMs) {
      if (user_.logOf(server_.pid()).find(text) != std::string::npos || !server_.running()) break;
      base::PlatformThread::sleepMs(kPollMs);
    }
    return user_.logOf(server_.pid());
  }
  loadgen::ProcessStats serverStats() {
    loadgen::ProcessStats stats;
    EXPECT_TRUE(loadgen::readProcessStats(static_cast<int>(server_.pid()), &stats));
    return stats;
  }

  PrivateUser user_;
  ServerProcess server_;
  uint16_t port_ = 0;
  base::MessageLoop loop_;
};

TEST_F(HostilePeerE2ETest, ARequesterThatReadsAtATrickleCannotGrowTheServer) {
  // Let the server settle (its first minutes of start-up allocations).
  loop_.runFor(2000);
  const loadgen::ProcessStats before = serverStats();
  loadgen::FloodPeer peer;
  loadgen::FloodPlan plan;
  plan.port = port_;
  ASSERT_TRUE(peer.start(plan));
  size_t peak = before.residentBytes;
  for (uint32_t waited = 0; waited < kRequesterMs && !peer.stats().closedByServer; waited += 500) {
    loop_.runFor(500);
    peak = std::max(peak, serverStats().residentBytes);
  }
  const loadgen::FloodStats& s = peer.stats();
  std::printf("requests %llu, answers read %llu (%llu bytes), closed by the server: %s; server resident "
              "%.1f MB -> peak %.1f MB\n",
              static_cast<unsigned long long>(s.requestsSent), static_cast<unsigned long long>(s.capabilityAnswers),
              static_cast<unsigned long long>(s.bytesRead), s.closedByServer ? "yes" : "no",
              before.residentBytes / 1048576.0, peak / 1048576.0);
  ASSERT_TRUE(s.handshaken);
  EXPECT_GT(s.requestsSent, 10000u);
  // Far less than the 48 MB that twenty seconds of unbounded answers cost.
  // (AddressSanitizer holds freed blocks in quarantine, so there the
  // resident size tells nothing; the count of answers below still holds.)
#if !defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(peak, before.residentBytes + 16 * 1024 * 1024);
#endif
  // Each of the two components answers a burst and then once a second.
  EXPECT_LE(s.capabilityAnswers, 2u * (8 + kRequesterMs / 1000 + 5));
  peer.stop();
  EXPECT_TRUE(server_.running());
}

TEST_F(HostilePeerE2ETest, FalseFrameHeadersAreCutShort) {
  loop_.runFor(1000);
  const loadgen::ProcessStats before = serverStats();
  loadgen::FloodPeer peer;
  loadgen::FloodPlan plan;
  plan.mode = loadgen::FloodPlan::Mode::kFalseHeaders;
  plan.port = port_;
  plan.falseHeaderBytes = 4 * 1024 * 1024;
  plan.declaredPayloadBytes = 65536;
  ASSERT_TRUE(peer.start(plan));
  for (uint32_t waited = 0; waited < 120000 && !peer.done(); waited += kPollMs) loop_.runFor(kPollMs);
  const loadgen::FloodStats& s = peer.stats();
  const std::string log = waitForLog("too many false frame starts", 30000);
  const loadgen::ProcessStats after = serverStats();
  std::printf("false headers sent %llu of %zu bytes before the close; server CPU %.2f s over the whole exchange\n",
              static_cast<unsigned long long>(s.falseHeaderBytesSent), plan.falseHeaderBytes,
              after.cpuSeconds - before.cpuSeconds);
  ASSERT_TRUE(s.handshaken);
  EXPECT_TRUE(s.closedByServer);
  EXPECT_LT(s.falseHeaderBytesSent, plan.falseHeaderBytes);
  EXPECT_NE(std::string::npos, log.find("closed: too many false frame starts")) << log;
  EXPECT_TRUE(server_.running());
}

}  // namespace
