#include <sys/utsname.h>

#include <cctype>
#include <cstring>

#include "base/file_util.h"
#include "base/string_util.h"
#include "base/sys_info.h"

namespace base {
namespace {

// "6.1.0-18-amd64" -> "6.1.0".
std::string numericRelease(const char* release) {
  std::string out;
  for (const char* p = release; *p && (std::isdigit(static_cast<unsigned char>(*p)) || *p == '.'); ++p)
    out.push_back(*p);
  while (!out.empty() && out.back() == '.') out.pop_back();
  return out.empty() ? std::string(release) : out;
}

// PRETTY_NAME of /etc/os-release, without its quotes.
std::string distributionName() {
  std::string text;
  if (!readFile(u"/etc/os-release", &text) && !readFile(u"/usr/lib/os-release", &text))
    return std::string();
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.compare(0, 12, "PRETTY_NAME=") != 0) continue;
    std::string value = line.substr(12);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    return value;
  }
  return std::string();
}

}  // namespace

std::string operatingSystemName() {
  struct utsname u;
  if (::uname(&u) != 0) return std::string();
  std::string out = std::string(u.sysname) + " " + numericRelease(u.release);
  const std::string distro = distributionName();
  if (!distro.empty()) out += " " + distro;
  return out;
}

std::string operatingSystemVersion() {
  struct utsname u;
  unsigned long major = 0, minor = 0;
  if (::uname(&u) == 0) std::sscanf(u.release, "%lu.%lu", &major, &minor);
  return stringPrintf("%lu.%lu", major, minor);
}

string16 systemErrorText(int32_t code) {
  char buf[256];
  buf[0] = '\0';
  // GNU strerror_r returns the text (possibly not in buf).
  const char* text = ::strerror_r(code, buf, sizeof(buf));
  if (!text || !*text || std::strncmp(text, "Unknown error", 13) == 0)
    return asciiToWide(stringPrintf("message number %d", code));
  return utf8ToWide(text);
}

}  // namespace base
