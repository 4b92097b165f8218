// Linux side of the desktop helpers: XDG folders, nice, xdg-open.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "WebcamWin/platform/desktop.h"
#include "WebcamWin/platform/spawn_posix.h"
#include "WebcamWin/platform/xdg_posix.h"
#include "base/file_util.h"
#include "base/logging.h"

namespace shell {
namespace {

constexpr int kHighPriorityNice = -10;

// The entries of user-dirs.dirs (XDG_PICTURES_DIR="$HOME/Pictures", ...).
// False when the file does not exist.
bool readUserDirs(std::map<std::string, std::string>* dirs) {
  std::string text;
  if (!base::readFile(base::utf8ToWide(xdgBase("XDG_CONFIG_HOME", ".config") + "/user-dirs.dirs"),
                      &text)) {
    return false;
  }
  const std::string home = homeDir();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    const size_t eq = line.find('=');
    if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
    std::string value = line.substr(eq + 1);
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') continue;
    value = value.substr(1, value.size() - 2);
    if (value.compare(0, 5, "$HOME") == 0) value = home + value.substr(5);
    else if (value.empty() || value[0] != '/') continue;
    (*dirs)[line.substr(0, eq)] = value;
  }
  return true;
}

// A user folder: the configured one; when nothing is configured at all, the
// default xdg-user-dirs would create. A folder set to the home folder is
// the XDG way of saying it is not used.
std::string userDir(const char* key, const char* defaultName) {
  std::map<std::string, std::string> dirs;
  if (!readUserDirs(&dirs)) return homeDir() + "/" + defaultName;
  const auto it = dirs.find(key);
  if (it == dirs.end()) return std::string();
  std::string value = it->second;
  while (value.size() > 1 && value.back() == '/') value.pop_back();
  return value == homeDir() ? std::string() : value;
}

}  // namespace

base::string16 specialFolder(Folder folder) {
  std::string path;
  switch (folder) {
    case Folder::kPictures:
      path = userDir("XDG_PICTURES_DIR", "Pictures");
      break;
    case Folder::kVideos:
      path = userDir("XDG_VIDEOS_DIR", "Videos");
      break;
    case Folder::kDocuments:
      path = userDir("XDG_DOCUMENTS_DIR", "Documents");
      if (path.empty()) path = homeDir();
      break;
  }
  return base::utf8ToWide(path);
}

void keepLogOffTerminal() {
  base::setLogDebuggerSink([](const std::string&) {});
}

base::string16 logFolder() {
  return base::utf8ToWide(xdgBase("XDG_STATE_HOME", ".local/state") +
                          "/Quillon Labs/Lumora ZuvIridar for iPhone/logs");
}

bool raisePriority(int32_t* error) {
  if (::setpriority(PRIO_PROCESS, 0, kHighPriorityNice) == 0) return true;
  *error = errno;
  return false;
}

void initializeInterfaceLibraries() {}
void shutdownInterfaceLibraries() {}

void showBuiltInError(const base::string16& text, const base::string16& caption) {
  std::fprintf(stderr, "%s: %s\n", base::wideToUtf8(caption).c_str(),
               base::wideToUtf8(text).c_str());
  std::fflush(stderr);
}

bool openWithShell(const base::string16& target) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int rc = spawnClean("xdg-open", {base::wideToUtf8(target)}, &actions, &pid);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    LOG(ERROR) << "Can't start xdg-open: " << std::strerror(rc);
    return false;
  }
  reapChild(pid, 0);
  return true;
}

}  // namespace shell
