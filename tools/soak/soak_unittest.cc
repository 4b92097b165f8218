#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "components/video/shared_section.h"
#include "components/video/video_driver.h"
#include "tools/soak/audio_markers.h"
#include "tools/soak/frame_probe.h"
#if !defined(_WIN32)
#include <unistd.h>

#include <cstdlib>

#include "tools/soak/long_run.h"
#endif
#include "tools/soak/trend.h"
#include "tools/vcamview/camera_view.h"

namespace soak {
namespace {

// `rows` readings: base + slope * row + uniform noise in [-noise, noise].
std::vector<double> series(size_t rows, double base, double slope, double noise, unsigned seed = 7) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> jitter(-noise, noise);
  std::vector<double> out;
  for (size_t i = 0; i < rows; ++i) out.push_back(base + slope * double(i) + (noise > 0 ? jitter(random) : 0));
  return out;
}

TrendRule rule(double maxSlope) {
  TrendRule r;
  r.name = "test";
  r.maxSlopePerRow = maxSlope;
  return r;
}

TEST(TrendTest, SteadyGrowthUnderNoiseFailsAndFlatNoiseDoesNot) {
  // Memory leaking 300 KB a minute under +-400 KB of allocator noise, over
  // a 30-minute run with the soak's limit of 100 KB a minute.
  const TrendVerdict leak = judgeTrend(series(30, 40000, 300, 400), rule(100));
  EXPECT_TRUE(leak.judged);
  EXPECT_TRUE(leak.grows) << leak.describe("rss");
  EXPECT_NEAR(300, leak.slopePerRow, 60);
  // A leak just above the limit is still caught when the run is long.
  EXPECT_TRUE(judgeTrend(series(30, 40000, 130, 100), rule(100)).grows);

  // The same noise without a leak, over many seeds: never a failure.
  for (unsigned seed = 1; seed <= 200; ++seed) {
    const TrendVerdict flat = judgeTrend(series(30, 40000, 0, 400, seed), rule(100));
    ASSERT_TRUE(flat.judged);
    EXPECT_FALSE(flat.grows) << "seed " << seed << ": " << flat.describe("rss");
  }
  // Growth below the limit, however clean, passes.
  EXPECT_FALSE(judgeTrend(series(30, 40000, 50, 0), rule(100)).grows);
}

TEST(TrendTest, DescriptorsLeakedNowAndThenFailButASingleStepDoesNot) {
  // One descriptor lost every four minutes: a staircase of whole numbers.
  std::vector<double> fds;
  for (int m = 0; m < 30; ++m) fds.push_back(24 + m / 4);
  EXPECT_TRUE(judgeTrend(fds, rule(0.05)).grows);

  // A flat count has no scatter at all: still flat.
  EXPECT_FALSE(judgeTrend(std::vector<double>(30, 24), rule(0.05)).grows);

  // A cache filled once in the middle of the run is a step, not a leak.
  std::vector<double> step = series(30, 40000, 0, 200);
  for (size_t i = 14; i < step.size(); ++i) step[i] += 6000;
  const TrendVerdict verdict = judgeTrend(step, rule(100));
  EXPECT_GT(verdict.slopePerRow, 100);  // the line alone would call it growth
  EXPECT_FALSE(verdict.grows) << verdict.describe("rss");
}

TEST(TrendTest, WarmUpWindowAndMissingRows) {
  // Memory rises while the server warms up, then stays: flat.
  std::vector<double> warm = series(12, 40000, 0, 100);
  warm[0] = 20000;
  warm[1] = 30000;
  EXPECT_FALSE(judgeTrend(warm, rule(100)).grows);

  // Only the last rows count: an early rise that stopped is not judged
  // against a late window...
  std::vector<double> early = series(50, 40000, 0, 100);
  for (size_t i = 0; i < 20; ++i) early[i] = 30000 + 500.0 * double(i);
  EXPECT_FALSE(judgeTrend(early, rule(100)).grows);
  // ...while a rise that starts late is.
  std::vector<double> late = series(50, 40000, 0, 100);
  for (size_t i = 35; i < late.size(); ++i) late[i] += 400.0 * double(i - 34);
  EXPECT_TRUE(judgeTrend(late, rule(100)).grows);

  // Too short to judge, counting only rows that are there.
  EXPECT_FALSE(judgeTrend(series(7, 1, 10, 0), rule(0.1)).judged);
  EXPECT_TRUE(judgeTrend(series(8, 1, 10, 0), rule(0.1)).grows);
  std::vector<double> gaps = series(8, 1, 10, 0);
  gaps[4] = -1;  // a minute without a reading
  EXPECT_FALSE(judgeTrend(gaps, rule(0.1)).judged);

  // A latency that only jitters, by far more than the allowed creep: the
  // line through a few of these tilts past the limit by chance, but not
  // clear of the scatter.
  for (unsigned seed = 1; seed <= 200; ++seed)
    EXPECT_FALSE(judgeTrend(series(30, 60, 0, 10, seed), rule(0.2)).grows) << "seed " << seed;
  // A latency creeping half a millisecond a minute over 6 ms of jitter.
  EXPECT_TRUE(judgeTrend(series(30, 60, 0.5, 3), rule(0.2)).grows);
  EXPECT_FALSE(judgeTrend(series(30, 60, 0, 3), rule(0.2)).grows);
}

TEST(AudioMarkersTest, OnsetsAcrossPiecesAndMatching) {
  OnsetFinder finder(100);
  std::vector<int64_t> onsets;
  auto found = [&](int64_t index, size_t) { onsets.push_back(index); };
  std::vector<int16_t> quiet(150, 1000), loud(4, kMarkerAmplitude);
  // A marker split over two pieces is found once, at its first sample.
  finder.feed(quiet.data(), quiet.size(), found);
  finder.feed(loud.data(), 2, found);
  finder.feed(loud.data(), 2, found);
  // A second burst inside the quiet stretch belongs to the first.
  finder.feed(quiet.data(), 50, found);
  finder.feed(loud.data(), 1, found);
  // After a long enough quiet, a new one.
  finder.feed(quiet.data(), 101, found);
  finder.feed(loud.data(), 1, found);
  EXPECT_EQ((std::vector<int64_t>{150, 306}), onsets);

  // Each onset against the newest marker made before it (microseconds in,
  // milliseconds out); one found before any marker is left out.
  const std::vector<int64_t> made = {1000000, 2000000, 3000000};
  EXPECT_EQ((std::vector<double>{40, 0, 45.5}), matchMarkers(made, {1040000, 2000000, 3045500}));
  EXPECT_TRUE(matchMarkers(made, {999999}).empty());
  EXPECT_TRUE(matchMarkers({}, {5}).empty());

  EXPECT_EQ(-1, percentile({}, 0.5));
  EXPECT_EQ(7, percentile({7}, 0.99));
  EXPECT_EQ(3, percentile({5, 1, 3}, 0.5));
  EXPECT_EQ(5, percentile({5, 1, 3}, 0.99));
}


}  // namespace
}  // namespace soak

