// What the log needs from the platform (logging_win.cc / logging_posix.cc).
// Only logging.cc includes this.
#ifndef BASE_LOGGING_INTERNAL_H_
#define BASE_LOGGING_INTERNAL_H_

#include <cstdint>
#include <memory>
#include <string>

#include "base/logging.h"

namespace base {
namespace internal {

// An open log file: opened for writing with read and write sharing, created
// when missing, each line appended at the end in one write.
class LogFile {
 public:
  static std::unique_ptr<LogFile> open(const string16& name);
  virtual ~LogFile() = default;
  virtual bool appendLine(const std::string& line) = 0;
};

// A lock shared by every process that logs to the same file name.
class SystemMutex {
 public:
  static std::unique_ptr<SystemMutex> create(const string16& name);
  virtual ~SystemMutex() = default;
  virtual void lock() = 0;
  virtual void unlock() = 0;
};

void writeToDebugger(const std::string& line);
LogTime localNow();
void processAndThreadIds(uint32_t* pid, uint32_t* tid);

}  // namespace internal
}  // namespace base

#endif  // BASE_LOGGING_INTERNAL_H_
