// The camera as a PipeWire node: a Video/Source that camera programs,
// browsers and OBS find among the system's cameras. It offers I420, YUY2
// and BGR at the camera's size and 30 frames a second; the node drives
// itself with a timer, so a program that opens it gets the latest picture
// 30 times a second whether or not the phone sends.
//
// Thread: Start() and Stop() on one thread; the stream runs on PipeWire's
// own loop thread, reconnecting on a watcher thread of its own.
#ifndef COMPONENTS_VIDEO_LINUX_CAMERA_PIPEWIRE_CAMERA_H_
#define COMPONENTS_VIDEO_LINUX_CAMERA_PIPEWIRE_CAMERA_H_

#include <cstdint>
#include <memory>
#include <string>

#include "components/video/linux_camera/latest_picture.h"

namespace component {

constexpr char kPipeWireNodeName[] = "lumora_camera";
constexpr char kPipeWireNodeDescription[] = "Lumora ZuvIridar Camera";
constexpr int kPipeWireFramesPerSecond = 30;

class PipeWireCamera {
 public:
  PipeWireCamera(LatestPicture* picture, const std::string& nodeName = kPipeWireNodeName,
                 const std::string& description = kPipeWireNodeDescription);
  ~PipeWireCamera();
  PipeWireCamera(const PipeWireCamera&) = delete;
  PipeWireCamera& operator=(const PipeWireCamera&) = delete;

  // Connects to the PipeWire daemon and publishes the node. False, with one
  // log line saying why, when no daemon answers; either way a watcher
  // thread publishes the node once a daemon answers, and again whenever the
  // daemon went away and came back (a session whose services start after
  // us, a restart). Stop() ends the watcher and withdraws the node.
  bool Start();
  void Stop();
  // Started, and waiting for a daemon to publish to.
  bool waiting() const;

  // Frames handed to consumers so far (any thread).
  uint64_t framesSent() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace component

#endif  // COMPONENTS_VIDEO_LINUX_CAMERA_PIPEWIRE_CAMERA_H_
