// iLBC encoder: high-pass filter, LPC analysis and LSF quantisation, the
// residual, start-state choice and its noise-shaped scalar quantisation,
// then three-stage adaptive codebook coding of the rest of the residual in
// the perceptually weighted domain, and packing.
#include <cmath>
#include <cstring>

#include "components/audio/ilbc/ilbc.h"
#include "components/audio/ilbc/ilbc_internal.h"
#include "components/audio/ilbc/ilbc_tables.h"

namespace ilbc {

using namespace internal;

namespace {

constexpr int kAnalysisLen = 240;  // 80 past samples and the new frame
constexpr float kMaxSearchGain = 1.3f;

// How many lags of each codebook half the stages search, per block. The
// second and third stages of block 1 are limited by their 7-bit index.
constexpr int kSearchRange[kCbBlocks][kStages] = {
    {58, 58, 58}, {108, 44, 44}, {108, 108, 108}};

// Nearest level of an ascending table.
int QuantizeSorted(float x, const float* table, int size) {
  if (x <= table[0]) return 0;
  int i = 0;
  while (x > table[i] && i < size - 1) ++i;
  return x > 0.5f * (table[i] + table[i - 1]) ? i : i - 1;
}

int QuantizeGain(float gain, int stage, float previous) {
  const float* table = stage == 0 ? kGainStage1 : stage == 1 ? kGainStage2
                                                             : kGainStage3;
  const int size = stage == 0 ? 32 : stage == 1 ? 16 : 8;
  float scale = 1.0f;
  if (stage > 0) {
    scale = std::fabs(previous);
    if (scale < 0.1f) scale = 0.1f;
  }
  int best = 0;
  float best_err = (gain - scale * table[0]) * (gain - scale * table[0]);
  for (int i = 1; i < size; ++i) {
    const float d = gain - scale * table[i];
    if (d * d < best_err) {
      best_err = d * d;
      best = i;
    }
  }
  return best;
}

}  // namespace

struct EncoderState {
  float hp_x[2];
  float hp_y[2];
  float history[kAnalysisLen - kBlockLen];
  float lsf_old[kOrder];
  float lsf_deq_old[kOrder];
  float ana_mem[kOrder];
  // Scratch of the codebook search, per codebook half: the energy of the
  // window starting at each position, and the stretched vectors.
  float window_energy[2][kCbMemLen];
  float stretched_by_sample[2][kSubLen][kSubLen / 2];
  float stretched_energy[2][kSubLen / 2];

