// Constant tables of the iLBC 20 ms mode: quantiser levels, codebooks,
// filter coefficients and windows. The numbers are those the bitstream is
// defined with; both ends must use the same values.
#ifndef COMPONENTS_AUDIO_ILBC_ILBC_TABLES_H_
#define COMPONENTS_AUDIO_ILBC_ILBC_TABLES_H_

namespace ilbc {

// LSF split vector quantiser: three splits of 3, 3 and 4 coefficients with
// 64, 128 and 128 entries, stored one split after the other (radians).
extern const float kLsfCodebook[64 * 3 + 128 * 3 + 128 * 4];
extern const int kLsfSplitDim[3];
extern const int kLsfSplitSize[3];
extern const float kLsfMean[10];
// Weight of the previous frame's LSFs for subframes 0..3.
extern const float kLsfInterpolation[4];

// Start state: 3-bit sample levels and 6-bit log10 maximum levels.
extern const float kStateLevels[8];
extern const float kStateMaxLog10[64];

// Gain levels of the three codebook stages (5, 4 and 3 bits).
extern const float kGainStage1[32];
extern const float kGainStage2[16];
extern const float kGainStage3[8];

// Filter that makes the second half of each adaptive codebook.
extern const float kCodebookFilter[8];

// Second-order high-pass filters: {b0, b1, b2}, {1, a1, a2}.
extern const float kHighPassInB[3];
extern const float kHighPassInA[3];
extern const float kHighPassOutB[3];
extern const float kHighPassOutA[3];

// Enhancer: low-pass filter before decimation by two, quarter-sample
// interpolation filters (4 phases of 7 taps) and block centres.
extern const float kDownsampleFilter[7];
extern const float kQuarterSampleFilters[4 * 7];
extern const float kEnhancerBlockCentres[8];

// LPC analysis: asymmetric window over 240 samples and the lag window.
extern const float kLpcWindow[240];
extern const float kLpcLagWindow[11];

}  // namespace ilbc

#endif  // COMPONENTS_AUDIO_ILBC_ILBC_TABLES_H_
