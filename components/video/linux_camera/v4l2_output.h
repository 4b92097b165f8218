// The camera through v4l2loopback: when a loopback device exists (the one
// the `V4l2Device` setting names, or the first /dev/video* whose driver is
// v4l2 loopback), the latest picture is written to it as YUYV at the
// camera's size, 30 times a second, through the V4L2 output API.
//
// The device calls go through V4l2Device, so that the writer can be tested
// without the kernel module.
//
// Thread: Start() and Stop() on one thread; the writing on the writer's own.
#ifndef COMPONENTS_VIDEO_LINUX_CAMERA_V4L2_OUTPUT_H_
#define COMPONENTS_VIDEO_LINUX_CAMERA_V4L2_OUTPUT_H_

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "components/video/linux_camera/camera_picture.h"
#include "components/video/linux_camera/latest_picture.h"

namespace component {

// The device calls: open, ioctl, write, close of one device node.
class V4l2Device {
 public:
  virtual ~V4l2Device() = default;
  // The device nodes to look at when no device is named, in order.
  virtual std::vector<std::string> candidates() = 0;
  virtual bool open(const std::string& path) = 0;
  // 0, or the errno of the failure.
  virtual int ioctl(unsigned long request, void* argument) = 0;
  // Bytes written, or -1.
  virtual ssize_t write(const void* data, size_t bytes) = 0;
  virtual void close() = 0;

  // /dev/video0 ... through the kernel.
  static std::unique_ptr<V4l2Device> makeReal();
};

// The driver name a loopback device reports.
constexpr char kV4l2LoopbackDriver[] = "v4l2 loopback";
constexpr int kV4l2FramesPerSecond = 30;

class V4l2Output {
 public:
  // `devicePath` empty: the first loopback device found.
  V4l2Output(LatestPicture* picture, std::unique_ptr<V4l2Device> device, const std::string& devicePath);
  ~V4l2Output();
  V4l2Output(const V4l2Output&) = delete;
  V4l2Output& operator=(const V4l2Output&) = delete;

  // Finds and opens the device and sets its format; false, with one log
  // line saying why, when there is none to write to. With `thread` the
  // frames are written 30 times a second until Stop().
  bool Start(bool thread = true);
  void Stop();
  // Writes the latest picture once (the thread's step; tests call it).
  bool WriteFrame();

  const std::string& path() const { return path_; }

 private:
  bool openDevice(const std::string& path, bool quiet);
  bool setFormat();
  void run();

  LatestPicture* picture_;
  std::unique_ptr<V4l2Device> device_;
  const std::string wanted_;
  std::string path_;
  PictureFormatter formatter_;
  std::vector<uint8_t> frame_;
  bool writeFailed_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace component

#endif  // COMPONENTS_VIDEO_LINUX_CAMERA_V4L2_OUTPUT_H_
