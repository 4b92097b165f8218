// A recording that runs into a file-size limit (a full disk looks the same
// to the recorder): it stops writing with an error line, and what reached
// the disk still plays.
#include <signal.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include "base/file_util.h"
#include "base/test_util.h"
#include "components/recorder/ff_video_file.h"
#include "components/recorder/media_probe.h"
#include "components/recorder/recorder_test_util.h"
#include "components/video/test_card.h"

namespace component {
namespace {

TEST(RecorderWriteFailureTest, SizeLimitStopsTheRecordingAndLeavesAPlayableFile) {
  const base::string16 dir = base::makeTempDirectory(u"recorder-limit");
  const base::string16 path = base::joinPath(dir, u"limited.avi");
  // Without this the process would be killed by SIGXFSZ instead of seeing
  // the write fail with EFBIG.
  struct sigaction ignore = {}, previous = {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(0, sigaction(SIGXFSZ, &ignore, &previous));
  struct rlimit old = {};
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &old));

  // Ten seconds of a changing test card would be far larger than 200 kB.
  ScriptedClock clock(10 * 1000000);
  FFVideoFile recorder(&clock);
  for (int64_t t = 0; t < 10 * 1000000; t += 40000) {
    clock.at(t, [&recorder, t] { recorder.OnVideoFrame(nullptr, makeTestCard(640, 480, static_cast<uint32_t>(t / 40000))); });
  }
  ASSERT_TRUE(recorder.start(path, 640, 480));
  struct rlimit limited = old;
  limited.rlim_cur = 200 * 1024;
  ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limited));
  // The capture thread gives up by itself, long before the clock's end.
  for (int i = 0; i < 20000 && !recorder.writeFailed(); ++i) base::PlatformThread::sleepMs(1);
  const bool failed = recorder.writeFailed();
  recorder.stop();
  setrlimit(RLIMIT_FSIZE, &old);
  sigaction(SIGXFSZ, &previous, nullptr);

  EXPECT_TRUE(failed);
  EXPECT_LT(clock.nowUs(), 10 * 1000000);
  const MediaProbe probe = probeMedia(path);
  ASSERT_TRUE(probe.opened) << probe.error;
  EXPECT_EQ("avi", probe.format);
  EXPECT_EQ(640, probe.width);
  // The frames that fitted play.
  EXPECT_GT(probe.videoFrames, 10);
  EXPECT_LT(probe.videoFrames, recorder.videoFramesWritten() + 1);
  base::removeTree(dir);
}

}  // namespace
}  // namespace component
