#include "WebcamWin/platform/xdg_posix.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace shell {

std::string homeDir() {
  const char* home = ::getenv("HOME");
  if (home && *home) return home;
  if (const passwd* pw = ::getpwuid(::getuid()))
    if (pw->pw_dir) return pw->pw_dir;
  return "/";
}

std::string xdgBase(const char* variable, const char* fallback) {
  const char* value = ::getenv(variable);
  if (value && value[0] == '/') return value;
  return homeDir() + "/" + fallback;
}

}  // namespace shell