namespace soak {
namespace {

// The server's side of the section: draws a whole picture `afterMs` after
// the frame "left the phone".
class FrameProbeTest : public ::testing::Test {
 protected:
  FrameProbeTest()
      : name_("LumoraZuvIridarProbeTest-" + std::to_string(Clock::now().time_since_epoch().count() % 1000000)),
        view_(name_),
        writer_(name_, component::kCameraSectionBytes, component::kCameraViewBytes, false) {}
  ~FrameProbeTest() override {
    if (drawing_.joinable()) drawing_.join();
    component::SharedSection::unlink(name_);
  }

  void drawLater(int afterMs, uint8_t value) {
    drawing_ = std::thread([=] {
      std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
      std::memset(writer_.data(), value, component::kCameraPixelBytes);
    });
  }

  std::string name_;
  vcamview::CameraView view_;
  component::SharedSection writer_;
  std::thread drawing_;
};

TEST_F(FrameProbeTest, APictureIsTimedFromTheSendAndNoPictureIsNoSample) {
  ASSERT_TRUE(view_.ok());
  ASSERT_NE(nullptr, writer_.data());
  {
    CameraWatcher watcher(&view_, 0);
    int turns = 0;
    double ms = 0;
    // Patience for an emulated machine; the draw itself comes after 8 ms.
    ASSERT_TRUE(measureFrame(watcher, [&] { drawLater(8, 0x40); }, [&] { ++turns; }, &ms, 10000));
    EXPECT_GE(ms, 8.0);
    EXPECT_GT(turns, 0);  // the phone's loop kept turning meanwhile
    drawing_.join();
  }
  // Nothing drawn: no sample, after the given patience, and the picture
  // that came before does not count.
  CameraWatcher watcher(&view_, 0);
  double ms = -1;
  EXPECT_FALSE(measureFrame(watcher, [] {}, [] {}, &ms, 30));
  EXPECT_EQ(-1, ms);
}

#if !defined(_WIN32)
bool inRecording(double at, const std::vector<LongPlan::Due>& due) {
  double start = -1;
  for (const auto& d : due) {
    if (d.event == LongPlan::Event::kRecordStart) start = d.at;
    if (d.event == LongPlan::Event::kRecordStop && start >= 0 && at >= start && at <= d.at) return true;
  }
  return false;
}

TEST(LongPlanTest, TwoHoursHoldTwentyFourRecordingsElevenReconnectsAndOneRestartThatNeverCutARecording) {
  LongPlan plan;
  plan.recordEverySeconds = 300;
  plan.reconnectEverySeconds = 600;
  plan.soundRestartAtSeconds = 60.5 * 60;
  const std::vector<LongPlan::Due> due = plan.schedule(7200);
  int starts = 0, stops = 0, reconnects = 0, restarts = 0;
  bool recording = false;
  for (size_t i = 0; i < due.size(); ++i) {
    if (i > 0) {
      EXPECT_LE(due[i - 1].at, due[i].at);
    }
    switch (due[i].event) {
      case LongPlan::Event::kRecordStart:
        EXPECT_FALSE(recording);
        recording = true;
        ++starts;
        break;
      case LongPlan::Event::kRecordStop:
        EXPECT_TRUE(recording);
        recording = false;
        ++stops;
        break;
      case LongPlan::Event::kReconnect:
        EXPECT_FALSE(recording) << due[i].at;
        ++reconnects;
        break;
      case LongPlan::Event::kSoundRestart:
        EXPECT_FALSE(recording) << due[i].at;
        ++restarts;
        break;
    }
  }
  EXPECT_EQ(24, starts);
  EXPECT_EQ(24, stops);
  EXPECT_EQ(11, reconnects);
  EXPECT_EQ(1, restarts);
  EXPECT_FALSE(recording);
}

TEST(LongPlanTest, AReconnectThatWouldCutARecordingWaitsForItsEnd) {
  // Recordings from 30 s for 15 s each minute; reconnects every 90 s: the
  // one at 90 s falls on the second recording's start.
  LongPlan plan;
  plan.recordEverySeconds = 60;
  plan.recordSeconds = 15;
  plan.reconnectEverySeconds = 90;
  const std::vector<LongPlan::Due> due = plan.schedule(300);
  int reconnects = 0;
  for (const auto& d : due) {
    if (d.event != LongPlan::Event::kReconnect) continue;
    ++reconnects;
    EXPECT_FALSE(inRecording(d.at, due)) << d.at;
  }
  EXPECT_EQ(3, reconnects);
  // Nothing planned: no events at all.
  EXPECT_TRUE(LongPlan().schedule(7200).empty());
}

TEST(PipedProgramTest, AProgramThatEndsIsNoticedAndStartedAgainAtMostOnceASecond) {
  PipedProgram program({"sh", "-c", "printf abc"}, PipedProgram::Direction::kRead);
  const int fd = program.fd();
  ASSERT_GE(fd, 0);
  std::string got;
  char buffer[16];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof(buffer))) > 0;) got.append(buffer, static_cast<size_t>(n));
  EXPECT_EQ("abc", got);  // then the end of file: the program is gone
  program.close();
  EXPECT_EQ(-1, program.fd());  // not again within the second
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_GE(program.fd(), 0);
  EXPECT_EQ(2, program.starts());
  // A program that cannot be started at all.
  PipedProgram missing({"/nonexistent/program"}, PipedProgram::Direction::kWrite);
  EXPECT_EQ(-1, missing.fd());
}

