#include "components/action_component.h"

#include "components/component_message.h"
#include "components/session_gate.h"

namespace component {

ActionComponent::ActionComponent(transport::Transport* transport, uint32_t componentId, SessionGate* gate)
    : TransportObserverImpl(transport, componentId), gate_(gate) {}

ActionComponent::~ActionComponent() = default;

void ActionComponent::SendAction(int32_t action) { sendMessage(makeComponentMessage(action)); }

void ActionComponent::SendRecordingTime(uint32_t milliseconds) {
  base::Pickle message = makeComponentMessage(kActionRecordingTime);
  writeTaggedInteger(&message, kTagRecordingTime, static_cast<int32_t>(milliseconds));
  sendMessage(message);
}

void ActionComponent::onMessage(transport::Transport*, uint32_t, const std::vector<uint8_t>& payload) {
  ComponentMessageReader message(payload);
  const int32_t action = message.kind();
  if (action != kActionStartRecording && action != kActionStopRecording && action != kActionSnapshot) return;
  if (!gate_->admit(SessionGate::kActions)) return;
  FOR_EACH_OBSERVER(Observer, observers_, OnActionReceived(this, action));
}

}  // namespace component
