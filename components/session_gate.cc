#include "components/session_gate.h"

#include "base/logging.h"

namespace component {
namespace {

const char* trafficName(SessionGate::Traffic traffic) {
  switch (traffic) {
    case SessionGate::kVideoFrames: return "video frames";
    case SessionGate::kAudioPackets: return "audio packets";
    case SessionGate::kActions: return "actions";
    default: return "messages";
  }
}

}  // namespace

SessionGate::SessionGate(transport::Transport* transport) : transport_(transport) {
  transport_->addObserver(this);
}

SessionGate::~SessionGate() { transport_->removeObserver(this); }

void SessionGate::open() { open_.store(true, std::memory_order_release); }

void SessionGate::close() { open_.store(false, std::memory_order_release); }

bool SessionGate::admit(Traffic traffic) {
  if (isOpen()) return true;
  ++dropped_[traffic];
  if (!logged_[traffic]) {
    logged_[traffic] = true;
    LOG(WARNING) << "Dropping " << trafficName(traffic)
                 << " from a phone that has not been accepted";
  }
  return false;
}

void SessionGate::reset() {
  close();
  for (bool& logged : logged_) logged = false;
}

void SessionGate::onClientDidConnect(transport::Transport*) { reset(); }

void SessionGate::onClientDidDisconnect(transport::Transport*) { reset(); }

}  // namespace component
