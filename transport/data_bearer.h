// The transport's abstract byte stream: something that can listen, accept,
// carry bytes both ways and report what happens to a DataBearer::Delegate.
// SocketDataBearer is the implementation on a TCP socket.
#ifndef TRANSPORT_DATA_BEARER_H_
#define TRANSPORT_DATA_BEARER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/error.h"

namespace transport {

class DataBearer {
 public:
  // Called synchronously on the bearer's thread; the bearer does not own its
  // delegate. The defaults do nothing.
  class Delegate {
   public:
    virtual ~Delegate() = default;
    virtual void onBearerDidStartListening(DataBearer* bearer) {}
    virtual void onBearerDidStopListening(DataBearer* bearer) {}
    // Ownership of `newBearer` passes to the delegate.
    virtual void onBearerDidAcceptNewBearer(DataBearer* bearer, DataBearer* newBearer) {}
    virtual void onBearerDidConnect(DataBearer* bearer) {}
    // `error` may be null; borrowed for the call.
    virtual void onBearerWillDisconnect(DataBearer* bearer, const Error* error) {}
    // The owner may delete the bearer once this report has returned.
    virtual void onBearerDidDisconnect(DataBearer* bearer) {}
    // `bytes` are borrowed for the call.
    virtual void onBearerDidReadData(DataBearer* bearer, const std::vector<uint8_t>& bytes) {}
  };

  virtual ~DataBearer() = default;

  virtual void setDelegate(Delegate* delegate) = 0;
  // Listens on a port chosen by the system.
  virtual bool startListening() = 0;
  virtual bool stopListening() = 0;
  virtual bool disconnect() = 0;
  // Closes once everything written so far has been sent.
  virtual bool disconnectAfterWriting() = 0;
  virtual bool write(std::vector<uint8_t> bytes, int32_t timeoutMs) = 0;
  // Keeps one read outstanding from now on.
  virtual void startReading() = 0;
  virtual std::string localAddress() const = 0;
  virtual uint16_t localPort() const = 0;
  virtual std::string peerAddress() const = 0;
  virtual uint16_t peerPort() const = 0;
};

}  // namespace transport

#endif  // TRANSPORT_DATA_BEARER_H_
