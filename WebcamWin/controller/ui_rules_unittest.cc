// The interface's window-free texts and choices: the preview's texts, the
// notification-area menu's left-out entry and the settings dialog's sound
// device lists.
#include "WebcamWin/controller/ui_rules.h"

#include <gtest/gtest.h>

#include "components/video/video_frame.h"

namespace {

TEST(UiRulesTest, RecordingTimeSplitsMillisecondsIntoHoursMinutesSeconds) {
  EXPECT_EQ(u"00:00:00", recordingTimeText(0));
  // Part seconds are cut, not rounded.
  EXPECT_EQ(u"00:00:00", recordingTimeText(999));
  EXPECT_EQ(u"00:00:59", recordingTimeText(59999));
  EXPECT_EQ(u"00:01:00", recordingTimeText(60000));
  EXPECT_EQ(u"00:59:59", recordingTimeText(3599999));
  EXPECT_EQ(u"01:02:07", recordingTimeText(3600000 + 2 * 60000 + 7 * 1000 + 400));
  // Past 99 hours the hours grow a digit instead of wrapping; the largest
  // time the phone can be told still prints whole.
  EXPECT_EQ(u"100:00:00", recordingTimeText(100u * 3600000u));
  EXPECT_EQ(u"1193:02:47", recordingTimeText(0xFFFFFFFFu));
}

TEST(UiRulesTest, FrameSizeAndNameFormats) {
  EXPECT_EQ(u"640x480", frameSizeText(640, 480));
  EXPECT_EQ(u"1920x1080", frameSizeText(1920, 1080));
  EXPECT_EQ(u"'Anna's iPhone' is now connected via WiFi.",
            withArgument(u"'%s' is now connected via WiFi.", u"Anna's iPhone"));
  // Only the first "%s" is filled; a name holding "%s" is not expanded.
  EXPECT_EQ(u"%s and %s", withArgument(u"%s and %s", u"%s"));
  EXPECT_EQ(u"No place", withArgument(u"No place", u"x"));
  EXPECT_EQ(u"Device name: ", withArgument(u"Device name: %s", u""));
}

TEST(UiRulesTest, TrayMenuLeavesOutTheEntryForTheCurrentState) {
  EXPECT_EQ(20001u, trayMenuEntryToRemove(true));
  EXPECT_EQ(20007u, trayMenuEntryToRemove(false));
}

TEST(UiRulesTest, DeviceListSkipsThePhonesDeviceAndEndsWithTheDefault) {
  const std::vector<base::string16> devices = {u"Speakers (HD Audio)", u"Lumora Wave Audio Device (WDM)",
                                               u"Headset (USB)", u"Lumora Wave"};
  DeviceChoice c = chooseDevice(devices, u"", u"System default device");
  EXPECT_EQ((std::vector<base::string16>{u"Speakers (HD Audio)", u"Headset (USB)", u"System default device"}),
            c.entries);
  EXPECT_EQ(2u, c.selected);
  EXPECT_FALSE(c.multipleMatches);

  // The stored name may be a part of the listed one (the system cuts names
  // at 31 characters).
  c = chooseDevice(devices, u"Headset", u"System default device");
  EXPECT_EQ(1u, c.selected);
  // A stored name no device has: the default.
  c = chooseDevice(devices, u"Gone (USB)", u"System default device");
  EXPECT_EQ(2u, c.selected);
  // The stored name of the phone's own device never selects it.
  c = chooseDevice(devices, u"Lumora Wave", u"System default device");
  EXPECT_EQ(2u, c.selected);
  EXPECT_FALSE(c.multipleMatches);
  // The same real device twice: the last one is chosen, and it is told.
  c = chooseDevice({u"Mic (USB)", u"Line in", u"Mic (USB)"}, u"Mic", u"System default device");
  EXPECT_EQ(2u, c.selected);
  EXPECT_TRUE(c.multipleMatches);
  // No devices at all: only the default.
  c = chooseDevice({}, u"Mic", u"System default device");
  EXPECT_EQ(1u, c.entries.size());
  EXPECT_EQ(0u, c.selected);
}

TEST(UiRulesTest, TheDefaultRowAndNoRowStoreTheEmptyName) {
  EXPECT_EQ(u"Headset (USB)", deviceNameToStore(1, 3, u"Headset (USB)"));
  EXPECT_EQ(u"Speakers", deviceNameToStore(0, 3, u"Speakers"));
  EXPECT_EQ(u"", deviceNameToStore(2, 3, u"System default device"));
  EXPECT_EQ(u"", deviceNameToStore(-1, 3, u""));
  EXPECT_EQ(u"", deviceNameToStore(0, 1, u"System default device"));
}

component::VideoFrame rgbFrame(int width, int height, int stride) {
  component::VideoFrame f;
  f.width = width;
  f.height = height;
  f.stride = stride;
  f.pixel_format = component::kPixelFormat_24RGB;
  const int rowBytes = stride != 0 ? stride : width * 3;
  f.data.resize(static_cast<size_t>(rowBytes) * height);
  for (size_t i = 0; i < f.data.size(); ++i) f.data[i] = static_cast<uint8_t>(i);
  return f;
}

TEST(UiRulesTest, PreviewRowsArePaddedToFourBytesAndKeepEveryPixel) {
  // 5 pixels: 15 bytes a row, 16 with the padding.
  std::vector<uint8_t> pixels;
  component::VideoFrame f = rgbFrame(5, 3, 0);
  ASSERT_TRUE(previewRows(f, &pixels));
  ASSERT_EQ(48u, pixels.size());
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 15; ++x) EXPECT_EQ(f.data[y * 15 + x], pixels[y * 16 + x]) << y << " " << x;
    EXPECT_EQ(0, pixels[y * 16 + 15]);
  }
  // Rows of the source that are longer than the picture: only the picture
  // is copied.
  f = rgbFrame(2, 2, 10);
  ASSERT_TRUE(previewRows(f, &pixels));
  ASSERT_EQ(16u, pixels.size());
  EXPECT_EQ(f.data[10], pixels[8]);
  EXPECT_EQ(f.data[15], pixels[13]);
  // The last row may stop at its last pixel.
  f.data.resize(16);
  EXPECT_TRUE(previewRows(f, &pixels));
}

TEST(UiRulesTest, PreviewRefusesFramesItCannotCopySafely) {
  std::vector<uint8_t> pixels = {7};
  component::VideoFrame f = rgbFrame(4, 4, 0);
  f.data.pop_back();  // one byte short
  EXPECT_FALSE(previewRows(f, &pixels));
  f = rgbFrame(4, 4, 0);
  f.pixel_format = component::kPixelFormatUnknown;
  EXPECT_FALSE(previewRows(f, &pixels));
  // Rows shorter than the picture, or running backwards.
  f = rgbFrame(4, 4, 0);
  f.stride = 11;
  EXPECT_FALSE(previewRows(f, &pixels));
  f.stride = -12;
  EXPECT_FALSE(previewRows(f, &pixels));
  // No area, or more than a preview ever needs.
  EXPECT_FALSE(previewRows(rgbFrame(0, 4, 0), &pixels));
  f = rgbFrame(4, 4, 0);
  f.height = -1;
  EXPECT_FALSE(previewRows(f, &pixels));
  f.height = kMaxPreviewSide + 1;
  f.width = 1;
  f.data.assign(static_cast<size_t>(f.height) * 3, 0);
  EXPECT_FALSE(previewRows(f, &pixels));
  // A refused frame leaves the last good one alone.
  EXPECT_EQ(std::vector<uint8_t>{7}, pixels);
}

}  // namespace
