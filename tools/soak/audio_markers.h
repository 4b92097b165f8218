// Audio latency by markers: short loud bursts laid over quiet sound at known
// times, found again downstream. A marker's onset is the first loud sample
// after a quiet stretch; each onset found is matched to the newest marker
// made before it.
#ifndef TOOLS_SOAK_AUDIO_MARKERS_H_
#define TOOLS_SOAK_AUDIO_MARKERS_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace soak {

constexpr int kMarkerThreshold = 16000;
constexpr int kMarkerAmplitude = 30000;

// Finds marker onsets in a stream of samples fed in pieces (one thread).
class OnsetFinder {
 public:
  // Onsets closer than `quietSamples` to the previous loud sample are not
  // new markers.
  explicit OnsetFinder(int64_t quietSamples) : quietSamples_(quietSamples) {}

  // Calls `found(streamIndex, indexInPiece)` for each onset in `samples`.
  template <typename Found>
  void feed(const int16_t* samples, size_t count, Found found) {
    for (size_t i = 0; i < count; ++i, ++index_) {
      if (std::abs(samples[i]) >= kMarkerThreshold) {
        if (index_ - lastLoud_ > quietSamples_) found(index_, i);
        lastLoud_ = index_;
      }
    }
  }

 private:
  int64_t quietSamples_;
  int64_t index_ = 0;
  int64_t lastLoud_ = -1000000000;
};

// When the device reaches sample `i` of `count` samples (48 kHz) that came
// from the link at `atUs`: the link writes a 10 ms block a tick, the newest
// just before `atUs`, and the device plays each at its own pace. A sample is
// dated by its block, counted back from the newest, and its place in it.
int64_t deviceTimeOf(int64_t atUs, size_t count, size_t i);

// Latencies (milliseconds) of the onsets `found` against the markers `made`
// (both in microseconds, `made` ascending); onsets before any marker are
// left out.
std::vector<double> matchMarkers(const std::vector<int64_t>& made, const std::vector<int64_t>& found);

// The `p` quantile (0 ... 1) of `values`, nearest rank; -1 when empty.
double percentile(std::vector<double> values, double p);

}  // namespace soak

#endif  // TOOLS_SOAK_AUDIO_MARKERS_H_
