// Whether a series of once-a-minute readings (memory, descriptors, a
// latency) grows steadily. The warm-up rows are left out; over the last
// `window` rows after them a least-squares line is fitted, and the series
// grows when
//  - the slope is above the allowed rise per row,
//  - the slope stands clear of the scatter (at least three standard errors),
//  - and the means of the window's first, middle and last thirds each rise
//    by at least half of what the allowed slope would add over a third.
// A flat series with noise fails the second test, a single step (a cache
// filled once, a buffer grown once) the third; a leak passes all three.
// Rows that are missing (negative or not a number) are left out.
#ifndef TOOLS_SOAK_TREND_H_
#define TOOLS_SOAK_TREND_H_

#include <cstddef>
#include <string>
#include <vector>

namespace soak {

struct TrendRule {
  std::string name;         // "rss_kb"
  double maxSlopePerRow;    // allowed rise per row, in the series' unit
  size_t warmUpRows = 2;
  size_t window = 20;
  size_t minRows = 6;       // fewer rows after the warm-up: not judged
};

struct TrendVerdict {
  bool judged = false;
  bool grows = false;
  double slopePerRow = 0;
  double standardError = 0;
  size_t rows = 0;
  // One line for the report, the slope per minute for rows `rowMinutes`
  // apart: "rss_kb: slope 12.3/min (se 4.0) over 20 rows: flat".
  std::string describe(const std::string& name, double rowMinutes = 1) const;
};

TrendVerdict judgeTrend(const std::vector<double>& series, const TrendRule& rule);

}  // namespace soak

#endif  // TOOLS_SOAK_TREND_H_
