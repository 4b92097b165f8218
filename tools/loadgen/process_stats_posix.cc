#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "tools/loadgen/loadgen.h"

namespace loadgen {

bool readProcessStats(int pid, ProcessStats* out) {
  const std::string proc = "/proc/" + (pid == 0 ? std::string("self") : std::to_string(pid));
  DIR* dir = ::opendir((proc + "/fd").c_str());
  if (!dir) return false;
  size_t descriptors = 0;
  while (const dirent* entry = ::readdir(dir))
    if (entry->d_name[0] != '.') ++descriptors;
  ::closedir(dir);
  if (pid == 0 && descriptors > 0) --descriptors;  // the one opendir itself holds
  FILE* statm = std::fopen((proc + "/statm").c_str(), "r");
  if (!statm) return false;
  unsigned long size = 0, resident = 0;
  const bool ok = std::fscanf(statm, "%lu %lu", &size, &resident) == 2;
  std::fclose(statm);
  if (!ok) return false;
  // utime and stime are fields 14 and 15, after the parenthesised name.
  double cpu = 0;
  if (FILE* stat = std::fopen((proc + "/stat").c_str(), "r")) {
    char line[1024] = {};
    const size_t n = std::fread(line, 1, sizeof(line) - 1, stat);
    std::fclose(stat);
    const char* close = nullptr;
    for (size_t i = 0; i < n; ++i)
      if (line[i] == ')') close = line + i;
    unsigned long utime = 0, stime = 0;
    if (close && std::sscanf(close + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) == 2)
      cpu = static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
  }
  out->cpuSeconds = cpu;
  out->descriptors = descriptors;
  out->residentBytes = static_cast<size_t>(resident) * static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  return true;
}

}  // namespace loadgen
