#include "components/recorder/ff_video_file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <thread>

#include "base/file_util.h"
#include "base/test_util.h"
#include "components/recorder/media_probe.h"
#include "components/recorder/recorder_test_util.h"
#include "components/video/test_card.h"

namespace component {
namespace {

constexpr int kBars = 8;
constexpr int64_t kSecondUs = 1000000;
constexpr int kPacketSamples = 960;  // 20 ms at 48 kHz

// A picture whose eight vertical bars spell `index` in binary (white: 1),
// coarse enough to survive the encoder.
VideoFrame barsFrame(int index, int width = 320, int height = 240) {
  VideoFrame frame;
  frame.width = width;
  frame.height = height;
  frame.pixel_format = kPixelFormat_24RGB;
  frame.stride = width * 3;
  frame.data.assign(static_cast<size_t>(width) * height * 3, 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool on = (index >> (x * kBars / width)) & 1;
      std::fill_n(&frame.data[(static_cast<size_t>(y) * width + x) * 3], 3, on ? 235 : 16);
    }
  }
  return frame;
}

int readBars(const std::vector<uint8_t>& row) {
  int index = 0;
  const int width = static_cast<int>(row.size());
  for (int bar = 0; bar < kBars; ++bar) {
    if (row[(bar * 2 + 1) * width / (kBars * 2)] > 128) index |= 1 << bar;
  }
  return index;
}

AudioPacketData tonePacket(int32_t origin, uint64_t position, double frequency, double amplitude) {
  AudioPacketData packet;
  packet.format = kAudioFormatLPCM;
  packet.origin = origin;
  packet.timestamp = static_cast<int64_t>(position);
  packet.data.resize(kPacketSamples * 2);
  int16_t* samples = reinterpret_cast<int16_t*>(packet.data.data());
  for (int i = 0; i < kPacketSamples; ++i) {
    samples[i] = static_cast<int16_t>(
        std::lrint(amplitude * std::sin(2 * 3.14159265358979 * frequency * static_cast<double>(position + i) / 48000)));
  }
  return packet;
}

class RecorderTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = base::makeTempDirectory(u"recorder"); }
  void TearDown() override { base::removeTree(dir_); }

  // Records `seconds` of scripted time into `name`; `script` schedules the
  // deliveries. Returns what the file holds.
  MediaProbe record(const base::string16& name, double seconds, const std::function<void(ScriptedClock*)>& script,
                    int32_t width = 320, int32_t height = 240) {
    clock_ = std::make_unique<ScriptedClock>(static_cast<int64_t>(seconds * kSecondUs));
    recorder_ = std::make_unique<FFVideoFile>(clock_.get());
    script(clock_.get());
    path_ = base::joinPath(dir_, name);
    EXPECT_TRUE(recorder_->start(path_, width, height));
    clock_->waitForEnd();
    recorder_->stop();
    return probeMedia(path_);
  }
  void framesEvery(ScriptedClock* clock, int64_t periodUs, double seconds) {
    int index = 0;
    for (int64_t t = 0; t < seconds * kSecondUs; t += periodUs, ++index) {
      clock->at(t, [this, index] { recorder_->OnVideoFrame(nullptr, barsFrame(index & 0xFF)); });
    }
  }
  void toneFrom(ScriptedClock* clock, int32_t origin, uint64_t firstPosition, double frequency, double seconds) {
    for (int k = 0; k * 20000 < seconds * kSecondUs; ++k) {
      clock->at(k * 20000, [this, origin, firstPosition, frequency, k] {
        recorder_->OnAudioPacket(nullptr, tonePacket(origin, firstPosition + k * kPacketSamples, frequency, 8000));
      });
    }
  }

  base::string16 dir_;
  base::string16 path_;
  std::unique_ptr<ScriptedClock> clock_;
  std::unique_ptr<FFVideoFile> recorder_;
};

