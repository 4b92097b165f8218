// What the fuzzers share: the property check and the quiet logging that
// keeps bad input's log lines out of the run.
//
// Thread: the fuzzer's one thread.
#ifndef FUZZ_FUZZ_UTIL_H_
#define FUZZ_FUZZ_UTIL_H_

#include <cstdlib>

#include "base/logging.h"

namespace fuzz {

// A broken property aborts, so libFuzzer keeps the input that broke it.
inline void check(bool ok) {
  if (!ok) std::abort();
}

// For LLVMFuzzerInitialize of fuzzers whose code logs.
inline void silenceLogging() {
  base::initLogging(base::string16(), base::kLogNone, base::kLockInProcess, 1);
  base::setMinLogSeverity(base::LOG_FATAL + 1);
}

}  // namespace fuzz

#endif  // FUZZ_FUZZ_UTIL_H_
