// Helpers for the Windows tests only (linked into the test programs, never
// the product). Thread: any.
#ifndef BASE_TEST_UTIL_WIN_H_
#define BASE_TEST_UTIL_WIN_H_

#include <windows.h>

namespace base {

// Waits up to a minute (the service manager under Wine is slow) for the
// service to reach `wanted` (SERVICE_RUNNING...); false when it did not or
// its state could not be read.
bool waitForServiceState(SC_HANDLE service, DWORD wanted);

}  // namespace base

#endif  // BASE_TEST_UTIL_WIN_H_
