#include "base/dns_sd.h"

#include "base/dns_sd_loader.h"

namespace base {
namespace dnssd {
namespace {

LoadableLibrary& library() {
  static LoadableLibrary* instance = makeSystemLibrary();  // lives until the process ends
  return *instance;
}

}  // namespace

Library* systemLibrary() { return &library(); }

bool loadSystemLibrary() { return library().load(); }

void unloadSystemLibrary() { library().unload(); }

}  // namespace dnssd
}  // namespace base
