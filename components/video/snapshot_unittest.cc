#include "components/video/snapshot.h"

#include <gtest/gtest.h>

#include <cstring>

#include "base/file_util.h"
#include "base/test_util.h"
#include "components/video/shutter_sound.h"
#include "components/video/video_test_util.h"

namespace component {
namespace {

class SnapshotTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = base::makeTempDirectory(u"snapshot"); }
  void TearDown() override { base::removeTree(folder_); }
  base::string16 folder_;
};

TEST_F(SnapshotTest, NothingIsWrittenBeforeTheFirstFrame) {
  LogCapture log(u"snapshot_before_frame.log");
  Snapshot snapshot;
  const base::string16 path = base::joinPath(folder_, u"Image.jpg");
  EXPECT_FALSE(snapshot.Save(path));
  EXPECT_FALSE(base::pathExists(path));
  EXPECT_NE(log.text().find("Check failed: video_frame.pixel_format == kPixelFormat_24RGB. "), std::string::npos)
      << log.text();
}

TEST_F(SnapshotTest, WritesTheLastFrameIntoAFolderThatDidNotExist) {
  Snapshot snapshot;
  snapshot.OnVideoFrame(nullptr, makeTestCard(161, 120));  // odd row length
  VideoFrame last = takeAsPhone(makeTestCard(240, 320), 0);
  snapshot.OnVideoFrame(nullptr, last);
  last.data.clear();  // the snapshot kept its own copy
  const base::string16 folder = base::joinPath(base::joinPath(folder_, u"Pictures"), u"Lumora");
  const base::string16 path = base::joinPath(folder, u"Image_2011-05-04_13-07-09.jpg");
  ASSERT_TRUE(snapshot.Save(path));
  EXPECT_EQ(path, snapshot.path());
  std::string bytes;
  ASSERT_TRUE(base::readFile(path, &bytes));
  std::vector<uint8_t> pixels;
  int32_t w = 0, h = 0;
  ASSERT_TRUE(decodeJpeg(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &pixels, &w, &h));
  EXPECT_EQ(240, w);
  EXPECT_EQ(320, h);
  EXPECT_TRUE(readCard(pixels.data(), w * 3, FitRect{0, 0, w, h}).upright());

  // The same name again overwrites the file.
  snapshot.OnVideoFrame(nullptr, makeTestCard(64, 48));
  ASSERT_TRUE(snapshot.Save(path));
  ASSERT_TRUE(base::readFile(path, &bytes));
  ASSERT_TRUE(decodeJpeg(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &pixels, &w, &h));
  EXPECT_EQ(64, w);
}

}  // namespace
}  // namespace component

namespace component {
namespace {

TEST(ShutterSound, BuiltInWaveIsAWholeRiffFile) {
  const std::vector<uint8_t> wave = makeShutterWave();
  ASSERT_GT(wave.size(), 44u);
  auto u32 = [&](size_t at) {
    return static_cast<uint32_t>(wave[at]) | (static_cast<uint32_t>(wave[at + 1]) << 8) |
           (static_cast<uint32_t>(wave[at + 2]) << 16) | (static_cast<uint32_t>(wave[at + 3]) << 24);
  };
  EXPECT_EQ(0, std::memcmp(wave.data(), "RIFF", 4));
  EXPECT_EQ(wave.size() - 8, u32(4));
  EXPECT_EQ(0, std::memcmp(wave.data() + 36, "data", 4));
  EXPECT_EQ(wave.size() - 44, u32(40));
  // Playing (with or without a sound system) neither blocks nor fails.
  ShutterSound sound;
  sound.play();
  sound.play();
}

}  // namespace
}  // namespace component
