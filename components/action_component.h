// ActionComponent (id 91001): the phone asks the PC to start or stop a
// recording or to take a snapshot (actions 1 to 3), and the PC tells the
// phone when it did (1 to 3) and how long the running recording is (4).
// The component performs nothing itself; the controller carries the
// actions out. Actions from a phone that has not been accepted are dropped
// by the session gate.
//
// Thread: the user-interface thread that runs the transport.
#ifndef COMPONENTS_ACTION_COMPONENT_H_
#define COMPONENTS_ACTION_COMPONENT_H_

#include <cstdint>

#include "base/observer_list.h"
#include "components/transport_observer_impl.h"

namespace component {

class SessionGate;

class ActionComponent : public TransportObserverImpl {
 public:
  static constexpr int32_t kActionStartRecording = 1;
  static constexpr int32_t kActionStopRecording = 2;
  static constexpr int32_t kActionSnapshot = 3;
  static constexpr int32_t kActionRecordingTime = 4;
  static constexpr uint8_t kTagRecordingTime = 1;

  class Observer {
   public:
    virtual ~Observer() = default;
    virtual void OnActionReceived(ActionComponent* component, int32_t action) {}
  };

  // `gate` (not owned) decides whether the phone's actions pass.
  ActionComponent(transport::Transport* transport, uint32_t componentId, SessionGate* gate);
  ~ActionComponent() override;

  void AddObserver(Observer* observer) { observers_.addObserver(observer); }
  void RemoveObserver(Observer* observer) { observers_.removeObserver(observer); }

  // Dropped silently when no phone is admitted.
  void SendAction(int32_t action);
  void SendRecordingTime(uint32_t milliseconds);

 protected:
  void onMessage(transport::Transport* transport, uint32_t type, const std::vector<uint8_t>& payload) override;

 private:
  base::ObserverList<Observer> observers_;
  SessionGate* gate_;
};

}  // namespace component

#endif  // COMPONENTS_ACTION_COMPONENT_H_
