#include "components/video/shutter_sound.h"

#include <cmath>

namespace component {

namespace {

constexpr uint32_t kSampleRate = 22050;
constexpr uint32_t kDurationMs = 140;

void put16(std::vector<uint8_t>* out, uint32_t value) {
  out->push_back(static_cast<uint8_t>(value));
  out->push_back(static_cast<uint8_t>(value >> 8));
}

void put32(std::vector<uint8_t>* out, uint32_t value) {
  put16(out, value & 0xFFFF);
  put16(out, value >> 16);
}

void putTag(std::vector<uint8_t>* out, const char* tag) { out->insert(out->end(), tag, tag + 4); }

}  // namespace

std::vector<uint8_t> makeShutterWave() {
  const uint32_t samples = kSampleRate * kDurationMs / 1000;
  std::vector<uint8_t> wave;
  putTag(&wave, "RIFF");
  put32(&wave, 36 + samples * 2);
  putTag(&wave, "WAVE");
  putTag(&wave, "fmt ");
  put32(&wave, 16);
  put16(&wave, 1);  // PCM
  put16(&wave, 1);  // mono
  put32(&wave, kSampleRate);
  put32(&wave, kSampleRate * 2);
  put16(&wave, 2);
  put16(&wave, 16);
  putTag(&wave, "data");
  put32(&wave, samples * 2);
  // Two decaying noise bursts: the shutter opening and closing.
  uint32_t noise = 0x2545F491u;
  for (uint32_t i = 0; i < samples; ++i) {
    noise = noise * 1664525u + 1013904223u;
    const double t = static_cast<double>(i) / kSampleRate;
    const double second = t - 0.06;
    double envelope = std::exp(-t * 90.0);
    if (second >= 0) envelope += 0.8 * std::exp(-second * 110.0);
    const double value = (static_cast<int32_t>(noise >> 16) - 32768) * envelope * 0.6;
    put16(&wave, static_cast<uint32_t>(static_cast<int16_t>(value)) & 0xFFFF);
  }
  return wave;
}

}  // namespace component
