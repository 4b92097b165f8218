// Pieces shared by the iLBC encoder and decoder: frame layout, bit packing,
// LSF handling, codebook and start-state reconstruction, small filters and
// the deterministic math they rest on. Internal to the codec.
#ifndef COMPONENTS_AUDIO_ILBC_ILBC_INTERNAL_H_
#define COMPONENTS_AUDIO_ILBC_ILBC_INTERNAL_H_

#include <cstdint>

namespace ilbc {
namespace internal {

constexpr int kBlockLen = 160;
constexpr int kSubframes = 4;
constexpr int kSubLen = 40;
constexpr int kOrder = 10;
constexpr int kPolyLen = kOrder + 1;
constexpr int kStateLen = 80;        // two subframes hold the start state
constexpr int kStateShortLen = 57;   // of which these are scalar coded
constexpr int kStateExtraLen = kStateLen - kStateShortLen;  // 23
constexpr int kCbMemLen = 147;       // codebook memory for 40-sample targets
constexpr int kStateCbMemLen = 85;   // codebook memory for the 23 samples
constexpr int kStages = 3;
constexpr int kCbBlocks = 3;         // the 23 samples, then two subframes
constexpr int kCbFilterLen = 8;
constexpr int kCbMaxSize = 256;
constexpr float kChirpWeight = 0.4222f;
constexpr float kChirpAnalysis = 0.9025f;

// Everything one frame carries. Codebook indices are the ones the
// codebooks are addressed with (the packed form of block 1, stages 2 and 3,
// is converted in Pack/Unpack).
struct FrameParams {
  int lsf[3];
  int start;        // 1..3: the start state covers subframes start-1, start
  int state_first;  // 1: scalar part at the beginning of those 80 samples
  int scale;        // 6-bit log maximum of the start state
  int state[kStateShortLen];
  int cb[kCbBlocks][kStages];
  int gain[kCbBlocks][kStages];
};

// Packing into / out of the 38-byte frame. Unpack returns false when the
// frame cannot be decoded (empty-frame bit set, start 0, an index outside
// its codebook).
void Pack(const FrameParams& params, uint8_t* frame);
bool Unpack(const uint8_t* frame, FrameParams* params);

// Size of the adaptive codebook for a target of `length` samples taken from
// `mem_len` samples of memory.
int CodebookSize(int mem_len, int length);

// Fills `out` (length samples) with codebook vector `index` built from the
// memory `mem` and, for the second half of the codebook, from its filtered
// copy `filtered` (see FilterCodebookMemory).
void CodebookVector(const float* mem, const float* filtered, int mem_len,
                    int length, int index, float* out);
void FilterCodebookMemory(const float* mem, int mem_len, float* filtered);

// Gain of stage `stage` for `index`, given the previous stage's gain.
float DecodeGain(int stage, int index, float previous);

// Sum of the three gain-scaled codebook vectors.
void ConstructVector(const int* cb, const int* gain, const float* mem,
                     int mem_len, int length, float* out);

// Start state from its scalar indices (length kStateShortLen).
void ConstructState(int scale, const int* indices, const float* synth_poly,
                    float* out);

// LSFs.
void DequantizeLsf(const int* indices, float* lsf);
void StabilizeLsf(float* lsf);
void LsfToPoly(const float* lsf, float* poly);
// Interpolated polynomial: weight * a + (1 - weight) * b.
void InterpolatedPoly(const float* lsf_a, const float* lsf_b, float weight,
                      float* poly);
// Returns false when the polynomial's roots could not all be found.
bool PolyToLsf(const float* poly, float* lsf);
void ExpandBandwidth(const float* in, float chirp, float* out);

// In-place all-pole filter 1/A(z): data[-kOrder..-1] hold the past outputs.
void AllPole(float* data, int length, const float* poly);
// Zero-pole filter with zero state (numerator B, denominator A).
void ZeroPole(const float* in, int length, const float* b, const float* a,
              float* out);

// Normalised cross-correlation used for lag searches: corr^2 / energy of
// the lagged vector when the correlation is positive, else 0.
float LagMeasure(const float* target, const float* lagged, int length);
// The same for lags first_lag .. first_lag + count - 1 (count <= 128) of
// `target` against the samples before it: out[i] is lag first_lag + i.
void LagMeasures(const float* target, int first_lag, int count, int length,
                 float* out);

// out[s] = sum over k < length of term(k, s), for s < count, each output
// adding its terms in order of k. Blocks of outputs stay in registers over
// the whole sum instead of going through memory for every k; the last block
// overlaps the one before rather than leaving a tail, since its outputs come
// out the same either time.
constexpr int kSumBlock = 8;

template <typename Term>
void BlockedSums(int count, int length, float* out, Term term) {
  if (count < kSumBlock) {
    for (int s = 0; s < count; ++s) {
      float acc = 0.0f;
      for (int k = 0; k < length; ++k) acc += term(k, s);
      out[s] = acc;
    }
    return;
  }
  for (int s = 0;; s += kSumBlock) {
    if (s + kSumBlock > count) s = count - kSumBlock;
    float acc[kSumBlock] = {};
    for (int k = 0; k < length; ++k)
      for (int i = 0; i < kSumBlock; ++i) acc[i] += term(k, s + i);
    for (int i = 0; i < kSumBlock; ++i) out[s + i] = acc[i];
    if (s + kSumBlock == count) break;
  }
}

// out[s] = sum over k < length of x[k] * y[s + k], for s < count (and the
// energies y[s + k]^2), each in order of k as a plain dot product would.
void SlidingDots(const float* x, const float* y, int count, int length,
                 float* out);
void SlidingEnergies(const float* y, int count, int length, float* out);

// Deterministic math from + - * / and sqrt only, so every build agrees.
double Cos(double x);
double Acos(double x);
double Exp10(double x);
double Log10(double x);

}  // namespace internal
}  // namespace ilbc

#endif  // COMPONENTS_AUDIO_ILBC_ILBC_INTERNAL_H_
