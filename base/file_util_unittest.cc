#include "base/file_util.h"

#include <gtest/gtest.h>

#include "base/test_util.h"

namespace base {
namespace {

TEST(FileUtil, PathsAndFiles) {
  EXPECT_EQ(baseName(u"C:\\a\\b.cc"), u"b.cc");
  EXPECT_EQ(baseName(std::string("..\\base\\pickle.cc")), "pickle.cc");
  EXPECT_EQ(baseName(std::string("/x/y/z.cc")), "z.cc");
  EXPECT_EQ(dirName(u"/x/y/z.cc"), u"/x/y");

  const string16 dir = makeTempDirectory(u"fileutil");
  ASSERT_FALSE(dir.empty());
  const string16 nested = joinPath(joinPath(dir, u"a"), u"b\u00E9");
  ASSERT_TRUE(createDirectories(nested));
  EXPECT_TRUE(isDirectory(nested));
  EXPECT_FALSE(deleteFile(nested));  // not for directories
  const string16 file = joinPath(nested, u"f.txt");
  ASSERT_TRUE(writeFileAtomic(file, std::string("one\0two", 7)));
  ASSERT_TRUE(writeFileAtomic(file, "replaced"));
  std::string text;
  ASSERT_TRUE(readFile(file, &text));
  EXPECT_EQ(text, "replaced");
  EXPECT_EQ(listDirectory(nested), std::vector<string16>{u"f.txt"});  // no temporaries left
  EXPECT_TRUE(removeTree(dir));
  EXPECT_FALSE(pathExists(dir));
}

}  // namespace
}  // namespace base
