#include "components/audio/audio_paths.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "components/audio/ilbc/ilbc_test_signals.h"
#include "components/audio/ilbc_audio_converter.h"
#include "gtest/gtest.h"

namespace component {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<uint8_t> tone8k(size_t samples, size_t offset = 0) {
  std::vector<uint8_t> bytes(samples * 2);
  for (size_t i = 0; i < samples; ++i) {
    const auto v = static_cast<int16_t>(8000 * std::sin(2 * kPi * 1000 * double(i + offset) / 8000));
    bytes[2 * i] = static_cast<uint8_t>(v & 0xFF);
    bytes[2 * i + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
  }
  return bytes;
}

AudioPacketData lpcmPacket(int64_t timestamp, int64_t received) {
  AudioPacketData packet;
  packet.format = kAudioFormatLPCM;
  packet.timestamp = timestamp;
  packet.received = received;
  packet.data = tone8k(160, static_cast<size_t>(timestamp));
  return packet;
}

// Position-coded samples that are never silence.
int16_t valueAt(uint64_t p) { return static_cast<int16_t>(((p * 2654435761u) >> 13) | 1u); }

void fill(SampleRing* ring, uint64_t from, size_t count) {
  std::vector<int16_t> v(count);
  for (size_t i = 0; i < count; ++i) v[i] = valueAt(from + i);
  ASSERT_EQ(SampleRing::kDone, ring->Write(v.data(), count, from));
}

TEST(AudioProfilesTest, OnlyTheTwoProfilesAreKnown) {
  size_t count = 0;
  const AudioProfile* profiles = audioProfiles(&count);
  ASSERT_EQ(2u, count);
  EXPECT_STREQ("ilbc-20ms", profiles[0].id);
  EXPECT_EQ(0x696C6263u, profiles[0].format);
  EXPECT_EQ(76u, profiles[0].packetBytes);
  EXPECT_EQ(0x6C70636Du, findAudioProfile("lpcm-20ms-8kHz")->format);
  EXPECT_EQ(320u, findAudioProfile("lpcm-20ms-8kHz")->packetBytes);
  EXPECT_EQ(nullptr, findAudioProfile("pcm"));
  EXPECT_EQ(nullptr, findAudioProfile("ILBC-20MS"));
}

class DecodePathTest : public ::testing::Test {
 protected:
  SampleRing ring_;
  AudioDecodePath path_{&ring_};
};

TEST_F(DecodePathTest, UnknownProfileIsRefused) { EXPECT_FALSE(path_.setUp("pcm")); }

TEST_F(DecodePathTest, NineWaitingPacketsAreShedUntilThreeRemain) {
  ASSERT_TRUE(path_.setUp(kProfileLPCM));
  std::vector<AudioDecodePath::Result> results;
  for (size_t waiting = 9;; --waiting) {
    AudioPacketData copy;
    results.push_back(path_.take(lpcmPacket(160 * int64_t(9 - waiting), 0), waiting, 0, &copy));
    if (waiting == 0) break;
  }
  // 9 ... 3 waiting are dropped (the one at 3 ends the shedding), 2 ... 0 play.
  for (size_t i = 0; i < 7; ++i) EXPECT_EQ(AudioDecodePath::kShed, results[i]) << i;
  for (size_t i = 7; i < 10; ++i) EXPECT_EQ(AudioDecodePath::kPlayed, results[i]) << i;
  EXPECT_FALSE(path_.shedding());
  // Shedding is over: a short backlog plays normally.
  AudioPacketData copy;
  EXPECT_EQ(AudioDecodePath::kPlayed, path_.take(lpcmPacket(1600, 0), 5, 0, &copy));
}

TEST_F(DecodePathTest, SheddingStaysOnWhileTheBacklogNeverPassesThree) {
  ASSERT_TRUE(path_.setUp(kProfileLPCM));
  AudioPacketData copy;
  EXPECT_EQ(AudioDecodePath::kShed, path_.take(lpcmPacket(0, 0), 8, 0, &copy));
  EXPECT_EQ(AudioDecodePath::kPlayed, path_.take(lpcmPacket(160, 0), 2, 0, &copy));
  EXPECT_TRUE(path_.shedding());
  EXPECT_EQ(AudioDecodePath::kShed, path_.take(lpcmPacket(320, 0), 4, 0, &copy));
}

TEST_F(DecodePathTest, PacketOlderThan60msIsDropped) {
  ASSERT_TRUE(path_.setUp(kProfileLPCM));
  AudioPacketData copy;
  EXPECT_EQ(AudioDecodePath::kLate, path_.take(lpcmPacket(0, 1000000), 0, 1061000, &copy));
  uint64_t b = 1, e = 1;
  ring_.Range(&b, &e);
  EXPECT_EQ(b, e);
  EXPECT_EQ(AudioDecodePath::kPlayed, path_.take(lpcmPacket(0, 1000000), 0, 1060000, &copy));
}

TEST_F(DecodePathTest, LpcmLandsAtSixTimesItsTimestampAndIsCopiedForObservers) {
  ASSERT_TRUE(path_.setUp(kProfileLPCM));
  AudioPacketData copy;
  ASSERT_EQ(AudioDecodePath::kPlayed, path_.take(lpcmPacket(8000, 5), 0, 5, &copy));
  uint64_t b = 1, e = 1;
  ring_.Range(&b, &e);
  EXPECT_EQ(48960u, e);
  std::vector<int16_t> stored(960);
  ASSERT_EQ(SampleRing::kDone, ring_.Read(stored.data(), stored.size(), 48000));
  EXPECT_EQ(kAudioFormatLPCM, copy.format);
  EXPECT_EQ(kAudioOriginPhone, copy.origin);
  EXPECT_EQ(48000, copy.timestamp);
  ASSERT_EQ(1920u, copy.data.size());
  EXPECT_EQ(0, std::memcmp(stored.data(), copy.data.data(), copy.data.size()));
}

TEST_F(DecodePathTest, IlbcPacketOfTwoFramesBecomes40msAt48kHz) {
  ASSERT_TRUE(path_.setUp(kProfileILBC));
  AudioPacketData packet;
  packet.timestamp = 320;
  packet.received = 0;
  packet.data.assign(76, 0x55);
  AudioPacketData copy;
  ASSERT_EQ(AudioDecodePath::kPlayed, path_.take(packet, 0, 0, &copy));
  EXPECT_EQ(3840u, copy.data.size());
  EXPECT_EQ(1920, copy.timestamp);
  packet.data.assign(40, 0x55);  // not whole frames
  EXPECT_EQ(AudioDecodePath::kFailed, path_.take(packet, 0, 0, &copy));
}

class PlayoutTest : public ::testing::Test {
 protected:
  std::vector<int16_t> render(int64_t position) {
    std::vector<int16_t> out(480, 0);
    playout_.render(out.data(), out.size(), position);
    return out;
  }
  SampleRing ring_;
  AudioPlayout playout_{&ring_};
};

// Runs 8 kHz speech through a profile's decoding path in the phone's 20 ms
// packets; returns what lands in the ring from position 0 and the delay the
// path reports.
std::vector<int16_t> throughDecodePath(const char* profile, std::vector<int16_t> speech, uint64_t* delay) {
  SampleRing ring;
  AudioDecodePath path(&ring);
  EXPECT_TRUE(path.setUp(profile));
  *delay = path.delaySamples();
  const bool ilbc = std::string(profile) == kProfileILBC;
  iLBCAudioEncoder encoder;
  const size_t packets = speech.size() / 160;
  for (size_t p = 0; p < packets; ++p) {
    AudioPacketData packet, copy;
    packet.format = ilbc ? kAudioFormatILBC : kAudioFormatLPCM;
    packet.timestamp = static_cast<int64_t>(p * 160);
    const auto* bytes = reinterpret_cast<const uint8_t*>(speech.data() + p * 160);
    if (ilbc) {
      EXPECT_TRUE(encoder.Convert(bytes, 320));
      bytes = static_cast<const uint8_t*>(encoder.Data());
    }
    packet.data.assign(bytes, bytes + (ilbc ? encoder.Size() : 320));
    EXPECT_EQ(AudioDecodePath::kPlayed, path.take(packet, 0, 0, &copy));
  }
  std::vector<int16_t> out(packets * 960);
  EXPECT_EQ(SampleRing::kDone, ring.Read(out.data(), out.size(), 0));
  return out;
}

// The delay each path reports is where its sound really comes out: play-out
// relies on it to hear the phone 100 ms behind its newest sample.
TEST(DecodePathDelayTest, TheReportedDelayIsWhereTheSoundComesOut) {
  // LPCM: a click at 8 kHz sample 1000 starts at 48 kHz 6000 + the delay.
  std::vector<int16_t> click(25 * 160, 0);
  for (size_t i = 1000; i < 1016; ++i) click[i] = 30000;
  uint64_t lpcmDelay = 0;
  std::vector<int16_t> out = throughDecodePath(kProfileLPCM, click, &lpcmDelay);
  size_t onset = 0;
  while (onset < out.size() && std::abs(out[onset]) < 15000) ++onset;
  EXPECT_GT(lpcmDelay, 0u);
  EXPECT_NEAR(6000.0 + lpcmDelay, double(onset), 3.0);

  // iLBC: its speech matches the LPCM path's best when shifted by the
  // difference of the two delays (the decoder's enhancer).
  const std::vector<int16_t> speech = ilbc::testing::SpeechLikeSignal(40, 3);
  uint64_t ilbcDelay = 0;
  const std::vector<int16_t> viaIlbc = throughDecodePath(kProfileILBC, speech, &ilbcDelay);
  const std::vector<int16_t> viaLpcm = throughDecodePath(kProfileLPCM, speech, &lpcmDelay);
  int bestShift = -1;
  double best = -1e300;
  for (int shift = 0; shift <= 900; shift += 2) {
    double sum = 0;
    for (size_t n = 4800; n + shift < viaIlbc.size() && n < 30000; ++n) sum += double(viaIlbc[n + shift]) * viaLpcm[n];
    if (sum > best) {
      best = sum;
      bestShift = shift;
    }
  }
  EXPECT_GT(ilbcDelay, lpcmDelay);
  EXPECT_NEAR(double(ilbcDelay - lpcmDelay), double(bestShift), 6.0);
}

TEST_F(PlayoutTest, StartsAfter100msBufferedAnd4800SamplesBehindTheNewest) {
  fill(&ring_, 0, 4799);
  auto out = render(0);
  EXPECT_FALSE(playout_.playing());
  EXPECT_EQ(std::vector<int16_t>(480, 0), out);
  fill(&ring_, 4799, 961);  // end 5760
  out = render(480);
  ASSERT_TRUE(playout_.playing());
  EXPECT_EQ(valueAt(5760 - 4800), out[0]);
  EXPECT_EQ(valueAt(5760 - 4800 + 479), out[479]);
  // The device moved on by one block: so does the read position.
  out = render(960);
  EXPECT_EQ(valueAt(5760 - 4800 + 480), out[0]);
  EXPECT_EQ(1u, playout_.starts());
  EXPECT_EQ(0u, playout_.underruns());
}

// The samples in the ring are the chain's delay older than their positions:
// play-out starts that much closer to the newest so the phone is still heard
// 4800 samples behind; 100 ms must be buffered all the same.
TEST(PlayoutChainDelayTest, StartsTheChainsDelayCloserToTheNewest) {
  for (uint64_t delay : {768u, 1008u}) {
    SampleRing ring;
    AudioPlayout playout(&ring);
    playout.setChainDelay(delay);
    std::vector<int16_t> out(480, 0);
    fill(&ring, 0, 4799);
    playout.render(out.data(), out.size(), 0);
    EXPECT_FALSE(playout.playing()) << delay;
    fill(&ring, 4799, 961);  // end 5760
    playout.render(out.data(), out.size(), 480);
    ASSERT_TRUE(playout.playing()) << delay;
    const uint64_t lag = 4800 - delay;
    EXPECT_EQ(valueAt(5760 - lag), out[0]) << delay;
    EXPECT_EQ(lag, playout.startLag());
  }
}

// Play-out starting 5 ms after the newest packet came starts 240 samples
// further on, so the phone is heard 4800 behind whatever the phase between
// the device's blocks and the phone's packets; only with the arrival of the
// sample that really is the newest, and never beyond the newest.
TEST(PlayoutChainDelayTest, StartsAsMuchFurtherOnAsTheNewestPacketWaited) {
  struct Case {
    uint64_t notedEnd;
    int64_t waitedUs;
    uint64_t expectedStart;
  } cases[] = {
      {5760, 5000, 960 + 240},  // 5 ms: 240 samples
      {5760, 0, 960},
      {5000, 5000, 960},        // the note is for an older packet
      {5760, 900000, 960 + 1920},  // a stall, not a phase: at most 40 ms
  };
  for (const Case& c : cases) {
    SampleRing ring;
    AudioPlayout playout(&ring);
    fill(&ring, 0, 5760);
    const int64_t arrived = 7000000;
    playout.noteNewest(c.notedEnd, arrived);
    std::vector<int16_t> out(480, 0);
    playout.render(out.data(), out.size(), 480, arrived + c.waitedUs);
    ASSERT_TRUE(playout.playing());
    EXPECT_EQ(c.expectedStart + 480, playout.readPosition()) << c.notedEnd << " " << c.waitedUs;
    if (c.expectedStart < 5760) EXPECT_EQ(valueAt(c.expectedStart), out[0]);
  }
}

TEST_F(PlayoutTest, DeviceSkippingAheadSkipsTheSameStretchOfTheRing) {
  fill(&ring_, 0, 9000);
  render(1000);  // reads from 4200
  auto out = render(1000 + 480 + 240);  // 240 samples skipped
  EXPECT_EQ(valueAt(4200 + 480 + 240), out[0]);
}

TEST_F(PlayoutTest, RunningDryStopsAndWaitsFor100msBeyondTheOldReadPosition) {
  fill(&ring_, 0, 4800);
  render(0);  // plays 0 ... 479
  int64_t device = 480;
  for (; device < 4800; device += 480) render(device);
  EXPECT_EQ(0u, playout_.underruns());
  render(device);  // nothing left
  EXPECT_FALSE(playout_.playing());
  EXPECT_EQ(1u, playout_.underruns());
  // 100 ms more, but e - 4800 is still before where play-out stopped.
  fill(&ring_, 4800, 4000);
  render(device += 480);
  EXPECT_FALSE(playout_.playing());
  fill(&ring_, 8800, 800);
  auto out = render(device += 480);
  EXPECT_TRUE(playout_.playing());
  EXPECT_EQ(valueAt(9600 - 4800), out[0]);
}

TEST_F(PlayoutTest, FallingMoreThan200msBehindResynchronises) {
  fill(&ring_, 0, 4800);
  render(0);
  fill(&ring_, 4800, 5400);  // end 10200; read position 480: 9720 behind
  render(480);
  EXPECT_FALSE(playout_.playing());
  auto out = render(960);
  EXPECT_TRUE(playout_.playing());
  EXPECT_EQ(valueAt(10200 - 4800), out[0]);
}

TEST_F(PlayoutTest, EmptyRingOrDeviceGoingBackResets) {
  fill(&ring_, 0, 4800);
  render(5000);
  render(4000);  // the device position went back
  EXPECT_FALSE(playout_.playing());
  ring_.Setup();
  render(6000);
  EXPECT_EQ(0u, playout_.readPosition());
}

// The phone and the device on one clock, 10 ms at a time: the phone's
// samples (a 1 kHz tone at each sample's 48 kHz position) reach the ring
// when the test says they arrive, and the device asks for its next block.
class PlayoutPullBackTest : public ::testing::Test {
 protected:
  static constexpr size_t kBlock = 480;
  static constexpr int64_t kTickUs = 10000;
  static constexpr double kAmplitude = 12000;

