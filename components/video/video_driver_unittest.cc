#include "components/video/video_driver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <chrono>
#include "components/video/video_test_util.h"

namespace component {
namespace {

// Each test has its own section, so a running server or another test run is
// not disturbed.
std::string sectionName() {
  static const long long run =
      std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007LL;
  static int counter = 0;
  return "LumoraZuvIridarTest-" + std::to_string(run) + "-" + std::to_string(++counter);
}

class VideoDriverTest : public ::testing::Test {
 protected:
  VideoDriverTest() : name_(sectionName()) {
    SharedSection::unlink(name_);
    driver_ = std::make_unique<VideoDriver>(name_);
    camera_ = std::make_unique<SharedSection>(name_, kCameraSectionBytes, kCameraViewBytes, false);
  }
  ~VideoDriverTest() override {
    driver_.reset();
    camera_.reset();
    SharedSection::unlink(name_);
  }
  void request(int32_t width, int32_t height) {
    std::memcpy(camera_->data() + kCameraRequestedWidthOffset, &width, 4);
    std::memcpy(camera_->data() + kCameraRequestedHeightOffset, &height, 4);
  }
  const uint8_t* pixels() const { return camera_->data(); }

  std::string name_;
  std::unique_ptr<VideoDriver> driver_;
  std::unique_ptr<SharedSection> camera_;
};

TEST(CameraPictureSize, OnlyTheTwoCameraSizesAreTaken) {
  struct Case {
    int32_t w, h, wantW, wantH;
  } cases[] = {{0, 0, 320, 240},       {352, 288, 352, 288},   {352, -288, 352, 288}, {320, 240, 320, 240},
               {320, -240, 320, 240},  {640, 480, 320, 240},   {288, 352, 320, 240},  {352, 240, 320, 240},
               {-352, 288, 320, 240},  {352, INT32_MIN, 320, 240}};
  for (const Case& c : cases) {
    int32_t w = 0, h = 0;
    cameraPictureSize(c.w, c.h, &w, &h);
    EXPECT_EQ(c.wantW, w) << c.w << "x" << c.h;
    EXPECT_EQ(c.wantH, h) << c.w << "x" << c.h;
  }
}

TEST_F(VideoDriverTest, SectionHasTheCamerasLayout) {
  ASSERT_TRUE(driver_->available());
  ASSERT_NE(nullptr, camera_->data());
  EXPECT_EQ(304136u, kCameraViewBytes);
  EXPECT_EQ(304128u, kCameraPixelBytes);
  EXPECT_EQ(327680u, kCameraSectionBytes);
  // Both views see one memory: what one writes the other reads.
  request(352, 288);
  ASSERT_TRUE(driver_->WriteFrame(makeTestCard(352, 288)));
  EXPECT_TRUE(readCard(pixels(), 352 * 3, FitRect{0, 0, 352, 288}).upright());
}

TEST_F(VideoDriverTest, FreshSectionGivesThreeTwentyByTwoForty) {
  // Fill the area with a marker to see exactly how much is written.
  std::memset(camera_->data(), 0xAB, kCameraPixelBytes);
  ASSERT_TRUE(driver_->WriteFrame(makeTestCard(640, 480)));
  EXPECT_TRUE(readCard(pixels(), 320 * 3, FitRect{0, 0, 320, 240}).upright());
  EXPECT_NE(0xAB, pixels()[320 * 240 * 3 - 1]);
  EXPECT_EQ(0xAB, pixels()[320 * 240 * 3]);
}

TEST_F(VideoDriverTest, LandscapeAtCifHasTwelveRowBands) {
  request(352, 288);
  ASSERT_TRUE(driver_->WriteFrame(makeTestCard(480, 360)));
  const int32_t row = 352 * 3;
  for (int32_t y : {0, 11, 276, 287}) {
    for (int32_t x : {0, 175, 351}) EXPECT_EQ(CardColor::kBlack, colorAt(pixels(), row, x, y)) << x << "," << y;
  }
  EXPECT_EQ(CardColor::kRed, colorAt(pixels(), row, 0, 12 + kFitEdgeTolerance));
  EXPECT_EQ(CardColor::kYellow, colorAt(pixels(), row, 351, 275));
  EXPECT_TRUE(readCard(pixels(), row, FitRect{0, 12, 352, 264}).upright());
}

TEST_F(VideoDriverTest, RequestsAreReadPerFrame) {
  request(640, 480);  // not a camera size
  ASSERT_TRUE(driver_->WriteFrame(makeTestCard(360, 480)));
  EXPECT_TRUE(readCard(pixels(), 320 * 3, FitRect{70, 0, 180, 240}).upright());
  EXPECT_EQ(CardColor::kBlack, colorAt(pixels(), 320 * 3, 10, 120));
  // A negative height is taken by its size; rows stay top to bottom and
  // inside the pixel area.
  request(352, -288);
  ASSERT_TRUE(driver_->WriteFrame(makeTestCard(352, 288)));
  EXPECT_TRUE(readCard(pixels(), 352 * 3, FitRect{0, 0, 352, 288}).upright());
  // A frame the scaler refuses leaves the previous picture.
  VideoFrame broken = makeTestCard(352, 288);
  broken.data.resize(100);
  EXPECT_FALSE(driver_->WriteFrame(broken));
  EXPECT_TRUE(readCard(pixels(), 352 * 3, FitRect{0, 0, 352, 288}).upright());
}

TEST_F(VideoDriverTest, ASmallerSectionLeftBySomeoneElseIsGrown) {
  // Only where the system lets a section be resized (Linux).
  const std::string other = sectionName();
  {
    SharedSection tiny(other, 4096, 4096, false);
    ASSERT_NE(nullptr, tiny.data());
  }
  VideoDriver driver(other);
  ASSERT_TRUE(driver.available());
  EXPECT_TRUE(driver.WriteFrame(makeTestCard(320, 240)));
  SharedSection::unlink(other);
}

}  // namespace
}  // namespace component
