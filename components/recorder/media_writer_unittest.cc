// The audio track of a file: everything handed in reaches it, including the
// tail after the last whole codec frame (MP3 on Linux, AC-3 on Windows).
#include "components/recorder/media_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "base/file_util.h"
#include "base/test_util.h"
#include "components/recorder/media_probe.h"

namespace component {
namespace {

constexpr int kToneHz = 1000;

// The strongest showing of the tone in any `window`-sample stretch of
// `samples` from `from` on.
double strongestTone(const std::vector<int16_t>& samples, size_t from, size_t window) {
  double best = 0;
  for (size_t at = from; at + window <= samples.size(); at += window / 4) {
    best = std::max(best, toneLevel(samples.data() + at, window, MediaWriter::kSampleRate, kToneHz));
  }
  return best;
}

class MediaWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = base::makeTempDirectory(u"media-writer"); }
  void TearDown() override { base::removeTree(dir_); }

  // Hands in `silent` samples of silence and then `tone` samples of a loud
  // tone, finishes the file and reads it back.
  MediaProbe writeSilenceThenTone(size_t silent, size_t tone) {
    const base::string16 path = base::joinPath(dir_, u"tail.avi");
    MediaWriter writer;
    EXPECT_TRUE(writer.open(path, 64, 48));
    EXPECT_TRUE(writer.hasAudio());
    std::vector<int16_t> samples(silent + tone, 0);
    for (size_t i = 0; i < tone; ++i) {
      samples[silent + i] = static_cast<int16_t>(
          std::lrint(16000 * std::sin(2 * 3.14159265358979 * kToneHz * static_cast<double>(i) / MediaWriter::kSampleRate)));
    }
    // In the 10 ms chunks the capture thread hands in.
    for (size_t at = 0; at < samples.size(); at += 480) {
      writer.writeAudio(samples.data() + at, std::min<size_t>(480, samples.size() - at));
    }
    writer.writeVideoFrame();
    writer.finish();
    frameSize_ = writer.audioCodecName() == "ac3" ? 1536 : 1152;
    return probeMedia(path);
  }

  base::string16 dir_;
  size_t frameSize_ = 0;
};

TEST_F(MediaWriterTest, TailShorterThanACodecFrameReachesTheFile) {
  // 49000 samples leave a tail of 616 (MP3) or 1384 (AC-3) after the last
  // whole frame; the tone lies entirely in it.
  const size_t total = 49000;
  const size_t tone = 600;
  const MediaProbe probe = writeSilenceThenTone(total - tone, tone);
  ASSERT_TRUE(probe.opened) << probe.error;
  ASSERT_GT(total % frameSize_, tone);
  // As long as what was handed in, give or take the encoder's own delay and
  // padding: at most one frame either way.
  EXPECT_GE(probe.audio.size() + frameSize_, total);
  EXPECT_LE(probe.audio.size(), total + 2 * frameSize_);
  // The decoders start a little late; look for the tone near the end.
  const size_t from = total > 4 * frameSize_ ? total - 4 * frameSize_ : 0;
  EXPECT_GT(strongestTone(probe.audio, from, tone), 0.2);
}

}  // namespace
}  // namespace component
