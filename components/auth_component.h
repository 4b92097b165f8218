// AuthComponent (id 14): the phone identifies itself with its unique id and
// name; the PC answers accepted (1) or rejected (0). The component only
// turns messages into observer calls and answers into messages; the
// controller decides, from the access list or by asking the user.
//
// Thread: the user-interface thread that runs the transport.
#ifndef COMPONENTS_AUTH_COMPONENT_H_
#define COMPONENTS_AUTH_COMPONENT_H_

#include <string>

#include "base/observer_list.h"
#include "components/transport_observer_impl.h"

namespace component {

class AuthComponent : public TransportObserverImpl {
 public:
  static constexpr int32_t kMessageAuthData = 1;
  static constexpr int32_t kMessageAuthResult = 2;
  static constexpr uint8_t kTagUniqueId = 1;
  static constexpr uint8_t kTagName = 2;
  static constexpr uint8_t kTagResult = 1;

  // What the phone said about itself (UTF-8).
  struct Record {
    std::string name;
    std::string uniqueId;
  };

  class Observer {
   public:
    virtual ~Observer() = default;
    virtual void OnAuthDataReceived(AuthComponent* component, const Record& record) {}
    virtual void OnAccepted(AuthComponent* component) {}
    virtual void OnRejected(AuthComponent* component) {}
  };

  AuthComponent(transport::Transport* transport, uint32_t componentId);
  ~AuthComponent() override;

  void AddObserver(Observer* observer) { observers_.addObserver(observer); }
  void RemoveObserver(Observer* observer) { observers_.removeObserver(observer); }

  // Tell the phone 1 (Accept) or 0 (Reject), then the observers.
  void Accept();
  void Reject();

  // Of the last authorization data received.
  const std::string& Name() const { return record_.name; }
  const std::string& UniqueId() const { return record_.uniqueId; }

 protected:
  void onMessage(transport::Transport* transport, uint32_t type, const std::vector<uint8_t>& payload) override;

 private:
  void receiveAuthData(base::PickleIterator* iter);
  void sendResult(int32_t result);

  base::ObserverList<Observer> observers_;
  Record record_;
};

}  // namespace component

#endif  // COMPONENTS_AUTH_COMPONENT_H_
