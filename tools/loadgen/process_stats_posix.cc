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
  out->descriptors = descriptors;
  out->residentBytes = static_cast<size_t>(resident) * static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  return true;
}

}  // namespace loadgen
