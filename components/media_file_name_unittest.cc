#include "components/media_file_name.h"

#include <gtest/gtest.h>

namespace component {
namespace {

TEST(MediaFileName, StampAndSeparators) {
  LocalTime t;
  t.year = 2011;
  t.month = 5;
  t.day = 4;
  t.hour = 13;
  t.minute = 7;
  t.second = 9;
  EXPECT_EQ(u"Image_2011-05-04_13-07-09.jpg", mediaFileName(u"Image", u"", u"jpg", t));
  EXPECT_EQ(u"2011-05-04_13-07-09", mediaFileName(u"", u"", u"", t));
  EXPECT_EQ(u"Video_2011-05-04_13-07-09_part.avi", mediaFileName(u"Video", u"part", u"avi", t));
}

}  // namespace
}  // namespace component
