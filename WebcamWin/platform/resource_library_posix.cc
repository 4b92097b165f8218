// Linux: lang.so is opened with dlopen and asked for texts through its
// exported lang_string(id), which returns UTF-8.
#include <dlfcn.h>

#include "WebcamWin/platform/resource_library.h"
#include "base/file_util.h"
#include "base/logging.h"

ResourceLibrary::ResourceLibrary() = default;

ResourceLibrary::~ResourceLibrary() {
  if (current() == this) setCurrent(nullptr);
  if (handle_) ::dlclose(handle_);
}

base::string16 ResourceLibrary::defaultPath() {
  return base::joinPath(base::executableDirectory(), u"lang.so");
}

bool ResourceLibrary::load(const base::string16& path) {
  void* handle = ::dlopen(base::nativePath(path).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    LOG(ERROR) << "Can't load " << path << ": " << ::dlerror();
    return false;
  }
  auto lookup = reinterpret_cast<const char* (*)(uint32_t)>(::dlsym(handle, "lang_string"));
  if (!lookup) {
    LOG(ERROR) << path << " is not a resource library (no lang_string)";
    ::dlclose(handle);
    return false;
  }
  if (handle_) ::dlclose(handle_);
  handle_ = handle;
  lookup_ = lookup;
  return true;
}

base::string16 ResourceLibrary::string(uint32_t id) const {
  if (!lookup_) return base::string16();
  const char* text = lookup_(id);
  return text ? base::utf8ToWide(text) : base::string16();
}
