// The phone's picture as a camera Linux programs can open: a PipeWire node
// and, where the module is loaded, a v4l2loopback device. Every frame the
// video component hands over is fitted into the camera's fixed size the way
// the shared-memory area fits it (aspect kept, centred, black bars), so
// turning the phone never changes the stream; before the first picture and
// while no phone is accepted the camera shows the waiting card.
//
// Thread: the video component's thread (the user-interface thread); the
// outputs run on their own threads.
#ifndef COMPONENTS_VIDEO_LINUX_CAMERA_LINUX_CAMERA_H_
#define COMPONENTS_VIDEO_LINUX_CAMERA_LINUX_CAMERA_H_

#include <cstdint>
#include <memory>
#include <string>

#include "components/video/camera_sink.h"
#include "components/video/linux_camera/camera_picture.h"
#include "components/video/linux_camera/latest_picture.h"
#include "components/video/linux_camera/pipewire_camera.h"
#include "components/video/linux_camera/v4l2_output.h"
#include "components/video/video_converter.h"

namespace component {

struct LinuxCameraOptions {
  int32_t width = kCameraSizeDefaultWidth;
  int32_t height = kCameraSizeDefaultHeight;
  bool pipewire = true;
  bool v4l2 = true;
  std::string v4l2Device;  // empty: the first loopback device
  std::string nodeName = kPipeWireNodeName;
};

// The settings' texts to options: `size` as "640x480", `outputs` one of
// pipewire, v4l2, both, off (case ignored). A text that is not valid is
// logged and its default taken.
LinuxCameraOptions linuxCameraOptions(const std::string& size, const std::string& outputs,
                                      const std::string& v4l2Device);

class LinuxCamera : public CameraSink {
 public:
  // `device`: the V4L2 calls (null: the kernel's).
  explicit LinuxCamera(const LinuxCameraOptions& options, std::unique_ptr<V4l2Device> device = nullptr);
  ~LinuxCamera() override;

  // Starts the outputs the options ask for, each where it is available.
  // True when at least one runs.
  bool Start();
  void Stop();

  // VideoComponent::Observer
  void OnVideoFrame(VideoComponent* component, const VideoFrame& frame) override;
  // Only as much of the picture as its fitted rectangle in the camera's
  // size; nothing while the camera shows the card, does not run or has
  // only a PipeWire node waiting for its daemon.
  void WantedPictureSize(int32_t width, int32_t height, int32_t* wantedWidth, int32_t* wantedHeight) override;
  // CameraSink
  void SetPhoneAccepted(bool accepted) override;

  LatestPicture* picture() { return &picture_; }
  bool pipewireRunning() const { return pipewireRunning_; }
  bool v4l2Running() const { return v4l2Running_; }

 private:
  // An output is there for a program to open: the loopback device, or a
  // PipeWire node a daemon published.
  bool outputCanShow() const;

  const LinuxCameraOptions options_;
  LatestPicture picture_;
  PictureFitter fitter_;
  bool accepted_ = false;
  std::unique_ptr<PipeWireCamera> pipewire_;
  std::unique_ptr<V4l2Output> v4l2_;
  bool pipewireRunning_ = false;
  bool v4l2Running_ = false;
};

}  // namespace component

#endif  // COMPONENTS_VIDEO_LINUX_CAMERA_LINUX_CAMERA_H_