TEST(RecordingCheckTest, AFileWithBothTracksPlaysAndAMissingOrShortOneDoesNot) {
  EXPECT_EQ(12.5, probeField("codec=x\nduration=12.5\n", "duration"));
  EXPECT_EQ(-1, probeField("nb_frames=3\n", "duration"));
  const RecordingCheck missing = checkRecording("/nonexistent/recording.avi");
  EXPECT_FALSE(missing.probed);
  EXPECT_FALSE(missing.playable(60));
  if (std::system("ffmpeg -version >/dev/null 2>&1 && ffprobe -version >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "no ffmpeg";
  char folder[] = "/tmp/soak-check-XXXXXX";
  ASSERT_NE(nullptr, ::mkdtemp(folder));
  const std::string file = std::string(folder) + "/two.avi";
  ASSERT_EQ(0, std::system(("ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i sine=sample_rate=48000 "
                            "-t 2 -c:v mjpeg -c:a ac3 '" + file + "'").c_str()));
  const RecordingCheck two = checkRecording(file);
  EXPECT_TRUE(two.probed);
  EXPECT_NEAR(50, two.frames, 1);
  EXPECT_NEAR(2, two.audioSeconds, 0.05);
  EXPECT_TRUE(two.playable(2));
  EXPECT_FALSE(two.playable(60));  // far shorter than the recording was meant to be
  // Cut off half-way through: ffprobe finds the damage or the tracks fall apart.
  const std::string cut = std::string(folder) + "/cut.avi";
  ASSERT_EQ(0, std::system(("head -c 20000 '" + file + "' > '" + cut + "'").c_str()));
  EXPECT_FALSE(checkRecording(cut).playable(2));
  std::system(("rm -rf '" + std::string(folder) + "'").c_str());
}
#endif  // !defined(_WIN32)

}  // namespace
}  // namespace soak
