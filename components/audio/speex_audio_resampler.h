// Sample-rate conversion of 16-bit mono audio with the Speex resampler at
// its highest quality (10), e.g. 8,000 <-> 48,000 Hz. Each Convert() makes
// out_rate * size / in_rate bytes (integer division) from the whole input.
#ifndef COMPONENTS_AUDIO_SPEEX_AUDIO_RESAMPLER_H_
#define COMPONENTS_AUDIO_SPEEX_AUDIO_RESAMPLER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "components/audio/audio_converter.h"

struct SpeexResamplerState_;

namespace component {

class SpeexAudioResampler : public AudioConverter {
 public:
  static constexpr int kQuality = 10;

  SpeexAudioResampler(int in_rate, int out_rate);
  ~SpeexAudioResampler() override;
  SpeexAudioResampler(const SpeexAudioResampler&) = delete;
  SpeexAudioResampler& operator=(const SpeexAudioResampler&) = delete;

  // False only when the resampler could not be created (or for a null
  // pointer with a non-zero size). A resampler error is logged and the
  // output holds what it produced; samples it did not produce are silence.
  bool Convert(const void* data, size_t size) override;
  const void* Data() override;
  size_t Size() override;
  // The filter's delay (16 ms from 8 to 48 kHz at quality 10).
  int64_t DelayUs() const override;

 private:
  int in_rate_;
  int out_rate_;
  SpeexResamplerState_* state_ = nullptr;
  std::vector<uint8_t> output_;
};

}  // namespace component

#endif  // COMPONENTS_AUDIO_SPEEX_AUDIO_RESAMPLER_H_
