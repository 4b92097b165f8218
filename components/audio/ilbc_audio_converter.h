// The iLBC codec (20 ms mode) as converters: 320 bytes of samples (160 at
// 8 kHz) <-> one 38-byte frame. Codec state is kept across calls, so the
// blocks of consecutive calls form one stream.
#ifndef COMPONENTS_AUDIO_ILBC_AUDIO_CONVERTER_H_
#define COMPONENTS_AUDIO_ILBC_AUDIO_CONVERTER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "components/audio/audio_converter.h"
#include "components/audio/ilbc/ilbc.h"

namespace component {

constexpr size_t kILBCFrameSampleBytes = 320;  // 160 samples of 16 bits
constexpr size_t kILBCFrameBytes = 38;

// A decoded sample: clamped to -32,768 ... 32,767, then truncated toward
// zero (NaN becomes 0).
int16_t SampleFromFloat(float value);

class iLBCAudioEncoder : public AudioEncoder, public AudioConverter {
 public:
  iLBCAudioEncoder();
  ~iLBCAudioEncoder() override;

  // `size` must be a non-zero multiple of 320; otherwise returns false and
  // the output is empty.
  bool Convert(const void* data, size_t size) override;
  const void* Data() override;
  size_t Size() override;

 private:
  ilbc::Encoder encoder_;
  std::vector<uint8_t> output_;
};

class iLBCAudioDecoder : public AudioDecoder, public AudioConverter {
 public:
  iLBCAudioDecoder();
  ~iLBCAudioDecoder() override;

  // `size` must be a non-zero multiple of 38; otherwise returns false and
  // the output is empty.
  bool Convert(const void* data, size_t size) override;
  const void* Data() override;
  size_t Size() override;
  int64_t DelayUs() const override;

 private:
  ilbc::Decoder decoder_;
  std::vector<uint8_t> output_;
};

}  // namespace component

#endif  // COMPONENTS_AUDIO_ILBC_AUDIO_CONVERTER_H_
