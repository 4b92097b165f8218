// Linux side of the log: the file is appended with O_APPEND (one write per
// line), the "debugger output" is the standard error stream and the named
// system mutex is an flock()ed file in the temporary folder.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "base/file_util.h"
#include "base/logging_internal.h"

namespace base {
namespace internal {
namespace {

class PosixLogFile : public LogFile {
 public:
  explicit PosixLogFile(int fd) : fd_(fd) {}
  ~PosixLogFile() override { ::close(fd_); }
  bool appendLine(const std::string& line) override {
    size_t done = 0;
    while (done < line.size()) {
      const ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

 private:
  int fd_;
};

class PosixSystemMutex : public SystemMutex {
 public:
  explicit PosixSystemMutex(int fd) : fd_(fd) {}
  ~PosixSystemMutex() override { ::close(fd_); }
  void lock() override {
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  void unlock() override { ::flock(fd_, LOCK_UN); }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<LogFile> LogFile::open(const string16& name) {
  const int fd = ::open(nativePath(name).c_str(),
                        O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  // The log holds the phones' unique ids; a file left readable by an older
  // run is closed to others too.
  ::fchmod(fd, 0600);
  return std::make_unique<PosixLogFile>(fd);
}

std::unique_ptr<SystemMutex> SystemMutex::create(const string16& name) {
  // Slashes are not allowed in a file name: keep the name readable.
  std::string file = wideToUtf8(name);
  for (auto& c : file)
    if (c == '/' || c == '\\') c = '_';
  const char* tmp = ::getenv("TMPDIR");
  const std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + file + ".lock";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixSystemMutex>(fd);
}

void writeToDebugger(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

LogTime localNow() {
  LogTime t;
  const time_t now = ::time(nullptr);
  struct tm local;
  ::localtime_r(&now, &local);
  t.year = local.tm_year + 1900;
  t.month = local.tm_mon + 1;
  t.day = local.tm_mday;
  t.hour = local.tm_hour;
  t.minute = local.tm_min;
  t.second = local.tm_sec;
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  t.tickCount = static_cast<uint32_t>(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
  return t;
}

void processAndThreadIds(uint32_t* pid, uint32_t* tid) {
  *pid = static_cast<uint32_t>(::getpid());
  *tid = static_cast<uint32_t>(::syscall(SYS_gettid));
}

}  // namespace internal
}  // namespace base
