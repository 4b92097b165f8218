// Helpers for tests only (linked into the test programs, never the product).
#ifndef BASE_TEST_UTIL_H_
#define BASE_TEST_UTIL_H_

#include "base/string_util.h"

namespace base {

// A new, empty folder below the temporary folder; its name starts with `tag`.
string16 makeTempDirectory(const string16& tag);
// Deletes a folder and everything below it.
bool removeTree(const string16& path);

}  // namespace base

#endif  // BASE_TEST_UTIL_H_
