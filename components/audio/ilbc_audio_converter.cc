#include "components/audio/ilbc_audio_converter.h"

namespace component {

int16_t SampleFromFloat(float value) {
  if (!(value == value)) return 0;
  if (value > 32767.0f) value = 32767.0f;
  if (value < -32768.0f) value = -32768.0f;
  return static_cast<int16_t>(value);
}

iLBCAudioEncoder::iLBCAudioEncoder() = default;
iLBCAudioEncoder::~iLBCAudioEncoder() = default;

bool iLBCAudioEncoder::Convert(const void* data, size_t size) {
  output_.clear();
  if (!data || size == 0 || size % kILBCFrameSampleBytes != 0) return false;
  const size_t frames = size / kILBCFrameSampleBytes;
  output_.resize(frames * kILBCFrameBytes);
  const uint8_t* in = static_cast<const uint8_t*>(data);
  float samples[ilbc::kFrameSamples];
  for (size_t f = 0; f < frames; ++f) {
    for (size_t i = 0; i < ilbc::kFrameSamples; ++i) {
      const uint8_t* p = in + 2 * i;
      samples[i] = static_cast<float>(static_cast<int16_t>(p[0] | (p[1] << 8)));
    }
    encoder_.Encode(samples, output_.data() + f * kILBCFrameBytes);
    in += kILBCFrameSampleBytes;
  }
  return true;
}

const void* iLBCAudioEncoder::Data() { return output_.data(); }

size_t iLBCAudioEncoder::Size() { return output_.size(); }

iLBCAudioDecoder::iLBCAudioDecoder() : decoder_(true) {}
iLBCAudioDecoder::~iLBCAudioDecoder() = default;

bool iLBCAudioDecoder::Convert(const void* data, size_t size) {
  output_.clear();
  if (!data || size == 0 || size % kILBCFrameBytes != 0) return false;
  const size_t frames = size / kILBCFrameBytes;
  output_.resize(frames * kILBCFrameSampleBytes);
  const uint8_t* in = static_cast<const uint8_t*>(data);
  float samples[ilbc::kFrameSamples];
  for (size_t f = 0; f < frames; ++f) {
    decoder_.Decode(in + f * kILBCFrameBytes, samples);
    uint8_t* out = output_.data() + f * kILBCFrameSampleBytes;
    for (size_t i = 0; i < ilbc::kFrameSamples; ++i) {
      const uint16_t v = static_cast<uint16_t>(SampleFromFloat(samples[i]));
      out[2 * i] = static_cast<uint8_t>(v & 0xff);
      out[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
  }
  return true;
}

const void* iLBCAudioDecoder::Data() { return output_.data(); }

size_t iLBCAudioDecoder::Size() { return output_.size(); }

int64_t iLBCAudioDecoder::DelayUs() const {
  return static_cast<int64_t>(decoder_.DelaySamples()) * 1000000 / ilbc::kSampleRateHz;
}

}  // namespace component
