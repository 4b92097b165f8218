#include "components/video/linux_camera/latest_picture.h"

#include "components/video/linux_camera/camera_picture.h"

namespace component {

namespace {

bool drawWaitingCardI420(int32_t width, int32_t height, uint8_t* i420) {
  std::vector<uint8_t> bgr(static_cast<size_t>(width) * height * 3);
  drawWaitingCard(width, height, bgr.data());
  PictureFitter fitter;
  return fitter.convert(bgr.data(), width, height, i420);
}

}  // namespace

LatestPicture::LatestPicture(int32_t width, int32_t height)
    : width_(width),
      height_(height),
      latest_(cameraFrameBytes(CameraFormat::kI420, width, height)),
      spare_(latest_.size()) {
  drawWaitingCardI420(width_, height_, latest_.data());
}

bool LatestPicture::update(const std::function<bool(uint8_t* i420)>& draw) {
  if (!draw(spare_.data())) return false;
  std::lock_guard<std::mutex> lock(mu_);
  latest_.swap(spare_);
  ++serial_;
  timestampUs_ = pendingTimestampUs_;
  pendingTimestampUs_ = 0;
  return true;
}

void LatestPicture::showWaitingCard() {
  update([this](uint8_t* i420) { return drawWaitingCardI420(width_, height_, i420); });
}

void LatestPicture::read(
    const std::function<void(const uint8_t* i420, uint64_t serial, int64_t timestampUs)>& use) const {
  std::lock_guard<std::mutex> lock(mu_);
  use(latest_.data(), serial_, timestampUs_);
}

}  // namespace component
