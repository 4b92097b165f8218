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

class DnssdDll : public LibraryLoader<RegistrationBase> {
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

}  // namespace

LoadableLibrary* makeSystemLibrary() { return new DnssdDll(); }

}  // namespace dnssd
}  // namespace base
