#include <windows.h>
#include <psapi.h>

#include "tools/loadgen/loadgen.h"

namespace loadgen {

bool readProcessStats(int pid, ProcessStats* out) {
  if (pid != 0) return false;
  DWORD handles = 0;
  if (!::GetProcessHandleCount(::GetCurrentProcess(), &handles)) return false;
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters))) return false;
  out->descriptors = handles;
  out->residentBytes = counters.WorkingSetSize;
  return true;
}

}  // namespace loadgen
