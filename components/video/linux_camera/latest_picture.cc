#include "components/video/linux_camera/latest_picture.h"

#include "components/video/linux_camera/camera_picture.h"

namespace component {

LatestPicture::LatestPicture(int32_t width, int32_t height)
    : width_(width), height_(height), latest_(static_cast<size_t>(width) * height * 3), spare_(latest_.size()) {
  drawWaitingCard(width_, height_, latest_.data());
}

bool LatestPicture::update(const std::function<bool(uint8_t* bgr)>& draw) {
  if (!draw(spare_.data())) return false;
  std::lock_guard<std::mutex> lock(mu_);
  latest_.swap(spare_);
  ++serial_;
  timestampUs_ = pendingTimestampUs_;
  pendingTimestampUs_ = 0;
  return true;
}

void LatestPicture::showWaitingCard() {
  update([this](uint8_t* bgr) {
    drawWaitingCard(width_, height_, bgr);
    return true;
  });
}

void LatestPicture::read(
    const std::function<void(const uint8_t* bgr, uint64_t serial, int64_t timestampUs)>& use) const {
  std::lock_guard<std::mutex> lock(mu_);
  use(latest_.data(), serial_, timestampUs_);
}

}  // namespace component
