#include "tools/vcamview/camera_view.h"

#include <gtest/gtest.h>

#include <chrono>

#include "components/video/test_card.h"
#include "components/video/video_driver.h"
#include "components/video/video_test_util.h"

namespace vcamview {
namespace {

TEST(CameraViewFiles, PngMatchesAReferenceEncoder) {
  component::VideoFrame frame;
  frame.width = 2;
  frame.height = 2;
  frame.pixel_format = component::kPixelFormat_24RGB;
  frame.data = {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30};  // blue green / red (30,20,10)
  // Made by an independent PNG writer with zlib at level 0.
  const std::vector<uint8_t> expected = {
      0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00,
      0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x08, 0x02, 0x00, 0x00, 0x00, 0xfd, 0xd4, 0x9a, 0x73, 0x00,
      0x00, 0x00, 0x19, 0x49, 0x44, 0x41, 0x54, 0x78, 0x01, 0x01, 0x0e, 0x00, 0xf1, 0xff, 0x00, 0x00, 0x00,
      0xff, 0x00, 0xff, 0x00, 0x00, 0xff, 0x00, 0x00, 0x1e, 0x14, 0x0a, 0x1a, 0x80, 0x03, 0x3a, 0x8b, 0x16,
      0x38, 0x6a, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
  EXPECT_EQ(expected, encodePng(frame));
  const std::vector<uint8_t> ppm = encodePpm(frame);
  const std::string header = "P6\n2 2\n255\n";
  ASSERT_EQ(header.size() + 12, ppm.size());
  EXPECT_EQ((std::vector<uint8_t>{0, 0, 255, 0, 255, 0, 255, 0, 0, 30, 20, 10}),
            std::vector<uint8_t>(ppm.begin() + static_cast<ptrdiff_t>(header.size()), ppm.end()));
}

TEST(CameraViewFiles, LargePicturesSpanSeveralStoredBlocks) {
  const component::VideoFrame card = component::makeTestCard(352, 288);
  const std::vector<uint8_t> png = encodePng(card);
  // 288 rows of 1 + 352 * 3 bytes in blocks of at most 65535, five bytes each.
  const size_t raw = 288 * (1 + 352 * 3);
  const size_t blocks = (raw + 65534) / 65535;
  EXPECT_EQ(8u + 25 + (12 + 2 + raw + 5 * blocks + 4) + 12, png.size());
}

TEST(CameraView, ParseSize) {
  int32_t w = 0, h = 0;
  EXPECT_TRUE(parseSize("352x288", &w, &h));
  EXPECT_EQ(352, w);
  EXPECT_EQ(288, h);
  EXPECT_TRUE(parseSize("352x-288", &w, &h));
  EXPECT_EQ(-288, h);
  for (const char* bad : {"", "x", "352x", "x288", "352*288", "3a2x288", "99999999999x1"})
    EXPECT_FALSE(parseSize(bad, &w, &h)) << bad;
}

TEST(CameraView, SeesWhatTheDriverWrites) {
  const std::string name =
      "LumoraZuvIridarView-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007);
  component::SharedSection::unlink(name);
  {
    component::VideoDriver driver(name);
    CameraView view(name);
    ASSERT_TRUE(view.ok());
    const uint64_t empty = view.fingerprint();
    view.request(352, 288);
    ASSERT_TRUE(driver.WriteFrame(component::makeTestCard(480, 360)));
    EXPECT_NE(empty, view.fingerprint());
    const component::VideoFrame picture = view.picture();
    EXPECT_EQ(352, picture.width);
    EXPECT_EQ(288, picture.height);
    const component::FitRect rect = contentRect(picture);
    EXPECT_EQ(0, rect.x);
    // GDI+ may leave the picture's first row to the band (see kFitEdgeTolerance).
    EXPECT_LE(12, rect.y);
    EXPECT_GE(12 + component::kFitEdgeTolerance, rect.y);
    EXPECT_EQ(352, rect.width);
    EXPECT_EQ(276, rect.y + rect.height);
    EXPECT_TRUE(component::readCard(picture.data.data(), picture.stride, rect).upright());
    // An unknown request gives the default size.
    view.request(1, 1);
    int32_t w = 0, h = 0;
    view.pictureSize(&w, &h);
    EXPECT_EQ(320, w);
    EXPECT_EQ(240, h);
  }
  component::SharedSection::unlink(name);
}

}  // namespace
}  // namespace vcamview
