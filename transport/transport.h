// The server's single network endpoint: listens on a TCP port, turns every
// accepted connection into a MessageBearer, admits exactly one phone at a
// time as its client and tells a list of observers what happens. Each
// observer declares one message type and receives the client's messages of
// that type. A second phone is answered with farewell 1 after its handshake;
// messages of any connection other than the client are dropped.
//
// Connections that have not passed their handshake are held for at most
// kHandshakeTimeoutMs, and at most kMaxPendingConnections of them at once: a
// connection beyond that closes the oldest. Both are logged and counted.
//
// The slot cannot be held against the real phone: the owner tells the
// transport how the client stands (setClientStanding). A client that is
// still identifying after kIdentifyTimeoutMs is sent away, and a client that
// is neither accepted nor being decided on makes way for the next phone whose
// handshake passes. An accepted client, or one being decided on, keeps it.
//
// Thread: create, use and destroy on the thread that runs the sockets' loop;
// observers are called on that thread. Observers must not destroy the
// transport from inside a notification.
#ifndef TRANSPORT_TRANSPORT_H_
#define TRANSPORT_TRANSPORT_H_

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/message_loop.h"
#include "base/observer_list.h"
#include "transport/data_bearer.h"
#include "transport/message_bearer.h"

namespace transport {

class SocketDataBearer;

class Transport : public DataBearer::Delegate,
                  public MessageBearer::Delegate,
                  private base::MessageWindow::Handler {
 public:
  // The defaults do nothing; the transport does not own its observers.
  class Observer {
   public:
    virtual ~Observer() = default;
    // The one message type this observer receives (0: none).
    virtual uint32_t messageType() const { return 0; }
    virtual void onTransportDidStartListening(Transport* transport) {}
    virtual void onTransportDidStopListening(Transport* transport) {}
    // A phone's handshake passed and it is now the client.
    virtual void onClientDidConnect(Transport* transport) {}
    virtual void onClientDidDisconnect(Transport* transport) {}
    // A message of the client whose type equals messageType(); `payload` is
    // borrowed for the call.
    virtual void onMessage(Transport* transport, uint32_t type, const std::vector<uint8_t>& payload) {}
  };

  static constexpr const char16_t* kWindowClass = u"com.quillonlabs.transport.Transport";

  // A connection must pass its handshake this soon after it was accepted.
  static constexpr int64_t kHandshakeTimeoutMs = 10000;
  // At most this many connections wait for their handshake at once.
  static constexpr size_t kMaxPendingConnections = 32;
  // How often overdue handshakes are looked for while any is pending.
  static constexpr uint32_t kHandshakeCheckIntervalMs = 1000;

  // The client must have identified itself this soon after its handshake.
  static constexpr int64_t kIdentifyTimeoutMs = 10000;

  // How the admitted client stands with its owner.
  enum class ClientStanding {
    kIdentifying,  // admitted, no authorization data yet
    kDeciding,     // a decision about it is pending (prompt open)
    kAccepted,
    kRefused,      // rejected, or left without an answer
  };

  // What the connection rules have done since the transport was created.
  struct Counters {
    uint64_t handshakeTimeouts = 0;  // closed: no handshake within the time-out
    uint64_t pendingEvictions = 0;   // closed: too many waiting for a handshake
    uint64_t identifyTimeouts = 0;   // sent away: no authorization data in time
    uint64_t clientsDisplaced = 0;   // sent away: made way for a new phone
  };

  Transport();
  // Closes every connection and the listener without notifying anybody.
  // A farewell still queued is handed to the system if it takes it at once.
  ~Transport() override;
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  void setApplicationId(uint32_t id) { applicationId_ = id; }
  // "2.2.0.0": split at the dots into the four version numbers of the
  // handshake (missing parts 0).
  void setVersion(const std::string& text) { version_ = text; }
  uint32_t applicationId() const { return applicationId_; }
  const std::string& version() const { return version_; }

  // An observer must be added at most once. Removing one is allowed at any
  // time, also from inside a notification.
  void addObserver(Observer* observer) { observers_.addObserver(observer); }
  void removeObserver(Observer* observer) { observers_.removeObserver(observer); }

  // Listens on `port` (0: the system picks one; see localPort()). Replaces
  // any earlier listener. On failure logs the reason and returns false;
  // observers are not told.
  bool startListening(uint16_t port);
  void stopListening();

  // Says farewell (reason 0) to the client and forgets it at once: observers
  // hear no onClientDidDisconnect for it, and the next phone may be admitted.
  void disconnectClient();

  // Starts as kIdentifying for every new client. The client is told
  // nothing; observers hear onClientDidDisconnect when it is sent away.
  void setClientStanding(ClientStanding standing);
  ClientStanding clientStanding() const { return standing_; }

  // The admitted phone's bearer (components send through its sendMessage),
  // or null.
  MessageBearer* clientBearer() const { return client_; }
  // The client's numeric IPv4 address, empty without a client.
  std::string clientAddress() const;
  // The client's port, 65535 without a client.
  uint16_t clientPort() const;
  // Of the listening socket; empty / 0 when not listening.
  std::string localAddress() const;
  uint16_t localPort() const;

  // "DeviceModel", "SystemName", "SystemVersion" from the client's handshake
  // dictionary; empty when there is no client, no dictionary, no such key or
  // the value is not a string.
  std::string deviceModel() const;
  std::string systemName() const;
  std::string systemVersion() const;

  // Connections accepted and not yet gone (the client included).
  size_t connectionCount() const { return bearers_.size(); }
  // Of those, the ones still waiting for their handshake.
  size_t pendingCount() const { return pending_.size(); }
  const Counters& counters() const { return counters_; }

  // Closes every connection whose handshake is overdue, and sends away a
  // client that has not identified itself in time. Runs by itself every
  // kHandshakeCheckIntervalMs while either deadline runs.
  void closeOverdueHandshakes();
  // The monotonic clock (milliseconds) the handshake deadlines are measured
  // with; tests substitute their own before connections arrive.
  void setClockForTesting(std::function<int64_t()> nowMs) { clock_ = std::move(nowMs); }

 private:
  // DataBearer::Delegate (the listener)
  void onBearerDidStartListening(DataBearer* bearer) override;
  void onBearerDidStopListening(DataBearer* bearer) override;
  void onBearerDidAcceptNewBearer(DataBearer* bearer, DataBearer* newBearer) override;

  // MessageBearer::Delegate
  void onMessageBearerDidConnect(MessageBearer* bearer) override;
  void onMessageBearerWillDisconnect(MessageBearer* bearer, const Error* error) override;
  void onMessageBearerDidDisconnect(MessageBearer* bearer) override;
  void onMessageBearerDidReceiveMessage(MessageBearer* bearer, uint32_t type,
                                        const std::vector<uint8_t>& payload) override;

  // Bearers are deleted from a message of their own, once the report that
  // ended them has returned: the socket delivering it is still on the stack.
  void deleteSoon(std::unique_ptr<MessageBearer> bearer);
  void deleteSoon(std::unique_ptr<SocketDataBearer> listener);
  void onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) override;
  std::string clientString(const char* key) const;
  // Takes a bearer that has not passed its handshake out of the lists and
  // closes it; nobody is told.
  void closePending(MessageBearer* bearer, const char* reason);
  void forgetPending(MessageBearer* bearer);
  // Farewell 0 to the client, then observers hear it is gone.
  void sendClientAway(const char* reason);
  void startCheckTimer();

  uint32_t applicationId_ = 0;
  std::string version_;
  std::unique_ptr<SocketDataBearer> listening_;
  std::vector<std::unique_ptr<MessageBearer>> bearers_;
  MessageBearer* client_ = nullptr;
  base::ObserverList<Observer> observers_;

  std::unique_ptr<base::MessageWindow> window_;
  std::vector<std::unique_ptr<MessageBearer>> doomedBearers_;
  std::vector<std::unique_ptr<SocketDataBearer>> doomedListeners_;
  bool cleanupPosted_ = false;

  struct Pending {
    MessageBearer* bearer;
    int64_t deadlineMs;
  };
  // In the order accepted, which is also the order of their deadlines.
  std::deque<Pending> pending_;
  bool checkTimerRunning_ = false;
  ClientStanding standing_ = ClientStanding::kIdentifying;
  int64_t identifyDeadlineMs_ = 0;  // while the client is identifying
  std::function<int64_t()> clock_;
  Counters counters_;
};

}  // namespace transport

#endif  // TRANSPORT_TRANSPORT_H_
