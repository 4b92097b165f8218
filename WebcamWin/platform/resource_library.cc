#include "WebcamWin/platform/resource_library.h"

#include <atomic>

namespace {
std::atomic<ResourceLibrary*> g_current{nullptr};
}  // namespace

ResourceLibrary* ResourceLibrary::current() { return g_current.load(); }

void ResourceLibrary::setCurrent(ResourceLibrary* library) { g_current.store(library); }

base::string16 loadString(uint32_t id) {
  ResourceLibrary* library = ResourceLibrary::current();
  return library ? library->string(id) : base::string16();
}
