// The phone's side of one connection to the PC, as the companion camera app
// speaks it: connect, send the phone's handshake, read the PC's handshake and
// farewell, and exchange component messages in frames numbered from 0.
// Component simulations attach as observers and send through sendMessage().
//
// Thread: everything on the thread that runs the message loop.
#ifndef TOOLS_PHONESIM_PHONE_CONNECTION_H_
#define TOOLS_PHONESIM_PHONE_CONNECTION_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/observer_list.h"
#include "transport/data_bearer.h"
#include "transport/handshake.h"
#include "transport/message_frame.h"

namespace transport {
class SocketDataBearer;
}

namespace phonesim {

// Who the phone says it is.
struct PhoneIdentity {
  uint32_t applicationId = 12000;
  transport::VersionParts version{2, 0, 0, 0};
  uint32_t pin = 0;
  std::string deviceModel = "iPhone14,2";
  std::string systemName = "iOS";
  std::string systemVersion = "17.0";
  // Phones from version 2.0 on describe themselves in a dictionary.
  bool sendDictionary = true;
};

class PhoneConnection : private transport::DataBearer::Delegate {
 public:
  class Observer {
   public:
    virtual ~Observer() = default;
    virtual void onPhoneConnected(PhoneConnection* phone) {}
    virtual void onServerHandshake(PhoneConnection* phone, const transport::ServerHandshake& handshake,
                                   uint32_t sequence) {}
    virtual void onFarewell(PhoneConnection* phone, uint32_t reason, uint32_t sequence) {}
    // Every other frame (component messages).
    virtual void onMessage(PhoneConnection* phone, const transport::Frame& frame) {}
    // `error` is null for a close the phone asked for.
    virtual void onPhoneDisconnected(PhoneConnection* phone, const transport::Error* error) {}
  };

  PhoneConnection();
  ~PhoneConnection() override;
  PhoneConnection(const PhoneConnection&) = delete;
  PhoneConnection& operator=(const PhoneConnection&) = delete;

  void addObserver(Observer* observer) { observers_.addObserver(observer); }
  void removeObserver(Observer* observer) { observers_.removeObserver(observer); }

  // Starts connecting; observers hear onPhoneConnected or onPhoneDisconnected.
  bool connect(const std::string& host, uint16_t port, int32_t timeoutMs, std::string* error);
  bool sendHandshake(const PhoneIdentity& identity);
  // Frames `payload` with the phone's next sequence number.
  bool sendMessage(uint32_t type, const std::vector<uint8_t>& payload);
  // Bytes exactly as given (garbage, hand-made frames).
  void sendRaw(std::vector<uint8_t> bytes);
  // A stalled network: from hold() on, everything sent waits here, and
  // release() hands it to the socket in one write (a burst). The connection
  // stays open meanwhile. release() returns how many bytes went.
  void hold() { holding_ = true; }
  size_t release();
  bool holding() const { return holding_; }
  // Closes once everything sent so far (held bytes too) has gone out.
  void disconnect();
  // Closes at once, dropping whatever is still queued.
  void abort();

  bool isConnected() const { return connected_ && !closed_; }
  bool isClosed() const { return closed_; }
  // The PC's handshake, once it came.
  const transport::ServerHandshake* serverHandshake() const { return serverHandshake_.get(); }
  bool farewellReceived() const { return farewellReceived_; }
  uint32_t farewellReason() const { return farewellReason_; }
  uint32_t framesSent() const { return encoder_.sequence(); }
  uint32_t framesReceived() const { return framesReceived_; }
  uint16_t localPort() const;

 private:
  void onBearerDidConnect(transport::DataBearer* bearer) override;
  void onBearerWillDisconnect(transport::DataBearer* bearer, const transport::Error* error) override;
  void onBearerDidDisconnect(transport::DataBearer* bearer) override;
  void onBearerDidReadData(transport::DataBearer* bearer, const std::vector<uint8_t>& bytes) override;
  void handleFrame(const transport::Frame& frame);
  bool write(std::vector<uint8_t> bytes);

  std::unique_ptr<transport::SocketDataBearer> bearer_;
  transport::FrameEncoder encoder_;
  transport::FrameDecoder decoder_;
  base::ObserverList<Observer> observers_;
  bool connected_ = false;
  bool closed_ = false;
  bool holding_ = false;
  std::vector<uint8_t> held_;
  std::unique_ptr<transport::Error> closeError_;
  std::unique_ptr<transport::ServerHandshake> serverHandshake_;
  bool farewellReceived_ = false;
  uint32_t farewellReason_ = 0;
  uint32_t framesReceived_ = 0;
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

// The phone's handshake dictionary ("DeviceModel", "SystemName",
// "SystemVersion").
std::unique_ptr<base::DictionaryValue> makePhoneInformation(const PhoneIdentity& identity);

}  // namespace phonesim

#endif  // TOOLS_PHONESIM_PHONE_CONNECTION_H_
