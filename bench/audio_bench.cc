// Cost of the audio building blocks on the real-time paths: one 20 ms iLBC
// frame each way, and a 480-sample (10 ms at 48 kHz) ring write and read.
#include <cstdint>
#include <vector>

#include "benchmark/benchmark.h"
#include "components/audio/ilbc/ilbc.h"
#include "components/audio/ilbc/ilbc_test_signals.h"
#include "components/audio/sample_ring.h"

namespace {

std::vector<float> Speech(int frames) {
  const std::vector<int16_t> pcm = ilbc::testing::SpeechLikeSignal(frames, 5);
  return std::vector<float>(pcm.begin(), pcm.end());
}

void BM_IlbcEncodeFrame(benchmark::State& state) {
  const int frames = 100;
  const std::vector<float> speech = Speech(frames);
  ilbc::Encoder encoder;
  uint8_t out[ilbc::kFrameBytes];
  int f = 0;
  for (auto _ : state) {
    encoder.Encode(speech.data() + f * ilbc::kFrameSamples, out);
    benchmark::DoNotOptimize(out);
    f = (f + 1) % frames;
  }
}
BENCHMARK(BM_IlbcEncodeFrame);

void BM_IlbcDecodeFrame(benchmark::State& state) {
  const int frames = 100;
  const std::vector<float> speech = Speech(frames);
  std::vector<uint8_t> bits(frames * ilbc::kFrameBytes);
  ilbc::Encoder encoder;
  for (int f = 0; f < frames; ++f)
    encoder.Encode(speech.data() + f * ilbc::kFrameSamples,
                   bits.data() + f * ilbc::kFrameBytes);
  ilbc::Decoder decoder(state.range(0) != 0);
  float out[ilbc::kFrameSamples];
  int f = 0;
  for (auto _ : state) {
    decoder.Decode(bits.data() + f * ilbc::kFrameBytes, out);
    benchmark::DoNotOptimize(out);
    f = (f + 1) % frames;
  }
}
BENCHMARK(BM_IlbcDecodeFrame)->Arg(1)->Arg(0)->ArgName("enhancer");

void BM_RingWrite480(benchmark::State& state) {
  component::SampleRing ring;
  std::vector<int16_t> block(480, 1000);
  uint64_t pos = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ring.Write(block.data(), block.size(), pos));
    pos += block.size();
  }
}
BENCHMARK(BM_RingWrite480);

void BM_RingRead480(benchmark::State& state) {
  component::SampleRing ring;
  std::vector<int16_t> block(480, 1000);
  for (uint64_t p = 0; p < 48000; p += 480) ring.Write(block.data(), 480, p);
  std::vector<int16_t> out(480);
  uint64_t pos = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ring.Read(out.data(), out.size(), pos));
    pos = (pos + 480) % 47520;
  }
}
BENCHMARK(BM_RingRead480);

}  // namespace
