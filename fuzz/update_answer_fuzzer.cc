// Whatever the update server answers, read as the update check reads it:
// only its first bytes, as a version. Nothing may crash; an accepted version
// keeps its parts in the ranges that make the encoded number unambiguous;
// the same text always reads the same; what follows the version's last
// digit does not change it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "WebcamWin/suite/check_for_update.h"
#include "fuzz/fuzz_util.h"

using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string answer(reinterpret_cast<const char*>(data), size);
  const std::string text = answer.substr(0, CCheckForUpdate::kVersionTextBytes);
  CCheckForUpdate::Version version;
  if (!CCheckForUpdate::parseVersion(text, &version)) return 0;
  check(version.major >= 0 && version.major < 4000);
  check(version.minor >= 0 && version.minor < 1000);
  check(version.build >= 0 && version.build < 1000);
  check(version.revision >= 0);
  CCheckForUpdate::Version again;
  check(CCheckForUpdate::parseVersion(text, &again));
  check(again.major == version.major && again.minor == version.minor && again.build == version.build &&
        again.revision == version.revision);
  check(!CCheckForUpdate::isNewer(version, version));
  const uint32_t code = CCheckForUpdate::encode(version);
  check(code / 1000000 == static_cast<uint32_t>(version.major));
  check(code / 1000 % 1000 == static_cast<uint32_t>(version.minor));
  check(code % 1000 == static_cast<uint32_t>(version.build));
  // A letter after the text ends any number it ended with.
  CCheckForUpdate::Version extended;
  check(CCheckForUpdate::parseVersion(text + "x", &extended));
  check(extended.major == version.major && extended.minor == version.minor && extended.build == version.build &&
        extended.revision == version.revision);
  return 0;
}
