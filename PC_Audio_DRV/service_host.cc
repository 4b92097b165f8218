#include "PC_Audio_DRV/service_host.h"

int wavehostMain(const std::vector<base::string16>& args) {
  if (!args.empty()) {
    const base::string16 command = base::toLowerWide(args[0]);
    if (command == u"install") return installService();
    if (command == u"remove") return removeService();
  }
  return runServiceHost(args);
}
