#include "components/auth_component.h"

#include "components/component_message.h"

#include "base/peer_text.h"

namespace component {

AuthComponent::AuthComponent(transport::Transport* transport, uint32_t componentId)
    : TransportObserverImpl(transport, componentId) {}

AuthComponent::~AuthComponent() = default;

void AuthComponent::Accept() {
  sendResult(1);
  FOR_EACH_OBSERVER(Observer, observers_, OnAccepted(this));
}

void AuthComponent::Reject() {
  sendResult(0);
  FOR_EACH_OBSERVER(Observer, observers_, OnRejected(this));
}

void AuthComponent::onMessage(transport::Transport*, uint32_t, const std::vector<uint8_t>& payload) {
  ComponentMessageReader message(payload);
  if (message.kind() == kMessageAuthData) receiveAuthData(message.iterator());
}

void AuthComponent::receiveAuthData(base::PickleIterator* iter) {
  record_ = Record();
  int counted = 0;
  TaggedFieldReader reader(iter);
  TaggedField field;
  // A field that cannot be read or skipped ends the reading; so does one of
  // our tags carrying the wrong kind. Other tags are skipped by their kind,
  // which next() has already done.
  while (reader.next(&field) == TaggedFieldReader::kField) {
    if (field.tag != kTagUniqueId && field.tag != kTagName) continue;
    if (field.kind != kTaggedBytes) break;
    const std::string text(reinterpret_cast<const char*>(field.data), field.length);
    if (field.tag == kTagUniqueId) record_.uniqueId = base::cleanPeerText(text, "unique id");
    else record_.name = base::cleanPeerText(text, "device name");
    ++counted;
  }
  // The phone gets no answer to data it could not fully describe itself in.
  if (counted < 2) return;
  const Record record = record_;
  FOR_EACH_OBSERVER(Observer, observers_, OnAuthDataReceived(this, record));
}

void AuthComponent::sendResult(int32_t result) {
  base::Pickle message = makeComponentMessage(kMessageAuthResult);
  writeTaggedInteger(&message, kTagResult, result);
  sendMessage(message);
}

}  // namespace component
