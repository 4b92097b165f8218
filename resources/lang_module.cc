// The Linux resource library lang.so: the same string table as lang.dll,
// looked up by id through one exported C function.
#include <cstddef>
#include <cstdint>

namespace {

struct Entry {
  uint32_t id;
  const char* text;
};

#define LANG_STRING(id, text) {id, text},
constexpr Entry kStrings[] = {
#include "lang_strings.inc"
};
#undef LANG_STRING

}  // namespace

// UTF-8 text of string resource `id`, or null when the library has none.
extern "C" __attribute__((visibility("default"))) const char* lang_string(uint32_t id) {
  for (const Entry& e : kStrings)
    if (e.id == id) return e.text;
  return nullptr;
}
