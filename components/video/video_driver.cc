#include "components/video/video_driver.h"

#include <cstdlib>
#include <cstring>

namespace component {

namespace {

int32_t readInt32(const uint8_t* at) {
  // Little-endian on both sides; read byte by byte, the camera may be
  // writing it right now.
  uint32_t value = static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
                   (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
  return static_cast<int32_t>(value);
}

}  // namespace

std::string cameraSectionName() {
  const char* name = std::getenv("LUMORA_CAMERA_SECTION");
  return name && name[0] ? std::string(name) : std::string(kCameraSectionName);
}

void cameraPictureSize(int32_t requestedWidth, int32_t requestedHeight, int32_t* width, int32_t* height) {
  // |INT32_MIN| does not fit; it is no valid size anyway.
  const int64_t h = std::llabs(static_cast<int64_t>(requestedHeight));
  if ((requestedWidth == 352 && h == 288) || (requestedWidth == 320 && h == 240)) {
    *width = requestedWidth;
    *height = static_cast<int32_t>(h);
  } else {
    *width = kCameraDefaultWidth;
    *height = kCameraDefaultHeight;
  }
}

VideoDriver::VideoDriver(const std::string& name)
    : name_(name),
      section_(std::make_unique<SharedSection>(name, kCameraSectionBytes, kCameraViewBytes, false)),
      scaler_(kFitInside) {}

VideoDriver::~VideoDriver() {
  // A clean exit leaves no section behind (Linux; on Windows it goes with
  // its last handle anyway).
  if (section_->data()) SharedSection::unlink(name_);
}

void VideoDriver::OnVideoFrame(VideoComponent*, const VideoFrame& frame) { WriteFrame(frame); }

void VideoDriver::pictureSize(int32_t* width, int32_t* height) const {
  const uint8_t* view = section_->data();
  cameraPictureSize(readInt32(view + kCameraRequestedWidthOffset), readInt32(view + kCameraRequestedHeightOffset),
                    width, height);
}

void VideoDriver::WantedPictureSize(int32_t width, int32_t height, int32_t* wantedWidth, int32_t* wantedHeight) {
  if (!section_->data()) {
    *wantedWidth = *wantedHeight = 0;
    return;
  }
  int32_t cameraWidth = 0, cameraHeight = 0;
  pictureSize(&cameraWidth, &cameraHeight);
  const FitRect rect = fitRectangle(width, height, cameraWidth, cameraHeight, kFitInside);
  *wantedWidth = rect.width;
  *wantedHeight = rect.height;
}

bool VideoDriver::WriteFrame(const VideoFrame& frame) {
  uint8_t* view = section_->data();
  if (!view) return false;
  int32_t width = 0, height = 0;
  pictureSize(&width, &height);
  // Drawn straight into the pixel area: at most 352 x 288 x 3 bytes.
  return scaler_.Scale(frame, width, height, view);
}

}  // namespace component
