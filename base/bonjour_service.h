// BonjourService makes the server findable on the local network: it
// registers a DNS-SD service instance (type "_lumora_webcam._tcp" in the
// domain "local" for the controller) on the port the transport listens on,
// through the system's DNS-SD client library (base/dns_sd.h). The library's
// replies arrive on a socket that a hidden window watches, so they are
// handled on the thread that published.
//
// Thread: the thread that publishes (the user-interface thread); the
// delegate is called on it.
#ifndef BASE_BONJOUR_SERVICE_H_
#define BASE_BONJOUR_SERVICE_H_

#include <cstdint>
#include <memory>
#include <string>

#include "base/dns_sd.h"
#include "base/message_loop.h"
#include "base/string_util.h"

class BonjourService : private base::MessageWindow::Handler {
 public:
  class Delegate {
   public:
    // The registration request was accepted and its replies are watched.
    virtual void onServicePublishing(BonjourService* service) {}
    // The name is registered and active.
    virtual void onServicePublished(BonjourService* service) {}
    virtual void onServicePublishFailed(BonjourService* service) {}
    // Kept for the resolving side, which this program does not use.
    virtual void onServiceResolved(BonjourService* service) {}

   protected:
    ~Delegate() = default;
  };

  // A port of 65535 marks an object made for resolving, which may not publish.
  static constexpr uint16_t kResolvingPort = 65535;
  static constexpr char16_t kWindowClass[] = u"com.quillonlabs.bonjour_window";

  // For publishing `name` (empty: the computer's name, chosen by the DNS-SD
  // service) of `type` in `domain` (empty: the default) on `port`.
  // `library` (not owned) defaults to the system's.
  BonjourService(const base::string16& domain, const base::string16& type,
                 const base::string16& name, uint16_t port,
                 base::dnssd::Library* library = base::dnssd::systemLibrary());
  virtual ~BonjourService();
  BonjourService(const BonjourService&) = delete;
  BonjourService& operator=(const BonjourService&) = delete;

  void setDelegate(Delegate* delegate) { delegate_ = delegate; }

  // Registers; the outcome reaches the delegate (a failure to register may
  // be reported before publish() returns).
  void publish();
  // Stops watching and withdraws the registration. Publishing again is
  // allowed.
  void stop();

  // The instance name: the one given until the registration is confirmed,
  // then the one the DNS-SD service registered.
  const base::string16& name() const { return name_; }
  const base::string16& type() const { return type_; }
  const base::string16& domain() const { return domain_; }
  uint16_t port() const { return port_; }
  bool registered() const { return ref_ != nullptr; }

  // The library's reply to a registration (public for the library's
  // trampoline; not for other callers).
  static void onRegisterReply(base::dnssd::ServiceRef ref, uint32_t flags, int32_t error,
                              const char* name, const char* type, const char* domain,
                              void* context);

 private:
  // The socket's events: the library has replies for us.
  static constexpr uint32_t kMsgReplies = base::kMsgUser;

  void onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) override;
  void handleReply(uint32_t flags, int32_t error, const char* name);
  void publishFailed();

  base::dnssd::Library* library_;
  Delegate* delegate_ = nullptr;
  base::string16 domain_;
  base::string16 type_;
  base::string16 name_;
  uint16_t port_;
  std::string txt_;  // empty in this program
  std::unique_ptr<base::MessageWindow> window_;
  base::SocketHandle socket_ = base::kInvalidSocket;
  base::dnssd::ServiceRef ref_ = nullptr;
};

#endif  // BASE_BONJOUR_SERVICE_H_
