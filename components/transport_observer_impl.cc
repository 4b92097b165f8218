#include "components/transport_observer_impl.h"

#include "transport/message_bearer.h"

namespace component {

TransportObserverImpl::TransportObserverImpl(transport::Transport* transport, uint32_t componentId)
    : transport_(transport), componentId_(componentId) {
  transport_->addObserver(this);
}

TransportObserverImpl::~TransportObserverImpl() { transport_->removeObserver(this); }

bool TransportObserverImpl::sendMessage(const base::Pickle& message) {
  transport::MessageBearer* bearer = transport_->clientBearer();
  if (!bearer) return false;
  return bearer->sendMessage(componentId_, message.data(), message.size());
}

}  // namespace component
