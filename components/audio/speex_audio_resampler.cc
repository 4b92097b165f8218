#include "components/audio/speex_audio_resampler.h"

#include <speex/speex_resampler.h>

#include <cstring>

#include "base/logging.h"

namespace component {

SpeexAudioResampler::SpeexAudioResampler(int in_rate, int out_rate)
    : in_rate_(in_rate), out_rate_(out_rate) {
  if (in_rate > 0 && out_rate > 0) {
    int error = 0;
    state_ = speex_resampler_init(1, static_cast<spx_uint32_t>(in_rate),
                                  static_cast<spx_uint32_t>(out_rate),
                                  kQuality, &error);
    if (!state_)
      LOG(ERROR) << "Couldn't create the resampler. Code " << error;
  }
}

SpeexAudioResampler::~SpeexAudioResampler() {
  if (state_) speex_resampler_destroy(state_);
}

bool SpeexAudioResampler::Convert(const void* data, size_t size) {
  output_.clear();
  if (!state_) return false;
  if (!data && size > 0) return false;
  const uint64_t out_bytes =
      static_cast<uint64_t>(out_rate_) * size / static_cast<uint64_t>(in_rate_);
  output_.assign(static_cast<size_t>(out_bytes), 0);
  spx_uint32_t in_len = static_cast<spx_uint32_t>(size / 2);
  spx_uint32_t out_len = static_cast<spx_uint32_t>(out_bytes / 2);
  if (in_len == 0 || out_len == 0) return true;
  // The input may sit at any address; the resampler wants aligned samples.
  std::vector<spx_int16_t> in(in_len);
  std::memcpy(in.data(), data, in_len * sizeof(spx_int16_t));
  std::vector<spx_int16_t> out(out_len, 0);
  const int code = speex_resampler_process_int(state_, 0, in.data(), &in_len,
                                               out.data(), &out_len);
  if (code != 0) LOG(ERROR) << "Couldn't convert data. Code " << code;
  std::memcpy(output_.data(), out.data(), out.size() * sizeof(spx_int16_t));
  return true;
}

const void* SpeexAudioResampler::Data() { return output_.data(); }

size_t SpeexAudioResampler::Size() { return output_.size(); }

int64_t SpeexAudioResampler::DelayUs() const {
  if (!state_) return 0;
  return static_cast<int64_t>(speex_resampler_get_output_latency(state_)) * 1000000 / out_rate_;
}

}  // namespace component
