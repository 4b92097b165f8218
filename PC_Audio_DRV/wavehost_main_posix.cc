// `wavehost`: see service_host.h.
#include <vector>

#include "PC_Audio_DRV/service_host.h"

int main(int argc, char** argv) {
  std::vector<base::string16> args;
  for (int i = 1; i < argc; ++i) args.push_back(base::utf8ToWide(argv[i]));
  return wavehostMain(args);
}
