// iLBC decoder: unpacking, LSF decoding and interpolation, residual
// reconstruction (start state, then the codebook-coded parts forwards and
// backwards in time), packet-loss concealment, the pitch enhancer, the
// synthesis filter and the output high-pass filter.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "components/audio/ilbc/ilbc.h"
#include "components/audio/ilbc/ilbc_internal.h"
#include "components/audio/ilbc/ilbc_tables.h"

namespace ilbc {

using namespace internal;

namespace {

// Enhancer geometry: a history of 8 blocks of 80 samples; the newest frame
// fills the last two; blocks are enhanced 40 samples behind the newest data
// so that each sees pitch cycles after it as well as before it.
constexpr int kEnhBlock = 80;
constexpr int kEnhBlocks = 8;
constexpr int kEnhBufLen = kEnhBlock * kEnhBlocks;  // 640
constexpr int kEnhHalfSpan = 3;                     // cycles on each side
constexpr int kEnhSegments = 2 * kEnhHalfSpan + 1;
constexpr int kEnhSlop = 2;                         // search +-2 samples
constexpr int kEnhOverhang = 2;
constexpr float kEnhAlpha = 0.05f;                  // allowed change
constexpr int kEnhFirstOut = 5 * kEnhBlock + kEnhBlock / 2;  // 440
constexpr int kCrossfadeLen = 40;  // after a concealed frame

// Raised-cosine weights of the neighbouring cycles (the centre one excluded).
constexpr float kCycleWeights[kEnhSegments] = {
    0.14644661f, 0.5f, 0.85355339f, 0.0f, 0.85355339f, 0.5f, 0.14644661f};

int Nearest(const float* values, int count, float target) {
  int best = 0;
  float best_dist = (values[0] - target) * (values[0] - target);
  for (int i = 1; i < count; ++i) {
    const float d = (values[i] - target) * (values[i] - target);
    if (d < best_dist) {
      best_dist = d;
      best = i;
    }
  }
  return best;
}

}  // namespace

struct DecoderState {
  bool use_enhancer = true;

  float lsf_old[kOrder];
  float synth_mem[kOrder];
  float old_poly[kSubframes][kPolyLen];
  float hp_x[2];
  float hp_y[2];

  // Concealment.
  float prev_residual[kBlockLen];
  float prev_poly[kPolyLen];
  bool prev_lost;
  int lost_count;
  int prev_lag;
  float prev_periodicity;
  uint32_t seed;
  int last_lag;

  // Enhancer.
  float enh_buf[kEnhBufLen];
  float enh_period[kEnhBlocks];
  bool prev_concealed;

