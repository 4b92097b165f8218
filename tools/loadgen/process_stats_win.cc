#include <windows.h>
#include <psapi.h>

#include "tools/loadgen/loadgen.h"

namespace loadgen {

bool readProcessStats(int pid, ProcessStats* out) {
  HANDLE process = pid == 0 ? ::GetCurrentProcess()
                            : ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
                                            static_cast<DWORD>(pid));
  if (!process) return false;
  DWORD handles = 0;
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  FILETIME created, exited, kernel, user;
  const bool ok = ::GetProcessHandleCount(process, &handles) &&
                  ::GetProcessMemoryInfo(process, &counters, sizeof(counters)) &&
                  ::GetProcessTimes(process, &created, &exited, &kernel, &user);
  if (pid != 0) ::CloseHandle(process);
  if (!ok) return false;
  auto seconds = [](const FILETIME& t) {
    return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
  };
  out->descriptors = handles;
  out->residentBytes = counters.WorkingSetSize;
  out->cpuSeconds = seconds(kernel) + seconds(user);
  return true;
}

}  // namespace loadgen
