// Linux: /dev/shm is shared by all users, so the camera section must never
// be one that somebody else made, and a clean exit leaves none behind.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "components/video/shared_section.h"
#include "components/video/video_driver.h"

namespace component {
namespace {

std::string uniqueName(const char* what) {
  return std::string("LumoraZuvIridarTest-") + what + "-" + std::to_string(::getpid());
}

bool exists(const std::string& name) {
  const int fd = shm_open(("/" + name).c_str(), O_RDONLY, 0);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

TEST(SharedSectionPosixTest, SectionOfAnotherUserIsNeverUsed) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can make a section owned by another user";
  const std::string name = uniqueName("foreign");
  SharedSection::unlink(name);
  const int fd = shm_open(("/" + name).c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(0, ::fchown(fd, 65534, 65534));
  ::close(fd);
  {
    SharedSection section(name, kCameraSectionBytes, kCameraViewBytes, false);
    EXPECT_EQ(nullptr, section.data());
    VideoDriver driver(name);
    EXPECT_FALSE(driver.available());
  }
  // Not ours: it stays where its owner put it.
  EXPECT_TRUE(exists(name));
  SharedSection::unlink(name);
}

TEST(SharedSectionPosixTest, TheDriverRemovesItsSectionWhenItGoes) {
  const std::string name = uniqueName("own");
  SharedSection::unlink(name);
  {
    VideoDriver driver(name);
    ASSERT_TRUE(driver.available());
    EXPECT_TRUE(exists(name));
  }
  EXPECT_FALSE(exists(name));
}

}  // namespace
}  // namespace component
