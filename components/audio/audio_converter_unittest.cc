#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "components/audio/audio_converter.h"
#include "components/audio/ilbc_audio_converter.h"
#include "components/audio/speex_audio_resampler.h"
#include "gtest/gtest.h"

namespace component {
namespace {

std::vector<int16_t> Tone(size_t count, double hz, int rate, double amp) {
  std::vector<int16_t> v(count);
  for (size_t i = 0; i < count; ++i)
    v[i] = static_cast<int16_t>(amp * std::sin(2.0 * 3.14159265358979323846 * hz * i / rate));
  return v;
}

double Rms(const int16_t* s, size_t n) {
  double e = 0;
  for (size_t i = 0; i < n; ++i) e += double(s[i]) * s[i];
  return n ? std::sqrt(e / n) : 0.0;
}

TEST(SampleFromFloatTest, ClampsThenTruncatesTowardZero) {
  EXPECT_EQ(32767, SampleFromFloat(40000.0f));
  EXPECT_EQ(-32768, SampleFromFloat(-40000.0f));
  EXPECT_EQ(32767, SampleFromFloat(32767.9f));
  EXPECT_EQ(1, SampleFromFloat(1.9f));
  EXPECT_EQ(-1, SampleFromFloat(-1.9f));
  EXPECT_EQ(0, SampleFromFloat(-0.5f));
  EXPECT_EQ(0, SampleFromFloat(std::numeric_limits<float>::quiet_NaN()));
  EXPECT_EQ(32767, SampleFromFloat(std::numeric_limits<float>::infinity()));
}

TEST(DummyAudioConverterTest, PassesThePointerThrough) {
  DummyAudioConverter dummy;
  const char bytes[7] = {};
  EXPECT_TRUE(dummy.Convert(bytes, sizeof(bytes)));
  EXPECT_EQ(static_cast<const void*>(bytes), dummy.Data());
  EXPECT_EQ(sizeof(bytes), dummy.Size());
  EXPECT_TRUE(dummy.Convert(nullptr, 0));
  EXPECT_EQ(0u, dummy.Size());
}

TEST(ILBCAudioConverterTest, SizeRules) {
  iLBCAudioEncoder encoder;
  std::vector<uint8_t> pcm(640, 0);
  EXPECT_TRUE(encoder.Convert(pcm.data(), 640));
  EXPECT_EQ(76u, encoder.Size());
  EXPECT_FALSE(encoder.Convert(pcm.data(), 330));
  EXPECT_EQ(0u, encoder.Size());
  EXPECT_FALSE(encoder.Convert(pcm.data(), 0));
  EXPECT_FALSE(encoder.Convert(nullptr, 320));

  iLBCAudioDecoder decoder;
  std::vector<uint8_t> code(76, 0);
  EXPECT_TRUE(decoder.Convert(code.data(), 76));
  EXPECT_EQ(640u, decoder.Size());
  EXPECT_FALSE(decoder.Convert(code.data(), 40));
  EXPECT_EQ(0u, decoder.Size());
  EXPECT_FALSE(decoder.Convert(nullptr, 38));
}

TEST(ILBCAudioConverterTest, UsableThroughTheConverterInterface) {
  std::unique_ptr<AudioConverter> encoder(new iLBCAudioEncoder);
  std::unique_ptr<AudioConverter> decoder(new iLBCAudioDecoder);
  const std::vector<int16_t> tone = Tone(160 * 25, 440.0, 8000, 8000.0);
  std::vector<int16_t> decoded;
  for (size_t f = 0; f < 25; ++f) {
    ASSERT_TRUE(encoder->Convert(tone.data() + f * 160, 320));
    ASSERT_TRUE(decoder->Convert(encoder->Data(), encoder->Size()));
    const int16_t* s = static_cast<const int16_t*>(decoder->Data());
    decoded.insert(decoded.end(), s, s + decoder->Size() / 2);
  }
  // After the start-up frames the tone comes out at about its level.
  const double in = Rms(tone.data() + 1600, 2400);
  const double out = Rms(decoded.data() + 1600, 2400);
  EXPECT_GT(out, 0.7 * in);
  EXPECT_LT(out, 1.3 * in);
}

TEST(ILBCAudioConverterTest, CallsFormOneStream) {
  // Two frames in one call give the same bytes as one frame per call.
  const std::vector<int16_t> tone = Tone(320, 300.0, 8000, 5000.0);
  iLBCAudioEncoder whole, split;
  ASSERT_TRUE(whole.Convert(tone.data(), 640));
  std::vector<uint8_t> parts;
  for (int f = 0; f < 2; ++f) {
    ASSERT_TRUE(split.Convert(tone.data() + 160 * f, 320));
    const uint8_t* b = static_cast<const uint8_t*>(split.Data());
    parts.insert(parts.end(), b, b + split.Size());
  }
  ASSERT_EQ(76u, parts.size());
  EXPECT_EQ(0, std::memcmp(whole.Data(), parts.data(), 76));
}

TEST(SpeexAudioResamplerTest, SizeRules) {
  SpeexAudioResampler down(48000, 8000);
  std::vector<uint8_t> in(1920, 0);
  EXPECT_TRUE(down.Convert(in.data(), 1920));
  EXPECT_EQ(320u, down.Size());
  SpeexAudioResampler up(8000, 48000);
  EXPECT_TRUE(up.Convert(in.data(), 320));
  EXPECT_EQ(1920u, up.Size());
  EXPECT_TRUE(up.Convert(in.data(), 1));  // half a sample: nothing out
  EXPECT_EQ(6u, up.Size());
}

TEST(SpeexAudioResamplerTest, KeepsAToneAcrossRates) {
  SpeexAudioResampler up(8000, 48000);
  const std::vector<int16_t> tone = Tone(8000, 1000.0, 8000, 10000.0);
  std::vector<int16_t> out;
  for (size_t i = 0; i < tone.size(); i += 160) {
    ASSERT_TRUE(up.Convert(tone.data() + i, 320));
    const int16_t* s = static_cast<const int16_t*>(up.Data());
    out.insert(out.end(), s, s + up.Size() / 2);
  }
  ASSERT_EQ(48000u, out.size());
  // Past the filter delay the level is kept and the tone still has 1 kHz
  // (one zero crossing every 24 samples).
  EXPECT_NEAR(Rms(out.data() + 4800, 40000), Rms(tone.data(), 8000), 300.0);
  int crossings = 0;
  for (size_t i = 4801; i < 44800; ++i)
    crossings += (out[i - 1] < 0) != (out[i] < 0);
  EXPECT_NEAR(2 * 1000 * 40000 / 48000, crossings, 4);
}

TEST(SpeexAudioResamplerTest, BadRatesRefuseToConvert) {
  SpeexAudioResampler broken(0, 8000);
  std::vector<uint8_t> in(320, 0);
  EXPECT_FALSE(broken.Convert(in.data(), 320));
  SpeexAudioResampler fine(8000, 48000);
  EXPECT_FALSE(fine.Convert(nullptr, 320));
}

}  // namespace
}  // namespace component