  void Reset();
  void DecodeResidual(const FrameParams& p,
                      const float (*poly)[kPolyLen], float* residual);
  void ConcealResidual(float* residual, float* poly);
  int Enhance(const float* in, float* out);
  void EnhanceBlock(int centre, float* out) const;
  void Refine(float estimate, int centre, float* position, float* seg) const;
  void Output(const float* residual, const float (*poly)[kPolyLen],
              bool concealed, float* samples);
};

void DecoderState::Reset() {
  std::memcpy(lsf_old, kLsfMean, sizeof(lsf_old));
  std::memset(synth_mem, 0, sizeof(synth_mem));
  std::memset(old_poly, 0, sizeof(old_poly));
  for (auto& poly : old_poly) poly[0] = 1.0f;
  std::memset(hp_x, 0, sizeof(hp_x));
  std::memset(hp_y, 0, sizeof(hp_y));
  std::memset(prev_residual, 0, sizeof(prev_residual));
  std::memset(prev_poly, 0, sizeof(prev_poly));
  prev_poly[0] = 1.0f;
  prev_lost = false;
  lost_count = 0;
  prev_lag = 20;
  prev_periodicity = 0.0f;
  seed = 777;
  last_lag = 20;
  std::memset(enh_buf, 0, sizeof(enh_buf));
  for (float& period : enh_period) period = 40.0f;
  prev_concealed = false;
}

void DecoderState::DecodeResidual(const FrameParams& p,
                                  const float (*poly)[kPolyLen],
                                  float* residual) {
  const int first = (p.start - 1) * kSubLen;  // first sample of the 80
  const int state_pos = p.state_first ? first : first + kStateExtraLen;
  ConstructState(p.scale, p.state, poly[p.start - 1], residual + state_pos);

  // The other 23 samples of the start-state pair, coded from the state.
  float mem[kCbMemLen];
  if (p.state_first) {
    std::memset(mem, 0, sizeof(float) * (kStateCbMemLen - kStateShortLen));
    std::memcpy(mem + kStateCbMemLen - kStateShortLen, residual + state_pos,
                sizeof(float) * kStateShortLen);
    ConstructVector(p.cb[0], p.gain[0], mem, kStateCbMemLen, kStateExtraLen,
                    residual + state_pos + kStateShortLen);
  } else {
    // Before the state: work in reversed time.
    std::memset(mem, 0, sizeof(float) * kStateCbMemLen);
    for (int k = 0; k < kStateShortLen; ++k)
      mem[kStateCbMemLen - 1 - k] = residual[state_pos + k];
    float reversed[kStateExtraLen];
    ConstructVector(p.cb[0], p.gain[0], mem, kStateCbMemLen, kStateExtraLen,
                    reversed);
    for (int k = 0; k < kStateExtraLen; ++k)
      residual[state_pos - 1 - k] = reversed[k];
  }

  int block = 1;
  // Subframes after the start state.
  const int forward = kSubframes - p.start - 1;
  if (forward > 0) {
    std::memset(mem, 0, sizeof(float) * (kCbMemLen - kStateLen));
    std::memcpy(mem + kCbMemLen - kStateLen, residual + first,
                sizeof(float) * kStateLen);
    for (int i = 0; i < forward; ++i, ++block) {
      float* out = residual + (p.start + 1 + i) * kSubLen;
      ConstructVector(p.cb[block], p.gain[block], mem, kCbMemLen, kSubLen,
                      out);
      std::memmove(mem, mem + kSubLen, sizeof(float) * (kCbMemLen - kSubLen));
      std::memcpy(mem + kCbMemLen - kSubLen, out, sizeof(float) * kSubLen);
    }
  }
  // Subframes before it, in reversed time.
  const int backward = p.start - 1;
  if (backward > 0) {
    const int available = std::min(kCbMemLen, kBlockLen - first);
    std::memset(mem, 0, sizeof(mem));
    for (int k = 0; k < available; ++k)
      mem[kCbMemLen - 1 - k] = residual[first + k];
    float reversed[kBlockLen];
    for (int i = 0; i < backward; ++i, ++block) {
      float* out = reversed + i * kSubLen;
      ConstructVector(p.cb[block], p.gain[block], mem, kCbMemLen, kSubLen,
                      out);
      std::memmove(mem, mem + kSubLen, sizeof(float) * (kCbMemLen - kSubLen));
      std::memcpy(mem + kCbMemLen - kSubLen, out, sizeof(float) * kSubLen);
    }
    for (int k = 0; k < backward * kSubLen; ++k)
      residual[first - 1 - k] = reversed[k];
  }
}

// Repeats the last pitch cycle of the previous residual, mixed with noise
// taken from it at random lags according to how periodic it was, and fades
// out when losses go on.
void DecoderState::ConcealResidual(float* residual, float* poly) {
  ++lost_count;
  int lag = prev_lag;
  float periodicity = prev_periodicity;
  if (!prev_lost) {
    float best = -1.0f;
    for (int candidate = last_lag - 3; candidate <= last_lag + 3; ++candidate) {
      int len = 60;
      if (kBlockLen - len - candidate < 0) len = kBlockLen - candidate;
      const float* now = prev_residual + kBlockLen - len;
      const float* then = now - candidate;
      float cross = 0.0f, e_then = 0.0f, e_now = 0.0f;
      for (int i = 0; i < len; ++i) {
        cross += now[i] * then[i];
        e_then += then[i] * then[i];
        e_now += now[i] * now[i];
      }
      float measure = 0.0f, per = 0.0f;
      if (e_then > 0.0f) {
        measure = cross * cross / e_then;
        per = e_now > 0.0f
                  ? std::fabs(cross) / (std::sqrt(e_then) * std::sqrt(e_now))
                  : 0.0f;
      }
      if (measure > best) {
        best = measure;
        lag = candidate;
        periodicity = per;
      }
    }
  }

  const int lost_samples = lost_count * kBlockLen;
  float gain = 1.0f;
  if (lost_samples > 1280) gain = 0.0f;
  else if (lost_samples > 960) gain = 0.5f;
  else if (lost_samples > 640) gain = 0.7f;
  else if (lost_samples > 320) gain = 0.9f;

  float pitch_share = 0.0f;
  if (periodicity > 0.7f) pitch_share = 1.0f;
  else if (periodicity > 0.4f) pitch_share = (periodicity - 0.4f) / 0.3f;

  // Repeating a short cycle sounds buzzy; repeat two of them.
  const int use_lag = lag < 80 ? 2 * lag : lag;
  float noise[kBlockLen];
  float energy = 0.0f;
  for (int i = 0; i < kBlockLen; ++i) {
    seed = (seed * 69069u + 1u) & 0x7fffffffu;
    const int noise_lag = 50 + int(seed % 70u);
    int pick = i - noise_lag;
    noise[i] = pick < 0 ? prev_residual[kBlockLen + pick] : noise[pick];
    pick = i - use_lag;
    const float periodic =
        pick < 0 ? prev_residual[kBlockLen + pick] : residual[pick];
    const float g = i < 80 ? gain : 0.95f * gain;
    residual[i] = g * (pitch_share * periodic + (1.0f - pitch_share) * noise[i]);
    energy += residual[i] * residual[i];
  }
  // Too quiet a repetition: noise alone, at the same fading gain.
  if (std::sqrt(energy / kBlockLen) < 30.0f) {
    for (int i = 0; i < kBlockLen; ++i)
      residual[i] = (i < 80 ? gain : 0.95f * gain) * noise[i];
  }
  std::memcpy(poly, prev_poly, sizeof(float) * kPolyLen);
  prev_lag = lag;
  prev_periodicity = periodicity;
}

// Pitch-synchronous enhancement: each 80-sample block is compared with the
// pitch cycles before and after it, found with quarter-sample precision, and
// moved towards their weighted mean while keeping its energy and staying
// within a bounded distance of the decoded block.
int DecoderState::Enhance(const float* in, float* out) {
  std::memmove(enh_buf, enh_buf + kBlockLen,
               sizeof(float) * (kEnhBufLen - kBlockLen));
  std::memcpy(enh_buf + kEnhBufLen - kBlockLen, in, sizeof(float) * kBlockLen);
  std::memmove(enh_period, enh_period + 2, sizeof(float) * (kEnhBlocks - 2));

  // Pitch of the two new blocks, searched at half rate (lags 20..118).
  constexpr int kDsBase = 6 * kEnhBlock - 120;  // 360
  constexpr int kDsLen = 140;
  float ds[kDsLen];
  for (int n = 0; n < kDsLen; ++n) {
    float acc = 0.0f;
    for (int k = 0; k < 7; ++k) {
      const int pos = kDsBase + 2 * n + 3 - k;
      if (pos < kEnhBufLen) acc += kDownsampleFilter[k] * enh_buf[pos];
    }
    ds[n] = acc;
  }
  for (int b = 0; b < 2; ++b) {
    const float* target = ds + 60 + 40 * b;
    float measures[50];
    LagMeasures(target, 10, 50, 40, measures);
    int best_lag = 10;
    float best = measures[0];
    for (int lag = 11; lag < 60; ++lag) {
      if (measures[lag - 10] > best) {
        best = measures[lag - 10];
        best_lag = lag;
      }
    }
    enh_period[6 + b] = float(2 * best_lag);
  }

  if (prev_concealed) {
    // The block before this frame was made up. Predict its end from this
    // frame, one pitch cycle on, and fade the made-up samples into it.
    const int guess = int(enh_period[6]);
    int lag = guess - 1;
    float best = LagMeasure(in, in + lag, kCrossfadeLen);
    for (int candidate = guess; candidate <= guess + 1; ++candidate) {
      const float m = LagMeasure(in, in + candidate, kCrossfadeLen);
      if (m > best) {
        best = m;
        lag = candidate;
      }
    }
    enh_period[5] = float(lag);
    const int old_start = kEnhBufLen - kBlockLen - kCrossfadeLen;  // 440
    float predicted[kCrossfadeLen];
    float e_pred = 0.0f, e_old = 0.0f;
    for (int k = 0; k < kCrossfadeLen; ++k) {
      predicted[k] = enh_buf[old_start + k + lag];
      e_pred += predicted[k] * predicted[k];
      e_old += enh_buf[old_start + k] * enh_buf[old_start + k];
    }
    const float rms_pred = std::sqrt(e_pred / kCrossfadeLen);
    const float rms_old = std::sqrt(e_old / kCrossfadeLen);
    if (rms_pred > 2.0f * rms_old && rms_pred > 0.0f) {
      const float ratio = 2.0f * rms_old / rms_pred;
      for (int k = 0; k < kCrossfadeLen - 10; ++k) predicted[k] *= ratio;
      for (int k = kCrossfadeLen - 10; k < kCrossfadeLen; ++k) {
        predicted[k] *=
            float(k - kCrossfadeLen + 10) * (1.0f - ratio) / 10.0f + ratio;
      }
    }
    for (int i = 0; i < kCrossfadeLen; ++i) {
      const float w = float(i + 1) / float(kCrossfadeLen + 1);
      float& sample = enh_buf[old_start + kCrossfadeLen - 1 - i];
      sample = w * sample + (1.0f - w) * predicted[kCrossfadeLen - 1 - i];
    }
  }

  EnhanceBlock(kEnhFirstOut, out);
  EnhanceBlock(kEnhFirstOut + kEnhBlock, out + kEnhBlock);
  return int(enh_period[7]);
}

void DecoderState::EnhanceBlock(int centre, float* out) const {
  float seg[kEnhSegments][kEnhBlock];
  float pos[kEnhSegments];
  int period_block[kEnhSegments];
  float ends[kEnhBlocks];  // block centres minus their periods
  for (int i = 0; i < kEnhBlocks; ++i)
    ends[i] = kEnhancerBlockCentres[i] - enh_period[i];

  const int h = kEnhHalfSpan;
  period_block[h] = Nearest(kEnhancerBlockCentres, kEnhBlocks,
                            float(centre) + 0.5f * kEnhBlock);
  pos[h] = float(centre);
  std::memcpy(seg[h], enh_buf + centre, sizeof(float) * kEnhBlock);

  for (int q = h - 1; q >= 0; --q) {
    const float period = enh_period[period_block[q + 1]];
    pos[q] = pos[q + 1] - period;
    period_block[q] = Nearest(kEnhancerBlockCentres, kEnhBlocks,
                              pos[q] + 0.5f * kEnhBlock - period);
    if (pos[q] - kEnhOverhang >= 0.0f) {
      Refine(pos[q], centre, &pos[q], seg[q]);
    } else {
      std::memset(seg[q], 0, sizeof(seg[q]));
    }
  }
  for (int q = h + 1; q < kEnhSegments; ++q) {
    period_block[q] =
        Nearest(ends, kEnhBlocks, pos[q - 1] + 0.5f * kEnhBlock);
    pos[q] = pos[q - 1] + enh_period[period_block[q]];
    if (pos[q] + kEnhBlock + kEnhOverhang < float(kEnhBufLen)) {
      Refine(pos[q], centre, &pos[q], seg[q]);
    } else {
      std::memset(seg[q], 0, sizeof(seg[q]));
    }
  }

  // Weighted mean of the neighbouring cycles.
  const float* current = seg[h];
  float surround[kEnhBlock] = {};
  for (int q = 0; q < kEnhSegments; ++q) {
    if (q == h) continue;
    for (int k = 0; k < kEnhBlock; ++k) surround[k] += kCycleWeights[q] * seg[q][k];
  }
  float w00 = 0.0f, w10 = 0.0f, w11 = 0.0f;
  for (int k = 0; k < kEnhBlock; ++k) {
    w00 += current[k] * current[k];
    w10 += surround[k] * current[k];
    w11 += surround[k] * surround[k];
  }
  if (std::fabs(w11) < 1.0f) w11 = 1.0f;
  const float c = std::sqrt(w00 / w11);
  float err = 0.0f;
  for (int k = 0; k < kEnhBlock; ++k) {
    const float d = current[k] - c * surround[k];
    err += d * d;
  }
  if (err <= kEnhAlpha * w00) {
    for (int k = 0; k < kEnhBlock; ++k) out[k] = c * surround[k];
    return;
  }
  // Too far from the decoded block: the closest mix of the two that stays
  // within the allowed distance.
  if (w00 < 1.0f) w00 = 1.0f;
  const float denom = (w11 * w00 - w10 * w10) / (w00 * w00);
  float a = 0.0f, b = 1.0f;
  if (denom > 0.0001f) {
    a = std::sqrt((kEnhAlpha - kEnhAlpha * kEnhAlpha / 4.0f) / denom);
    b = 1.0f - kEnhAlpha / 2.0f - a * w10 / w00;
  }
  for (int k = 0; k < kEnhBlock; ++k) out[k] = a * surround[k] + b * current[k];
}

// Finds the 80-sample stretch near `estimate` that best matches the block
// at `centre`, to a quarter sample, and returns it interpolated.
void DecoderState::Refine(float estimate, int centre, float* position,
                          float* seg) const {
  const int rounded = int(std::floor(estimate + 0.5f));
  const int first = std::max(rounded - kEnhSlop, 0);
  const int last =
      std::max(first, std::min(rounded + kEnhSlop, kEnhBufLen - kEnhBlock - 1));
  const int count = last - first + 1;
  float corr[2 * kEnhSlop + 1];
  SlidingDots(enh_buf + centre, enh_buf + first, count, kEnhBlock, corr);
  auto corr_at = [&](int i) { return i >= 0 && i < count ? corr[i] : 0.0f; };
  int best_i = 0, best_f = 0;
  float best = corr[0];
  for (int i = 0; i < count; ++i) {
    for (int f = 0; f < 4; ++f) {
      if (f > 0 && i == count - 1) break;
      float v = corr[i];
      if (f > 0) {
        v = 0.0f;
        for (int m = 0; m < 7; ++m)
          v += kQuarterSampleFilters[7 * f + m] * corr_at(i + 3 - m);
      }
      if (v > best) {
        best = v;
        best_i = i;
        best_f = f;
      }
    }
  }
  const int base = first + best_i;
  *position = float(base) + 0.25f * float(best_f);
  const float* taps = kQuarterSampleFilters + 7 * best_f;
  if (base - 3 >= 0 && base + kEnhBlock + 3 <= kEnhBufLen) {
    // All taps inside the buffer: taps outside so the samples vectorise,
    // each sample still summing its taps in order.
    for (int k = 0; k < kEnhBlock; ++k) seg[k] = 0.0f;
    for (int m = 0; m < 7; ++m) {
      const float* src = enh_buf + base + 3 - m;
      for (int k = 0; k < kEnhBlock; ++k) seg[k] += taps[m] * src[k];
    }
    return;
  }
  for (int k = 0; k < kEnhBlock; ++k) {
    float acc = 0.0f;
    for (int m = 0; m < 7; ++m) {
      const int p = base + k + 3 - m;
      if (p >= 0 && p < kEnhBufLen) acc += taps[m] * enh_buf[p];
    }
    seg[k] = acc;
  }
}

void DecoderState::Output(const float* residual,
                          const float (*poly)[kPolyLen], bool concealed,
                          float* samples) {
  float buf[kOrder + kBlockLen];
  std::memcpy(buf, synth_mem, sizeof(synth_mem));
  float* data = buf + kOrder;
  if (use_enhancer) {
    last_lag = Enhance(residual, data);
    // The enhanced signal lags 40 samples behind: its first subframe still
    // belongs to the previous frame's last filter.
    AllPole(data, kSubLen, old_poly[kSubframes - 1]);
    for (int i = 1; i < kSubframes; ++i)
      AllPole(data + i * kSubLen, kSubLen, poly[i - 1]);
  } else {
    // Pitch of the frame's end, kept for a loss of the next frame.
    float measures[80];
    LagMeasures(residual + 100, 20, 80, 60, measures);
    int best_lag = 20;
    float best = measures[0];
    for (int lag = 21; lag < 100; ++lag) {
      if (measures[lag - 20] > best) {
        best = measures[lag - 20];
        best_lag = lag;
      }
    }
    last_lag = best_lag;
    std::memcpy(data, residual, sizeof(float) * kBlockLen);
    for (int i = 0; i < kSubframes; ++i)
      AllPole(data + i * kSubLen, kSubLen, poly[i]);
  }
  std::memcpy(synth_mem, data + kBlockLen - kOrder, sizeof(synth_mem));

  for (int n = 0; n < kBlockLen; ++n) {
    const float x = data[n];
    const float y = kHighPassOutB[0] * x + kHighPassOutB[1] * hp_x[0] +
                    kHighPassOutB[2] * hp_x[1] - kHighPassOutA[1] * hp_y[0] -
                    kHighPassOutA[2] * hp_y[1];
    hp_x[1] = hp_x[0];
    hp_x[0] = x;
    hp_y[1] = hp_y[0];
    hp_y[0] = y;
    samples[n] = y;
  }
  std::memcpy(old_poly, poly, sizeof(old_poly));
  prev_concealed = concealed;
}

Decoder::Decoder(bool use_enhancer) : state_(new DecoderState) {
  state_->use_enhancer = use_enhancer;
  state_->Reset();
}

Decoder::~Decoder() = default;

void Decoder::Reset() { state_->Reset(); }

int Decoder::DelaySamples() const {
  // The newest frame fills the end of the history; the enhanced output
  // starts at kEnhFirstOut.
  return state_->use_enhancer ? kEnhBufLen - kBlockLen - kEnhFirstOut : 0;
}

bool Decoder::Decode(const uint8_t* frame, float* samples) {
  FrameParams params;
  if (!Unpack(frame, &params)) {
    Conceal(samples);
    return false;
  }
  DecoderState& s = *state_;
  float lsf[kOrder];
  DequantizeLsf(params.lsf, lsf);
  StabilizeLsf(lsf);
  float poly[kSubframes][kPolyLen];
  for (int i = 0; i < kSubframes; ++i)
    InterpolatedPoly(s.lsf_old, lsf, kLsfInterpolation[i], poly[i]);
  std::memcpy(s.lsf_old, lsf, sizeof(lsf));

  float residual[kBlockLen];
  s.DecodeResidual(params, poly, residual);

  std::memcpy(s.prev_residual, residual, sizeof(residual));
  std::memcpy(s.prev_poly, poly[kSubframes - 1], sizeof(s.prev_poly));
  s.prev_lost = false;
  s.lost_count = 0;
  s.Output(residual, poly, false, samples);
  return true;
}

void Decoder::Conceal(float* samples) {
  DecoderState& s = *state_;
  float residual[kBlockLen];
  float poly[kSubframes][kPolyLen];
  s.ConcealResidual(residual, poly[0]);
  for (int i = 1; i < kSubframes; ++i)
    std::memcpy(poly[i], poly[0], sizeof(poly[0]));
  std::memcpy(s.prev_residual, residual, sizeof(residual));
  s.prev_lost = true;
  s.Output(residual, poly, true, samples);
}

}  // namespace ilbc
