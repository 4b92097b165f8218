// The process-wide log. A LogMessage collects one line through stream
// insertion; when it is destroyed the line goes to the log file and, by
// destination, to the debugger output (standard error on Linux). Any thread
// may log; each line is written in one call under the logging lock.
#ifndef BASE_LOGGING_H_
#define BASE_LOGGING_H_

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>

#include "base/error.h"
#include "base/string_util.h"

namespace base {

using LogSeverity = int32_t;
constexpr LogSeverity LOG_INFO = 0;
constexpr LogSeverity LOG_WARNING = 1;
constexpr LogSeverity LOG_ERROR = 2;
constexpr LogSeverity LOG_ERROR_REPORT = 3;
constexpr LogSeverity LOG_FATAL = 4;

// "INFO", "WARNING", "ERROR", "ERROR_REPORT", "FATAL"; "UNKNOWN" otherwise.
const char* logSeverityName(LogSeverity severity);

enum LogDestination : int32_t {
  kLogNone = 0,
  kLogToFile = 1,
  kLogToDebugger = 2,
  kLogToFileAndDebugger = 3,
};

enum LogLockMode : int32_t {
  kLockSystemMutex = 0,  // named system mutex "Global\<file name>"
  kLockInProcess = 1,    // in-process critical section
};

// The first call chooses the lock. Then (under the lock) closes any open
// file, stores the destination and, for destinations 1 and 3, the file name;
// deletes the existing file unless keepExisting, and opens it. Returns false
// when the file could not be opened (file output is then off).
bool initLogging(const string16& fileName, int32_t destination,
                 int32_t lockMode, int32_t keepExisting);

// The file given to initLogging() (empty before, or without file output).
string16 logFileName();

// Switches the "[pid:tid] " item and the date/time item of every line.
void setLogItems(bool ids, bool timestamp);
// Replaces the debugger of destinations 2 and 3 (OutputDebugStringA on
// Windows, standard error on Linux) for this process; an empty sink puts
// the system's back. Called with the log's lock held: it must not log.
void setLogDebuggerSink(std::function<void(const std::string& line)> sink);
// The tick-count item (off in the programs).
void setLogTickCount(bool on);

// Messages below this severity are dropped (the programs keep 0).
void setMinLogSeverity(LogSeverity severity);

// Closes the file and returns logging to its uninitialised state (tests).
void resetLoggingForTesting();

// Log rotation at start-up: deletes the oldest "<prefix>-*.log" files of
// `folder` until fewer than `keep` remain and returns the path of the new
// file "<prefix>-YYYY.MM.DD-hh.mm.ss.log" in that folder ("...ss-2.log",
// "-3" and so on when a start in the same second took that name).
string16 makeLogFileName(const string16& folder, int keep,
                         const string16& prefix);

// Local wall-clock time as the log shows it.
struct LogTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  uint32_t tickCount = 0;
};
// Replaces the clock (and the process/thread ids) for tests; pass nullptr to
// restore the real ones.
void setLogClockForTesting(std::function<LogTime()> clock);
void setLogIdsForTesting(std::function<void(uint32_t* pid, uint32_t* tid)> ids);

class LogMessage {
 public:
  LogMessage(const char* file, int line, LogSeverity severity);
  ~LogMessage();
  std::ostream& stream() { return stream_; }

 private:
  LogSeverity severity_;
  const char* file_;
  int line_;
  std::ostringstream stream_;
};

// Makes "cond ? (void)0 : LogMessageVoidify() & stream" well-typed.
struct LogMessageVoidify {
  void operator&(std::ostream&) {}
};

// printf-style lines: 8-bit into a 1024-character buffer, wide into a
// 1024-wide-character buffer converted to UTF-8 (longer text is cut).
void logPrintf(const char* file, int line, LogSeverity severity,
               const char* format, ...) __attribute__((format(printf, 4, 5)));
void logPrintfWide(const char* file, int line, LogSeverity severity,
                   const wchar_t* format, ...);

// Writes a finished line (without its line feed) as a LogMessage would.
void writeLogLine(const char* file, int line, LogSeverity severity,
                  const std::string& text);

}  // namespace base

std::ostream& operator<<(std::ostream& out, const base::string16& text);
std::ostream& operator<<(std::ostream& out, const char16_t* text);
std::ostream& operator<<(std::ostream& out, const transport::Error* error);

#define LOG(severity) \
  ::base::LogMessage(__FILE__, __LINE__, ::base::LOG_##severity).stream()

#define LOG_IF(severity, condition) \
  !(condition) ? (void)0 : ::base::LogMessageVoidify() & LOG(severity)

// A failed check writes "Check failed: <condition>. " at FATAL and goes on.
#define CHECK(condition)                                      \
  (condition) ? (void)0                                       \
              : ::base::LogMessageVoidify() & LOG(FATAL)      \
                                                  << "Check failed: " #condition ". "

#define LOGF(severity, ...) \
  ::base::logPrintf(__FILE__, __LINE__, ::base::LOG_##severity, __VA_ARGS__)
#define LOGWF(severity, ...) \
  ::base::logPrintfWide(__FILE__, __LINE__, ::base::LOG_##severity, __VA_ARGS__)

#endif  // BASE_LOGGING_H_
