// SessionGate: nothing a phone sends reaches a sink before the phone has
// been accepted. The controller opens the gate when the phone is accepted
// and closes it when the phone is rejected; the gate closes itself whenever
// a phone connects or disconnects. While it is closed the components still
// negotiate with the phone (source info, capabilities, audio profiles) but
// drop video frames, audio packets and actions, logging each kind once per
// connection.
//
// Thread: open(), close() and admit() on the user-interface thread;
// isOpen() from any thread (the audio device threads ask it).
#ifndef COMPONENTS_SESSION_GATE_H_
#define COMPONENTS_SESSION_GATE_H_

#include <atomic>
#include <cstdint>

#include "transport/transport.h"

namespace component {

class SessionGate : protected transport::Transport::Observer {
 public:
  enum Traffic { kVideoFrames, kAudioPackets, kActions, kTrafficKinds };

  // Registers with `transport` (not owned; it must outlive the gate). Make
  // the gate before the components so it closes before they hear of a
  // connection or a disconnection.
  explicit SessionGate(transport::Transport* transport);
  ~SessionGate() override;
  SessionGate(const SessionGate&) = delete;
  SessionGate& operator=(const SessionGate&) = delete;

  void open();
  void close();
  bool isOpen() const { return open_.load(std::memory_order_acquire); }

  // True when `traffic` may pass. When the gate is closed, logs the first
  // drop of each kind per connection and counts every drop.
  bool admit(Traffic traffic);
  // Drops of `traffic` since the gate was made.
  uint64_t dropped(Traffic traffic) const { return dropped_[traffic]; }

 protected:
  // Transport::Observer
  void onClientDidConnect(transport::Transport* transport) override;
  void onClientDidDisconnect(transport::Transport* transport) override;

 private:
  void reset();

  transport::Transport* transport_;
  std::atomic<bool> open_{false};
  bool logged_[kTrafficKinds] = {};
  uint64_t dropped_[kTrafficKinds] = {};
};

}  // namespace component

#endif  // COMPONENTS_SESSION_GATE_H_
