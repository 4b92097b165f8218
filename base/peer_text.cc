#include "base/peer_text.h"

#include <cstdio>

#include "base/logging.h"
#include "base/string_util.h"

namespace base {

bool isUnsafeTextUnit(char16_t unit) {
  if (unit < 0x20 || (unit >= 0x7F && unit <= 0x9F)) return true;
  // LRE, RLE, PDF, LRO, RLO and LRI, RLI, FSI, PDI.
  return (unit >= 0x202A && unit <= 0x202E) || (unit >= 0x2066 && unit <= 0x2069);
}

std::string escapePeerText(const std::string& text, bool* changed) {
  bool plain = true;
  for (unsigned char c : text) {
    // Bytes that can start or be part of an unsafe character: ASCII
    // controls and DEL; 0xC2 starts C1; 0xE2 starts the directional ones;
    // and anything that may be invalid.
    if (c < 0x20 || c >= 0x7F) {
      plain = false;
      break;
    }
  }
  if (plain) {
    if (changed) *changed = false;
    return text;
  }
  const string16 wide = utf8ToWide(text);
  string16 out;
  out.reserve(wide.size());
  for (char16_t unit : wide) {
    if (!isUnsafeTextUnit(unit)) {
      out.push_back(unit);
      continue;
    }
    char buffer[8];
    if (unit < 0x100)
      std::snprintf(buffer, sizeof(buffer), "\\x%02x", static_cast<unsigned>(unit));
    else
      std::snprintf(buffer, sizeof(buffer), "\\u%04x", static_cast<unsigned>(unit));
    for (const char* p = buffer; *p; ++p) out.push_back(static_cast<char16_t>(*p));
  }
  std::string result = wideToUtf8(out);
  if (changed) *changed = result != text;
  return result;
}

std::string cleanPeerText(const std::string& text, const char* what) {
  bool changed = false;
  std::string clean = escapePeerText(text, &changed);
  if (changed) LOG(WARNING) << "Control or invalid characters in the phone's " << what << " escaped";
  return clean;
}

}  // namespace base