TEST_F(RecorderTest, ConstantRatePictureAndBothDirectionsMixed) {
  const MediaProbe probe = record(u"call.avi", 4.0, [this](ScriptedClock* clock) {
    framesEvery(clock, 40000, 4.0);
    // The two directions run on unrelated timelines.
    toneFrom(clock, kAudioOriginPhone, 0, 440, 4.0);
    toneFrom(clock, kAudioOriginPC, 12345678, 1000, 4.0);
  });
  ASSERT_TRUE(probe.opened) << probe.error;
  EXPECT_EQ("avi", probe.format);
  EXPECT_EQ("mpeg4", probe.videoCodec);
  // Debian's FFmpeg defaults to MP3 in AVI, the Windows build to AC-3.
  EXPECT_TRUE(probe.audioCodec == "mp3" || probe.audioCodec == "ac3") << probe.audioCodec;
  EXPECT_EQ(320, probe.width);
  EXPECT_EQ(240, probe.height);
  EXPECT_DOUBLE_EQ(25.0, probe.frameRate);
  EXPECT_EQ(4 * kSecondUs, recorder_->elapsedUs());
  // One slot every 40 ms from 0 to 4 s.
  EXPECT_NEAR(101, probe.videoFrames, 1);
  EXPECT_EQ(recorder_->videoFramesWritten(), probe.videoFrames);
  EXPECT_EQ(48000, probe.sampleRate);
  EXPECT_EQ(1, probe.channels);
  EXPECT_NEAR(4.0, probe.audioSeconds(), 0.1);
  EXPECT_NEAR(probe.videoSeconds(), probe.audioSeconds(), 0.12);

  // Both sides of the call are heard at once in the middle of the file.
  ASSERT_GT(probe.audio.size(), 3u * 48000);
  const int16_t* middle = probe.audio.data() + 48000;
  const double phone = toneLevel(middle, 2 * 48000, 48000, 440);
  const double pc = toneLevel(middle, 2 * 48000, 48000, 1000);
  const double neither = toneLevel(middle, 2 * 48000, 48000, 700);
  EXPECT_GT(phone, 0.15) << pc;
  EXPECT_GT(pc, 0.15) << phone;
  EXPECT_LT(neither, 0.03);

  // Every slot shows the frame of its time (the first ones may lag by one).
  for (size_t i = 2; i + 1 < probe.middleRows.size(); ++i) {
    EXPECT_NEAR(static_cast<int>(i), readBars(probe.middleRows[i]), 1) << "slot " << i;
  }
}

TEST_F(RecorderTest, OneDirectionAloneAndTheOtherSilent) {
  const MediaProbe probe = record(u"pc only.avi", 2.0, [this](ScriptedClock* clock) {
    toneFrom(clock, kAudioOriginPC, 0, 1000, 2.0);
  });
  ASSERT_TRUE(probe.opened) << probe.error;
  ASSERT_GT(probe.audio.size(), 48000u + 24000u);
  const int16_t* middle = probe.audio.data() + 24000;
  EXPECT_GT(toneLevel(middle, 48000, 48000, 1000), 0.15);
  EXPECT_LT(toneLevel(middle, 48000, 48000, 440), 0.02);
  // No frame came: the picture is black, still 25 a second.
  EXPECT_NEAR(51, probe.videoFrames, 1);
  ASSERT_FALSE(probe.middleRows.empty());
  EXPECT_EQ(0, readBars(probe.middleRows.back()));
}

TEST_F(RecorderTest, LoudDirectionsSaturateInsteadOfWrapping) {
  int16_t a[] = {32000, -32000, 100, 32767, -32768};
  int16_t b[] = {32000, -32000, -300, 1, -1};
  int16_t out[5];
  mixSaturating(a, b, out, 5);
  EXPECT_EQ(32767, out[0]);
  EXPECT_EQ(-32768, out[1]);
  EXPECT_EQ(-200, out[2]);
  EXPECT_EQ(32767, out[3]);
  EXPECT_EQ(-32768, out[4]);
}

TEST_F(RecorderTest, SlowPhoneRepeatsFramesFastPhoneLosesSome) {
  // 10 frames a second: each picture fills two or three slots in order.
  MediaProbe probe = record(u"slow.avi", 2.0, [this](ScriptedClock* clock) { framesEvery(clock, 100000, 2.0); });
  ASSERT_TRUE(probe.opened) << probe.error;
  EXPECT_NEAR(51, probe.videoFrames, 1);
  std::map<int, int> slots;
  int last = 0;
  for (const auto& row : probe.middleRows) {
    const int index = readBars(row);
    EXPECT_GE(index, last);
    last = index;
    ++slots[index];
  }
  EXPECT_EQ(20u, slots.size());
  for (const auto& [index, count] : slots) {
    if (index > 0 && index < 19) {
      EXPECT_GE(count, 2) << index;
      EXPECT_LE(count, 3) << index;
    }
  }

  // 60 frames a second: still 25 slots a second, each a newer picture.
  probe = record(u"fast.avi", 2.0, [this](ScriptedClock* clock) { framesEvery(clock, 16667, 2.0); });
  ASSERT_TRUE(probe.opened) << probe.error;
  EXPECT_NEAR(51, probe.videoFrames, 1);
  last = -1;
  for (size_t i = 1; i < probe.middleRows.size(); ++i) {
    const int index = readBars(probe.middleRows[i]);
    EXPECT_GT(index, last) << "slot " << i;
    last = index;
  }
  EXPECT_GE(last, 115);
}

