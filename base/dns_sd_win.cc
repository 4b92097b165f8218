// Windows: the DNS-SD service's "dnssd.dll", loaded with LoadLibraryW at
// program start; its calls and replies use the stdcall convention.
#include <winsock2.h>
#include <windows.h>

#include "base/dns_sd.h"
#include "base/dns_sd_loader.h"
#include "base/logging.h"

namespace base {
namespace dnssd {
namespace {

constexpr wchar_t kLibraryName[] = L"dnssd.dll";

struct Registration {
  RegisterReply reply = nullptr;
  void* context = nullptr;
};

struct DnssdApi {
  using Registration = dnssd::Registration;
  using NativeReply = void(__stdcall*)(ServiceRef, uint32_t, int32_t, const char*, const char*, const char*, void*);
  using RegisterFn = int32_t(__stdcall*)(ServiceRef*, uint32_t, uint32_t, const char*, const char*, const char*,
                                         const char*, uint16_t, uint16_t, const void*, NativeReply, void*);
  using SockFdFn = int(__stdcall*)(ServiceRef);
  using ProcessResultFn = int32_t(__stdcall*)(ServiceRef);
  using DeallocateFn = void(__stdcall*)(ServiceRef);

  static void __stdcall nativeReply(ServiceRef ref, uint32_t flags, int32_t error, const char* name,
                                    const char* type, const char* domain, void* context) {
    auto* registration = static_cast<Registration*>(context);
    if (registration) registration->reply(ref, flags, error, name, type, domain, registration->context);
  }
};

class DnssdDll : public LibraryLoader<DnssdApi> {
 protected:
  bool open() override {
    if (module_) return true;
    module_ = ::LoadLibraryW(kLibraryName);
    if (!module_) LOG(INFO) << "Can't load dnssd.dll. Code " << ::GetLastError();
    return module_ != nullptr;
  }

  void close() override {
    if (module_) ::FreeLibrary(module_);
    module_ = nullptr;
  }

  void* symbol(const char* name) override {
    return module_ ? reinterpret_cast<void*>(::GetProcAddress(module_, name)) : nullptr;
  }

 private:
  HMODULE module_ = nullptr;
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
