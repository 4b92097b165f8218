#include "base/reg_key.h"

#include <gtest/gtest.h>

namespace base {
namespace {

const char16_t kApp[] = u"Software\\Quillon Labs\\Test App";

class RegKeyTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(beginRegistryOverrideForTesting()); }
  void TearDown() override { endRegistryOverrideForTesting(); }
};

TEST_F(RegKeyTest, OpenFailsUntilCreatedAndNamesIgnoreCase) {
  RegKey key;
  EXPECT_EQ(kRegNotFound, key.open(RegRoot::kCurrentUser, kApp));
  EXPECT_FALSE(key.valid());

  ASSERT_EQ(kRegOk, key.create(RegRoot::kCurrentUser, kApp));
  EXPECT_TRUE(key.valid());
  ASSERT_EQ(kRegOk, key.writeValueDW(u"Port", 8080));

  RegKey again;
  ASSERT_EQ(kRegOk, again.open(RegRoot::kCurrentUser, u"SOFTWARE\\quillon labs\\TEST APP"));
  uint32_t port = 0;
  EXPECT_EQ(kRegOk, again.readValueDW(u"PORT", &port));
  EXPECT_EQ(8080u, port);

  // Overwriting under another spelling keeps one value.
  ASSERT_EQ(kRegOk, again.writeValueDW(u"port", 9090));
  EXPECT_EQ(1u, key.valueNames().size());
  EXPECT_EQ(kRegOk, key.readValueDW(u"Port", &port));
  EXPECT_EQ(9090u, port);

  // The other hive is separate.
  RegKey machine;
  EXPECT_EQ(kRegNotFound, machine.open(RegRoot::kLocalMachine, kApp));
}

TEST_F(RegKeyTest, TypedValuesKeepTheirTypes) {
  RegKey key;
  ASSERT_EQ(kRegOk, key.create(RegRoot::kCurrentUser, kApp));
  ASSERT_EQ(kRegOk, key.writeValue(u"Text", u"C:\\Users\\\"me\" \u00e9\u4e2d"));
  ASSERT_EQ(kRegOk, key.writeValue(u"Empty", u""));
  ASSERT_EQ(kRegOk, key.writeValueDW(u"Dword", 0xDEADBEEF));
  ASSERT_EQ(kRegOk, key.writeValueQW(u"Qword", 0x0123456789ABCDEFull));
  ASSERT_EQ(kRegOk, key.writeValue(u"", u"default"));

  string16 text;
  uint32_t dw = 0;
  uint64_t qw = 0;
  EXPECT_EQ(kRegOk, key.readValue(u"Text", &text));
  EXPECT_EQ(u"C:\\Users\\\"me\" \u00e9\u4e2d", text);
  EXPECT_EQ(kRegOk, key.readValue(u"Empty", &text));
  EXPECT_EQ(u"", text);
  EXPECT_EQ(kRegOk, key.readValue(u"", &text));
  EXPECT_EQ(u"default", text);
  EXPECT_EQ(kRegOk, key.readValueDW(u"Dword", &dw));
  EXPECT_EQ(0xDEADBEEFu, dw);
  EXPECT_EQ(kRegOk, key.readValueQW(u"Qword", &qw));
  EXPECT_EQ(0x0123456789ABCDEFull, qw);

  uint32_t type = 0;
  std::string data;
  EXPECT_EQ(kRegOk, key.readRawValue(u"Qword", &type, &data));
  EXPECT_EQ(kRegQword, type);
  EXPECT_EQ(8u, data.size());

  // A value of another type is not read as this one and leaves the output alone.
  dw = 7;
  text = u"unchanged";
  EXPECT_EQ(kRegInvalidData, key.readValueDW(u"Text", &dw));
  EXPECT_EQ(7u, dw);
  EXPECT_EQ(kRegInvalidData, key.readValueDW(u"Qword", &dw));
  EXPECT_EQ(kRegInvalidData, key.readValueQW(u"Dword", &qw));
  EXPECT_EQ(kRegInvalidData, key.readValue(u"Dword", &text));
  EXPECT_EQ(u"unchanged", text);
  EXPECT_EQ(kRegNotFound, key.readValueDW(u"Missing", &dw));
}

