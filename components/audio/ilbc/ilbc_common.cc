#include <cmath>
#include <cstring>

#include "components/audio/ilbc/ilbc_internal.h"
#include "components/audio/ilbc/ilbc_tables.h"

namespace ilbc {
namespace internal {

// ---------------------------------------------------------------------------
// Bit layout. Every field is split over three layers: the first layer takes
// its most significant bits, the third its least significant ones. Within a
// layer the fields come in one fixed order; after the third layer one unused
// bit closes the frame (the sender leaves it 0; 1 marks an empty frame).

namespace {

struct Bits {
  uint8_t layer[3];
};

constexpr Bits kLsfBits[3] = {{{6, 0, 0}}, {{7, 0, 0}}, {{7, 0, 0}}};
constexpr Bits kStartBits = {{2, 0, 0}};
constexpr Bits kStateFirstBits = {{1, 0, 0}};
constexpr Bits kScaleBits = {{6, 0, 0}};
constexpr Bits kStateBits = {{0, 1, 2}};
constexpr Bits kCbBits[kCbBlocks][kStages] = {
    {{{6, 0, 1}}, {{0, 0, 7}}, {{0, 0, 7}}},
    {{{7, 0, 1}}, {{0, 0, 7}}, {{0, 0, 7}}},
    {{{0, 0, 8}}, {{0, 0, 8}}, {{0, 0, 8}}}};
constexpr Bits kGainBits[kCbBlocks][kStages] = {
    {{{2, 0, 3}}, {{1, 1, 2}}, {{0, 0, 3}}},
    {{{1, 2, 2}}, {{1, 1, 2}}, {{0, 0, 3}}},
    {{{1, 1, 3}}, {{0, 2, 2}}, {{0, 0, 3}}}};

// Calls f(field, bits) for every field in frame order.
template <typename Params, typename F>
void ForEachField(Params& p, F&& f) {
  for (int i = 0; i < 3; ++i) f(p.lsf[i], kLsfBits[i]);
  f(p.start, kStartBits);
  f(p.state_first, kStateFirstBits);
  f(p.scale, kScaleBits);
  for (int i = 0; i < kStateShortLen; ++i) f(p.state[i], kStateBits);
  // The 23 samples' indices and gains, then all subframes' indices, then
  // all subframes' gains.
  for (int s = 0; s < kStages; ++s) f(p.cb[0][s], kCbBits[0][s]);
  for (int s = 0; s < kStages; ++s) f(p.gain[0][s], kGainBits[0][s]);
  for (int block = 1; block < kCbBlocks; ++block)
    for (int s = 0; s < kStages; ++s) f(p.cb[block][s], kCbBits[block][s]);
  for (int block = 1; block < kCbBlocks; ++block)
    for (int s = 0; s < kStages; ++s) f(p.gain[block][s], kGainBits[block][s]);
}

// Bits of a field below layer `layer`.
int LowerBits(const Bits& bits, int layer) {
  int n = 0;
  for (int l = layer + 1; l < 3; ++l) n += bits.layer[l];
  return n;
}

// Collects fields in a small accumulator and stores whole bytes; Flush
// writes a last partial byte, padded with zero bits.
class BitWriter {
 public:
  explicit BitWriter(uint8_t* out) : out_(out) {}
  void Put(unsigned value, int count) {
    pending_ = (pending_ << count) | value;
    bits_ += count;
    while (bits_ >= 8) {
      bits_ -= 8;
      *out_++ = uint8_t(pending_ >> bits_);
    }
  }
  void Flush() {
    if (bits_ > 0) *out_++ = uint8_t(pending_ << (8 - bits_));
    bits_ = 0;
  }

 private:
  uint8_t* out_;
  uint32_t pending_ = 0;  // only the low bits_ (< 8) bits are still owed
  int bits_ = 0;
};

class BitReader {
 public:
  explicit BitReader(const uint8_t* in) : in_(in) {}
  unsigned Get(int count) {
    unsigned value = 0;
    for (int i = 0; i < count; ++i) {
      value = (value << 1) | ((in_[pos_ >> 3] >> (7 - (pos_ & 7))) & 1u);
      ++pos_;
    }
    return value;
  }

