// Framing throughput for 64 KB payloads (a large video frame) against a plain
// memcpy of the same bytes: building frames, and finding them again in a
// received stream fed in reads of various sizes. Then the cost of false
// frame starts, with and without the limit that closes such a peer.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "base/logging.h"
#include "transport/handshake.h"
#include "transport/message_bearer.h"
#include "transport/message_frame.h"
#include "transport/transport_test_support.h"

namespace {

constexpr size_t kPayloadBytes = 64 * 1024;
constexpr int kFramesPerStream = 16;

std::vector<uint8_t> payload() {
  std::vector<uint8_t> p(kPayloadBytes);
  for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>(i * 131 + 7);
  return p;
}

std::vector<uint8_t> stream() {
  const std::vector<uint8_t> p = payload();
  std::vector<uint8_t> s;
  for (int i = 0; i < kFramesPerStream; ++i) transport::appendFrame(13001, i, p.data(), p.size(), &s);
  return s;
}

// The baselines: the bytes of one frame (for encoding), and of the whole
// stream of 16 frames (for extraction).
void BM_Memcpy(benchmark::State& state) {
  const std::vector<uint8_t> all = stream();
  const size_t bytes = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> target(bytes);
  for (auto _ : state) {
    std::memcpy(target.data(), all.data(), bytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_Memcpy)
    ->Arg(kPayloadBytes + transport::kFrameOverheadBytes)
    ->Arg(kFramesPerStream * (kPayloadBytes + transport::kFrameOverheadBytes));

void BM_EncodeFrame64K(benchmark::State& state) {
  const std::vector<uint8_t> p = payload();
  transport::FrameEncoder encoder;
  std::vector<uint8_t> frame;
  for (auto _ : state) {
    encoder.encode(13001, p.data(), p.size(), &frame);
    benchmark::DoNotOptimize(frame.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * (p.size() + transport::kFrameOverheadBytes)));
}
BENCHMARK(BM_EncodeFrame64K);

// Arg: bytes per read (0: one read per whole frame).
void BM_ExtractFrames64K(benchmark::State& state) {
  const std::vector<uint8_t> s = stream();
  const size_t frameBytes = kPayloadBytes + transport::kFrameOverheadBytes;
  const size_t readBytes = state.range(0) ? static_cast<size_t>(state.range(0)) : frameBytes;
  transport::FrameDecoder decoder;
  size_t frames = 0;
  for (auto _ : state) {
    for (size_t at = 0; at < s.size(); at += readBytes) {
      decoder.feed(s.data() + at, std::min(readBytes, s.size() - at), [&](transport::Frame& f) {
        benchmark::DoNotOptimize(f.payload.data());
        ++frames;
        return true;
      });
    }
  }
  if (frames != state.iterations() * kFramesPerStream) state.SkipWithError("frames lost");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.size()));
}
BENCHMARK(BM_ExtractFrames64K)->Arg(0)->Arg(65536)->Arg(4096)->Arg(256);

}  // namespace

// False frame starts: headers with a correct CRC every 24 bytes whose
// declared payload runs over the headers after them. Arg: the declared
// payload length.
namespace false_headers {

constexpr size_t kStreamBytes = 1 << 20;
constexpr size_t kReadBytes = 64 * 1024;

// The decoder alone, without the limit the message bearer puts on it: the
// work one MiB of such input costs when nobody stops it.
void BM_FalseHeadersPerMiBUnbounded(benchmark::State& state) {
  const std::vector<uint8_t> s = transport::falseFrameHeaders(kStreamBytes / transport::kFrameHeaderBytes,
                                                              static_cast<uint32_t>(state.range(0)));
  for (auto _ : state) {
    transport::FrameDecoder decoder;
    for (size_t at = 0; at < s.size(); at += kReadBytes)
      decoder.feed(s.data() + at, std::min(kReadBytes, s.size() - at), [](transport::Frame&) { return true; });
    benchmark::DoNotOptimize(decoder.skippedBytes());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.size()));
}
BENCHMARK(BM_FalseHeadersPerMiBUnbounded)->Arg(0)->Arg(1024)->Arg(16384)->Arg(65536)->Arg(262144)
    ->Unit(benchmark::kMillisecond);

// What the server spends on a connection that sends 4 MiB of them after its
// handshake, until the message bearer closes it. Counters: input taken
// before the close (bytes), and whether it closed (1).
void BM_FalseHeadersUntilClosed(benchmark::State& state) {
  const std::vector<uint8_t> s = transport::falseFrameHeaders(4 * kStreamBytes / transport::kFrameHeaderBytes,
                                                              static_cast<uint32_t>(state.range(0)));
  std::vector<uint8_t> handshake;
  transport::buildClientHandshake(12000, {2, 0, 0, 0}, 1, nullptr, &handshake);
  std::vector<uint8_t> handshakeFrame;
  transport::appendFrame(transport::kMessageHandshake, 0, handshake.data(), handshake.size(), &handshakeFrame);
  size_t taken = 0;
  int closed = 0;
  for (auto _ : state) {
    state.PauseTiming();
    transport::MessageBearer bearer;
    bearer.setApplicationId(12000);
    auto* fake = new transport::FakeDataBearer;
    bearer.attach(fake);
    fake->connect();
    fake->receive(handshakeFrame);
    state.ResumeTiming();
    taken = 0;
    for (size_t at = 0; at < s.size() && fake->disconnects == 0; at += kReadBytes) {
      const size_t n = std::min(kReadBytes, s.size() - at);
      fake->receive(std::vector<uint8_t>(s.begin() + at, s.begin() + at + n));
      taken += n;
    }
    closed = fake->disconnects;
  }
  state.counters["taken_bytes"] = static_cast<double>(taken);
  state.counters["closed"] = closed;
}
BENCHMARK(BM_FalseHeadersUntilClosed)->Arg(0)->Arg(1024)->Arg(16384)->Arg(65536)->Arg(262144)
    ->Unit(benchmark::kMillisecond);

}  // namespace false_headers
