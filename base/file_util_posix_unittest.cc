// Linux: the modes files and folders are made with.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "base/file_util.h"
#include "base/test_util.h"

namespace base {
namespace {

mode_t modeOf(const string16& path) {
  struct stat info;
  return ::stat(wideToUtf8(path).c_str(), &info) == 0 ? info.st_mode & 0777 : 01000;
}

TEST(FileUtilPosixTest, WrittenFilesFollowTheUmaskAndFoldersCanBeMadePrivate) {
  const string16 dir = makeTempDirectory(u"modes");
  ASSERT_FALSE(dir.empty());
  const mode_t old = ::umask(027);
  const string16 file = joinPath(dir, u"snapshot.jpg");
  const bool written = writeFileAtomic(file, "jpeg");
  ::umask(077);
  const string16 secret = joinPath(dir, u"secret.jpg");
  const bool writtenSecret = writeFileAtomic(secret, "jpeg");
  ::umask(old);
  ASSERT_TRUE(written && writtenSecret);
  EXPECT_EQ(0640u, modeOf(file));
  EXPECT_EQ(0600u, modeOf(secret));

  const string16 folder = joinPath(dir, u"logs");
  ASSERT_TRUE(createDirectories(folder));
  ASSERT_TRUE(restrictToOwner(folder));
  EXPECT_EQ(0700u, modeOf(folder));
  removeTree(dir);
}

}  // namespace
}  // namespace base
