// VideoFrame: the picture record of the whole video pipeline, from the
// phone's message through decoding and turning to the camera output, the
// preview, the snapshot and the recorder.
#ifndef COMPONENTS_VIDEO_VIDEO_FRAME_H_
#define COMPONENTS_VIDEO_VIDEO_FRAME_H_

#include <cstdint>
#include <vector>

#include "components/component_message.h"

namespace component {

// Three bytes per pixel, blue, green, red; rows top to bottom.
constexpr uint32_t kPixelFormat_24RGB = 24;
constexpr uint32_t kPixelFormat_JPEG = fourCC('j', 'p', 'e', 'g');
constexpr uint32_t kPixelFormatUnknown = 0xFFFFFFFFu;

// Bits 0-3 of `flags`: how the picture was taken (the phone's orientation).
constexpr uint32_t kOrientationMask = 0x0F;

struct VideoFrame {
  int32_t width = -1;
  int32_t height = -1;
  bool key_frame = false;
  uint32_t pixel_format = kPixelFormatUnknown;
  std::vector<uint8_t> data;
  uint32_t flags = 0;
  int32_t stride = 0;  // bytes per row of raw pixels; 0 means width * 3
  int64_t timestamp = 0;
  // The size of the whole picture a raw frame shows, in the frame's
  // orientation, when it was decoded at a reduced scale (0: the frame's own
  // size). Whoever fits the frame somewhere places it by this size, so a
  // reduced decode lands in the same rectangle as the whole picture would.
  int32_t picture_width = 0;
  int32_t picture_height = 0;

  // Bytes per row of a kPixelFormat_24RGB picture.
  int32_t rowBytes() const { return stride != 0 ? stride : width * 3; }
  int32_t pictureWidth() const { return picture_width > 0 ? picture_width : width; }
  int32_t pictureHeight() const { return picture_height > 0 ? picture_height : height; }
};

}  // namespace component

#endif  // COMPONENTS_VIDEO_VIDEO_FRAME_H_
