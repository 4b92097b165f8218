// Arbitrary bytes as a phone's string. The cleaned text must hold no control,
// DEL or directional character, be valid UTF-8, and stay as it is when
// cleaned again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/peer_text.h"
#include "base/string_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  bool changed = false;
  const std::string clean = base::escapePeerText(text, &changed);
  if (changed != (clean != text)) std::abort();
  const base::string16 wide = base::utf8ToWide(clean);
  for (char16_t unit : wide) {
    if (base::isUnsafeTextUnit(unit)) std::abort();
  }
  if (base::wideToUtf8(wide) != clean) std::abort();
  if (base::escapePeerText(clean) != clean) std::abort();
  return 0;
}
