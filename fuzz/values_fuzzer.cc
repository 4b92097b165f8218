// Arbitrary bytes as a received message: a 32-bit kind followed by a value
// dictionary. Decoding must never crash; whatever decodes must encode again,
// decode again, and that tree must encode to the same bytes. The bytes are
// compared rather than the trees: a NaN equals nothing, not even itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/pickle.h"
#include "base/values.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  base::Pickle view(data, size);
  base::PickleIterator it(view);
  int32_t kind;
  if (!it.readInt(&kind)) it = base::PickleIterator(view);
  std::unique_ptr<base::DictionaryValue> dict = base::readDictionaryFromPickle(&it);
  if (!dict) return 0;
  base::Pickle again;
  if (!base::writeDictionaryToPickle(*dict, &again)) std::abort();
  base::PickleIterator it2(again);
  std::unique_ptr<base::DictionaryValue> back = base::readDictionaryFromPickle(&it2);
  if (!back) std::abort();
  base::Pickle third;
  if (!base::writeDictionaryToPickle(*back, &third) || third.size() != again.size() ||
      std::memcmp(third.data(), again.data(), again.size()) != 0) {
    std::abort();
  }
  return 0;
}
