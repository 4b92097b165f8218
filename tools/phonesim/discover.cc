// Finding the PC by DNS-SD. On Linux avahi-browse does the browsing and
// resolving; its parsable output has one line per resolved service:
//   =;eth0;IPv4;Studio PC;_lumora_webcam._tcp;local;studio.local;192.168.1.5;52011;
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "tools/phonesim/simulator.h"

namespace phonesim {

#ifdef _WIN32
bool discoverServer(std::string*, uint16_t*, std::string*, std::string* error) {
  *error = "--discover needs avahi-browse, which this build does not have";
  return false;
}
#else
bool discoverServer(std::string* host, uint16_t* port, std::string* name, std::string* error) {
  FILE* pipe = ::popen("avahi-browse -rtpk _lumora_webcam._tcp 2>/dev/null", "r");
  if (!pipe) {
    *error = "cannot run avahi-browse";
    return false;
  }
  char buffer[2048];
  bool found = false;
  while (std::fgets(buffer, sizeof(buffer), pipe)) {
    if (found || buffer[0] != '=') continue;
    std::vector<std::string> fields;
    std::stringstream line(buffer);
    std::string field;
    while (std::getline(line, field, ';')) fields.push_back(field);
    if (fields.size() < 9 || fields[2] != "IPv4") continue;
    const long value = std::strtol(fields[8].c_str(), nullptr, 10);
    if (value <= 0 || value > 65535) continue;
    *name = fields[3];
    *host = fields[7];
    *port = static_cast<uint16_t>(value);
    found = true;
  }
  ::pclose(pipe);
  if (!found) *error = "no _lumora_webcam._tcp service found";
  return found;
}
#endif

}  // namespace phonesim
