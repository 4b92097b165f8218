// The resource library beside the program (lang.dll on Windows, lang.so on
// Linux): the interface texts and, on Windows, the dialog templates and
// menus. Start-up loads it and makes it the current one; from then on every
// interface text is taken from it.
#ifndef WEBCAMWIN_RESOURCE_LIBRARY_H_
#define WEBCAMWIN_RESOURCE_LIBRARY_H_

#include <cstdint>

#include "base/string_util.h"

class ResourceLibrary {
 public:
  ResourceLibrary();
  ~ResourceLibrary();
  ResourceLibrary(const ResourceLibrary&) = delete;
  ResourceLibrary& operator=(const ResourceLibrary&) = delete;

  // "lang.dll" / "lang.so" in the folder of the program's executable.
  static base::string16 defaultPath();

  bool load(const base::string16& path);
  bool loaded() const { return handle_ != nullptr; }

  // String resource `id`; empty when the library has none.
  base::string16 string(uint32_t id) const;

  // The module handle (HINSTANCE on Windows) for dialogs and menus.
  void* nativeHandle() const { return handle_; }

  // The library interface texts come from (null before start-up set it).
  static ResourceLibrary* current();
  static void setCurrent(ResourceLibrary* library);

 private:
  void* handle_ = nullptr;
  const char* (*lookup_)(uint32_t) = nullptr;  // Linux: lang_string()
};

// The text of string resource `id` from the current library ("" without one).
base::string16 loadString(uint32_t id);

#endif  // WEBCAMWIN_RESOURCE_LIBRARY_H_
