#include <windows.h>

#include "WebcamWin/platform/program_resource.h"

std::vector<uint8_t> loadProgramResource(const base::string16& name) {
  base::string16 upper = name;
  for (char16_t& c : upper) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  HMODULE self = ::GetModuleHandleW(nullptr);
  HRSRC found = ::FindResourceW(self, reinterpret_cast<const wchar_t*>(upper.c_str()), MAKEINTRESOURCEW(10));
  if (!found) return {};
  HGLOBAL loaded = ::LoadResource(self, found);
  const DWORD size = ::SizeofResource(self, found);
  const auto* bytes = static_cast<const uint8_t*>(loaded ? ::LockResource(loaded) : nullptr);
  if (!bytes || size == 0) return {};
  return std::vector<uint8_t>(bytes, bytes + size);
}
