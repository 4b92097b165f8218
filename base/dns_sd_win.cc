// Windows: the DNS-SD service's "dnssd.dll", loaded with LoadLibraryW at
// program start; its calls and replies use the stdcall convention.
#include <winsock2.h>
#include <windows.h>

#include <map>
#include <memory>

#include "base/dns_sd.h"
#include "base/logging.h"

namespace base {
namespace dnssd {
namespace {

constexpr wchar_t kLibraryName[] = L"dnssd.dll";

using NativeReply = void(__stdcall*)(ServiceRef, uint32_t, int32_t, const char*, const char*,
                                     const char*, void*);
using RegisterFn = int32_t(__stdcall*)(ServiceRef*, uint32_t, uint32_t, const char*, const char*,
                                       const char*, const char*, uint16_t, uint16_t, const void*,
                                       NativeReply, void*);
using SockFdFn = int(__stdcall*)(ServiceRef);
using ProcessResultFn = int32_t(__stdcall*)(ServiceRef);
using DeallocateFn = void(__stdcall*)(ServiceRef);

struct Registration {
  RegisterReply reply = nullptr;
  void* context = nullptr;
};

void __stdcall nativeReply(ServiceRef ref, uint32_t flags, int32_t error, const char* name,
                           const char* type, const char* domain, void* context) {
  auto* registration = static_cast<Registration*>(context);
  if (registration) registration->reply(ref, flags, error, name, type, domain, registration->context);
}

class DnssdDll : public Library {
 public:
  bool load() {
    if (module_) return true;
    module_ = ::LoadLibraryW(kLibraryName);
    if (!module_) LOG(INFO) << "Can't load dnssd.dll. Code " << ::GetLastError();
    return module_ != nullptr;
  }

  void unload() {
    if (module_) ::FreeLibrary(module_);
    module_ = nullptr;
    register_ = nullptr;
    sockFd_ = nullptr;
    processResult_ = nullptr;
    deallocate_ = nullptr;
    registrations_.clear();
  }

  int32_t registerService(ServiceRef* ref, const std::string& name, const char* type,
                          const char* domain, uint16_t portNetworkOrder, const std::string& txt,
                          RegisterReply reply, void* context) override {
    *ref = nullptr;
    auto fn = lookup(&register_, "DNSServiceRegister");
    if (!fn) return kErrUnknown;
    if (txt.size() > 0xFFFF) return kErrBadParam;
    auto registration = std::make_unique<Registration>();
    registration->reply = reply;
    registration->context = context;
    ServiceRef made = nullptr;
    const int32_t error = fn(&made, 0, 0, name.c_str(), type, domain, nullptr, portNetworkOrder,
                             static_cast<uint16_t>(txt.size()), txt.empty() ? nullptr : txt.data(),
                             nativeReply, registration.get());
    if (error == kErrNoError && made) {
      registrations_[made] = std::move(registration);
      *ref = made;
    }
    return error;
  }

  SocketHandle socketOf(ServiceRef ref) override {
    auto fn = lookup(&sockFd_, "DNSServiceRefSockFD");
    if (!fn || !ref) return kInvalidSocket;
    const int s = fn(ref);
    return s == -1 ? kInvalidSocket : static_cast<SocketHandle>(s);
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

 private:
  template <typename Fn>
  Fn lookup(Fn* slot, const char* name) {
    if (!*slot && module_) *slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module_, name)));
    return *slot;
  }

  HMODULE module_ = nullptr;
  RegisterFn register_ = nullptr;
  SockFdFn sockFd_ = nullptr;
  ProcessResultFn processResult_ = nullptr;
  DeallocateFn deallocate_ = nullptr;
  std::map<ServiceRef, std::unique_ptr<Registration>> registrations_;
};

DnssdDll& library() {
  static DnssdDll* instance = new DnssdDll();  // lives until the process ends
  return *instance;
}

}  // namespace

Library* systemLibrary() { return &library(); }

bool loadSystemLibrary() { return library().load(); }

void unloadSystemLibrary() { library().unload(); }

}  // namespace dnssd
}  // namespace base
