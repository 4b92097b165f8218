#include "components/video/linux_camera/linux_camera.h"

#include <algorithm>
#include <cctype>

#include "base/logging.h"
#include "components/video/video_geometry.h"

namespace component {

LinuxCameraOptions linuxCameraOptions(const std::string& size, const std::string& outputs,
                                      const std::string& v4l2Device) {
  LinuxCameraOptions options;
  if (!size.empty() && !parseCameraSize(size, &options.width, &options.height)) {
    LOG(WARNING) << "The CameraSize setting \"" << size << "\" is not a size like 1280x720; the camera uses "
                 << kCameraSizeDefaultWidth << "x" << kCameraSizeDefaultHeight;
  }
  std::string mode = outputs;
  std::transform(mode.begin(), mode.end(), mode.begin(), [](unsigned char c) { return std::tolower(c); });
  if (mode == "pipewire") {
    options.v4l2 = false;
  } else if (mode == "v4l2") {
    options.pipewire = false;
  } else if (mode == "off") {
    options.pipewire = options.v4l2 = false;
  } else if (!mode.empty() && mode != "both") {
    LOG(WARNING) << "The LinuxCamera setting \"" << outputs
                 << "\" is none of pipewire, v4l2, both, off; the camera uses both";
  }
  options.v4l2Device = v4l2Device;
  return options;
}

LinuxCamera::LinuxCamera(const LinuxCameraOptions& options, std::unique_ptr<V4l2Device> device)
    : options_(options), picture_(options.width, options.height) {
  if (options_.pipewire) pipewire_ = std::make_unique<PipeWireCamera>(&picture_, options_.nodeName);
  if (options_.v4l2)
    v4l2_ = std::make_unique<V4l2Output>(&picture_, device ? std::move(device) : V4l2Device::makeReal(),
                                         options_.v4l2Device);
}

LinuxCamera::~LinuxCamera() { Stop(); }

bool LinuxCamera::Start() {
  if (!pipewire_ && !v4l2_) {
    LOG(INFO) << "Linux camera: off (LinuxCamera setting)";
    return false;
  }
  // A PipeWire that is not there yet gets the node once it comes.
  if (pipewire_ && !pipewireRunning_) pipewireRunning_ = pipewire_->Start() || pipewire_->waiting();
  if (v4l2_ && !v4l2Running_) v4l2Running_ = v4l2_->Start();
  return pipewireRunning_ || v4l2Running_;
}

void LinuxCamera::Stop() {
  if (pipewire_) pipewire_->Stop();
  if (v4l2_) v4l2_->Stop();
  pipewireRunning_ = v4l2Running_ = false;
}

bool LinuxCamera::outputCanShow() const {
  // A PipeWire still waiting for its daemon has no node anyone could open:
  // fitting every frame for it only takes the user-interface thread's time
  // (the next frame after the daemon answers is fitted again).
  const bool pipewire = pipewireRunning_ && !pipewire_->waiting();
  return pipewire || v4l2Running_;
}

void LinuxCamera::OnVideoFrame(VideoComponent*, const VideoFrame& frame) {
  // The component only sends once a phone was accepted; the flag also keeps
  // a frame that was on its way when the phone left off the camera.
  if (!accepted_ || !outputCanShow()) return;
  picture_.setTimestamp(frame.timestamp);
  picture_.update([&](uint8_t* i420) { return fitter_.fit(frame, picture_.width(), picture_.height(), i420); });
}

void LinuxCamera::WantedPictureSize(int32_t width, int32_t height, int32_t* wantedWidth, int32_t* wantedHeight) {
  if (!accepted_ || !outputCanShow()) {
    *wantedWidth = *wantedHeight = 0;
    return;
  }
  const FitRect rect = fitRectangle(width, height, picture_.width(), picture_.height(), kFitInside);
  *wantedWidth = rect.width;
  *wantedHeight = rect.height;
}

void LinuxCamera::SetPhoneAccepted(bool accepted) {
  if (accepted == accepted_) return;
  accepted_ = accepted;
  // Nothing of the phone stays on the camera once it is gone; a new phone
  // starts from the card too.
  picture_.showWaitingCard();
}

}  // namespace component
