#include "components/media_file_name.h"

#include <ctime>

namespace component {

LocalTime currentLocalTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  LocalTime time;
  time.year = local.tm_year + 1900;
  time.month = local.tm_mon + 1;
  time.day = local.tm_mday;
  time.hour = local.tm_hour;
  time.minute = local.tm_min;
  time.second = local.tm_sec;
  return time;
}

base::string16 mediaFileName(const base::string16& prefix, const base::string16& suffix,
                             const base::string16& extension, const LocalTime& time) {
  const std::string stamp = base::stringPrintf("%04d-%02d-%02d_%02d-%02d-%02d", time.year, time.month, time.day,
                                               time.hour, time.minute, time.second);
  base::string16 name = prefix;
  if (!prefix.empty()) name += u"_";
  name += base::asciiToWide(stamp);
  if (!suffix.empty()) name += u"_" + suffix;
  if (!extension.empty()) name += u"." + extension;
  return name;
}

}  // namespace component
