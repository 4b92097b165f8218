// A camera that other programs open, fed with the video component's frames
// (the Linux camera; the Windows camera reads the shared-memory area and
// needs none). Besides the frames it hears whether a phone is accepted: the
// camera shows nothing of a phone that is not.
//
// Thread: the thread that delivers the video component's frames.
#ifndef COMPONENTS_VIDEO_CAMERA_SINK_H_
#define COMPONENTS_VIDEO_CAMERA_SINK_H_

#include "components/video/video_component.h"

namespace component {

class CameraSink : public VideoComponent::Observer {
 public:
  ~CameraSink() override = default;
  // An accepted phone streams (true), or none does any more (false): the
  // camera goes back to its waiting picture.
  virtual void SetPhoneAccepted(bool accepted) = 0;
};

}  // namespace component

#endif  // COMPONENTS_VIDEO_CAMERA_SINK_H_
