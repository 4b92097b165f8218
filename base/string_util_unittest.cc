#include "base/string_util.h"

#include <gtest/gtest.h>

namespace base {
namespace {

TEST(StringUtil, Utf8AndUtf16) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a é € 😀
  const string16 wide = utf8ToWide(text);
  EXPECT_EQ(wide, u"a\u00E9\u20AC\U0001F600");
  EXPECT_EQ(wideToUtf8(wide), text);
  // Invalid input: one U+FFFD per maximal invalid subpart.
  EXPECT_EQ(utf8ToWide("\x80"), u"\uFFFD");
  EXPECT_EQ(utf8ToWide("a\xE2\x82" "b"), u"a\uFFFD" u"b");   // truncated
  EXPECT_EQ(utf8ToWide("\xC0\xAF"), u"\uFFFD\uFFFD");          // overlong
  EXPECT_EQ(utf8ToWide("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // surrogate
  EXPECT_EQ(utf8ToWide("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(utf8ToWide(std::string("\0z", 2)), string16(u"\0z", 2));
  // An unpaired surrogate in UTF-16 is replaced too.
  EXPECT_EQ(wideToUtf8(string16(1, static_cast<char16_t>(0xD800))), "\xEF\xBF\xBD");
}

TEST(StringUtil, PrintfAndCase) {
  EXPECT_EQ(stringPrintf("%s-%04d", "x", 7), "x-0007");
  EXPECT_EQ(stringPrintf("%s", std::string(2000, 'q').c_str()).size(), 2000u);
  EXPECT_TRUE(equalsIgnoreCase(u"Software\\QUILLON", u"software\\quillon"));
  EXPECT_TRUE(equalsIgnoreCase(u"\u00C9T\u00C9", u"\u00E9t\u00E9"));
  EXPECT_FALSE(equalsIgnoreCase(u"abc", u"abd"));
}

}  // namespace
}  // namespace base
