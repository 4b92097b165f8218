// The DNS-SD library as both builds load it: the four entry points, each
// looked up by name on its first use, and the registrations whose replies
// pass through our own reply function (which hands them to the caller's).
// The _win and _posix files supply opening the library and finding a
// symbol; the Linux one also bends avahi's differences back through the
// hooks below.
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

// The library's calling convention: stdcall on Windows.
#if defined(_WIN32)
#define DNSSD_CALL __stdcall
#else
#define DNSSD_CALL
#endif

// What one registration's replies go through on their way to the caller.
struct RegistrationBase {
  virtual ~RegistrationBase() = default;
  // Hands one reply of the library to the caller's reply function.
  virtual void deliver(ServiceRef ref, uint32_t flags, int32_t error, const char* name, const char* type,
                       const char* domain) {
    reply(ref, flags, error, name, type, domain, context);
  }
  RegisterReply reply = nullptr;
  void* context = nullptr;
};

// The library as the program loads it at start and unloads at exit.
class LoadableLibrary : public Library {
 public:
  virtual bool load() = 0;
  virtual void unload() = 0;
};

// This build's library, made once by dns_sd.cc and kept until the process
// ends (dns_sd_win.cc, dns_sd_posix.cc).
LoadableLibrary* makeSystemLibrary();

// `Registration` (a RegistrationBase) is what is kept per registration.
template <typename Registration>
class LibraryLoader : public LoadableLibrary {
 public:
  bool load() override { return open(); }

  void unload() override {
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
                             &nativeReply, registration.get());
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

  using NativeReply = void(DNSSD_CALL*)(ServiceRef, uint32_t, int32_t, const char*, const char*, const char*,
                                        void*);
  using RegisterFn = int32_t(DNSSD_CALL*)(ServiceRef*, uint32_t, uint32_t, const char*, const char*, const char*,
                                          const char*, uint16_t, uint16_t, const void*, NativeReply, void*);
  using SockFdFn = int(DNSSD_CALL*)(ServiceRef);
  using ProcessResultFn = int32_t(DNSSD_CALL*)(ServiceRef);
  using DeallocateFn = void(DNSSD_CALL*)(ServiceRef);

  static void DNSSD_CALL nativeReply(ServiceRef ref, uint32_t flags, int32_t error, const char* name,
                                     const char* type, const char* domain, void* context) {
    if (context) static_cast<Registration*>(context)->deliver(ref, flags, error, name, type, domain);
  }

  RegisterFn register_ = nullptr;
  SockFdFn sockFd_ = nullptr;
  ProcessResultFn processResult_ = nullptr;
  DeallocateFn deallocate_ = nullptr;
};

}  // namespace dnssd
}  // namespace base

#endif  // BASE_DNS_SD_LOADER_H_
