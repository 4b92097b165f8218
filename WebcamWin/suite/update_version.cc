// The version at the start of the update answer, and how versions compare.
// Apart from the rest of the check so that the fuzzer can reach it without
// the settings, the window or the network.
#include "WebcamWin/suite/check_for_update.h"

namespace {

constexpr int kMaxDigits = 9;
constexpr int kMaxMajor = 4000;
constexpr int kMaxMinorOrBuild = 1000;

}  // namespace

bool CCheckForUpdate::parseVersion(const std::string& text, Version* version) {
  size_t pos = 0;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\r' ||
                               text[pos] == '\n'))
    ++pos;
  int numbers[4] = {0, 0, 0, 0};
  int count = 0;
  while (count < 4) {
    if (count > 0) {
      // A dot must be followed by a number to count.
      if (pos + 1 >= text.size() || text[pos] != '.' || text[pos + 1] < '0' || text[pos + 1] > '9')
        break;
      ++pos;
    }
    int digits = 0;
    long value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      if (++digits > kMaxDigits) return false;
      value = value * 10 + (text[pos] - '0');
      ++pos;
    }
    if (digits == 0) break;
    numbers[count++] = static_cast<int>(value);
  }
  if (count < 2) return false;
  if (numbers[0] >= kMaxMajor || numbers[1] >= kMaxMinorOrBuild || numbers[2] >= kMaxMinorOrBuild)
    return false;
  *version = {numbers[0], numbers[1], numbers[2], numbers[3]};
  return true;
}

bool CCheckForUpdate::isNewer(const Version& candidate, const Version& current) {
  if (candidate.major != current.major) return candidate.major > current.major;
  if (candidate.minor != current.minor) return candidate.minor > current.minor;
  return candidate.build > current.build;
}

uint32_t CCheckForUpdate::encode(const Version& version) {
  return static_cast<uint32_t>(version.major) * 1000000u + static_cast<uint32_t>(version.minor) * 1000u +
         static_cast<uint32_t>(version.build);
}