 private:
  const uint8_t* in_;
  int pos_ = 0;
};

// The second and third stages of the first 40-sample subframe only reach
// part of the codebook (the first 44 lags and the stretched vectors of each
// half), so they travel as 7-bit numbers.
int ToPackedIndex(int index) {
  if (index >= 108 && index < 172) return index - 64;
  if (index >= 236) return index - 128;
  return index;
}

int FromPackedIndex(int index) {
  if (index >= 44 && index < 108) return index + 64;
  if (index >= 108) return index + 128;
  return index;
}

}  // namespace

void Pack(const FrameParams& params, uint8_t* frame) {
  FrameParams p = params;
  p.cb[1][1] = ToPackedIndex(p.cb[1][1]);
  p.cb[1][2] = ToPackedIndex(p.cb[1][2]);
  std::memset(frame, 0, 38);
  BitWriter writer(frame);
  for (int layer = 0; layer < 3; ++layer) {
    ForEachField(p, [&](int& value, const Bits& bits) {
      const int count = bits.layer[layer];
      if (count == 0) return;
      const unsigned v = unsigned(value) >> LowerBits(bits, layer);
      writer.Put(v & ((1u << count) - 1), count);
    });
  }
  writer.Put(0, 1);
  writer.Flush();
}

bool Unpack(const uint8_t* frame, FrameParams* params) {
  FrameParams& p = *params;
  std::memset(&p, 0, sizeof(p));
  BitReader reader(frame);
  for (int layer = 0; layer < 3; ++layer) {
    ForEachField(p, [&](int& value, const Bits& bits) {
      const int count = bits.layer[layer];
      if (count == 0) return;
      value |= int(reader.Get(count) << LowerBits(bits, layer));
    });
  }
  const bool empty = reader.Get(1) != 0;
  p.cb[1][1] = FromPackedIndex(p.cb[1][1]);
  p.cb[1][2] = FromPackedIndex(p.cb[1][2]);
  if (empty || p.start < 1) return false;
  const int extra_size = CodebookSize(kStateCbMemLen, kStateExtraLen);
  for (int s = 0; s < kStages; ++s) {
    if (p.cb[0][s] >= extra_size) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Adaptive codebook. The first half holds the memory's own vectors: one per
// lag from the target length upwards and, for 40-sample targets, 20 vectors
// for lags 20..39 made by repeating the last `lag` samples. The second half
// holds the same vectors taken from the memory after an 8-tap filter.

namespace {

int PlainVectors(int mem_len, int length) { return mem_len - length + 1; }
int StretchedVectors(int length) { return length == kSubLen ? kSubLen / 2 : 0; }

void StretchedVector(const float* end, int lag, int length, float* out) {
  static const float kFade[4] = {0.2f, 0.4f, 0.6f, 0.8f};
  for (int i = 0; i < lag; ++i) out[i] = end[i - lag];
  for (int i = lag; i < length; ++i) out[i] = end[i - 2 * lag];
  // Fade from the original samples into the repeated ones over the four
  // samples before the seam.
  for (int j = 0; j < 4; ++j) {
    out[lag - 4 + j] = kFade[j] * end[j - lag - 4] + kFade[3 - j] * end[j - 4];
  }
}

}  // namespace

int CodebookSize(int mem_len, int length) {
  return 2 * (PlainVectors(mem_len, length) + StretchedVectors(length));
}

void FilterCodebookMemory(const float* mem, int mem_len, float* filtered) {
  // Zero-padded copy so the taps need no bounds checks; taps outside the
  // inner loop over samples, so it vectorises while every sample still sums
  // its taps in the same order.
  float padded[4 + kCbMemLen + 4] = {};
  std::memcpy(padded + 4, mem, sizeof(float) * mem_len);
  for (int p = 0; p < mem_len; ++p) filtered[p] = 0.0f;
  for (int j = 0; j < kCbFilterLen; ++j) {
    const float c = kCodebookFilter[j];
    const float* src = padded + 8 - j;
    for (int p = 0; p < mem_len; ++p) filtered[p] += c * src[p];
  }
}

void CodebookVector(const float* mem, const float* filtered, int mem_len,
                    int length, int index, float* out) {
  const int plain = PlainVectors(mem_len, length);
  const int half = plain + StretchedVectors(length);
  const float* source = mem;
  if (index >= half) {
    source = filtered;
    index -= half;
  }
  if (index < plain) {
    std::memcpy(out, source + mem_len - length - index, sizeof(float) * length);
  } else {
    StretchedVector(source + mem_len, index - plain + kSubLen / 2, length, out);
  }
}

float DecodeGain(int stage, int index, float previous) {
  if (stage == 0) return kGainStage1[index];
  float scale = std::fabs(previous);
  if (scale < 0.1f) scale = 0.1f;
  return stage == 1 ? scale * kGainStage2[index] : scale * kGainStage3[index];
}

void ConstructVector(const int* cb, const int* gain, const float* mem,
                     int mem_len, int length, float* out) {
  float filtered[kCbMemLen];
  FilterCodebookMemory(mem, mem_len, filtered);
  float vec[kStages][kSubLen];
  float g[kStages];
  float previous = 1.0f;
  for (int s = 0; s < kStages; ++s) {
    g[s] = DecodeGain(s, gain[s], previous);
    previous = g[s];
    CodebookVector(mem, filtered, mem_len, length, cb[s], vec[s]);
  }
  for (int i = 0; i < length; ++i)
    out[i] = g[0] * vec[0][i] + g[1] * vec[1][i] + g[2] * vec[2][i];
}

// ---------------------------------------------------------------------------
// Start state. The encoder quantised the residual after an all-pass filter
// (A reversed over A) applied circularly; running the time-reversed levels
// through the same filter and reversing again undoes it.

void ConstructState(int scale, const int* indices, const float* synth_poly,
                    float* out) {
  const float max_value =
      static_cast<float>(Exp10(kStateMaxLog10[scale]) / 4.5);
  float levels[2 * kStateShortLen] = {};
  for (int k = 0; k < kStateShortLen; ++k)
    levels[k] = max_value * kStateLevels[indices[kStateShortLen - 1 - k]];
  float numerator[kPolyLen];
  for (int k = 0; k < kPolyLen; ++k) numerator[k] = synth_poly[kOrder - k];
  float filtered[2 * kStateShortLen];
  ZeroPole(levels, 2 * kStateShortLen, numerator, synth_poly, filtered);
  for (int k = 0; k < kStateShortLen; ++k) {
    out[k] = filtered[kStateShortLen - 1 - k] +
             filtered[2 * kStateShortLen - 1 - k];
  }
}

// ---------------------------------------------------------------------------
// LSFs.

void DequantizeLsf(const int* indices, float* lsf) {
  int offset = 0, pos = 0;
  for (int split = 0; split < 3; ++split) {
    const int dim = kLsfSplitDim[split];
    for (int j = 0; j < dim; ++j)
      lsf[pos + j] = kLsfCodebook[offset + indices[split] * dim + j];
    pos += dim;
    offset += kLsfSplitSize[split] * dim;
  }
}

void StabilizeLsf(float* lsf) {
  constexpr float kMinGap = 0.039f, kHalfGap = 0.0195f;
  constexpr float kMinLsf = 0.01f, kMaxLsf = 3.14f;
  for (int pass = 0; pass < 2; ++pass) {
    for (int k = 0; k < kOrder - 1; ++k) {
      if (lsf[k + 1] - lsf[k] < kMinGap) {
        if (lsf[k + 1] < lsf[k]) {
          lsf[k + 1] = lsf[k] + kHalfGap;
        } else {
          lsf[k] -= kHalfGap;
          lsf[k + 1] += kHalfGap;
        }
      }
      if (lsf[k] < kMinLsf) lsf[k] = kMinLsf;
      if (lsf[k] > kMaxLsf) lsf[k] = kMaxLsf;
    }
  }
}

void LsfToPoly(const float* lsf, float* poly) {
  // Odd-numbered frequencies are roots of the symmetric polynomial P, the
  // even-numbered ones of the antisymmetric Q; A = (P + Q) / 2.
  double p[kPolyLen + 1] = {1.0}, q[kPolyLen + 1] = {1.0};
  int degree = 0;
  for (int i = 0; i < kOrder; i += 2) {
    const double cp = -2.0 * Cos(lsf[i]);
    const double cq = -2.0 * Cos(lsf[i + 1]);
    for (int k = degree + 2; k >= 2; --k) {
      p[k] += cp * p[k - 1] + p[k - 2];
      q[k] += cq * q[k - 1] + q[k - 2];
    }
    p[1] += cp * p[0];
    q[1] += cq * q[0];
    degree += 2;
  }
  poly[0] = 1.0f;
  for (int k = 1; k <= kOrder; ++k) {
    const double pk = p[k] + p[k - 1];
    const double qk = q[k] - q[k - 1];
    poly[k] = static_cast<float>(0.5 * (pk + qk));
  }
}

void InterpolatedPoly(const float* lsf_a, const float* lsf_b, float weight,
                      float* poly) {
  float lsf[kOrder];
  for (int k = 0; k < kOrder; ++k)
    lsf[k] = weight * lsf_a[k] + (1.0f - weight) * lsf_b[k];
  LsfToPoly(lsf, poly);
}

namespace {

// Values at x[i] = cos(w) of a symmetric degree-10 polynomial c, scaled by
// e^{5jw}: c5 + 2 * sum c_k T_{5-k}(x). Every point goes through the same
// operations in the same order, so evaluating points side by side (the loop
// vectorises) gives the values one at a time would.
void EvalSymmetric(const double* c, const double* x, int count, double* out) {
  const double c0 = 2.0 * c[0], c1 = 2.0 * c[1], c2 = 2.0 * c[2],
               c3 = 2.0 * c[3], c4 = 2.0 * c[4], c5 = c[5];
  for (int i = 0; i < count; ++i) {
    const double xi = x[i];
    const double t2 = 2.0 * xi * xi - 1.0;
    const double t3 = 2.0 * xi * t2 - xi;
    const double t4 = 2.0 * xi * t3 - t2;
    const double t5 = 2.0 * xi * t4 - t3;
    double sum = c5;
    sum += c0 * t5;
    sum += c1 * t4;
    sum += c2 * t3;
    sum += c3 * t2;
    sum += c4 * xi;
    out[i] = sum;
  }
}

}  // namespace

bool PolyToLsf(const float* poly, float* lsf) {
  double p[12], q[12];
  for (int k = 0; k <= 11; ++k) {
    const double a = k <= kOrder ? poly[k] : 0.0;
    const double b = 11 - k <= kOrder ? poly[11 - k] : 0.0;
    p[k] = a + b;
    q[k] = a - b;
  }
  // Remove the trivial roots at z = -1 (P) and z = 1 (Q).
  double pd[kPolyLen], qd[kPolyLen];
  pd[0] = p[0];
  qd[0] = q[0];
  for (int k = 1; k <= kOrder; ++k) {
    pd[k] = p[k] - pd[k - 1];
    qd[k] = q[k] + qd[k - 1];
  }
  const double* polys[2] = {pd, qd};

  // The search grid's cosines, computed once.
  constexpr int kGrid = 512;
  static const struct Grid {
    double x[kGrid + 1];
    Grid() {
      constexpr double kPi = 3.14159265358979323846;
      for (int j = 0; j <= kGrid; ++j) x[j] = Cos(kPi * j / kGrid);
    }
  } grid;
  // Both polynomials on the whole grid in one pass.
  double on_grid[2][kGrid + 1];
  EvalSymmetric(pd, grid.x, kGrid + 1, on_grid[0]);
  EvalSymmetric(qd, grid.x, kGrid + 1, on_grid[1]);
  int found = 0;
  int which = 0;
  double x_prev = 1.0;
  double f_prev = on_grid[0][0];
  int j = 1;
  while (j <= kGrid && found < kOrder) {
    const double x_next = grid.x[j];
    const double f_next = on_grid[which][j];
    if ((f_prev < 0.0) != (f_next < 0.0)) {
      // 48 halvings of the cell, three at a time: the seven midpoints three
      // halvings can visit are computed exactly as one halving after another
      // would, evaluated side by side, and the path through them is picked
      // without branches. Same root as plain bisection, a third of the
      // serial steps.
      const bool lo_negative = f_prev < 0.0;
      double lo = x_prev, hi = x_next;
      for (int step = 0; step < 16; ++step) {
        double pt[9];
        pt[0] = lo;
        pt[8] = hi;
        pt[4] = 0.5 * (lo + hi);
        pt[2] = 0.5 * (lo + pt[4]);
        pt[6] = 0.5 * (pt[4] + hi);
        for (int i = 1; i < 8; i += 2) pt[i] = 0.5 * (pt[i - 1] + pt[i + 1]);
        double f[8];
        EvalSymmetric(polys[which], pt, 8, f);  // f[0] unused
        int k = (f[4] < 0.0) == lo_negative ? 4 : 0;
        k += (f[k + 2] < 0.0) == lo_negative ? 2 : 0;
        k += (f[k + 1] < 0.0) == lo_negative ? 1 : 0;
        lo = pt[k];
        hi = pt[k + 1];
      }
      const double root = 0.5 * (lo + hi);
      lsf[found++] = static_cast<float>(Acos(root));
      which ^= 1;
      x_prev = root;
      EvalSymmetric(polys[which], &x_prev, 1, &f_prev);
      continue;  // the other polynomial may change sign in the same cell
    }
    x_prev = x_next;
    f_prev = f_next;
    ++j;
  }
  return found == kOrder;
}

void ExpandBandwidth(const float* in, float chirp, float* out) {
  float factor = chirp;
  out[0] = in[0];
  for (int k = 1; k < kPolyLen; ++k) {
    out[k] = factor * in[k];
    factor *= chirp;
  }
}

// ---------------------------------------------------------------------------
// Filters.

void AllPole(float* data, int length, const float* poly) {
  static_assert(kOrder == 10, "the taps below are written out");
  // The past outputs stay in named registers: read back from memory right
  // after being stored, they would stall every sample on store forwarding
  // (and arrays here end up in memory).
  const float c1 = poly[1], c2 = poly[2], c3 = poly[3], c4 = poly[4],
              c5 = poly[5], c6 = poly[6], c7 = poly[7], c8 = poly[8],
              c9 = poly[9], c10 = poly[10];
  float y1 = data[-1], y2 = data[-2], y3 = data[-3], y4 = data[-4],
        y5 = data[-5], y6 = data[-6], y7 = data[-7], y8 = data[-8],
        y9 = data[-9], y10 = data[-10];
  for (int n = 0; n < length; ++n) {
    float acc = data[n];
    acc -= c1 * y1;
    acc -= c2 * y2;
    acc -= c3 * y3;
    acc -= c4 * y4;
    acc -= c5 * y5;
    acc -= c6 * y6;
    acc -= c7 * y7;
    acc -= c8 * y8;
    acc -= c9 * y9;
    acc -= c10 * y10;
    y10 = y9;
    y9 = y8;
    y8 = y7;
    y7 = y6;
    y6 = y5;
    y5 = y4;
    y4 = y3;
    y3 = y2;
    y2 = y1;
    y1 = acc;
    data[n] = acc;
  }
}

void ZeroPole(const float* in, int length, const float* b, const float* a,
              float* out) {
  // The first samples have fewer past values; after them every sample runs
  // all taps, a fixed-length loop the compiler unrolls.
  const int head = length < kOrder ? length : kOrder;
  for (int n = 0; n < head; ++n) {
    float acc = 0.0f;
    for (int k = 0; k <= n; ++k) acc += b[k] * in[n - k];
    for (int k = 1; k <= n; ++k) acc -= a[k] * out[n - k];
    out[n] = acc;
  }
  for (int n = head; n < length; ++n) {
    float acc = 0.0f;
    for (int k = 0; k < kPolyLen; ++k) acc += b[k] * in[n - k];
    for (int k = 1; k < kPolyLen; ++k) acc -= a[k] * out[n - k];
    out[n] = acc;
  }
}

void SlidingDots(const float* x, const float* y, int count, int length,
                 float* out) {
  BlockedSums(count, length, out,
              [x, y](int k, int s) { return x[k] * y[s + k]; });
}

void SlidingEnergies(const float* y, int count, int length, float* out) {
  BlockedSums(count, length, out,
              [y](int k, int s) { return y[s + k] * y[s + k]; });
}

void LagMeasures(const float* target, int first_lag, int count, int length,
                 float* out) {
  constexpr int kMaxLags = 128;
  float cross[kMaxLags], energy[kMaxLags];
  if (count > kMaxLags) count = kMaxLags;
  const int last_lag = first_lag + count - 1;
  SlidingDots(target, target - last_lag, count, length, cross);
  SlidingEnergies(target - last_lag, count, length, energy);
  for (int i = 0; i < count; ++i) {
    const float c = cross[last_lag - first_lag - i];
    const float e = energy[last_lag - first_lag - i];
    out[i] = c > 0.0f && e > 0.0f ? c * c / e : 0.0f;
  }
}

float LagMeasure(const float* target, const float* lagged, int length) {
  float cross = 0.0f, energy = 0.0f;
  for (int i = 0; i < length; ++i) {
    cross += target[i] * lagged[i];
    energy += lagged[i] * lagged[i];
  }
  if (cross > 0.0f && energy > 0.0f) return cross * cross / energy;
  return 0.0f;
}

// ---------------------------------------------------------------------------
// Math. Library cos/log/pow may differ in the last bit between C libraries,
// and these values steer quantiser decisions, so they are computed here.

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr double kPiOver2Hi = 1.57079632673412561417e+00;
constexpr double kPiOver2Lo = 6.07710050650619224932e-11;
constexpr double kLn2Hi = 6.93147180369123816490e-01;
constexpr double kLn2Lo = 1.90821492927058770002e-10;
constexpr double kLn10 = 2.30258509299404568402;
constexpr double kSqrtHalf = 0.70710678118654752440;

double CosSeries(double r) {
  const double r2 = r * r;
  double term = 1.0, sum = 1.0;
  for (int k = 1; k <= 12; ++k) {
    term *= -r2 / double((2 * k - 1) * (2 * k));
    sum += term;
  }
  return sum;
}

double SinSeries(double r) {
  const double r2 = r * r;
  double term = r, sum = r;
  for (int k = 1; k <= 12; ++k) {
    term *= -r2 / double((2 * k) * (2 * k + 1));
    sum += term;
  }
  return sum;
}

// |y| <= 0.5.
double AsinSeries(double y) {
  const double y2 = y * y;
  double coef = 1.0, power = y, sum = y;
  for (int n = 0; n < 40; ++n) {
    coef *= double(2 * n + 1) / double(2 * n + 2);
    power *= y2;
    sum += coef * power / double(2 * n + 3);
  }
  return sum;
}
}  // namespace

double Cos(double x) {
  x = std::fabs(x);
  const double n = std::floor(x / kPiOver2Hi + 0.5);
  const double r = (x - n * kPiOver2Hi) - n * kPiOver2Lo;
  switch (static_cast<long long>(n) & 3) {
    case 0: return CosSeries(r);
    case 1: return -SinSeries(r);
    case 2: return -CosSeries(r);
    default: return SinSeries(r);
  }
}

double Acos(double x) {
  if (x >= 1.0) return 0.0;
  if (x <= -1.0) return kPi;
  if (x > 0.5) return 2.0 * AsinSeries(std::sqrt((1.0 - x) * 0.5));
  if (x < -0.5) return kPi - 2.0 * AsinSeries(std::sqrt((1.0 + x) * 0.5));
  return 0.5 * kPi - AsinSeries(x);
}

double Exp10(double x) {
  const double y = x * kLn10;
  const double n = std::floor(y / kLn2Hi + 0.5);
  const double r = (y - n * kLn2Hi) - n * kLn2Lo;
  double term = 1.0, sum = 1.0;
  for (int k = 1; k <= 25; ++k) {
    term *= r / double(k);
    sum += term;
  }
  return std::ldexp(sum, static_cast<int>(n));
}

double Log10(double x) {
  if (!(x > 0.0)) return -300.0;
  int e = 0;
  double m = std::frexp(x, &e);
  if (m < kSqrtHalf) {
    m *= 2.0;
    --e;
  }
  const double z = (m - 1.0) / (m + 1.0);
  const double z2 = z * z;
  double power = z, sum = z;
  for (int k = 1; k <= 30; ++k) {
    power *= z2;
    sum += power / double(2 * k + 1);
  }
  const double ln = 2.0 * sum + e * kLn2Hi + e * kLn2Lo;
  return ln / kLn10;
}

}  // namespace internal
}  // namespace ilbc
