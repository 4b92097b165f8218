// Byte forms of registry values shared by both sides of the registry seam.
#ifndef BASE_REG_KEY_INTERNAL_H_
#define BASE_REG_KEY_INTERNAL_H_

#include <cstdint>
#include <string>

#include "base/string_util.h"

namespace base {
namespace internal {

// REG_SZ data: UTF-16 LE with its terminating NUL.
std::string regStringBytes(const string16& text);
// The low `bytes` bytes of `value`, least significant first (REG_DWORD,
// REG_QWORD).
std::string regLittleEndian(uint64_t value, int bytes);
uint64_t regFromLittleEndian(const std::string& data);

}  // namespace internal
}  // namespace base

#endif  // BASE_REG_KEY_INTERNAL_H_
