// Linux: what the support tool inherits. The server blocks SIGINT and
// SIGTERM, ignores SIGPIPE and may hold descriptors without close-on-exec;
// the tool must start with default signals, only its three standard
// handles and a session of its own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "WebcamWin/testing/shell_test_util.h"
#include "WebcamWin/suite/support_handoff.h"
#include "base/file_util.h"
#include "base/test_util.h"

namespace {

TEST(SupportHandOffPosixTest, TheToolStartsCleanWhateverTheServerHolds) {
  const base::string16 folder = base::makeTempDirectory(u"handoff_state");
  const base::string16 record = base::joinPath(folder, u"record.bin");
  shell_test::ScopedEnvironment env;
  env.set("HANDOFF_RECORD", base::wideToUtf8(record));

  int32_t result = -1;
  // On a thread of its own, so that this test's changes stay there.
  std::thread([&] {
    sigset_t held, previous;
    sigemptyset(&held);
    sigaddset(&held, SIGINT);
    sigaddset(&held, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &held, &previous);
    struct sigaction ignore = {}, old = {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &old);
    const int leaked = ::open("/dev/null", O_RDONLY);  // no O_CLOEXEC
    result = runSupportTool(shell_test::testProgram(u"handoff_test_child"), "hello", nullptr);
    ::close(leaked);
    ::sigaction(SIGPIPE, &old, nullptr);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }).join();

  EXPECT_EQ(0, result);
  EXPECT_EQ("hello", shell_test::fileText(record));
  const std::string state = shell_test::fileText(record + u".state");
  EXPECT_NE(std::string::npos, state.find("SigBlk:\t0000000000000000\n")) << state;
  // glibc's posix_spawn leaves its own two signals (32 and 33) ignored.
  const size_t ignored = state.find("SigIgn:\t");
  ASSERT_NE(std::string::npos, ignored) << state;
  const uint64_t glibcSignals = 3ull << 31;
  EXPECT_EQ(0u, std::stoull(state.substr(ignored + 8, 16), nullptr, 16) & ~glibcSignals) << state;
  EXPECT_NE(std::string::npos, state.find("fds: 0 1 2\n")) << state;
  EXPECT_NE(std::string::npos, state.find("session-leader: 1\n")) << state;
  base::removeTree(folder);
}

}  // namespace
