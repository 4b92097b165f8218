#include "base/peer_text.h"

#include <gtest/gtest.h>

namespace base {
namespace {

TEST(PeerTextTest, ControlsAndDirectionalCharactersBecomeVisibleText) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"iPhone14,2", "iPhone14,2"},
      {"X\nCompressedLog:/home/u/.ssh/id_rsa", "X\\x0aCompressedLog:/home/u/.ssh/id_rsa"},
      {"a\rb\tc", "a\\x0db\\x09c"},
      {"\x1b[2J\x1b]0;title\x07", "\\x1b[2J\\x1b]0;title\\x07"},
      {std::string("a\0b", 3), "a\\x00b"},
      {"del\x7f", "del\\x7f"},
      {"c1\xc2\x9b" "31m", "c1\\x9b31m"},              // CSI as a C1 control
      {"abc\xe2\x80\xae" "fdp.exe", "abc\\u202efdp.exe"},  // right-to-left override
      {"\xe2\x81\xa6x\xe2\x81\xa9", "\\u2066x\\u2069"},     // isolates
      {"Caf\xc3\xa9 \xe2\x80\x8f", "Caf\xc3\xa9 \xe2\x80\x8f"},  // letters and a plain mark stay
      {"bad\xff", "bad\xef\xbf\xbd"},                   // invalid UTF-8: U+FFFD
  };
  for (const auto& c : cases) {
    bool changed = true;
    EXPECT_EQ(escapePeerText(c.in, &changed), c.out) << c.in;
    EXPECT_EQ(changed, c.in != c.out) << c.in;
  }
}

TEST(PeerTextTest, CleanTextIsStableAndCarriesNoUnsafeUnit) {
  const std::string hostile = "\x1b]8;;file:///etc/passwd\x07\xe2\x80\xae\xc2\x85\r\n";
  const std::string once = cleanPeerText(hostile, "test");
  EXPECT_EQ(escapePeerText(once), once);
  for (unsigned char c : once) EXPECT_TRUE(c >= 0x20 && c != 0x7f) << int(c);
}

}  // namespace
}  // namespace base
