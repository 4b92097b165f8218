// A .lbc file ("#!iLBC20\n" and then 38-byte frames), or bare frames, into the
// iLBC decoder, with lost frames in between. Nothing may crash or read out
// of bounds; every sample that comes out is a finite number; a decoder that
// was reset decodes the same frames to the same samples.
//
// The first byte: bit 0 the enhancer, the rest a pattern of lost frames.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "components/audio/ilbc/ilbc.h"
#include "fuzz/fuzz_util.h"

using fuzz::check;

namespace {

const char kHeader[] = "#!iLBC20\n";
constexpr size_t kHeaderBytes = sizeof(kHeader) - 1;

std::vector<float> decodeAll(ilbc::Decoder* decoder, const uint8_t* frames, size_t count, uint8_t losses) {
  std::vector<float> out;
  float samples[ilbc::kFrameSamples];
  for (size_t i = 0; i < count; ++i) {
    if (losses && (i % 8) < 7 && ((losses >> (i % 7)) & 1) && (i % 3 == 0)) {
      decoder->Conceal(samples);
    } else {
      decoder->Decode(frames + i * ilbc::kFrameBytes, samples);
    }
    for (float s : samples) check(std::isfinite(s));
    out.insert(out.end(), samples, samples + ilbc::kFrameSamples);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool enhancer = data[0] & 1;
  const uint8_t losses = data[0] >> 1;
  const uint8_t* body = data + 1;
  size_t bodySize = size - 1;
  if (bodySize >= kHeaderBytes && std::memcmp(body, kHeader, kHeaderBytes) == 0) {
    body += kHeaderBytes;
    bodySize -= kHeaderBytes;
  }
  // A cut last frame is not decoded, as the tool leaves it.
  const size_t count = std::min<size_t>(bodySize / ilbc::kFrameBytes, 64);
  // Copies, so that a read past a frame is caught by the sanitizer.
  std::vector<uint8_t> frames(body, body + count * ilbc::kFrameBytes);
  ilbc::Decoder decoder(enhancer);
  check(decoder.DelaySamples() >= 0);
  const std::vector<float> first = decodeAll(&decoder, frames.data(), count, losses);
  decoder.Reset();
  const std::vector<float> again = decodeAll(&decoder, frames.data(), count, losses);
  check(first.size() == again.size() && std::memcmp(first.data(), again.data(), first.size() * sizeof(float)) == 0);
  return 0;
}
