#include "components/audio/ilbc/ilbc_test_signals.h"

#include <algorithm>
#include <cmath>

#include "components/audio/ilbc/ilbc_internal.h"
#include "components/audio/ilbc/ilbc_tables.h"

namespace ilbc {
namespace testing {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRate = 8000.0;

class Random {
 public:
  explicit Random(uint32_t seed) : state_(seed * 2654435761u + 1u) {}
  uint32_t Next() {
    state_ = state_ * 1664525u + 1013904223u;
    return state_;
  }
  double Uniform() { return double(Next() >> 8) / double(1u << 24); }

 private:
  uint32_t state_;
};

// Two-pole resonator at `hz` with bandwidth `bw`, built only from the
// codec's deterministic math so every build makes the same signal.
struct Resonator {
  double a1 = 0, a2 = 0, gain = 0, y1 = 0, y2 = 0;
  void Set(double hz, double bw) {
    const double r = internal::Exp10(-kPi * bw / kRate / 2.302585092994046);
    a1 = 2.0 * r * internal::Cos(2.0 * kPi * hz / kRate);
    a2 = -r * r;
    gain = 1.0 - r;
  }
  double Run(double x) {
    const double y = gain * x + a1 * y1 + a2 * y2;
    y2 = y1;
    y1 = y;
    return y;
  }
};

const double kVowels[5][3] = {{730, 1090, 2440}, {270, 2290, 3010},
                              {300, 870, 2240},  {530, 1840, 2480},
                              {570, 840, 2410}};

}  // namespace

std::vector<int16_t> SpeechLikeSignal(int frames, uint32_t seed) {
  Random rnd(seed);
  const int total = frames * 160;
  std::vector<double> out(total, 0.0);
  Resonator f[3];
  Resonator hiss;
  hiss.Set(3000, 800);
  double phase = 0.0, glottal = 0.0;
  const int syllable = 1600;  // 200 ms
  for (int start = 0; start < total; start += syllable) {
    const int kind = int(rnd.Next() % 6);  // 0: pause, 1: noise, else vowel
    const double* formants = kVowels[rnd.Next() % 5];
    for (int k = 0; k < 3; ++k) f[k].Set(formants[k], 60.0 + 40.0 * k);
    const double f0_from = 90.0 + 120.0 * rnd.Uniform();
    const double f0_to = 90.0 + 120.0 * rnd.Uniform();
    const double level = 0.5 + 0.5 * rnd.Uniform();
    for (int i = 0; i < syllable && start + i < total; ++i) {
      const double t = double(i) / syllable;
      double env = std::min(1.0, std::min(i / 160.0, (syllable - i) / 240.0));
      env = env < 0.0 ? 0.0 : env;
      const double noise = 2.0 * rnd.Uniform() - 1.0;
      double v = 0.0;
      if (kind >= 2) {
        phase += (f0_from + (f0_to - f0_from) * t) / kRate;
        double pulse = 0.0;
        if (phase >= 1.0) {
          phase -= 1.0;
          pulse = 1.0;
        }
        glottal = 0.9 * glottal + pulse;  // soften the pulses
        const double src = glottal + 0.02 * noise;
        v = 0.0;
        for (int k = 0; k < 3; ++k) v += f[k].Run(src) * (1.0 - 0.3 * k);
        v *= 30000.0 * level * env;
      } else if (kind == 1) {
        v = 8000.0 * level * env * hiss.Run(noise);
      } else {
        v = 20.0 * noise;  // room noise
      }
      out[start + i] = v;
    }
  }
  std::vector<int16_t> pcm(total);
  for (int i = 0; i < total; ++i) {
    const double v = std::max(-32768.0, std::min(32767.0, out[i]));
    pcm[i] = static_cast<int16_t>(std::floor(v + 0.5));
  }
  return pcm;
}

std::vector<double> CodecFilteredReference(const std::vector<int16_t>& in) {
  std::vector<double> y(in.begin(), in.end());
  const float* b[2] = {kHighPassInB, kHighPassOutB};
  const float* a[2] = {kHighPassInA, kHighPassOutA};
  for (int s = 0; s < 2; ++s) {
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (double& v : y) {
      const double o =
          b[s][0] * v + b[s][1] * x1 + b[s][2] * x2 - a[s][1] * y1 - a[s][2] * y2;
      x2 = x1;
      x1 = v;
      y2 = y1;
      y1 = o;
      v = o;
    }
  }
  return y;
}

double SegmentalSnrDb(const std::vector<double>& reference,
                      const std::vector<double>& decoded, int delay,
                      int skip_frames) {
  double sum = 0.0;
  int count = 0;
  for (size_t start = size_t(skip_frames) * 160;
       start + 160 + delay <= decoded.size() && start + 160 <= reference.size();
       start += 160) {
    double s = 0.0, d = 0.0;
    for (size_t i = start; i < start + 160; ++i) {
      s += reference[i] * reference[i];
      const double e = reference[i] - decoded[i + delay];
      d += e * e;
    }
    if (s < 160.0 * 200.0 * 200.0) continue;  // quiet frame
    double snr = 10.0 * std::log10(s / std::max(d, 1e-9));
    sum += std::max(-10.0, std::min(35.0, snr));
    ++count;
  }
  return count ? sum / count : -100.0;
}

double SnrDb(const std::vector<double>& reference,
             const std::vector<double>& other, size_t from) {
  double s = 0.0, d = 0.0;
  for (size_t i = from; i < reference.size() && i < other.size(); ++i) {
    s += reference[i] * reference[i];
    d += (reference[i] - other[i]) * (reference[i] - other[i]);
  }
  return 10.0 * std::log10(s / std::max(d, 1e-9));
}

}  // namespace testing
}  // namespace ilbc
