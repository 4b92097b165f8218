// AudioComponent (id 56001): both audio directions of a session. Phone to
// PC: packets are decoded on a worker thread to 48 kHz and laid into the
// play-out ring that the sound device link reads every 10 ms. PC to phone:
// the link writes captured audio into the capture ring; a worker encodes
// 20 ms blocks and the user-interface thread sends them. Copies of both
// directions (48 kHz, 16-bit mono) go to the observers (the recorder).
// Before the phone is accepted the component negotiates, but nothing is
// played, captured or sent (the session gate).
//
// Thread: messages and observer calls on the user-interface thread; the
// AudioDriver::Delegate calls on the link's device threads.
#ifndef COMPONENTS_AUDIO_AUDIO_COMPONENT_H_
#define COMPONENTS_AUDIO_AUDIO_COMPONENT_H_

#include <cstdint>

#include "base/observer_list.h"
#include "components/audio/audio_packet_data.h"
#include "components/transport_observer_impl.h"

namespace component {

class SessionGate;

class AudioComponent : public TransportObserverImpl {
 public:
  static constexpr int32_t kMessageAudioPacket = 1;
  static constexpr int32_t kMessageCapabilities = 2;
  static constexpr int32_t kMessageSourceInfo = 3;
  static constexpr int32_t kMessageSelectProfile = 4;

  class Observer {
   public:
    virtual ~Observer() = default;
    // `packet` is lent for the call: format 'lpcm', 48 kHz mono 16-bit
    // samples, origin kAudioOriginPC or kAudioOriginPhone, timestamp in
    // 48 kHz samples.
    virtual void OnAudioPacket(AudioComponent* component, const AudioPacketData& packet) {}
  };

  // `gate` (not owned) decides whether audio flows.
  AudioComponent(transport::Transport* transport, uint32_t componentId, SessionGate* gate);
  ~AudioComponent() override;

  void AddObserver(Observer* observer);
  void RemoveObserver(Observer* observer);

  // (Declared by the audio work: the message handlers, threads, rings and
  // the AudioDriver::Delegate operations.)
};

}  // namespace component

#endif  // COMPONENTS_AUDIO_AUDIO_COMPONENT_H_
