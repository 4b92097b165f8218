// The names of the files the server writes for the user, shared by the
// snapshots and the recordings:
// <prefix>_YYYY-MM-DD_hh-mm-ss_<suffix>.<extension>.
#ifndef COMPONENTS_MEDIA_FILE_NAME_H_
#define COMPONENTS_MEDIA_FILE_NAME_H_

#include <cstdint>

#include "base/string_util.h"

namespace component {

struct LocalTime {
  int32_t year = 0;
  int32_t month = 0;  // 1-12
  int32_t day = 0;
  int32_t hour = 0;  // 0-23
  int32_t minute = 0;
  int32_t second = 0;
};

LocalTime currentLocalTime();

// "Image" + "" + "jpg" at 2011-05-04 13:07:09 gives
// "Image_2011-05-04_13-07-09.jpg"; empty parts leave out their separator.
base::string16 mediaFileName(const base::string16& prefix, const base::string16& suffix,
                             const base::string16& extension, const LocalTime& time);

}  // namespace component

#endif  // COMPONENTS_MEDIA_FILE_NAME_H_
