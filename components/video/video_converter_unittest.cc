// The picture seam and the converters, the same cases on both builds: the
// geometry must agree exactly, the pixels within JPEG and filtering
// tolerance.
#include "components/video/video_converter.h"

#include <gtest/gtest.h>

#include "components/video/video_test_util.h"

namespace component {
namespace {

VideoFrame jpegFrame(const std::vector<uint8_t>& jpeg, int32_t width, int32_t height, uint32_t flags = 0) {
  VideoFrame frame;
  frame.width = width;
  frame.height = height;
  frame.pixel_format = kPixelFormat_JPEG;
  frame.flags = flags;
  frame.timestamp = 1234567890123LL;
  frame.key_frame = true;
  frame.data = jpeg;
  return frame;
}

TEST(VideoGeometry, OrientationCodesAndTurnedSizes) {
  EXPECT_EQ(0, orientationAngle(0));
  EXPECT_EQ(270, orientationAngle(1));
  EXPECT_EQ(180, orientationAngle(2));
  EXPECT_EQ(90, orientationAngle(4));
  EXPECT_EQ(0, orientationAngle(8));
  // The first set bit wins.
  EXPECT_EQ(270, orientationAngle(1 | 4));
  EXPECT_EQ(180, orientationAngle(2 | 4 | 8));
  EXPECT_EQ(0, orientationAngle(0xF0));
  int32_t w = 0, h = 0;
  turnedSize(480, 360, 90, &w, &h);
  EXPECT_EQ(360, w);
  EXPECT_EQ(480, h);
  turnedSize(480, 360, 180, &w, &h);
  EXPECT_EQ(480, w);
  EXPECT_EQ(360, h);
}

TEST(VideoGeometry, FitRectanglesOfTheThreeModes) {
  FitRect r = fitRectangle(480, 360, 352, 288, kFitInside);
  EXPECT_EQ(0, r.x);
  EXPECT_EQ(12, r.y);
  EXPECT_EQ(352, r.width);
  EXPECT_EQ(264, r.height);
  r = fitRectangle(360, 480, 320, 240, kFitInside);
  EXPECT_EQ(70, r.x);
  EXPECT_EQ(0, r.y);
  EXPECT_EQ(180, r.width);
  EXPECT_EQ(240, r.height);
  // Same aspect: no bands.
  r = fitRectangle(640, 480, 320, 240, kFitInside);
  EXPECT_EQ(0, r.x);
  EXPECT_EQ(0, r.y);
  EXPECT_EQ(320, r.width);
  EXPECT_EQ(240, r.height);
  // Fill cuts the overflow: 480x360 by 288/360 = 0.8 is 384 wide, 16 cut each side.
  r = fitRectangle(480, 360, 352, 288, kFitFill);
  EXPECT_EQ(-16, r.x);
  EXPECT_EQ(0, r.y);
  EXPECT_EQ(384, r.width);
  EXPECT_EQ(288, r.height);
  r = fitRectangle(480, 360, 352, 288, kFitStretch);
  EXPECT_EQ(0, r.x);
  EXPECT_EQ(352, r.width);
  EXPECT_EQ(288, r.height);
}

TEST(PictureCodec, JpegRoundTripKeepsTheCard) {
  const VideoFrame card = makeTestCard(480, 360);
  std::vector<uint8_t> jpeg = jpegOf(card);
  ASSERT_GT(jpeg.size(), 100u);
  std::vector<uint8_t> pixels;
  int32_t w = 0, h = 0;
  ASSERT_TRUE(decodeJpeg(jpeg.data(), jpeg.size(), &pixels, &w, &h));
  EXPECT_EQ(480, w);
  EXPECT_EQ(360, h);
  ASSERT_EQ(480u * 360 * 3, pixels.size());
  EXPECT_TRUE(readCard(pixels.data(), w * 3, FitRect{0, 0, w, h}).upright());
}

TEST(PictureCodec, RefusesWhatIsNoPicture) {
  std::vector<uint8_t> pixels;
  int32_t w = 0, h = 0;
  const uint8_t junk[] = {0xFF, 0xD8, 0xFF, 0x00, 1, 2, 3};
  EXPECT_FALSE(decodeJpeg(junk, sizeof(junk), &pixels, &w, &h));
  EXPECT_FALSE(decodeJpeg(junk, 0, &pixels, &w, &h));
  // A header that announces a giant picture is refused before any
  // allocation of that size.
  std::vector<uint8_t> jpeg = cardJpeg(64, 48);
  ASSERT_TRUE(patchJpegSize(&jpeg, 60000, 60000));
  EXPECT_FALSE(decodeJpeg(jpeg.data(), jpeg.size(), &pixels, &w, &h));
}

// Odd widths: rows of width * 3 bytes that are not a multiple of 4 must not
// pick up the library's row padding.
TEST(JPEGVideoDecoder, OddWidthsComeOutTight) {
  for (int32_t width : {161, 162, 163, 481}) {
    const VideoFrame card = makeTestCard(width, 97);
    JPEGVideoDecoder decoder;
    VideoFrame out;
    ASSERT_TRUE(decoder.Decode(jpegFrame(jpegOf(card), width, 97), &out)) << width;
    EXPECT_EQ(width, out.width);
    EXPECT_EQ(width * 3, out.stride);
    ASSERT_EQ(static_cast<size_t>(width) * 97 * 3, out.data.size());
    EXPECT_TRUE(readCard(out.data.data(), out.stride, FitRect{0, 0, width, 97}).upright()) << width;
    // The last column of the last row is yellow, not padding.
    EXPECT_EQ(CardColor::kYellow, colorAt(out.data.data(), out.stride, width - 1, 96)) << width;
  }
}

TEST(JPEGVideoDecoder, CopiesFieldsAndUsesThePicturesOwnSize) {
  LogCapture log(u"video_decoder_size.log");
  ASSERT_TRUE(log.ok());
  JPEGVideoDecoder decoder;
  VideoFrame out;
  // The message claims a bigger picture than the JPEG holds.
  ASSERT_TRUE(decoder.Decode(jpegFrame(cardJpeg(160, 120), 1920, 1080, 0x104), &out));
  EXPECT_EQ(160, out.width);
  EXPECT_EQ(120, out.height);
  EXPECT_EQ(160 * 120 * 3u, out.data.size());
  EXPECT_EQ(kPixelFormat_24RGB, out.pixel_format);
  EXPECT_EQ(0x104u, out.flags);
  EXPECT_TRUE(out.key_frame);
  EXPECT_EQ(1234567890123LL, out.timestamp);
  EXPECT_NE(log.text().find("1920x1080 but its picture is 160x120"), std::string::npos) << log.text();

  VideoFrame empty = jpegFrame({}, 10, 10);
  EXPECT_FALSE(decoder.Decode(empty, &out));
}

TEST(VideoRotator, FourOrientationsStandTheCardUpright) {
  VideoRotator rotator;
  for (uint32_t code : {0u, 1u, 2u, 4u, 8u}) {
    const VideoFrame taken = takeAsPhone(makeTestCard(480, 360), code);
    VideoFrame out;
    ASSERT_TRUE(rotator.Convert(taken, &out)) << code;
    EXPECT_EQ(480, out.width) << code;
    EXPECT_EQ(360, out.height) << code;
    EXPECT_EQ(0u, out.flags & kOrientationMask) << code;
    EXPECT_EQ(out.stride * out.height, static_cast<int32_t>(out.data.size()));
    const CardReading reading = readCard(out.data.data(), out.stride, FitRect{0, 0, 480, 360});
    EXPECT_TRUE(reading.upright()) << code << ": " << reading.describe();
  }
}

TEST(VideoRotator, TurnsExactlyAndKeepsHigherFlags) {
  // A 3x2 picture with distinct pixels, turned by 90 degrees clockwise
  // (code 4): the bottom-left pixel becomes the top-left one.
  VideoFrame in;
  in.width = 3;
  in.height = 2;
  in.pixel_format = kPixelFormat_24RGB;
  in.flags = 0x504;
  for (uint8_t v = 0; v < 6; ++v) in.data.insert(in.data.end(), {v, static_cast<uint8_t>(v + 10), 0});
  VideoRotator rotator;
  VideoFrame out;
  ASSERT_TRUE(rotator.Convert(in, &out));
  EXPECT_EQ(2, out.width);
  EXPECT_EQ(3, out.height);
  EXPECT_EQ(0x500u, out.flags);
  std::vector<uint8_t> firsts;
  for (size_t i = 0; i < out.data.size(); i += 3) firsts.push_back(out.data[i]);
  EXPECT_EQ((std::vector<uint8_t>{3, 0, 4, 1, 5, 2}), firsts);
  // Code 1 turns by 270.
  in.flags = 1;
  ASSERT_TRUE(rotator.Convert(in, &out));
  firsts.clear();
  for (size_t i = 0; i < out.data.size(); i += 3) firsts.push_back(out.data[i]);
  EXPECT_EQ((std::vector<uint8_t>{2, 5, 1, 4, 0, 3}), firsts);
}

TEST(VideoRotator, RefusesShortDataAndOtherFormats) {
  LogCapture log(u"video_rotator_refuses.log");
  ASSERT_TRUE(log.ok());
  VideoFrame in = makeTestCard(40, 30);
  in.flags = 4;
  in.data.pop_back();
  VideoRotator rotator;
  VideoFrame out;
  EXPECT_FALSE(rotator.Convert(in, &out));
  EXPECT_NE(log.text().find("Insufficient data for specified pixel format! 24"), std::string::npos);
  in.data.push_back(0);
  in.pixel_format = kPixelFormat_JPEG;
  EXPECT_FALSE(rotator.Convert(in, &out));
  EXPECT_NE(log.text().find("Unsupported pixel format! 1785750887"), std::string::npos);
  // A stride that claims rows longer than the data holds.
  in.pixel_format = kPixelFormat_24RGB;
  in.stride = 40 * 3 + 4;
  EXPECT_FALSE(rotator.Convert(in, &out));
}

TEST(MirrorVideoFrame, FlipsLeftToRight) {
  const VideoFrame card = makeTestCard(161, 120);  // odd row length on purpose
  VideoFrame out;
  ASSERT_TRUE(MirrorVideoFrame(card, &out));
  EXPECT_EQ(161, out.width);
  EXPECT_EQ(120, out.height);
  EXPECT_TRUE(readCard(out.data.data(), out.stride, FitRect{0, 0, 161, 120}).mirrored());
  VideoFrame twice;
  ASSERT_TRUE(MirrorVideoFrame(out, &twice));
  EXPECT_EQ(card.data, twice.data);
}

int32_t blackRowsFromTop(const VideoFrame& frame) {
  int32_t rows = 0;
  for (; rows < frame.height; ++rows) {
    for (int32_t x = 0; x < frame.width; ++x) {
      if (colorAt(frame.data.data(), frame.stride, x, rows) != CardColor::kBlack) return rows;
    }
  }
  return rows;
}

TEST(VideoScaler, FitLeavesBlackBandsWhereTheAspectDiffers) {
  VideoScaler scaler(kFitInside);
  VideoFrame out;
  out.width = 352;
  out.height = 288;
  const VideoFrame landscape = makeTestCard(480, 360);
  ASSERT_TRUE(scaler.Convert(landscape, &out));
  EXPECT_EQ(352 * 288 * 3u, out.data.size());
  EXPECT_EQ(352 * 3, out.stride);
  EXPECT_LE(12, blackRowsFromTop(out));
  EXPECT_GE(12 + kFitEdgeTolerance, blackRowsFromTop(out));
  // The bottom band: rows 276-287 are black, row 275 is not.
  EXPECT_EQ(CardColor::kBlack, colorAt(out.data.data(), out.stride, 200, 276));
  EXPECT_EQ(CardColor::kBlue, colorAt(out.data.data(), out.stride, 5, 275));
  EXPECT_TRUE(readCard(out.data.data(), out.stride, fitRectangle(480, 360, 352, 288, kFitInside)).upright());

  // Portrait into 320x240: 180x240 at (70, 0), black left and right.
  out.width = 320;
  out.height = 240;
  const VideoFrame portrait = makeTestCard(360, 480);
  ASSERT_TRUE(scaler.Convert(portrait, &out));
  EXPECT_EQ(320 * 240 * 3u, out.data.size());
  EXPECT_EQ(CardColor::kBlack, colorAt(out.data.data(), out.stride, 68, 120));
  EXPECT_EQ(CardColor::kRed, colorAt(out.data.data(), out.stride, 72, 5));
  EXPECT_EQ(CardColor::kGreen, colorAt(out.data.data(), out.stride, 247, 5));
  EXPECT_EQ(CardColor::kBlack, colorAt(out.data.data(), out.stride, 251, 120));
  EXPECT_TRUE(readCard(out.data.data(), out.stride, FitRect{70, 0, 180, 240}).upright());
}

TEST(VideoScaler, StretchAndFillModes) {
  const VideoFrame card = makeTestCard(480, 360);
  VideoScaler stretch(kFitStretch);
  VideoFrame out;
  out.width = 100;
  out.height = 300;
  ASSERT_TRUE(stretch.Convert(card, &out));
  EXPECT_EQ(0, blackRowsFromTop(out));
  EXPECT_TRUE(readCard(out.data.data(), out.stride, FitRect{0, 0, 100, 300}).upright());
  VideoScaler fill(kFitFill);
  out.width = 352;
  out.height = 288;
  ASSERT_TRUE(fill.Convert(card, &out));
  // No black anywhere: the sides are cut instead.
  EXPECT_EQ(0, blackRowsFromTop(out));
  EXPECT_EQ(CardColor::kRed, colorAt(out.data.data(), out.stride, 0, 0));
  EXPECT_EQ(CardColor::kYellow, colorAt(out.data.data(), out.stride, 351, 287));
  // Nonsense destination sizes are refused.
  out.width = 0;
  EXPECT_FALSE(fill.Convert(card, &out));
  out.width = -352;
  EXPECT_FALSE(fill.Convert(card, &out));
}

}  // namespace
}  // namespace component
