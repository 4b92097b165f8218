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
#include <vector>

#include "base/observer_list.h"
#include "base/values.h"
#include "components/answer_budget.h"
#include "components/transport_observer_impl.h"
#include "components/video/video_converter.h"
#include "components/video/video_frame.h"

namespace component {

class SessionGate;

class VideoComponent : public TransportObserverImpl {
 public:
  static constexpr int32_t kMessageSourceInfo = 4;
  static constexpr int32_t kMessageVideoFrame = 15;
  static constexpr int32_t kMessageCapabilities = 23;

  // Tags of the tagged-field form of a frame.
  static constexpr uint8_t kTagWidth = 1;
  static constexpr uint8_t kTagHeight = 2;
  static constexpr uint8_t kTagFormat = 3;
  static constexpr uint8_t kTagKeyFrame = 4;
  static constexpr uint8_t kTagData = 5;
  static constexpr uint8_t kTagFlags = 6;
  // ... and of the capabilities.
  static constexpr uint8_t kTagFormatId = 1;

  class Observer {
   public:
    virtual ~Observer() = default;
    // `frame` is lent for the call: 24-bit BGR, upright. It may be a
    // reduced decode of the phone's picture (see WantedPictureSize);
    // frame.pictureWidth() and pictureHeight() give the whole picture's size.
    virtual void OnVideoFrame(VideoComponent* component, const VideoFrame& frame) {}
    // Asked before each frame is decoded: how much of the phone's upright
    // picture of `width` x `height` this observer draws from. The frame it
    // gets is at least `*wantedWidth` x `*wantedHeight` (or the whole
    // picture). By default the whole picture; an observer that only fits
    // the picture into something small, or needs no pixels, asks for less
    // and the decoder can leave out detail nobody would see.
    virtual void WantedPictureSize(int32_t width, int32_t height, int32_t* wantedWidth, int32_t* wantedHeight) {
      *wantedWidth = width;
      *wantedHeight = height;
    }
  };

  // `gate` (not owned) decides whether frames reach the observers.
  VideoComponent(transport::Transport* transport, uint32_t componentId, SessionGate* gate);
  ~VideoComponent() override;

  void AddObserver(Observer* observer);
  void RemoveObserver(Observer* observer);
  void SetMirrorImage(bool mirror);
  bool mirrorImage() const { return mirror_; }

  // Whether the connected phone speaks the dictionary form (version 2.0 on).
  bool peerUsesDictionaries() const { return peerUsesDictionaries_; }
  // The phone's last camera description (null before the first).
  const base::DictionaryValue* sourceInfo() const { return sourceInfo_.get(); }

  // Runs a received frame through decoding, turning and mirroring into
  // `out` (not `in`), decoded only as finely as the observers want it;
  // false drops the frame. Public for the fuzzer and the benchmarks.
  bool ProcessFrame(const VideoFrame& in, VideoFrame* out);

  // The last frame the observers were given, decoded whole, upright and
  // mirrored as they saw it (the snapshot). False before the first frame.
  bool LastPicture(VideoFrame* out);

 protected:
  void onClientDidConnect(transport::Transport* transport) override;
  void onMessage(transport::Transport* transport, uint32_t type, const std::vector<uint8_t>& payload) override;

 private:
  void onSourceInfo(base::PickleIterator* iter);
  void onVideoFrame(base::PickleIterator* iter);
  void sendCapabilities();
  bool processFrame(const VideoFrame& in, bool whole, VideoFrame* out);

  base::ObserverList<Observer> observers_;
  SessionGate* gate_;
  std::unique_ptr<base::DictionaryValue> sourceInfo_;
  std::unique_ptr<JPEGVideoDecoder> decoder_;
  std::unique_ptr<VideoRotator> rotator_;
  bool mirror_ = false;
  bool peerUsesDictionaries_ = false;
  AnswerBudget capabilityAnswers_{"video capabilities"};
  // Reused from frame to frame so a steady stream allocates nothing.
  VideoFrame input_;
  VideoFrame decoded_;
  VideoFrame output_;
  // The phone's message behind the last frame shown, and the mirror setting
  // it was shown with.
  VideoFrame shown_;
  bool shownMirrored_ = false;
};

// The two forms of a frame message after its kind. Both leave the fields
// they could not read at their fresh values; `frame` should be fresh.
// The dictionary form fails when its dictionary cannot be read (the frame
// then stays fresh); the picture field after it is optional here.
bool readDictionaryFrame(base::PickleIterator* iter, VideoFrame* frame);
void readTaggedFrame(base::PickleIterator* iter, VideoFrame* frame);

}  // namespace component

#endif  // COMPONENTS_VIDEO_VIDEO_COMPONENT_H_
