#include "base/file_util.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace base {

const char16_t kPathSeparator = u'/';

std::string nativePath(const string16& path) { return wideToUtf8(path); }

bool pathExists(const string16& path) {
  struct stat st;
  return ::stat(nativePath(path).c_str(), &st) == 0;
}

bool isDirectory(const string16& path) {
  struct stat st;
  return ::stat(nativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool deleteFile(const string16& path) {
  if (isDirectory(path)) return false;
  return ::unlink(nativePath(path).c_str()) == 0;
}

bool removeEmptyDirectory(const string16& path) {
  return ::rmdir(nativePath(path).c_str()) == 0;
}

bool createDirectories(const string16& path) {
  const std::string p = nativePath(path);
  if (p.empty()) return false;
  for (size_t pos = 1; pos <= p.size(); ++pos) {
    if (pos != p.size() && p[pos] != '/') continue;
    const std::string part = p.substr(0, pos);
    if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return isDirectory(path);
}

bool restrictToOwner(const string16& folder) {
  return ::chmod(nativePath(folder).c_str(), 0700) == 0;
}

std::vector<string16> listDirectory(const string16& folder) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(nativePath(folder).c_str())) {
    while (dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  std::vector<string16> out;
  out.reserve(names.size());
  for (const auto& n : names) out.push_back(utf8ToWide(n));
  return out;
}

bool readFile(const string16& path, std::string* contents) {
  const int fd = ::open(nativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string data;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof(buf));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    data.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  contents->swap(data);
  return true;
}

namespace {

// Read from /proc so that no other thread ever sees a changed umask.
mode_t currentUmask() {
  FILE* status = std::fopen("/proc/self/status", "re");
  if (status) {
    char line[128];
    unsigned mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof(line), status)) found = std::sscanf(line, "Umask: %o", &mask) == 1;
    std::fclose(status);
    if (found) return static_cast<mode_t>(mask);
  }
  return 022;
}

}  // namespace

bool writeFileAtomic(const string16& path, const std::string& contents) {
  const std::string target = nativePath(path);
  std::string tmp = target + ".XXXXXX";
  const int fd = ::mkstemp(&tmp[0]);
  if (fd < 0) return false;
  size_t done = 0;
  bool ok = true;
  while (done < contents.size()) {
    const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  // mkstemp makes the file 0600; a file written in place would get 0666
  // less the umask, and so does this one.
  ok = ok && ::fchmod(fd, 0666 & ~currentUmask()) == 0 && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (!ok || ::rename(tmp.c_str(), target.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

string16 executableDirectory() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return currentDirectory();
  return dirName(utf8ToWide(std::string(buf, static_cast<size_t>(n))));
}

string16 currentDirectory() {
  char buf[PATH_MAX];
  if (!::getcwd(buf, sizeof(buf))) return u".";
  return utf8ToWide(buf);
}

string16 tempDirectory() {
  const char* tmp = ::getenv("TMPDIR");
  return utf8ToWide(tmp && *tmp ? tmp : "/tmp");
}

}  // namespace base
