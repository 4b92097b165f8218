// The pictures of the Linux camera: the camera's size from its setting, the
// pixel formats it offers, the conversion of its 24-bit canvas into them
// (libswscale), and the card it shows while no phone sends.
//
// Thread: a PictureFormatter is used by one thread at a time; the free
// functions by any.
#ifndef COMPONENTS_VIDEO_LINUX_CAMERA_CAMERA_PICTURE_H_
#define COMPONENTS_VIDEO_LINUX_CAMERA_CAMERA_PICTURE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "components/video/video_converter.h"
#include "components/video/video_frame.h"
#include "components/video/video_geometry.h"

struct SwsContext;

namespace component {

enum class CameraFormat { kI420, kYUY2, kBGR };
const char* cameraFormatName(CameraFormat format);

constexpr int32_t kCameraSizeDefaultWidth = 640;
constexpr int32_t kCameraSizeDefaultHeight = 480;
// Even sides (the 4:2:0 and 4:2:2 formats halve them) within these bounds.
constexpr int32_t kCameraSizeMinSide = 16;
constexpr int32_t kCameraSizeMaxWidth = 3840;
constexpr int32_t kCameraSizeMaxHeight = 2160;

// "1280x720" -> 1280, 720. False for anything else (the caller logs it and
// takes the default).
bool parseCameraSize(const std::string& text, int32_t* width, int32_t* height);

// Bytes of one picture, and of one row of the first plane.
size_t cameraFrameBytes(CameraFormat format, int32_t width, int32_t height);
int32_t cameraRowBytes(CameraFormat format, int32_t width);

// Draws the "waiting for the phone" card: a dark slate field, a phone's
// outline in the middle and the words under it, all scaled to the size.
void drawWaitingCard(int32_t width, int32_t height, uint8_t* bgr);
// Whether 24-bit pixels of that size show the card (tests and viewers):
// the field's colour at the corners and the phone's outline in the middle.
bool looksLikeWaitingCard(const uint8_t* bgr, int32_t width, int32_t height);

// The camera keeps its picture in I420 at its own size: the format most
// consumers take, and one the other formats come from cheaply (a chroma
// repack for YUY2, libswscale's fast path for 24 bits).

// Brings a phone picture (24-bit) into the camera's I420 picture, fitted
// inside with black bars. When the picture already has its fitted size (the
// decoder reduced it) that is one libswscale pass straight into the
// rectangle; otherwise the picture is fitted in 24 bits first.
class PictureFitter {
 public:
  PictureFitter();
  ~PictureFitter();
  PictureFitter(const PictureFitter&) = delete;
  PictureFitter& operator=(const PictureFitter&) = delete;

  // `i420` holds cameraFrameBytes(kI420, width, height).
  bool fit(const VideoFrame& frame, int32_t width, int32_t height, uint8_t* i420);
  // A 24-bit picture of the camera's own size (the waiting card).
  bool convert(const uint8_t* bgr, int32_t width, int32_t height, uint8_t* i420);

 private:
  bool convertInto(const uint8_t* bgr, int32_t rowBytes, int32_t sourceWidth, int32_t sourceHeight,
                   const FitRect& rect, int32_t width, int32_t height, uint8_t* i420);

  SwsContext* context_ = nullptr;
  int32_t sourceWidth_ = 0;
  int32_t sourceHeight_ = 0;
  std::unique_ptr<VideoScaler> scaler_;
  std::vector<uint8_t> canvas_;  // the 24-bit fit when one is needed
};

// Turns the camera's I420 picture into one of the formats, packed (I420:
// the Y plane, then U, then V).
class PictureFormatter {
 public:
  PictureFormatter();
  ~PictureFormatter();
  PictureFormatter(const PictureFormatter&) = delete;
  PictureFormatter& operator=(const PictureFormatter&) = delete;

  // `out` holds cameraFrameBytes(format, width, height).
  bool format(const uint8_t* i420, int32_t width, int32_t height, CameraFormat format, uint8_t* out);

 private:
  SwsContext* context_ = nullptr;
  int32_t width_ = 0;
  int32_t height_ = 0;
  CameraFormat format_ = CameraFormat::kBGR;
};

// Back to 24 bits, for consumers and tests that look at what was sent.
bool cameraPictureToBGR(const uint8_t* in, CameraFormat format, int32_t width, int32_t height,
                        std::vector<uint8_t>* bgr);

}  // namespace component

#endif  // COMPONENTS_VIDEO_LINUX_CAMERA_CAMERA_PICTURE_H_