  static int16_t tone(uint64_t p) {
    return static_cast<int16_t>(std::lround(kAmplitude * std::sin(2 * kPi * 1000 * double(p) / 48000)));
  }
  // The largest step between neighbouring samples of the tone, and that of
  // the tone played 0.625 % faster.
  static double naturalStep() { return kAmplitude * 2 * kPi * 1000 / 48000; }

  // `count` more of the phone's samples arrive now.
  void arrive(size_t count) {
    std::vector<int16_t> v(count);
    for (size_t i = 0; i < count; ++i) v[i] = tone(ringEnd_ + i);
    ASSERT_EQ(SampleRing::kDone, ring_.Write(v.data(), count, ringEnd_));
    ringEnd_ += count;
    playout_.noteNewest(ringEnd_, now_);
  }
  // The device asks `lateUs` after the tick; what it plays goes to heard_.
  void ask(int64_t lateUs = 0) {
    std::vector<int16_t> out(kBlock, 0);
    playout_.render(out.data(), kBlock, device_, now_ + lateUs);
    heard_.insert(heard_.end(), out.begin(), out.end());
    device_ += static_cast<int64_t>(kBlock);
  }
  // How far behind the newest sample the next block will start once the
  // phone's next 10 ms have arrived (the lag play-out started with: 4800).
  uint64_t lag() const { return ringEnd_ + kBlock - playout_.readPosition(); }
  // One tick of steady streaming.
  void tick() {
    arrive(kBlock);
    ask();
    now_ += kTickUs;
  }
  // Steady streaming from nothing until play-out started.
  void startSteady() {
    while (!playout_.playing()) tick();
  }
  // A stall of the phone's packets that drains the ring; then all but the
  // newest `held` samples of the backlog arrive and play-out restarts on
  // them, `held` further behind than it should.
  void restartWithNewestHeldBack(size_t held) {
    size_t backlog = 0;
    for (int i = 0; i < 20; ++i, now_ += kTickUs) {
      backlog += kBlock;
      ask();
    }
    ASSERT_FALSE(playout_.playing());
    backlog += kBlock;
    arrive(backlog - held);
    ask();
    now_ += kTickUs;
    ASSERT_TRUE(playout_.playing());
    restartedAt_ = heard_.size() - kBlock;
    arrive(held + kBlock);  // the late packets come with the next
    ask();
    now_ += kTickUs;
  }
  // The largest step between neighbouring samples heard from `from` on.
  double largestStep(size_t from) const {
    double largest = 0;
    for (size_t i = from + 1; i < heard_.size(); ++i)
      largest = std::max(largest, std::abs(double(heard_[i]) - double(heard_[i - 1])));
    return largest;
  }

