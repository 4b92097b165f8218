// The test helpers that only the Linux tests use.
#include <cstdio>

#include "base/test_util.h"

namespace base {

std::string commandOutput(const char* command) {
  std::string out;
  FILE* pipe = ::popen(command, "r");
  if (!pipe) return out;
  char buffer[1024];
  while (std::fgets(buffer, sizeof(buffer), pipe)) out += buffer;
  ::pclose(pipe);
  return out;
}

}  // namespace base
