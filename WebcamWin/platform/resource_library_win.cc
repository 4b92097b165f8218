// Windows: lang.dll is loaded as a module; texts come from its string table.
#include <windows.h>

#include "WebcamWin/platform/resource_library.h"
#include "base/file_util.h"
#include "base/logging.h"

ResourceLibrary::ResourceLibrary() = default;

ResourceLibrary::~ResourceLibrary() {
  if (current() == this) setCurrent(nullptr);
  if (handle_) ::FreeLibrary(static_cast<HMODULE>(handle_));
}

base::string16 ResourceLibrary::defaultPath() {
  return base::joinPath(base::executableDirectory(), u"lang.dll");
}

bool ResourceLibrary::load(const base::string16& path) {
  HMODULE module = ::LoadLibraryW(reinterpret_cast<const wchar_t*>(path.c_str()));
  if (!module) {
    LOG(ERROR) << "Can't load " << path << ". Code " << ::GetLastError();
    return false;
  }
  if (handle_) ::FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = module;
  return true;
}

base::string16 ResourceLibrary::string(uint32_t id) const {
  if (!handle_) return base::string16();
  const wchar_t* text = nullptr;
  // With a zero buffer size the call hands out the resource's own text.
  const int length = ::LoadStringW(static_cast<HINSTANCE>(handle_), id,
                                   reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || !text) return base::string16();
  return base::string16(reinterpret_cast<const char16_t*>(text), static_cast<size_t>(length));
}
