#include "tools/soak/audio_markers.h"

#include <algorithm>

namespace soak {

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
