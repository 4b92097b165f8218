#include "components/video/linux_camera/v4l2_output.h"

#include <linux/videodev2.h>

#include <chrono>
#include <cstring>

#include "base/logging.h"

namespace component {

V4l2Output::V4l2Output(LatestPicture* picture, std::unique_ptr<V4l2Device> device, const std::string& devicePath)
    : picture_(picture), device_(std::move(device)), wanted_(devicePath) {}

V4l2Output::~V4l2Output() { Stop(); }

bool V4l2Output::openDevice(const std::string& path, bool quiet) {
  if (!device_->open(path)) {
    if (!quiet) LOG(WARNING) << "Linux camera: can't open " << path;
    return false;
  }
  v4l2_capability caps;
  std::memset(&caps, 0, sizeof(caps));
  const int error = device_->ioctl(VIDIOC_QUERYCAP, &caps);
  // The strings come from the driver: bounded here whatever it wrote.
  caps.driver[sizeof(caps.driver) - 1] = 0;
  caps.card[sizeof(caps.card) - 1] = 0;
  const uint32_t kinds = (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
  const bool loopback = error == 0 && std::strcmp(reinterpret_cast<const char*>(caps.driver), kV4l2LoopbackDriver) == 0;
  if (error != 0 || !(kinds & V4L2_CAP_VIDEO_OUTPUT) || (!loopback && wanted_.empty())) {
    if (!quiet) {
      LOG(WARNING) << "Linux camera: " << path << " is not a video output device"
                   << (error != 0 ? " (no answer to VIDIOC_QUERYCAP)" : "");
    }
    device_->close();
    return false;
  }
  LOG(INFO) << "Linux camera: writing to " << path << " (\"" << reinterpret_cast<const char*>(caps.card) << "\")";
  path_ = path;
  return true;
}

bool V4l2Output::setFormat() {
  const int32_t width = picture_->width(), height = picture_->height();
  v4l2_format format;
  std::memset(&format, 0, sizeof(format));
  format.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
  format.fmt.pix.width = static_cast<uint32_t>(width);
  format.fmt.pix.height = static_cast<uint32_t>(height);
  format.fmt.pix.pixelformat = V4L2_PIX_FMT_YUYV;
  format.fmt.pix.field = V4L2_FIELD_NONE;
  format.fmt.pix.bytesperline = static_cast<uint32_t>(cameraRowBytes(CameraFormat::kYUY2, width));
  format.fmt.pix.sizeimage = static_cast<uint32_t>(cameraFrameBytes(CameraFormat::kYUY2, width, height));
  format.fmt.pix.colorspace = V4L2_COLORSPACE_SMPTE170M;
  const int error = device_->ioctl(VIDIOC_S_FMT, &format);
  // The driver may answer with another size or format (a loopback device
  // already fixed by another writer): frames of ours would not fit it.
  if (error != 0 || format.fmt.pix.width != static_cast<uint32_t>(width) ||
      format.fmt.pix.height != static_cast<uint32_t>(height) || format.fmt.pix.pixelformat != V4L2_PIX_FMT_YUYV) {
    LOG(WARNING) << "Linux camera: " << path_ << " does not take YUYV at " << width << "x" << height
                 << (error != 0 ? " (VIDIOC_S_FMT failed: " + std::string(std::strerror(error)) + ")" : "");
    return false;
  }
  v4l2_streamparm parm;
  std::memset(&parm, 0, sizeof(parm));
  parm.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
  parm.parm.output.timeperframe.numerator = 1;
  parm.parm.output.timeperframe.denominator = kV4l2FramesPerSecond;
  device_->ioctl(VIDIOC_S_PARM, &parm);  // a hint; loopback devices take it, others may not
  frame_.resize(cameraFrameBytes(CameraFormat::kYUY2, width, height));
  return true;
}

bool V4l2Output::Start(bool thread) {
  bool opened = false;
  if (!wanted_.empty()) {
    opened = openDevice(wanted_, false);
  } else {
    for (const std::string& candidate : device_->candidates()) {
      if (openDevice(candidate, true)) {
        opened = true;
        break;
      }
    }
    if (!opened) LOG(INFO) << "Linux camera: no v4l2loopback device; load the module to get one";
  }
  if (!opened) return false;
  if (!setFormat()) {
    device_->close();
    return false;
  }
  if (thread) {
    stop_ = false;
    thread_ = std::thread([this] { run(); });
  }
  return true;
}

void V4l2Output::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (!path_.empty()) device_->close();
  path_.clear();
}

bool V4l2Output::WriteFrame() {
  bool formatted = false;
  picture_->read([&](const uint8_t* i420, uint64_t, int64_t) {
    formatted = formatter_.format(i420, picture_->width(), picture_->height(), CameraFormat::kYUY2, frame_.data());
  });
  if (!formatted) return false;
  const ssize_t written = device_->write(frame_.data(), frame_.size());
  if (written != static_cast<ssize_t>(frame_.size())) {
    // Said once: a device that refuses one frame refuses them all.
    if (!writeFailed_) LOG(WARNING) << "Linux camera: writing a frame to " << path_ << " failed";
    writeFailed_ = true;
    return false;
  }
  writeFailed_ = false;
  return true;
}

void V4l2Output::run() {
  using Clock = std::chrono::steady_clock;
  const auto period = std::chrono::microseconds(1000000 / kV4l2FramesPerSecond);
  auto next = Clock::now();
  while (!stop_) {
    WriteFrame();
    next += period;
    const auto now = Clock::now();
    // After a stall the clock starts again instead of catching up.
    if (next < now) next = now;
    std::this_thread::sleep_until(next);
  }
}

}  // namespace component
