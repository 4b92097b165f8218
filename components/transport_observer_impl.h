// TransportObserverImpl: what every session component has in common. It ties
// the component to the Transport under its component id (which is also the
// message type it owns), so the transport hands it exactly the admitted
// phone's messages of that type, and it sends the component's own messages
// back through the admitted phone's bearer.
//
// Thread: the user-interface thread that runs the transport.
#ifndef COMPONENTS_TRANSPORT_OBSERVER_IMPL_H_
#define COMPONENTS_TRANSPORT_OBSERVER_IMPL_H_

#include <cstdint>

#include "base/pickle.h"
#include "transport/transport.h"

namespace component {

class TransportObserverImpl : protected transport::Transport::Observer {
 public:
  // Registers with `transport` (not owned; it must outlive the component).
  TransportObserverImpl(transport::Transport* transport, uint32_t componentId);
  // Unregisters: from here on the component hears nothing.
  ~TransportObserverImpl() override;
  TransportObserverImpl(const TransportObserverImpl&) = delete;
  TransportObserverImpl& operator=(const TransportObserverImpl&) = delete;

  uint32_t componentId() const { return componentId_; }
  transport::Transport* transport() const { return transport_; }

 protected:
  // Transport::Observer
  uint32_t messageType() const override { return componentId_; }

  // Sends `message` (a component message body) to the admitted phone under
  // the component id. Without an admitted phone it is dropped silently and
  // the result is false.
  bool sendMessage(const base::Pickle& message);

 private:
  transport::Transport* transport_;
  const uint32_t componentId_;
};

}  // namespace component

#endif  // COMPONENTS_TRANSPORT_OBSERVER_IMPL_H_
