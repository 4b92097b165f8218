// Where a turned or fitted picture lands: the turning angle an orientation
// code asks for, the size of the turned picture, and the rectangle a picture
// is drawn into when it is brought to a consumer's size. Both builds draw
// with these numbers, so their pictures agree to the pixel row.
//
// Thread: none of its own.
#ifndef COMPONENTS_VIDEO_VIDEO_GEOMETRY_H_
#define COMPONENTS_VIDEO_VIDEO_GEOMETRY_H_

#include <cstddef>
#include <cstdint>

namespace component {

struct VideoFrame;

// Orientation codes (bits 0-3 of a frame's flags) and the clockwise turn
// that stands the picture upright. The first set bit of 1, 2, 4 wins; 0 and
// 8 need no turn.
int orientationAngle(uint32_t flags);

// The picture size after turning by `angle` (0, 90, 180, 270).
void turnedSize(int32_t width, int32_t height, int angle, int32_t* turnedWidth, int32_t* turnedHeight);

enum FitMode {
  kFitStretch = 0,  // fill the whole destination
  kFitFill = 1,     // larger ratio, centred, overflow cut off
  kFitInside = 2,   // smaller ratio, centred, the rest black
};

struct FitRect {
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
};

// The rectangle (in destination pixels, possibly reaching past the
// destination in kFitFill) that a source of sw x sh is drawn into.
FitRect fitRectangle(int32_t sw, int32_t sh, int32_t dw, int32_t dh, FitMode mode);

// Checks that `frame` holds raw 24-bit pixels for its size; logs why not
// ("Unsupported pixel format! ", "Insufficient data for specified pixel
// format! ") at error level.
bool checkRawFrame(const VideoFrame& frame);

// Biggest picture the decoder accepts: a few bytes of JPEG can announce a
// picture of gigabytes.
constexpr int32_t kMaxPictureSide = 8192;
constexpr int64_t kMaxPicturePixels = 4096LL * 3072LL;

bool pictureSizeAcceptable(int32_t width, int32_t height);

}  // namespace component

#endif  // COMPONENTS_VIDEO_VIDEO_GEOMETRY_H_
