// Arbitrary bytes as the support tool's standard-input request. Parsing must
// never crash, never store a key the tool keeps for itself, and never let a
// key or value span a line end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "WebcamWin/support/param_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const support::string16 text = support::decodeUtf16Le(bytes);
  support::CParamStore store;
  const size_t parsed = support::parseRequest(text, &store);
  if (store.size() > parsed) std::abort();
  for (const char16_t* key : {support::kKeyCompressedLog, support::kKeyShippedLog, support::kKeyTarFile}) {
    if (store.lookup(key, nullptr)) std::abort();
  }
  // Every stored pair came from one line "key:value".
  size_t lines = 0;
  for (char16_t unit : text) lines += unit == u'\n';
  if (parsed > lines) std::abort();
  return 0;
}
