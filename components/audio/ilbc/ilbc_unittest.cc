#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "components/audio/ilbc/ilbc.h"
#include "components/audio/ilbc/ilbc_internal.h"
#include "components/audio/ilbc/ilbc_test_signals.h"
#include "gtest/gtest.h"

#if defined(QL_HAVE_FFMPEG)
extern "C" {
#include <libavcodec/avcodec.h>
}
#endif

namespace ilbc {
namespace {

using internal::FrameParams;
using testing::CodecFilteredReference;
using testing::SegmentalSnrDb;
using testing::SnrDb;
using testing::SpeechLikeSignal;

constexpr int kFrames = 250;  // 5 s

std::vector<uint8_t> EncodeAll(const std::vector<int16_t>& pcm) {
  Encoder encoder;
  std::vector<uint8_t> bits(pcm.size() / kFrameSamples * kFrameBytes);
  float in[kFrameSamples];
  for (size_t f = 0; f < pcm.size() / kFrameSamples; ++f) {
    for (size_t i = 0; i < kFrameSamples; ++i) in[i] = pcm[f * kFrameSamples + i];
    encoder.Encode(in, bits.data() + f * kFrameBytes);
  }
  return bits;
}

std::vector<double> DecodeAll(const std::vector<uint8_t>& bits, bool enhancer) {
  Decoder decoder(enhancer);
  std::vector<double> out;
  float samples[kFrameSamples];
  for (size_t f = 0; f < bits.size() / kFrameBytes; ++f) {
    EXPECT_TRUE(decoder.Decode(bits.data() + f * kFrameBytes, samples));
    out.insert(out.end(), samples, samples + kFrameSamples);
  }
  return out;
}

uint64_t Fnv1a(const void* data, size_t size, uint64_t h = 1469598103934665603ull) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

FrameParams RandomParams(uint32_t* seed) {
  auto next = [seed](int range) {
    *seed = *seed * 1664525u + 1013904223u;
    return int((*seed >> 8) % unsigned(range));
  };
  FrameParams p;
  p.lsf[0] = next(64);
  p.lsf[1] = next(128);
  p.lsf[2] = next(128);
  p.start = 1 + next(3);
  p.state_first = next(2);
  p.scale = next(64);
  for (int& s : p.state) s = next(8);
  for (int b = 0; b < 3; ++b) {
    for (int s = 0; s < 3; ++s) {
      p.cb[b][s] = next(b == 0 ? 126 : 256);
      p.gain[b][s] = next(s == 0 ? 32 : s == 1 ? 16 : 8);
    }
  }
  // Block 1, stages 2 and 3 can only address part of their codebook.
  static const int kReachable[] = {0, 43, 108, 127, 128, 171, 236, 255};
  p.cb[1][1] = kReachable[next(8)];
  p.cb[1][2] = kReachable[next(8)];
  return p;
}

TEST(IlbcBitstreamTest, EveryFieldSurvivesPackingAndTheLastBitIsZero) {
  uint32_t seed = 1;
  for (int n = 0; n < 500; ++n) {
    const FrameParams p = RandomParams(&seed);
    uint8_t frame[kFrameBytes];
    internal::Pack(p, frame);
    EXPECT_EQ(0, frame[kFrameBytes - 1] & 1);
    FrameParams q;
    ASSERT_TRUE(internal::Unpack(frame, &q));
    ASSERT_EQ(0, std::memcmp(&p, &q, sizeof(p))) << "frame " << n;
  }
}

TEST(IlbcBitstreamTest, FirstLayerHoldsTheMostImportantBits) {
  // The frame opens with the LSF indices (6, 7, 7 bits) and the start
  // subframe (2 bits), most significant bit first.
  FrameParams p = {};
  p.lsf[0] = 0x2A;  // 101010
  p.lsf[1] = 0x55;  // 1010101
  p.lsf[2] = 0x01;  // 0000001
  p.start = 3;      // 11
  uint8_t frame[kFrameBytes];
  internal::Pack(p, frame);
  EXPECT_EQ(0xAA, frame[0]);  // 101010 10
  EXPECT_EQ(0xA8, frame[1]);  // 10101 000
  EXPECT_EQ(0x1C, frame[2]);  // 0001 11 0 0: lsf[2] end, start, state_first
}

TEST(IlbcBitstreamTest, EmptyOrImpossibleFramesAreConcealed) {
  uint32_t seed = 5;
  FrameParams p = RandomParams(&seed);
  uint8_t frame[kFrameBytes];
  internal::Pack(p, frame);
  Decoder decoder;
  float out[kFrameSamples];
  EXPECT_TRUE(decoder.Decode(frame, out));
  frame[kFrameBytes - 1] |= 1;  // empty-frame bit
  EXPECT_FALSE(decoder.Decode(frame, out));
  p.start = 0;
  internal::Pack(p, frame);
  EXPECT_FALSE(decoder.Decode(frame, out));
  p.start = 1;
  p.cb[0][1] = 127;  // beyond the 126 vectors of the 23-sample codebook
  internal::Pack(p, frame);
  EXPECT_FALSE(decoder.Decode(frame, out));
}

TEST(IlbcRobustnessTest, RandomBytesNeverBreakTheDecoder) {
  for (bool enhancer : {false, true}) {
    Decoder decoder(enhancer);
    uint32_t seed = 99;
    uint8_t frame[kFrameBytes];
    float out[kFrameSamples];
    for (int n = 0; n < 1500; ++n) {
      for (uint8_t& b : frame) {
        seed = seed * 1664525u + 1013904223u;
        b = uint8_t(seed >> 24);
      }
      if (n % 7 == 0) decoder.Conceal(out);
      else decoder.Decode(frame, out);
      for (float v : out) ASSERT_TRUE(std::isfinite(v) && std::fabs(v) < 1e7f);
    }
  }
}

TEST(IlbcMathTest, DeterministicFunctionsMatchTheLibrary) {
  for (double x = 0.0; x <= 3.2; x += 0.001) {
    ASSERT_NEAR(std::cos(x), internal::Cos(x), 1e-14);
  }
  for (double x = -1.0; x <= 1.0; x += 0.0005) {
    ASSERT_NEAR(std::acos(x), internal::Acos(x), 1e-13);
  }
  for (double x = -5.0; x <= 5.0; x += 0.01) {
    ASSERT_NEAR(1.0, internal::Exp10(x) / std::pow(10.0, x), 1e-14);
    ASSERT_NEAR(x, internal::Log10(std::pow(10.0, x)), 1e-13);
  }
}

// The batched lag search must be the one-lag-at-a-time measure to the bit
// (it steers the decoder's choices), including silent and negative stretches.
TEST(IlbcMathTest, BatchedLagMeasuresEqualSingleOnes) {
  const std::vector<int16_t> speech = testing::SpeechLikeSignal(2, 3);
  std::vector<float> x(speech.begin(), speech.end());
  for (int i = 40; i < 60; ++i) x[i] = 0.0f;        // silence among the lags
  for (int i = 200; i < 240; ++i) x[i] = -x[i - 100];  // anti-correlated copy
  const int target = 240, first = 10, count = 90, length = 60;
  float batched[90];
  internal::LagMeasures(x.data() + target, first, count, length, batched);
  for (int i = 0; i < count; ++i) {
    const float single = internal::LagMeasure(x.data() + target, x.data() + target - first - i, length);
    ASSERT_EQ(single, batched[i]) << "lag " << first + i;
  }
}

// Blocked sliding sums must equal plain in-order dot products to the bit for
// every count: below one block, exact blocks, and a partial last block that
// overlaps the one before.
TEST(IlbcMathTest, SlidingSumsEqualPlainDotProducts) {
  const std::vector<int16_t> speech = testing::SpeechLikeSignal(4, 5);
  const std::vector<float> x(speech.begin(), speech.end());
  for (int count : {0, 1, 7, 8, 9, 15, 20, 44, 108}) {
    for (int length : {23, 40}) {
      const float* target = x.data() + 300;
      const float* y = x.data() + 100;
      float dots[128], energies[128];
      for (float& v : dots) v = -1.0f;  // untouched outputs stay visible
      internal::SlidingDots(target, y, count, length, dots);
      internal::SlidingEnergies(y, count, length, energies);
      for (int s = 0; s < count; ++s) {
        float dot = 0.0f, energy = 0.0f;
        for (int k = 0; k < length; ++k) {
          dot += target[k] * y[s + k];
          energy += y[s + k] * y[s + k];
        }
        ASSERT_EQ(dot, dots[s]) << "count " << count << " s " << s;
        ASSERT_EQ(energy, energies[s]) << "count " << count << " s " << s;
      }
      EXPECT_EQ(-1.0f, dots[count]) << "written past count " << count;
    }
  }
}

TEST(IlbcLsfTest, PolynomialAndLsfConvertBothWays) {
  // Every LSF codebook combination's polynomial gives its LSFs back.
  for (int i = 0; i < 64; i += 3) {
    const int idx[3] = {i, (i * 7) % 128, (i * 13 + 5) % 128};
    float lsf[10], poly[11], back[10];
    internal::DequantizeLsf(idx, lsf);
    internal::StabilizeLsf(lsf);
    internal::LsfToPoly(lsf, poly);
    ASSERT_TRUE(internal::PolyToLsf(poly, back));
    for (int k = 0; k < 10; ++k) EXPECT_NEAR(lsf[k], back[k], 2e-4) << i << " " << k;
  }
}

TEST(IlbcCodecTest, SpeechRoundTripStaysIntelligible) {
  const std::vector<int16_t> pcm = SpeechLikeSignal(kFrames, 11);
  const std::vector<uint8_t> bits = EncodeAll(pcm);
  const std::vector<double> reference = CodecFilteredReference(pcm);
  const double plain = SegmentalSnrDb(reference, DecodeAll(bits, false), 0, 5);
  // The enhancer delays its output by 40 samples.
  const double enhanced = SegmentalSnrDb(reference, DecodeAll(bits, true), 40, 5);
  std::printf("segmental SNR: %.2f dB without enhancer, %.2f dB with\n", plain,
              enhanced);
  EXPECT_GT(plain, 8.0);
  EXPECT_GT(enhanced, 6.0);
}

TEST(IlbcCodecTest, EncoderAndDecoderAreRepeatable) {
  const std::vector<int16_t> pcm = SpeechLikeSignal(30, 3);
  Encoder encoder;
  std::vector<uint8_t> first = EncodeAll(pcm), again(first.size());
  float in[kFrameSamples];
  for (int pass = 0; pass < 2; ++pass) {
    encoder.Reset();
    for (size_t f = 0; f < pcm.size() / kFrameSamples; ++f) {
      for (size_t i = 0; i < kFrameSamples; ++i) in[i] = pcm[f * kFrameSamples + i];
      encoder.Encode(in, again.data() + f * kFrameBytes);
    }
    EXPECT_EQ(first, again);
  }
}

// Pins the exact bitstream and decoded samples of a fixed input: the same
// numbers must come out of every build (Linux x86-64, Windows i686).
TEST(IlbcCodecTest, GoldenBitstreamAndOutput) {
  const std::vector<int16_t> pcm = SpeechLikeSignal(100, 7);
  EXPECT_EQ(0xc6627973d23fdb5bull, Fnv1a(pcm.data(), pcm.size() * 2));
  const std::vector<uint8_t> bits = EncodeAll(pcm);
  EXPECT_EQ(0x94361c1953bec8d1ull, Fnv1a(bits.data(), bits.size()));
  Decoder decoder(true);
  uint64_t h = 1469598103934665603ull;
  float out[kFrameSamples];
  for (size_t f = 0; f < bits.size() / kFrameBytes; ++f) {
    if (f % 10 == 9) decoder.Conceal(out);
    else decoder.Decode(bits.data() + f * kFrameBytes, out);
    h = Fnv1a(out, sizeof(out), h);
  }
  EXPECT_EQ(0xc5c638a3569a978aull, h);
}

TEST(IlbcConcealmentTest, LongLossFadesToSilenceAndRecovers) {
  const std::vector<int16_t> pcm = SpeechLikeSignal(60, 21);
  const std::vector<uint8_t> bits = EncodeAll(pcm);
  Decoder decoder(true);
  float out[kFrameSamples];
  for (int f = 0; f < 40; ++f) decoder.Decode(bits.data() + f * kFrameBytes, out);
  double last_rms = 0.0;
  for (int f = 0; f < 12; ++f) {
    decoder.Conceal(out);
    double e = 0.0;
    for (float v : out) e += double(v) * v;
    last_rms = std::sqrt(e / kFrameSamples);
  }
  EXPECT_LT(last_rms, 5.0);  // muted after 240 ms of loss
  std::vector<double> after;
  for (int f = 40; f < 60; ++f) {
    EXPECT_TRUE(decoder.Decode(bits.data() + f * kFrameBytes, out));
    after.insert(after.end(), out, out + kFrameSamples);
  }
  double e = 0.0;
  for (double v : after) e += v * v;
  EXPECT_GT(std::sqrt(e / after.size()), 50.0);  // speech is back
}

#if defined(QL_HAVE_FFMPEG)
// FFmpeg's iLBC decoder is an independent implementation: it must accept
// every frame we make, and its output must match ours (without enhancer,
// which it lacks) up to its fixed-point precision. Its first frame differs
// by design (it starts from zero LSFs), so the comparison starts later.
TEST(IlbcFfmpegTest, FfmpegDecodesOurFramesLikeWeDo) {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_ILBC);
  if (!codec) GTEST_SKIP() << "this FFmpeg has no iLBC decoder";
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  ASSERT_NE(nullptr, ctx);
  ctx->sample_rate = 8000;
  ctx->block_align = int(kFrameBytes);
  ASSERT_EQ(0, avcodec_open2(ctx, codec, nullptr));
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();

