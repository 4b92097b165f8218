// VideoDriver: the writer side of the virtual camera. The camera (installed
// separately) and this program meet in one named shared-memory section: the
// latest picture at offset 0 (24-bit, rows top to bottom, width * 3 bytes
// each, no padding) and, right after the largest picture, the size the
// camera asks for. Every finished frame is fitted to that size (black bands
// where the aspect differs) and written over the previous one in place;
// there is no lock between the sides.
//
// Thread: the thread that delivers the video component's frames.
#ifndef COMPONENTS_VIDEO_VIDEO_DRIVER_H_
#define COMPONENTS_VIDEO_VIDEO_DRIVER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "components/video/shared_section.h"
#include "components/video/video_component.h"
#include "components/video/video_converter.h"

namespace component {

// The section's name and layout, shared with the camera.
constexpr char kCameraSectionName[] = "LumoraZuvIridar";
constexpr size_t kCameraSectionBytes = 0x50000;  // 327,680
constexpr int32_t kCameraMaxWidth = 352;
constexpr int32_t kCameraMaxHeight = 288;
constexpr size_t kCameraPixelBytes = kCameraMaxWidth * kCameraMaxHeight * 3;  // 304,128
constexpr size_t kCameraRequestedWidthOffset = kCameraPixelBytes;
constexpr size_t kCameraRequestedHeightOffset = kCameraPixelBytes + 4;
constexpr size_t kCameraViewBytes = kCameraPixelBytes + 8;  // 304,136
constexpr int32_t kCameraDefaultWidth = 320;
constexpr int32_t kCameraDefaultHeight = 240;

// The section's name: kCameraSectionName, or LUMORA_CAMERA_SECTION from the
// environment when set (side-by-side runs and tests).
std::string cameraSectionName();

// The picture size the writer produces for a request of the camera: 352 x
// 288 and 320 x 240 are taken (the height's sign is the camera's concern;
// rows are always written top to bottom), anything else gives 320 x 240.
void cameraPictureSize(int32_t requestedWidth, int32_t requestedHeight, int32_t* width, int32_t* height);

class VideoDriver : public VideoComponent::Observer {
 public:
  // Opens or creates the section `name` (tests pass their own); its name is
  // removed again when the driver goes.
  explicit VideoDriver(const std::string& name = cameraSectionName());
  ~VideoDriver() override;
  VideoDriver(const VideoDriver&) = delete;
  VideoDriver& operator=(const VideoDriver&) = delete;

  void OnVideoFrame(VideoComponent* component, const VideoFrame& frame) override;
  // The rectangle the picture is fitted into: a picture decoded that large
  // loses nothing the camera would show.
  void WantedPictureSize(int32_t width, int32_t height, int32_t* wantedWidth, int32_t* wantedHeight) override;
  // The same, for callers without a component.
  bool WriteFrame(const VideoFrame& frame);

  bool available() const { return section_->data() != nullptr; }

 private:
  // The picture size for the camera's current request.
  void pictureSize(int32_t* width, int32_t* height) const;

  std::string name_;
  std::unique_ptr<SharedSection> section_;
  VideoScaler scaler_;
};

}  // namespace component

#endif  // COMPONENTS_VIDEO_VIDEO_DRIVER_H_
