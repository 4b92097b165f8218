// The camera's latest picture at the camera's size, in I420: written by the
// thread that receives the phone's frames, read by the outputs' threads at
// their own pace (each reads the same picture again until a new one comes).
//
// Thread: any; one short lock per write and per read.
#ifndef COMPONENTS_VIDEO_LINUX_CAMERA_LATEST_PICTURE_H_
#define COMPONENTS_VIDEO_LINUX_CAMERA_LATEST_PICTURE_H_

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace component {

class LatestPicture {
 public:
  // Starts with the waiting card.
  LatestPicture(int32_t width, int32_t height);

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }

  // Fills a spare buffer outside the lock, then makes it the latest.
  // `draw` gets cameraFrameBytes(kI420, width, height) bytes; false from it
  // keeps the old one.
  bool update(const std::function<bool(uint8_t* i420)>& draw);
  // Back to the waiting card.
  void showWaitingCard();
  // Calls `use` with the latest picture, under the lock (keep it short).
  // `serial` grows with every new picture.
  void read(const std::function<void(const uint8_t* i420, uint64_t serial, int64_t timestampUs)>& use) const;
  // The frame time of the phone picture shown (0 for the card), for the
  // latency figures.
  void setTimestamp(int64_t timestampUs) { pendingTimestampUs_ = timestampUs; }

 private:
  const int32_t width_;
  const int32_t height_;
  mutable std::mutex mu_;
  std::vector<uint8_t> latest_;   // guarded by mu_
  uint64_t serial_ = 0;           // guarded by mu_
  int64_t timestampUs_ = 0;       // guarded by mu_
  // The writer's own.
  std::vector<uint8_t> spare_;
  int64_t pendingTimestampUs_ = 0;
};

}  // namespace component

#endif  // COMPONENTS_VIDEO_LINUX_CAMERA_LATEST_PICTURE_H_
