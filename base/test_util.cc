#include "base/test_util.h"

#include <atomic>
#include <chrono>

#include "base/file_util.h"
#include "base/logging.h"

namespace base {

string16 makeTempDirectory(const string16& tag) {
  static std::atomic<unsigned> counter{0};
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const string16 path = joinPath(
        tempDirectory(),
        tag + asciiToWide(stringPrintf("-%llx-%u", static_cast<unsigned long long>(now),
                                       counter.fetch_add(1))));
    if (!pathExists(path) && createDirectories(path)) return path;
  }
  return string16();
}

bool removeTree(const string16& path) {
  if (path.empty()) return false;
  if (!isDirectory(path)) return deleteFile(path);
  bool ok = true;
  for (const string16& name : listDirectory(path)) ok = removeTree(joinPath(path, name)) && ok;
  return removeEmptyDirectory(path) && ok;
}

LogCapture::LogCapture(const string16& tag) {
  dir_ = makeTempDirectory(tag);
  file_ = joinPath(dir_, u"test.log");
  resetLoggingForTesting();
  active_ = initLogging(file_, kLogToFile, kLockInProcess, 0);
}

LogCapture::~LogCapture() {
  resetLoggingForTesting();
  removeTree(dir_);
}

std::string LogCapture::contents() const {
  std::string text;
  readFile(file_, &text);
  return text;
}

}  // namespace base
