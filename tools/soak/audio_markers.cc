#include "tools/soak/audio_markers.h"

#include <algorithm>

#include "components/audio/wave_device.h"

namespace soak {

int64_t deviceTimeOf(int64_t atUs, size_t count, size_t i) {
  constexpr size_t kBlockSamples = component::WaveDevice::kBlockBytes / 2;
  constexpr int64_t kBlockUs = 10000;
  const int64_t blocksAfter = static_cast<int64_t>((count - 1 - i) / kBlockSamples);
  return atUs - blocksAfter * kBlockUs + static_cast<int64_t>(i % kBlockSamples) * kBlockUs / kBlockSamples;
}

std::vector<double> matchMarkers(const std::vector<int64_t>& made, const std::vector<int64_t>& found) {
  std::vector<double> out;
  for (int64_t at : found) {
    auto it = std::upper_bound(made.begin(), made.end(), at);
    if (it == made.begin()) continue;
    out.push_back(static_cast<double>(at - *(it - 1)) / 1000.0);
  }
  return out;
}

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return -1;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5))];
}

}  // namespace soak
