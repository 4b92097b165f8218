#include "tools/soak/trend.h"

#include <cmath>
#include <cstdio>

namespace soak {

TrendVerdict judgeTrend(const std::vector<double>& series, const TrendRule& rule) {
  TrendVerdict verdict;
  std::vector<double> x, y;
  for (size_t i = rule.warmUpRows; i < series.size(); ++i) {
    if (!std::isfinite(series[i]) || series[i] < 0) continue;
    x.push_back(static_cast<double>(i));
    y.push_back(series[i]);
  }
  if (y.size() > rule.window) {
    x.erase(x.begin(), x.end() - static_cast<std::ptrdiff_t>(rule.window));
    y.erase(y.begin(), y.end() - static_cast<std::ptrdiff_t>(rule.window));
  }
  const size_t n = y.size();
  verdict.rows = n;
  if (n < rule.minRows || n < 3) return verdict;
  verdict.judged = true;

  double mx = 0, my = 0;
  for (size_t i = 0; i < n; ++i) mx += x[i], my += y[i];
  mx /= static_cast<double>(n);
  my /= static_cast<double>(n);
  double sxx = 0, sxy = 0;
  for (size_t i = 0; i < n; ++i) {
    sxx += (x[i] - mx) * (x[i] - mx);
    sxy += (x[i] - mx) * (y[i] - my);
  }
  const double slope = sxy / sxx;
  double residuals = 0;
  for (size_t i = 0; i < n; ++i) {
    const double r = y[i] - (my + slope * (x[i] - mx));
    residuals += r * r;
  }
  verdict.slopePerRow = slope;
  verdict.standardError = std::sqrt(residuals / static_cast<double>(n - 2) / sxx);

  const size_t third = n / 3;
  auto mean = [&](size_t from, size_t count) {
    double sum = 0;
    for (size_t i = from; i < from + count; ++i) sum += y[i];
    return sum / static_cast<double>(count);
  };
  const double first = mean(0, third), middle = mean(third, n - 2 * third), last = mean(n - third, third);
  // What the allowed slope adds from one third's centre to the next.
  const double step = rule.maxSlopePerRow * static_cast<double>(n) / 3 / 2;
  verdict.grows = slope > rule.maxSlopePerRow && slope >= 3 * verdict.standardError && middle - first >= step &&
                  last - middle >= step;
  return verdict;
}

std::string TrendVerdict::describe(const std::string& name, double rowMinutes) const {
  char line[200];
  if (!judged) {
    std::snprintf(line, sizeof line, "%s: %zu rows after the warm-up, too few to judge", name.c_str(), rows);
  } else {
    std::snprintf(line, sizeof line, "%s: slope %.3g/min (se %.3g) over %zu rows: %s", name.c_str(), slopePerRow / rowMinutes,
                  standardError / rowMinutes, rows, grows ? "GROWS" : "flat");
  }
  return line;
}

}  // namespace soak