  // A quiet lead-in lets FFmpeg's start-up frame die away.
  std::vector<int16_t> pcm(5 * kFrameSamples, 0);
  const std::vector<int16_t> speech = SpeechLikeSignal(kFrames, 17);
  pcm.insert(pcm.end(), speech.begin(), speech.end());
  const std::vector<uint8_t> bits = EncodeAll(pcm);
  std::vector<double> theirs;
  for (size_t f = 0; f < bits.size() / kFrameBytes; ++f) {
    ASSERT_EQ(0, av_new_packet(packet, int(kFrameBytes)));
    std::memcpy(packet->data, bits.data() + f * kFrameBytes, kFrameBytes);
    ASSERT_EQ(0, avcodec_send_packet(ctx, packet)) << "frame " << f;
    av_packet_unref(packet);
    ASSERT_EQ(0, avcodec_receive_frame(ctx, frame)) << "frame " << f;
    ASSERT_EQ(int(kFrameSamples), frame->nb_samples);
    const int16_t* s = reinterpret_cast<const int16_t*>(frame->data[0]);
    theirs.insert(theirs.end(), s, s + kFrameSamples);
  }
  std::vector<double> ours = DecodeAll(bits, false);
  for (double& v : ours) v = std::trunc(std::max(-32768.0, std::min(32767.0, v)));
  const double agreement = SnrDb(ours, theirs, 10 * kFrameSamples);
  std::printf("agreement with FFmpeg's decoder: %.2f dB SNR\n", agreement);
  EXPECT_GT(agreement, 25.0);

  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&ctx);
}
#endif

}  // namespace
}  // namespace ilbc