TEST_F(RegKeyTest, StringShapeRules) {
  RegKey key;
  ASSERT_EQ(kRegOk, key.create(RegRoot::kCurrentUser, kApp));
  string16 text = u"unchanged";
  // Odd length, no terminating NUL: not a string.
  ASSERT_EQ(kRegOk, key.writeRawValue(u"Odd", kRegSz, std::string("a\0b", 3)));
  ASSERT_EQ(kRegOk, key.writeRawValue(u"NoNul", kRegSz, std::string("a\0b\0", 4)));
  EXPECT_EQ(kRegInvalidData, key.readValue(u"Odd", &text));
  EXPECT_EQ(kRegInvalidData, key.readValue(u"NoNul", &text));
  EXPECT_EQ(u"unchanged", text);
  // An expandable string is taken as it is.
  ASSERT_EQ(kRegOk, key.writeRawValue(u"Expand", kRegExpandSz,
                                      std::string("%\0H\0O\0M\0E\0%\0\0\0", 14)));
  EXPECT_EQ(kRegOk, key.readValue(u"Expand", &text));
  EXPECT_EQ(u"%HOME%", text);
  // A NUL inside ends the text, as in C.
  ASSERT_EQ(kRegOk, key.writeRawValue(u"Inner", kRegSz, std::string("a\0\0\0b\0\0\0", 8)));
  EXPECT_EQ(kRegOk, key.readValue(u"Inner", &text));
  EXPECT_EQ(u"a", text);
}

TEST_F(RegKeyTest, SubkeysListDeleteAndCaseSharing) {
  RegKey app, acl;
  ASSERT_EQ(kRegOk, app.create(RegRoot::kCurrentUser, kApp));
  ASSERT_EQ(kRegOk, app.createSubkey(u"ACL", &acl));

  RegKey one, two;
  ASSERT_EQ(kRegOk, acl.createSubkey(u"Phone-ABC", &one));
  ASSERT_EQ(kRegOk, one.writeValue(u"Name", u"first"));
  // Only the letter case differs: the same key.
  ASSERT_EQ(kRegOk, acl.createSubkey(u"phone-abc", &two));
  ASSERT_EQ(kRegOk, two.writeValue(u"Name", u"second"));
  ASSERT_EQ(1u, acl.subkeyNames().size());
  EXPECT_EQ(u"Phone-ABC", acl.subkeyNames()[0]);
  string16 name;
  EXPECT_EQ(kRegOk, one.readValue(u"Name", &name));
  EXPECT_EQ(u"second", name);

  RegKey nested;
  ASSERT_EQ(kRegOk, acl.createSubkey(u"Other\\Deeper", &nested));
  EXPECT_EQ(2u, acl.subkeyNames().size());
  RegKey opened;
  EXPECT_EQ(kRegOk, app.openSubkey(u"acl\\OTHER\\deeper", &opened));
  EXPECT_EQ(kRegNotFound, app.openSubkey(u"ACL\\Nobody", &opened));

  // Deleting the tree removes everything below it; handles into it go stale.
  EXPECT_EQ(kRegOk, app.deleteSubtree(u"ACL"));
  EXPECT_TRUE(app.subkeyNames().empty());
  EXPECT_NE(kRegOk, one.writeValue(u"Name", u"gone"));
  EXPECT_EQ(kRegNotFound, app.deleteSubtree(u"ACL"));
  EXPECT_EQ(kRegNotFound, acl.open(RegRoot::kCurrentUser, u"Software\\Quillon Labs\\Test App\\ACL"));

  // Created again, it is empty.
  ASSERT_EQ(kRegOk, app.createSubkey(u"ACL", &acl));
  EXPECT_TRUE(acl.subkeyNames().empty());
}

TEST_F(RegKeyTest, DeleteValue) {
  RegKey key;
  ASSERT_EQ(kRegOk, key.create(RegRoot::kCurrentUser, kApp));
  ASSERT_EQ(kRegOk, key.writeValue(u"A", u"1"));
  EXPECT_TRUE(key.hasValue(u"a"));
  EXPECT_EQ(kRegOk, key.deleteValue(u"a"));
  EXPECT_FALSE(key.hasValue(u"A"));
  EXPECT_EQ(kRegNotFound, key.deleteValue(u"A"));
  EXPECT_EQ(kRegOk, key.flush());
}

}  // namespace
}  // namespace base
