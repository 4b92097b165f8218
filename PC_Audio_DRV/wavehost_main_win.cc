// `wavehost.exe`: see service_host.h.
#include <windows.h>

#include <vector>

#include "PC_Audio_DRV/service_host.h"
#include "base/win_util.h"

int wmain(int argc, wchar_t** argv) {
  std::vector<base::string16> args;
  for (int i = 1; i < argc; ++i) args.push_back(base::fromWide(argv[i]));
  return wavehostMain(args);
}