TEST_F(RecorderTest, CaptureThreadHeldUpCatchesUpInsteadOfDrifting) {
  // The thread misses 300 ms at 1 s (a busy machine): the slots of that
  // time are written in one pass, so the file keeps its length and the
  // sound stays with the picture.
  const MediaProbe probe = record(u"held up.avi", 3.0, [this](ScriptedClock* clock) {
    framesEvery(clock, 40000, 3.0);
    toneFrom(clock, kAudioOriginPhone, 0, 440, 3.0);
    clock->at(kSecondUs, [clock] { clock->advance(300000); });
  });
  ASSERT_TRUE(probe.opened) << probe.error;
  EXPECT_NEAR(76, probe.videoFrames, 1);
  EXPECT_NEAR(3.0, probe.audioSeconds(), 0.1);
}

// A clock the capture thread reads at `holdAtUs` and then gets no time
// for `heldUs`, during which the recording is asked to stop.
class HeldUpClock : public ScriptedClock {
 public:
  HeldUpClock(int64_t endUs, int64_t holdAtUs, int64_t heldUs, std::function<bool()> stopAsked)
      : ScriptedClock(endUs), holdAtUs_(holdAtUs), heldUs_(heldUs), stopAsked_(std::move(stopAsked)) {}
  int64_t nowUs() override {
    const int64_t now = ScriptedClock::nowUs();
    if (held_.load() || now < holdAtUs_) return now;
    held_ = true;
    advance(heldUs_);
    while (!stopAsked_()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return now;  // read before the hold
  }
  bool held() const { return held_.load(); }

 private:
  const int64_t holdAtUs_;
  const int64_t heldUs_;
  std::function<bool()> stopAsked_;
  std::atomic<bool> held_{false};
};

TEST_F(RecorderTest, StopWhileTheCaptureThreadIsHeldUpStillCoversTheWholeRecording) {
  // The thread reads 2 s, is held up 500 ms, and the stop comes meanwhile:
  // the file still lasts until the stop, 2.5 s.
  auto owned = std::make_unique<HeldUpClock>(10 * kSecondUs, 2 * kSecondUs, 500000,
                                             [this] { return !recorder_->recording(); });
  HeldUpClock* clock = owned.get();
  clock_ = std::move(owned);  // outlives the recorder
  recorder_ = std::make_unique<FFVideoFile>(clock);
  framesEvery(clock, 40000, 2.0);
  toneFrom(clock, kAudioOriginPhone, 0, 440, 2.0);
  path_ = base::joinPath(dir_, u"held at the stop.avi");
  ASSERT_TRUE(recorder_->start(path_, 320, 240));
  while (!clock->held()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  recorder_->stop();
  const MediaProbe probe = probeMedia(path_);
  ASSERT_TRUE(probe.opened) << probe.error;
  EXPECT_NEAR(63, probe.videoFrames, 1);
  EXPECT_NEAR(2.5, probe.audioSeconds(), 0.1);
}

TEST_F(RecorderTest, FramesOfAnUnknownPixelFormatAreSkipped) {
  const MediaProbe probe = record(u"odd.avi", 1.0, [this](ScriptedClock* clock) {
    clock->at(0, [this] { recorder_->OnVideoFrame(nullptr, barsFrame(5)); });
    for (int64_t t = 200000; t < kSecondUs; t += 40000) {
      clock->at(t, [this] {
        VideoFrame odd = barsFrame(9);
        odd.pixel_format = fourCC('Y', 'U', 'Y', '2');
        recorder_->OnVideoFrame(nullptr, odd);
      });
    }
  });
  ASSERT_TRUE(probe.opened) << probe.error;
  EXPECT_GT(recorder_->unknownFormatFrames(), 15);
  // The rate holds; the slots keep the last picture that could be used.
  EXPECT_NEAR(26, probe.videoFrames, 1);
  for (size_t i = 1; i < probe.middleRows.size(); ++i) EXPECT_EQ(5, readBars(probe.middleRows[i])) << i;
}

TEST_F(RecorderTest, FourByteFormatsAndOddSizesAreConverted) {
  // RGBX and XRGB pictures (the bars are grey, so byte order only moves
  // the padding), at a size the encoder cannot take as it is.
  const MediaProbe probe = record(u"rgbx.avi", 1.0, [this](ScriptedClock* clock) {
    clock->at(0, [this] {
      VideoFrame bars = barsFrame(0x5A, 321, 241);
      VideoFrame wide;
      wide.width = bars.width;
      wide.height = bars.height;
      wide.pixel_format = kPixelFormat_RGBX;
      wide.stride = bars.width * 4 + 8;
      wide.data.assign(static_cast<size_t>(wide.stride) * wide.height, 0);
      for (int y = 0; y < bars.height; ++y)
        for (int x = 0; x < bars.width; ++x)
          for (int c = 0; c < 3; ++c) wide.data[y * wide.stride + x * 4 + c] = bars.data[(y * bars.width + x) * 3 + c];
      recorder_->OnVideoFrame(nullptr, wide);
    });
  }, 321, 241);
  ASSERT_TRUE(probe.opened) << probe.error;
  EXPECT_EQ(320, probe.width);
  EXPECT_EQ(240, probe.height);
  ASSERT_GT(probe.middleRows.size(), 5u);
  EXPECT_EQ(0x5A, readBars(probe.middleRows[5]));
}

TEST_F(RecorderTest, PathsTheSystemAccepts) {
  // A name without a known extension is still written as AVI.
  MediaProbe probe = record(u"recording.unknownext", 0.5, [](ScriptedClock*) {});
  ASSERT_TRUE(probe.opened) << probe.error;
  EXPECT_EQ("avi", probe.format);

  // Non-ASCII folder and file names.
  const base::string16 folder = base::joinPath(dir_, u"Видео ñ 録画");
  ASSERT_TRUE(base::createDirectories(folder));
  probe = record(u"Видео ñ 録画/Запись_é.avi", 0.5, [this](ScriptedClock* clock) { framesEvery(clock, 40000, 0.5); });
  ASSERT_TRUE(probe.opened) << probe.error;
  EXPECT_EQ(1u, base::listDirectory(folder).size());
  EXPECT_NEAR(13, probe.videoFrames, 1);
}

TEST_F(RecorderTest, StartFailsCleanlyAndStartsOnlyOnce) {
  FFVideoFile recorder;
  // A folder that does not exist: the file cannot be made.
  EXPECT_FALSE(recorder.start(base::joinPath(base::joinPath(dir_, u"missing"), u"a.avi"), 320, 240));
  EXPECT_FALSE(recorder.recording());
  // No picture size (no frame came yet): no encoder can be opened.
  EXPECT_FALSE(recorder.start(base::joinPath(dir_, u"b.avi"), 0, 0));
  EXPECT_FALSE(recorder.recording());

  // Not recording: the decoder is told no pixels are wanted.
  int32_t wantedWidth = -1, wantedHeight = -1;
  recorder.WantedPictureSize(640, 480, &wantedWidth, &wantedHeight);
  EXPECT_EQ(0, wantedWidth * wantedHeight);

  ASSERT_TRUE(recorder.start(base::joinPath(dir_, u"c.avi"), 320, 240));
  EXPECT_TRUE(recorder.recording());
  // Recording: the whole picture, whatever the recording's size.
  recorder.WantedPictureSize(640, 480, &wantedWidth, &wantedHeight);
  EXPECT_EQ(640, wantedWidth);
  EXPECT_EQ(480, wantedHeight);
  EXPECT_FALSE(recorder.start(base::joinPath(dir_, u"d.avi"), 320, 240));
  EXPECT_FALSE(base::pathExists(base::joinPath(dir_, u"d.avi")));
  EXPECT_TRUE(recorder.recording());
  recorder.stop();
  EXPECT_FALSE(recorder.recording());
  recorder.stop();
  const MediaProbe probe = probeMedia(base::joinPath(dir_, u"c.avi"));
  EXPECT_TRUE(probe.opened) << probe.error;
  EXPECT_EQ("avi", probe.format);
}

}  // namespace
}  // namespace component
