// The DNS-SD library as both builds load it: the four entry points, each
// looked up by name on its first use, and the registrations whose replies
// pass through our own reply function (which hands them to the caller's).
// The _win and _posix files supply opening the library, finding a symbol
// and the library's calling convention (`Api`); the Linux one also bends
// avahi's differences back through the hooks below.
//
// Thread: the thread that registers (see dns_sd.h).
#ifndef BASE_DNS_SD_LOADER_H_
#define BASE_DNS_SD_LOADER_H_

#include <map>
#include <memory>
#include <string>

#include "base/dns_sd.h"

namespace base {
namespace dnssd {

// `Api` names the entry points' types (RegisterFn, SockFdFn,
// ProcessResultFn, DeallocateFn), the record kept per registration
// (Registration, with `reply` and `context`) and the reply function handed
// to the library (Api::nativeReply).
template <typename Api>
class LibraryLoader : public Library {
 public:
  using Registration = typename Api::Registration;

  bool load() { return open(); }

  void unload() {
    close();
    register_ = nullptr;
    sockFd_ = nullptr;
    processResult_ = nullptr;
    deallocate_ = nullptr;
    registrations_.clear();
  }

  int32_t registerService(ServiceRef* ref, const std::string& name, const char* type, const char* domain,
                          uint16_t portNetworkOrder, const std::string& txt, RegisterReply reply,
                          void* context) override {
    *ref = nullptr;
    auto fn = lookup(&register_, "DNSServiceRegister");
    if (!fn) return kErrUnknown;
    if (txt.size() > 0xFFFF) return kErrBadParam;
    auto registration = std::make_unique<Registration>();
    registration->reply = reply;
    registration->context = context;
    ServiceRef made = nullptr;
    const int32_t error = fn(&made, 0, 0, nameForLibrary(name), type, domain, nullptr, portNetworkOrder,
                             static_cast<uint16_t>(txt.size()), txt.empty() ? nullptr : txt.data(),
                             &Api::nativeReply, registration.get());
    if (error == kErrNoError && made) {
      registrations_[made] = std::move(registration);
      *ref = made;
      return error;
    }
    return refused(error, std::move(registration), name, type, domain, ref);
  }

  SocketHandle socketOf(ServiceRef ref) override {
    auto fn = lookup(&sockFd_, "DNSServiceRefSockFD");
    if (!fn || !ref) return kInvalidSocket;
    const int s = fn(ref);
    return s < 0 ? kInvalidSocket : static_cast<SocketHandle>(s);
  }

  int32_t processResult(ServiceRef ref) override {
    auto fn = lookup(&processResult_, "DNSServiceProcessResult");
    return fn && ref ? fn(ref) : kErrUnknown;
  }

  void deallocate(ServiceRef ref) override {
    auto fn = lookup(&deallocate_, "DNSServiceRefDeallocate");
    if (fn && ref) fn(ref);
    registrations_.erase(ref);
  }

 protected:
  // Opens the library (true when it already is open) and closes it.
  virtual bool open() = 0;
  virtual void close() = 0;
  // The entry point `name` of the open library; null when closed or missing.
  virtual void* symbol(const char* name) = 0;
  // The instance name as the library is to get it.
  virtual const char* nameForLibrary(const std::string& name) { return name.c_str(); }
  // The library refused the registration with `error`: what the caller gets.
  virtual int32_t refused(int32_t error, std::unique_ptr<Registration> registration, const std::string& name,
                          const char* type, const char* domain, ServiceRef* ref) {
    return error;
  }

  std::map<ServiceRef, std::unique_ptr<Registration>> registrations_;

 private:
  template <typename Fn>
  Fn lookup(Fn* slot, const char* name) {
    if (!*slot) *slot = reinterpret_cast<Fn>(symbol(name));
    return *slot;
  }

  typename Api::RegisterFn register_ = nullptr;
  typename Api::SockFdFn sockFd_ = nullptr;
  typename Api::ProcessResultFn processResult_ = nullptr;
  typename Api::DeallocateFn deallocate_ = nullptr;
};

}  // namespace dnssd
}  // namespace base

#endif  // BASE_DNS_SD_LOADER_H_
