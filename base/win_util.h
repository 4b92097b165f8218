// Windows-only glue between string16 and the W functions (wchar_t is the
// same 16-bit unit there). Included by *_win.cc files only.
#ifndef BASE_WIN_UTIL_H_
#define BASE_WIN_UTIL_H_

#include <windows.h>

#include <string>

#include "base/string_util.h"

namespace base {

inline const wchar_t* wstr(const string16& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
inline string16 fromWide(const wchar_t* s) {
  return s ? string16(reinterpret_cast<const char16_t*>(s)) : string16();
}
inline string16 fromWide(const wchar_t* s, size_t n) {
  return string16(reinterpret_cast<const char16_t*>(s), n);
}

// Owns a kernel handle.
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE h = nullptr) : h_(h) {}
  ~ScopedHandle() { reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  HANDLE get() const { return h_; }
  bool valid() const { return h_ && h_ != INVALID_HANDLE_VALUE; }
  void reset(HANDLE h = nullptr) {
    if (valid()) ::CloseHandle(h_);
    h_ = h;
  }
  HANDLE release() {
    HANDLE h = h_;
    h_ = nullptr;
    return h;
  }

 private:
  HANDLE h_;
};

}  // namespace base

#endif  // BASE_WIN_UTIL_H_