  void Reset();
  void Analyse(const float* data, float* lsf);
  void QuantizeState(const float* residual, const float* synth,
                     const float* weight, bool state_first, int* scale,
                     int* indices) const;
  void Search(const float* target, const float* mem, int mem_len, int length,
              int block, const float* weight, int* cb, int* gain);
};

void EncoderState::Reset() {
  std::memset(hp_x, 0, sizeof(hp_x));
  std::memset(hp_y, 0, sizeof(hp_y));
  std::memset(history, 0, sizeof(history));
  std::memcpy(lsf_old, kLsfMean, sizeof(lsf_old));
  std::memcpy(lsf_deq_old, kLsfMean, sizeof(lsf_deq_old));
  std::memset(ana_mem, 0, sizeof(ana_mem));
}

// LSFs of the frame from a windowed autocorrelation over the new frame and
// the 80 samples before it.
void EncoderState::Analyse(const float* data, float* lsf) {
  float buf[kAnalysisLen];
  std::memcpy(buf, history, sizeof(history));
  std::memcpy(buf + (kAnalysisLen - kBlockLen), data, sizeof(float) * kBlockLen);
  std::memcpy(history, data + kBlockLen - (kAnalysisLen - kBlockLen),
              sizeof(history));
  for (int i = 0; i < kAnalysisLen; ++i) buf[i] *= kLpcWindow[i];

  // Lags in the inner loop: the sums run side by side instead of one long
  // dependent chain each, and every lag still adds in order of i.
  double r[kPolyLen] = {};
  for (int i = 0; i < kAnalysisLen; ++i) {
    const int lags = i < kOrder ? i + 1 : kPolyLen;
    for (int lag = 0; lag < lags; ++lag) r[lag] += double(buf[i]) * buf[i - lag];
  }
  for (int lag = 0; lag < kPolyLen; ++lag) r[lag] *= kLpcLagWindow[lag];

  // Levinson-Durbin; a silent or degenerate frame gives the flat filter.
  double a[kPolyLen] = {1.0};
  double err = r[0];
  if (err > 1e-9) {
    for (int i = 1; i <= kOrder; ++i) {
      double acc = r[i];
      for (int j = 1; j < i; ++j) acc += a[j] * r[i - j];
      const double k = -acc / err;
      double next[kPolyLen];
      for (int j = 1; j < i; ++j) next[j] = a[j] + k * a[i - j];
      for (int j = 1; j < i; ++j) a[j] = next[j];
      a[i] = k;
      err *= 1.0 - k * k;
      if (err <= 1e-9) {
        for (int j = i + 1; j <= kOrder; ++j) a[j] = 0.0;
        break;
      }
    }
  }
  float poly[kPolyLen], expanded[kPolyLen];
  for (int k = 0; k < kPolyLen; ++k) poly[k] = static_cast<float>(a[k]);
  ExpandBandwidth(poly, kChirpAnalysis, expanded);
  if (!PolyToLsf(expanded, lsf)) std::memcpy(lsf, lsf_old, sizeof(lsf_old));
}

// Scalar quantisation of the 57-sample start state. The residual goes
// through an all-pass filter first (applied circularly, so the decoder can
// undo it exactly), is normalised by its quantised maximum and quantised
// sample by sample with the error shaped by the weighting filter.
void EncoderState::QuantizeState(const float* residual, const float* synth,
                                 const float* weight, bool state_first,
                                 int* scale, int* indices) const {
  constexpr int n = kStateShortLen;
  float padded[2 * n] = {};
  std::memcpy(padded, residual, sizeof(float) * n);
  float numerator[kPolyLen];
  for (int k = 0; k < kPolyLen; ++k) numerator[k] = synth[kOrder - k];
  float filtered[2 * n];
  ZeroPole(padded, 2 * n, numerator, synth, filtered);
  float target_buf[kOrder + n] = {};
  float* target = target_buf + kOrder;
  float max_abs = 0.0f;
  for (int k = 0; k < n; ++k) {
    target[k] = filtered[k] + filtered[k + n];
    if (std::fabs(target[k]) > max_abs) max_abs = std::fabs(target[k]);
  }
  if (max_abs < 10.0f) max_abs = 10.0f;
  *scale = QuantizeSorted(static_cast<float>(Log10(max_abs)), kStateMaxLog10,
                          64);
  const float gain =
      static_cast<float>(4.5 / Exp10(kStateMaxLog10[*scale]));
  for (int k = 0; k < n; ++k) target[k] *= gain;

  // The part in the first subframe uses its weighting filter, the rest the
  // next subframe's.
  const int first_len = state_first ? kSubLen : n - kSubLen;
  const float* w = weight;
  AllPole(target, first_len, w);
  float synth_buf[kOrder + n] = {};
  float* shaped = synth_buf + kOrder;
  for (int k = 0; k < n; ++k) {
    if (k == first_len) {
      w = weight + kPolyLen;
      AllPole(target + k, n - k, w);
    }
    shaped[k] = 0.0f;
    AllPole(shaped + k, 1, w);
    const float prediction = shaped[k];
    indices[k] = QuantizeSorted(target[k] - prediction, kStateLevels, 8);
    shaped[k] = kStateLevels[indices[k]];
    AllPole(shaped + k, 1, w);
  }
}

// Three-stage search of the adaptive codebook in the weighted domain. The
// vectors of a lag range are windows of one buffer, so their energies and
// correlations come from sliding dot products over that buffer; only the
// stretched vectors are built.
void EncoderState::Search(const float* target, const float* mem, int mem_len,
                          int length, int block, const float* weight, int* cb,
                          int* gain) {
  float buf[kOrder + kCbMemLen + kSubLen] = {};
  std::memcpy(buf + kOrder, mem, sizeof(float) * mem_len);
  std::memcpy(buf + kOrder + mem_len, target, sizeof(float) * length);
  AllPole(buf + kOrder, mem_len + length, weight);
  const float* wmem = buf + kOrder;
  float goal[kSubLen];
  std::memcpy(goal, buf + kOrder + mem_len, sizeof(float) * length);

  float filtered[kCbMemLen];
  FilterCodebookMemory(wmem, mem_len, filtered);
  const int size = CodebookSize(mem_len, length);
  const int plain = mem_len - length + 1;
  const int half = size / 2;
  const float* sources[2] = {wmem, filtered};

  // Per half: the energy of the window at each start position (index j
  // starts at mem_len - length - j), then the stretched vectors, kept
  // sample-major so their sums vectorise across vectors too.
  const int stretched = half - plain;
  for (int h = 0; h < 2; ++h) {
    SlidingEnergies(sources[h], plain, length, window_energy[h]);
    float v[kSubLen];
    for (int i = 0; i < stretched; ++i) {
      CodebookVector(wmem, filtered, mem_len, length, h * half + plain + i, v);
      for (int k = 0; k < length; ++k) stretched_by_sample[h][k][i] = v[k];
    }
    const float(*sv)[kSubLen / 2] = stretched_by_sample[h];
    BlockedSums(stretched, length, stretched_energy[h],
                [sv](int k, int i) { return sv[k][i] * sv[k][i]; });
  }
  float best_vector[kSubLen];
  auto vector_of = [&](int index) -> const float* {
    const int h = index < half ? 0 : 1;
    const int j = index - h * half;
    if (j < plain) return sources[h] + (mem_len - length - j);
    CodebookVector(wmem, filtered, mem_len, length, index, best_vector);
    return best_vector;
  };

  float target_energy = 0.0f;
  for (int k = 0; k < length; ++k) target_energy += goal[k] * goal[k];
  float quantized[kStages];
  float previous = 1.0f;
  float rebuilt[kSubLen] = {};
  float cross[kCbMemLen];
  for (int s = 0; s < kStages; ++s) {
    // Every candidate's correlation and energy in index order, then the
    // measures side by side (the loop vectorises), then the first largest.
    float cand_cross[kCbMaxSize], cand_energy[kCbMaxSize];
    int cand_index[kCbMaxSize];
    int n = 0;
    const int range = kSearchRange[block][s];
    for (int h = 0; h < 2; ++h) {
      // Lags j < range start at mem_len - length - range + 1 and onwards.
      const int first = mem_len - length - range + 1;
      SlidingDots(goal, sources[h] + first, range, length, cross);
      for (int j = 0; j < range; ++j) {
        const int start = mem_len - length - j;
        cand_cross[n] = cross[start - first];
        cand_energy[n] = window_energy[h][start];
        cand_index[n++] = h * half + j;
      }
      const float(*sv)[kSubLen / 2] = stretched_by_sample[h];
      BlockedSums(stretched, length, cand_cross + n,
                  [&goal, sv](int k, int i) { return goal[k] * sv[k][i]; });
      for (int i = 0; i < stretched; ++i) {
        cand_energy[n] = stretched_energy[h][i];
        cand_index[n++] = h * half + plain + i;
      }
    }
    // A candidate needs energy, a gain the quantiser can reach and, in the
    // first stage, a positive gain.
    const bool any_sign = s > 0;
    float measure[kCbMaxSize];
    for (int i = 0; i < n; ++i) {
      const float c = cand_cross[i], e = cand_energy[i];
      const float g = c / e;
      const float m = c * c / e;
      const bool usable = (e > 0.0f) & (any_sign | (c > 0.0f)) &
                          (std::fabs(g) < kMaxSearchGain);
      measure[i] = usable ? m : -1.0f;
    }
    int best_at = -1;
    float best_measure = -1.0f;
    for (int i = 0; i < n; ++i) {
      if (measure[i] > best_measure) {
        best_measure = measure[i];
        best_at = i;
      }
    }
    const int best = best_at < 0 ? 0 : cand_index[best_at];
    const float best_gain =
        best_at < 0 ? 0.0f : cand_cross[best_at] / cand_energy[best_at];
    cb[s] = best;
    gain[s] = QuantizeGain(best_gain, s, previous);
    quantized[s] = DecodeGain(s, gain[s], previous);
    previous = quantized[s];
    if (best_measure >= 0.0f) {
      const float* v = vector_of(best);
      for (int k = 0; k < length; ++k) {
        goal[k] -= quantized[s] * v[k];
        rebuilt[k] += quantized[s] * v[k];
      }
    }
  }
  // Analysis by synthesis loses energy; raise the first gain while the
  // rebuilt vector stays below the target's energy and the gain below twice
  // the chosen one.
  float rebuilt_energy = 0.0f;
  for (int k = 0; k < length; ++k) rebuilt_energy += rebuilt[k] * rebuilt[k];
  int chosen = gain[0];
  for (int i = gain[0]; i < 32; ++i) {
    const float scaled = rebuilt_energy * kGainStage1[i] * kGainStage1[i];
    if (scaled < target_energy * quantized[0] * quantized[0] &&
        kGainStage1[chosen] < 2.0f * quantized[0]) {
      chosen = i;
    }
  }
  gain[0] = chosen;
}

Encoder::Encoder() : state_(new EncoderState) { state_->Reset(); }

Encoder::~Encoder() = default;

void Encoder::Reset() { state_->Reset(); }

void Encoder::Encode(const float* samples, uint8_t* frame) {
  EncoderState& s = *state_;

  // High-pass filter against DC and hum.
  float data[kBlockLen];
  for (int n = 0; n < kBlockLen; ++n) {
    const float x = samples[n];
    const float y = kHighPassInB[0] * x + kHighPassInB[1] * s.hp_x[0] +
                    kHighPassInB[2] * s.hp_x[1] - kHighPassInA[1] * s.hp_y[0] -
                    kHighPassInA[2] * s.hp_y[1];
    s.hp_x[1] = s.hp_x[0];
    s.hp_x[0] = x;
    s.hp_y[1] = s.hp_y[0];
    s.hp_y[0] = y;
    data[n] = y;
  }

  FrameParams p;
  std::memset(&p, 0, sizeof(p));

  // LSFs: analysis, split VQ, interpolation per subframe.
  float lsf[kOrder], lsf_deq[kOrder];
  s.Analyse(data, lsf);
  int offset = 0, pos = 0;
  for (int split = 0; split < 3; ++split) {
    const int dim = kLsfSplitDim[split];
    int best = 0;
    float best_err = 0.0f;
    for (int i = 0; i < kLsfSplitSize[split]; ++i) {
      float err = 0.0f;
      for (int j = 0; j < dim; ++j) {
        const float d = lsf[pos + j] - kLsfCodebook[offset + i * dim + j];
        err += d * d;
      }
      if (i == 0 || err < best_err) {
        best_err = err;
        best = i;
      }
    }
    p.lsf[split] = best;
    pos += dim;
    offset += kLsfSplitSize[split] * dim;
  }
  DequantizeLsf(p.lsf, lsf_deq);
  StabilizeLsf(lsf_deq);
  float synth[kSubframes][kPolyLen], weight[kSubframes][kPolyLen];
  for (int i = 0; i < kSubframes; ++i) {
    InterpolatedPoly(s.lsf_deq_old, lsf_deq, kLsfInterpolation[i], synth[i]);
    float plain[kPolyLen];
    InterpolatedPoly(s.lsf_old, lsf, kLsfInterpolation[i], plain);
    ExpandBandwidth(plain, kChirpWeight, weight[i]);
  }
  std::memcpy(s.lsf_old, lsf, sizeof(lsf));
  std::memcpy(s.lsf_deq_old, lsf_deq, sizeof(lsf_deq));

  // Residual through the quantised filters.
  // Taps in the outer loop so the samples vectorise; each sample still adds
  // its taps in order.
  float padded[kOrder + kBlockLen];
  std::memcpy(padded, s.ana_mem, sizeof(s.ana_mem));
  std::memcpy(padded + kOrder, data, sizeof(data));
  float residual[kBlockLen];
  std::memcpy(residual, data, sizeof(data));
  for (int i = 0; i < kSubframes; ++i) {
    float* out = residual + i * kSubLen;
    const float* x = padded + kOrder + i * kSubLen;
    for (int k = 1; k < kPolyLen; ++k) {
      const float c = synth[i][k];
      for (int n = 0; n < kSubLen; ++n) out[n] += c * x[n - k];
    }
  }
  std::memcpy(s.ana_mem, data + kBlockLen - kOrder, sizeof(s.ana_mem));

  // Start state: the pair of subframes with the most energy (ends tapered,
  // the middle pair slightly favoured), then its louder 57-sample end.
  static const float kPairWeight[kSubframes - 1] = {0.9f, 1.0f, 0.9f};
  float best_energy = -1.0f;
  for (int pair = 0; pair < kSubframes - 1; ++pair) {
    float e = 0.0f;
    for (int k = 0; k < kStateLen; ++k) {
      float w = 1.0f;
      if (k < 5) w = float(k + 1) / 6.0f;
      if (k >= kStateLen - 5) w = float(kStateLen - k) / 6.0f;
      const float v = residual[pair * kSubLen + k];
      e += w * v * v;
    }
    e *= kPairWeight[pair];
    if (e > best_energy) {
      best_energy = e;
      p.start = pair + 1;
    }
  }
  const int first = (p.start - 1) * kSubLen;
  float e_head = 0.0f, e_tail = 0.0f;
  for (int k = 0; k < kStateShortLen; ++k) {
    e_head += residual[first + k] * residual[first + k];
    e_tail += residual[first + kStateExtraLen + k] *
              residual[first + kStateExtraLen + k];
  }
  p.state_first = e_head > e_tail ? 1 : 0;
  const int state_pos = p.state_first ? first : first + kStateExtraLen;

  float decoded[kBlockLen] = {};
  s.QuantizeState(residual + state_pos, synth[p.start - 1],
                  weight[p.start - 1], p.state_first != 0, &p.scale, p.state);
  ConstructState(p.scale, p.state, synth[p.start - 1], decoded + state_pos);

  // The other 23 samples of the pair.
  float mem[kCbMemLen];
  if (p.state_first) {
    std::memset(mem, 0, sizeof(float) * (kStateCbMemLen - kStateShortLen));
    std::memcpy(mem + kStateCbMemLen - kStateShortLen, decoded + state_pos,
                sizeof(float) * kStateShortLen);
    s.Search(residual + state_pos + kStateShortLen, mem, kStateCbMemLen,
             kStateExtraLen, 0, weight[p.start], p.cb[0], p.gain[0]);
    ConstructVector(p.cb[0], p.gain[0], mem, kStateCbMemLen, kStateExtraLen,
                    decoded + state_pos + kStateShortLen);
  } else {
    std::memset(mem, 0, sizeof(float) * kStateCbMemLen);
    for (int k = 0; k < kStateShortLen; ++k)
      mem[kStateCbMemLen - 1 - k] = decoded[state_pos + k];
    float target[kStateExtraLen], rebuilt[kStateExtraLen];
    for (int k = 0; k < kStateExtraLen; ++k)
      target[k] = residual[state_pos - 1 - k];
    s.Search(target, mem, kStateCbMemLen, kStateExtraLen, 0,
             weight[p.start - 1], p.cb[0], p.gain[0]);
    ConstructVector(p.cb[0], p.gain[0], mem, kStateCbMemLen, kStateExtraLen,
                    rebuilt);
    for (int k = 0; k < kStateExtraLen; ++k)
      decoded[state_pos - 1 - k] = rebuilt[k];
  }

  int block = 1;
  const int forward = kSubframes - p.start - 1;
  if (forward > 0) {
    std::memset(mem, 0, sizeof(float) * (kCbMemLen - kStateLen));
    std::memcpy(mem + kCbMemLen - kStateLen, decoded + first,
                sizeof(float) * kStateLen);
    for (int i = 0; i < forward; ++i, ++block) {
      const int sub = p.start + 1 + i;
      s.Search(residual + sub * kSubLen, mem, kCbMemLen, kSubLen, block,
               weight[sub], p.cb[block], p.gain[block]);
      float* out = decoded + sub * kSubLen;
      ConstructVector(p.cb[block], p.gain[block], mem, kCbMemLen, kSubLen, out);
      std::memmove(mem, mem + kSubLen, sizeof(float) * (kCbMemLen - kSubLen));
      std::memcpy(mem + kCbMemLen - kSubLen, out, sizeof(float) * kSubLen);
    }
  }
  const int backward = p.start - 1;
  if (backward > 0) {
    const int available =
        kCbMemLen < kBlockLen - first ? kCbMemLen : kBlockLen - first;
    std::memset(mem, 0, sizeof(mem));
    for (int k = 0; k < available; ++k)
      mem[kCbMemLen - 1 - k] = decoded[first + k];
    for (int i = 0; i < backward; ++i, ++block) {
      const int sub = p.start - 2 - i;
      float target[kSubLen], out[kSubLen];
      for (int k = 0; k < kSubLen; ++k)
        target[k] = residual[sub * kSubLen + kSubLen - 1 - k];
      s.Search(target, mem, kCbMemLen, kSubLen, block, weight[sub],
               p.cb[block], p.gain[block]);
      ConstructVector(p.cb[block], p.gain[block], mem, kCbMemLen, kSubLen, out);
      for (int k = 0; k < kSubLen; ++k)
        decoded[sub * kSubLen + kSubLen - 1 - k] = out[k];
      std::memmove(mem, mem + kSubLen, sizeof(float) * (kCbMemLen - kSubLen));
      std::memcpy(mem + kCbMemLen - kSubLen, out, sizeof(float) * kSubLen);
    }
  }

  Pack(p, frame);
}

}  // namespace ilbc
