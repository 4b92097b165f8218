#include "components/video/video_geometry.h"

#include <cmath>

#include "base/logging.h"
#include "components/video/video_frame.h"

namespace component {

int orientationAngle(uint32_t flags) {
  if (flags & 1) return 270;
  if (flags & 2) return 180;
  if (flags & 4) return 90;
  return 0;
}

void turnedSize(int32_t width, int32_t height, int angle, int32_t* turnedWidth, int32_t* turnedHeight) {
  const bool swap = angle == 90 || angle == 270;
  *turnedWidth = swap ? height : width;
  *turnedHeight = swap ? width : height;
}

namespace {

// The drawing library works in floats; a product such as 480 * (352 / 480)
// must still come out as 352, not 352.00002 rounded up.
int32_t ceilOf(double value) { return static_cast<int32_t>(std::ceil(value - 1e-4)); }

}  // namespace

FitRect fitRectangle(int32_t sw, int32_t sh, int32_t dw, int32_t dh, FitMode mode) {
  FitRect rect;
  if (mode == kFitStretch || sw <= 0 || sh <= 0) {
    rect.width = dw;
    rect.height = dh;
    return rect;
  }
  const double rx = static_cast<double>(dw) / sw;
  const double ry = static_cast<double>(dh) / sh;
  const double s = mode == kFitFill ? (rx > ry ? rx : ry) : (rx < ry ? rx : ry);
  rect.width = ceilOf(sw * s);
  rect.height = ceilOf(sh * s);
  rect.x = ceilOf((sw * s - dw) * -0.5);
  rect.y = ceilOf((sh * s - dh) * -0.5);
  return rect;
}

bool checkRawFrame(const VideoFrame& frame) {
  if (frame.pixel_format != kPixelFormat_24RGB) {
    LOG(ERROR) << "Unsupported pixel format! " << frame.pixel_format;
    return false;
  }
  const int64_t row = frame.rowBytes();
  if (frame.width <= 0 || frame.height <= 0 || row < static_cast<int64_t>(frame.width) * 3 ||
      static_cast<int64_t>(frame.data.size()) < row * frame.height) {
    LOG(ERROR) << "Insufficient data for specified pixel format! " << frame.pixel_format;
    return false;
  }
  return true;
}

bool pictureSizeAcceptable(int32_t width, int32_t height) {
  return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
         static_cast<int64_t>(width) * height <= kMaxPicturePixels;
}

}  // namespace component
