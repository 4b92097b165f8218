#include "WebcamWin/platform/desktop.h"
#include "WebcamWin/platform/instance.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "base/file_util.h"

namespace {

base::string16 uniqueName() {
  static std::atomic<int> counter{0};
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  return base::asciiToWide(base::stringPrintf("com.quillonlabs.test.%llx.%d",
                                              static_cast<unsigned long long>(now), ++counter));
}

TEST(InstanceLockTest, OneHolderAtATime) {
  const base::string16 name = uniqueName();
  {
    shell::InstanceLock first;
    ASSERT_TRUE(first.acquire(name));
    EXPECT_TRUE(first.acquire(name));  // holding it already
    shell::InstanceLock second;
    EXPECT_FALSE(second.acquire(name));
  }
  shell::InstanceLock third;
  EXPECT_TRUE(third.acquire(name));
}

TEST(ShellFoldersTest, LogFolderAndDocuments) {
  const base::string16 logs = shell::logFolder();
  EXPECT_EQ(u"logs", base::baseName(logs));
  EXPECT_EQ(u"Lumora ZuvIridar for iPhone", base::baseName(base::dirName(logs)));
  EXPECT_EQ(u"Quillon Labs", base::baseName(base::dirName(base::dirName(logs))));
  EXPECT_FALSE(shell::specialFolder(shell::Folder::kDocuments).empty());
}

}  // namespace
