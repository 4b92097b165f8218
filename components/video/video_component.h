// VideoComponent (id 13001): answers the phone's camera announcement with
// the formats the PC takes, receives its JPEG frames, has them decoded,
// turned upright and (when asked) mirrored, and hands each finished frame
// to its observers: the camera output, the preview, the snapshot and the
// recorder. Frames of a phone that has not been accepted are dropped by the
// session gate; negotiation goes on regardless.
//
// Thread: the user-interface thread that runs the transport; observers are
// called on it and must not block.
#ifndef COMPONENTS_VIDEO_VIDEO_COMPONENT_H_
#define COMPONENTS_VIDEO_VIDEO_COMPONENT_H_

#include <cstdint>
#include <memory>

#include "base/observer_list.h"
#include "components/transport_observer_impl.h"
#include "components/video/video_frame.h"

namespace component {

class SessionGate;

class VideoComponent : public TransportObserverImpl {
 public:
  static constexpr int32_t kMessageSourceInfo = 4;
  static constexpr int32_t kMessageVideoFrame = 15;
  static constexpr int32_t kMessageCapabilities = 23;

  class Observer {
   public:
    virtual ~Observer() = default;
    // `frame` is lent for the call: 24-bit BGR, upright.
    virtual void OnVideoFrame(VideoComponent* component, const VideoFrame& frame) {}
  };

  // `gate` (not owned) decides whether frames reach the observers.
  VideoComponent(transport::Transport* transport, uint32_t componentId, SessionGate* gate);
  ~VideoComponent() override;

  void AddObserver(Observer* observer);
  void RemoveObserver(Observer* observer);
  void SetMirrorImage(bool mirror);

  // (Declared by the video work: the message handlers, decoder and
  // converters.)
};

}  // namespace component

#endif  // COMPONENTS_VIDEO_VIDEO_COMPONENT_H_
