// Speech-like test signals made at test time, the same on every build:
// voiced syllables (a pulse train through formant resonators with pitch
// glides), unvoiced noise bursts and pauses, at 8 kHz.
#ifndef COMPONENTS_AUDIO_ILBC_ILBC_TEST_SIGNALS_H_
#define COMPONENTS_AUDIO_ILBC_ILBC_TEST_SIGNALS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ilbc {
namespace testing {

std::vector<int16_t> SpeechLikeSignal(int frames, uint32_t seed);

// The input as the codec's own high-pass filters at both ends leave it, the
// reference for waveform comparisons.
std::vector<double> CodecFilteredReference(const std::vector<int16_t>& in);

// Mean over frames with some energy of the per-frame SNR in dB (each frame
// limited to -10 ... 35 dB), comparing decoded[i + delay] with reference[i].
double SegmentalSnrDb(const std::vector<double>& reference,
                      const std::vector<double>& decoded, int delay,
                      int skip_frames);

double SnrDb(const std::vector<double>& reference,
             const std::vector<double>& other, size_t from);

}  // namespace testing
}  // namespace ilbc

#endif  // COMPONENTS_AUDIO_ILBC_ILBC_TEST_SIGNALS_H_