  SampleRing ring_;
  AudioPlayout playout_{&ring_};
  uint64_t ringEnd_ = 0;
  int64_t device_ = 0;
  int64_t now_ = 5000000;
  std::vector<int16_t> heard_;
  size_t restartedAt_ = 0;
};

// A restart on packets that were 40 ms late leaves play-out 140 ms behind;
// it comes back to 100 ms within seconds, and the tone goes on without a
// click on the way.
TEST_F(PlayoutPullBackTest, A140msLagAfterARestartReturnsTo100msWithoutAClick) {
  startSteady();
  for (int i = 0; i < 200; ++i) tick();
  EXPECT_EQ(4800u, lag());
  EXPECT_EQ(0u, playout_.pulledBack());

  restartWithNewestHeldBack(1920);
  EXPECT_EQ(2u, playout_.starts());
  EXPECT_EQ(6720u, lag());
  int ticks = 0;
  while (lag() > 4800 && ticks < 1000) {
    tick();
    ++ticks;
  }
  // A second to judge, then 1920 samples at 3 a block: 740 ticks.
  EXPECT_LE(ticks, 760);
  EXPECT_EQ(4800u, lag());
  EXPECT_EQ(1920u, playout_.pulledBack());
  // And it stays there.
  for (int i = 0; i < 300; ++i) tick();
  EXPECT_EQ(4800u, lag());
  EXPECT_EQ(1920u, playout_.pulledBack());
  EXPECT_EQ(2u, playout_.starts());
  // From the block after the restart on: every step is one the tone itself
  // makes when played 0.625 % faster; skipping samples would make steps up
  // to twice and more.
  EXPECT_LT(largestStep(restartedAt_ + 1), naturalStep() * 1.01 + 2);
  EXPECT_GT(largestStep(restartedAt_ + 1), naturalStep() * 0.99);
}

// Packets up to 30 ms late, device ticks up to 9 ms late, and now and then
// one 40 ms late: none of it is a lag that stays, so nothing is pulled back.
TEST_F(PlayoutPullBackTest, JitterOfPacketsAndDeviceTicksIsNotPulledBack) {
  startSteady();
  std::mt19937 random(12);
  std::uniform_int_distribution<int> packetLate(0, 3), tickLate(0, 9000);
  uint64_t sent = ringEnd_;
  int64_t arrivesAt = now_;
  std::vector<std::pair<int64_t, uint64_t>> inFlight;  // arrival time, end
  for (int i = 0; i < 2000; ++i) {
    sent += kBlock;
    arrivesAt = std::max(arrivesAt, now_ + packetLate(random) * kTickUs);
    inFlight.emplace_back(arrivesAt, sent);
    while (!inFlight.empty() && inFlight.front().first <= now_) {
      arrive(inFlight.front().second - ringEnd_);
      inFlight.erase(inFlight.begin());
    }
    ask(i % 37 == 0 ? 40000 : tickLate(random));
    now_ += kTickUs;
  }
  EXPECT_EQ(0u, playout_.pulledBack());
  EXPECT_EQ(1u, playout_.starts());
  EXPECT_EQ(0u, playout_.underruns());
}

// A phone whose sample clock runs 500 ppm fast or slow against the device:
// over two minutes play-out follows it by changing speed a little either
// way, never runs dry or restarts, and stays near 100 ms behind.
TEST_F(PlayoutPullBackTest, FollowsAPhoneClock500ppmFastOrSlow) {
  for (const int ppm : {500, -500}) {
    SCOPED_TRACE(ppm);
    ring_.Setup();
    playout_.reset();
    ringEnd_ = 0;
    heard_.clear();
    startSteady();
    const uint64_t starts = playout_.starts(), underruns = playout_.underruns();
    double owed = 0;
    uint64_t lowest = UINT64_MAX, highest = 0;
    for (int i = 0; i < 12000; ++i) {
      owed += kBlock * (1 + ppm / 1e6);
      const auto count = static_cast<size_t>(owed);
      owed -= static_cast<double>(count);
      arrive(count);
      ask();
      now_ += kTickUs;
      const uint64_t behind = ringEnd_ - playout_.readPosition();
      lowest = std::min(lowest, behind);
      highest = std::max(highest, behind);
    }
    EXPECT_EQ(starts, playout_.starts());
    EXPECT_EQ(underruns, playout_.underruns());
    // 100 ms ± 10 ms, counted as lag() counts it.
    EXPECT_GE(lowest + kBlock, 4800u - 480u);
    EXPECT_LE(highest + kBlock, 4800u + 480u);
    EXPECT_GT(ppm > 0 ? playout_.pulledBack() : playout_.heldBack(), 0u);
  }
}

// The phone's packets stop for 5 s (not long enough to lose the connection)
// and then come in one burst, of which the decoding thread keeps the newest
// three: the tone is heard again within a second, 100 ms behind, and stays
// there with no further restarts.
TEST_F(PlayoutPullBackTest, AFiveSecondStallThenABurstIsHeardAgainAt100ms) {
  startSteady();
  for (int i = 0; i < 100; ++i) tick();
  const uint64_t starts = playout_.starts();
  for (int i = 0; i < 500; ++i, now_ += kTickUs) ask();
  EXPECT_FALSE(playout_.playing());
  ringEnd_ += 500 * kBlock - 3 * 960;  // what shedding dropped
  const size_t burstAt = heard_.size();
  for (int i = 0; i < 100; ++i) {
    if (i == 0) arrive(3 * 960 - kBlock);
    tick();
  }
  size_t first = 0;
  while (burstAt + first < heard_.size() && std::abs(heard_[burstAt + first]) < 1000) ++first;
  EXPECT_LT(first, 48000u) << "not heard within a second of the burst";
  for (int i = 0; i < 900; ++i) tick();
  EXPECT_NEAR(4800.0, double(lag()), 480.0);
  EXPECT_EQ(starts + 1, playout_.starts());
  EXPECT_TRUE(playout_.playing());
}

// The 200 ms rule stays the backstop, also while a pull-back is under way.
TEST_F(PlayoutPullBackTest, MoreThan200msBehindStillResynchronises) {
  startSteady();
  restartWithNewestHeldBack(1920);
  for (int i = 0; i < 200; ++i) tick();
  ASSERT_GT(playout_.pulledBack(), 0u);
  ASSERT_LT(playout_.pulledBack(), 1920u);
  const uint64_t underruns = playout_.underruns();
  arrive(9600 - lag() + 2 * kBlock);  // a burst: 10080 behind
  ask();
  now_ += kTickUs;
  EXPECT_FALSE(playout_.playing());
  EXPECT_EQ(underruns + 1, playout_.underruns());
  tick();
  EXPECT_TRUE(playout_.playing());
  EXPECT_EQ(4800u, lag());
}

class EncodePathTest : public ::testing::TestWithParam<const char*> {
 protected:
  // Runs the path until it waits; returns the packets made.
  std::vector<std::unique_ptr<AudioPacketData>> drain(std::vector<std::unique_ptr<AudioPacketData>>* copies) {
    std::vector<std::unique_ptr<AudioPacketData>> packets;
    for (;;) {
      std::unique_ptr<AudioPacketData> packet, copy;
      if (path_.step(&packet, &copy) == AudioEncodePath::kWait) return packets;
      if (packet) {
        packets.push_back(std::move(packet));
        copies->push_back(std::move(copy));
      }
    }
  }
  SampleRing ring_;
  AudioEncodePath path_{&ring_};
};

TEST_P(EncodePathTest, PacketSizesAndTimestampSteps) {
  const bool ilbc = std::string(GetParam()) == kProfileILBC;
  ASSERT_TRUE(path_.setUp(GetParam()));
  std::vector<std::unique_ptr<AudioPacketData>> packets, copies;
  // The capture arrives in 10 ms blocks, as the record thread writes it.
  for (uint64_t p = 0; p < 48000; p += 480) {
    fill(&ring_, p, 480);
    auto more = drain(&copies);
    for (auto& m : more) packets.push_back(std::move(m));
  }
  ASSERT_GE(packets.size(), ilbc ? 20u : 45u);
  for (size_t i = 0; i < packets.size(); ++i) {
    EXPECT_EQ(ilbc ? 76u : 320u, packets[i]->data.size());
    EXPECT_EQ(ilbc ? kAudioFormatILBC : kAudioFormatLPCM, packets[i]->format);
    EXPECT_EQ(kAudioOriginPC, packets[i]->origin);
    EXPECT_EQ(packets[i]->timestamp * 6, copies[i]->timestamp);
    EXPECT_EQ(kAudioOriginPC, copies[i]->origin);
    EXPECT_EQ(ilbc ? 3840u : 1920u, copies[i]->data.size());
    if (i) EXPECT_EQ(ilbc ? 320 : 160, packets[i]->timestamp - packets[i - 1]->timestamp);
  }
  // The copy carries the captured samples unchanged.
  const auto* first = reinterpret_cast<const int16_t*>(copies[0]->data.data());
  EXPECT_EQ(valueAt(static_cast<uint64_t>(copies[0]->timestamp)), first[0]);
}

INSTANTIATE_TEST_SUITE_P(Profiles, EncodePathTest, ::testing::Values(kProfileILBC, kProfileLPCM));

TEST(EncodePathLagTest, MoreThan80msBehindSkipsToTheNewestBlock) {
  SampleRing ring;
  AudioEncodePath path(&ring);
  ASSERT_TRUE(path.setUp(kProfileLPCM));
  fill(&ring, 0, 960);
  std::unique_ptr<AudioPacketData> packet, copy;
  ASSERT_EQ(AudioEncodePath::kBlock, path.step(&packet, &copy));
  ASSERT_TRUE(packet);
  EXPECT_EQ(0, packet->timestamp);
  fill(&ring, 960, 4800);  // end 5760: the next block (960) is 4800 behind
  packet.reset();
  while (!packet) ASSERT_EQ(AudioEncodePath::kBlock, path.step(&packet, &copy));
  EXPECT_EQ((5760 - 960) / 6, packet->timestamp);
}

}  // namespace
}  // namespace component
