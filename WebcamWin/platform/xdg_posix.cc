#include "WebcamWin/platform/xdg_posix.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "base/file_util.h"
#include "base/string_util.h"

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

bool writeAutostartEntry(bool on, const std::string& id, const std::string& name, const std::string& program) {
  const std::string folder = xdgBase("XDG_CONFIG_HOME", ".config") + "/autostart";
  const std::string path = folder + "/" + id + ".desktop";
  if (!on) return ::unlink(path.c_str()) == 0 || errno == ENOENT;
  const std::string entry = "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=\"" + program +
                            "\" -minimize\nIcon=" + id + "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
  return base::createDirectories(base::utf8ToWide(folder)) &&
         base::writeFileAtomic(base::utf8ToWide(path), entry);
}

}  // namespace shell
