#include "base/logging.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <iostream>
#include <memory>
#include <mutex>

#include "base/file_util.h"
#include "base/logging_internal.h"

namespace base {
namespace {

// Process-wide logging state. `stateMutex` guards the fields; the log lock
// (in-process or a system mutex) serialises the writes to the file.
struct LogState {
  std::mutex stateMutex;
  bool lockChosen = false;
  int32_t lockMode = kLockInProcess;
  std::unique_ptr<internal::SystemMutex> systemMutex;
  std::mutex fileLock;

  LogSeverity minSeverity = LOG_INFO;
  int32_t destination = kLogToFile;
  std::function<void(const std::string&)> debuggerSink;
  string16 fileName;
  std::unique_ptr<internal::LogFile> file;
  bool fileFailed = false;

  bool showIds = true;
  bool showTime = true;
  bool showTicks = false;
  std::function<LogTime()> clock;
  std::function<void(uint32_t*, uint32_t*)> ids;
};

LogState& state() {
  static LogState* s = new LogState;  // never destroyed: logging outlives statics
  return *s;
}

class LogLock {
 public:
  explicit LogLock(LogState& s) : s_(s) {
    if (s_.systemMutex) s_.systemMutex->lock();
    else s_.fileLock.lock();
  }
  ~LogLock() {
    if (s_.systemMutex) s_.systemMutex->unlock();
    else s_.fileLock.unlock();
  }
 private:
  LogState& s_;
};

void chooseLock(LogState& s, const string16& fileName, int32_t lockMode) {
  if (s.lockChosen) return;
  s.lockChosen = true;
  s.lockMode = lockMode;
  if (lockMode != kLockInProcess && lockMode != 0) s.lockMode = kLockInProcess;
  if (s.lockMode == kLockSystemMutex) {
    string16 name = fileName.empty() ? string16(u"debuf.log") : fileName;
    for (auto& c : name)
      if (c == u'\\') c = u'/';
    s.systemMutex = internal::SystemMutex::create(u"Global\\" + name);
  }
}

// Opens the stored file, or "debug.log" beside the executable, or
// ".\debug.log" in the current folder; on failure file output stays off.
void openFileLocked(LogState& s) {
  if (s.file || s.fileFailed) return;
  if (!s.fileName.empty()) {
    s.file = internal::LogFile::open(s.fileName);
  } else {
    s.file = internal::LogFile::open(joinPath(executableDirectory(), u"debug.log"));
    if (!s.file)
      s.file = internal::LogFile::open(string16(u".") + kPathSeparator + u"debug.log");
  }
  if (!s.file) s.fileFailed = true;
}

std::string linePrefix(LogState& s, const char* file, int line, LogSeverity severity) {
  std::string out;
  const bool needTime = s.showTime || s.showTicks;
  LogTime t;
  if (needTime) t = s.clock ? s.clock() : internal::localNow();
  if (s.showTime) {
    out += stringPrintf("%02d/%02d/%04d %02d:%02d:%02d:", t.month, t.day, t.year,
                        t.hour, t.minute, t.second);
  }
  if (s.showTicks) out += stringPrintf("%u:", t.tickCount);
  out += logSeverityName(severity);
  out += ':';
  out += baseName(std::string(file ? file : ""));
  out += stringPrintf("(%d):", line);
  if (s.showIds) {
    uint32_t pid = 0, tid = 0;
    if (s.ids) s.ids(&pid, &tid);
    else internal::processAndThreadIds(&pid, &tid);
    out += stringPrintf("[%u:%u] ", pid, tid);
  }
  return out;
}

}  // namespace

const char* logSeverityName(LogSeverity severity) {
  switch (severity) {
    case LOG_INFO: return "INFO";
    case LOG_WARNING: return "WARNING";
    case LOG_ERROR: return "ERROR";
    case LOG_ERROR_REPORT: return "ERROR_REPORT";
    case LOG_FATAL: return "FATAL";
  }
  return "UNKNOWN";
}

bool initLogging(const string16& fileName, int32_t destination, int32_t lockMode,
                 int32_t keepExisting) {
  LogState& s = state();
  std::lock_guard<std::mutex> guard(s.stateMutex);
  chooseLock(s, fileName, lockMode);
  LogLock lock(s);
  s.file.reset();
  s.fileFailed = false;
  s.destination = destination;
  if (destination == kLogToFile || destination == kLogToFileAndDebugger) {
    s.fileName = fileName;
    if (!keepExisting && !fileName.empty()) deleteFile(fileName);
    openFileLocked(s);
    return s.file != nullptr;
  }
  return true;
}

string16 logFileName() {
  LogState& s = state();
  std::lock_guard<std::mutex> guard(s.stateMutex);
  return s.fileName;
}

void setLogItems(bool ids, bool timestamp) {
  LogState& s = state();
  std::lock_guard<std::mutex> guard(s.stateMutex);
  s.showIds = ids;
  s.showTime = timestamp;
}

void setLogTickCount(bool on) {
  LogState& s = state();
  std::lock_guard<std::mutex> guard(s.stateMutex);
  s.showTicks = on;
}

void setMinLogSeverity(LogSeverity severity) {
  LogState& s = state();
  std::lock_guard<std::mutex> guard(s.stateMutex);
  s.minSeverity = severity;
}

void setLogClockForTesting(std::function<LogTime()> clock) {
  LogState& s = state();
  std::lock_guard<std::mutex> guard(s.stateMutex);
  s.clock = std::move(clock);
}

void setLogIdsForTesting(std::function<void(uint32_t*, uint32_t*)> ids) {
  LogState& s = state();
  std::lock_guard<std::mutex> guard(s.stateMutex);
  s.ids = std::move(ids);
}

void resetLoggingForTesting() {
  LogState& s = state();
  std::lock_guard<std::mutex> guard(s.stateMutex);
  s.file.reset();
  s.fileFailed = false;
  s.fileName.clear();
  s.destination = kLogToFile;
  s.debuggerSink = nullptr;
  s.minSeverity = LOG_INFO;
  s.showIds = true;
  s.showTime = true;
  s.showTicks = false;
}

void setLogDebuggerSink(std::function<void(const std::string& line)> sink) {
  LogState& s = state();
  std::lock_guard<std::mutex> guard(s.stateMutex);
  s.debuggerSink = std::move(sink);
}

void writeLogLine(const char* file, int line, LogSeverity severity,
                  const std::string& text) {
  LogState& s = state();
  std::lock_guard<std::mutex> guard(s.stateMutex);
  if (severity < s.minSeverity) return;
  std::string out = linePrefix(s, file, line, severity);
  out += text;
  out += '\n';
  if (s.destination == kLogToDebugger || s.destination == kLogToFileAndDebugger) {
    if (s.debuggerSink) s.debuggerSink(out);
    else internal::writeToDebugger(out);
  } else if (severity >= LOG_ERROR) {
    std::fwrite(out.data(), 1, out.size(), stderr);
    std::fflush(stderr);
  }
  if (s.destination == kLogToFile || s.destination == kLogToFileAndDebugger) {
    openFileLocked(s);
    if (s.file) {
      LogLock lock(s);
      s.file->appendLine(out);
    }
  }
}

LogMessage::LogMessage(const char* file, int line, LogSeverity severity)
    : severity_(severity), file_(file), line_(line) {}

LogMessage::~LogMessage() { writeLogLine(file_, line_, severity_, stream_.str()); }

void logPrintf(const char* file, int line, LogSeverity severity, const char* format, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof(buffer), format, args);
  va_end(args);
  writeLogLine(file, line, severity, buffer);
}

void logPrintfWide(const char* file, int line, LogSeverity severity,
                   const wchar_t* format, ...) {
  wchar_t buffer[1024];
  va_list args;
  va_start(args, format);
  const int n = std::vswprintf(buffer, 1024, format, args);
  va_end(args);
  if (n < 0) buffer[1023] = L'\0';  // cut: keep what fitted
  string16 wide;
  for (const wchar_t* p = buffer; *p; ++p) {
    const uint32_t c = static_cast<uint32_t>(*p);
    if (c >= 0x10000) {
      wide.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      wide.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      wide.push_back(static_cast<char16_t>(c));
    }
  }
  writeLogLine(file, line, severity, wideToUtf8(wide));
}

}  // namespace base

namespace transport {
std::string describeError(const Error* error) {
  if (!error) return "<Error: (null)>";
  return base::stringPrintf("<Error: 0x%lx> Code: %d. Domain: %d. Description: ",
                            static_cast<unsigned long>(reinterpret_cast<uintptr_t>(error)),
                            error->code, error->domain) +
         error->description;
}
}  // namespace transport

std::ostream& operator<<(std::ostream& out, const base::string16& text) {
  return out << base::wideToUtf8(text);
}

std::ostream& operator<<(std::ostream& out, const char16_t* text) {
  return out << (text ? base::wideToUtf8(text) : std::string("(null)"));
}

std::ostream& operator<<(std::ostream& out, const transport::Error* error) {
  return out << transport::describeError(error);
}

namespace base {

namespace {
// Past this many starts in one second the last name is shared.
constexpr int kMaxSameSecondLogs = 99;
}  // namespace

string16 makeLogFileName(const string16& folder, int keep, const string16& prefix) {
  const string16 head = toLowerWide(prefix + u"-");
  const string16 tail = u".log";
  std::vector<string16> matches;
  for (const string16& name : listDirectory(folder)) {
    const string16 lower = toLowerWide(name);
    if (lower.size() >= head.size() + tail.size() &&
        lower.compare(0, head.size(), head) == 0 &&
        lower.compare(lower.size() - tail.size(), tail.size(), tail) == 0) {
      matches.push_back(name);
    }
  }
  // Names carry the creation time, so the first listed is the oldest.
  size_t next = 0;
  while (matches.size() - next >= static_cast<size_t>(keep > 0 ? keep : 1)) {
    const string16 path = joinPath(folder, matches[next]);
    if (pathExists(path) && !isDirectory(path)) deleteFile(path);
    ++next;
  }
  LogTime t;
  {
    LogState& s = state();
    std::lock_guard<std::mutex> guard(s.stateMutex);
    t = s.clock ? s.clock() : internal::localNow();
  }
  const std::string stamp = stringPrintf("-%04d.%02d.%02d-%02d.%02d.%02d", t.year, t.month,
                                         t.day, t.hour, t.minute, t.second);
  const string16 stem = joinPath(folder, prefix + asciiToWide(stamp));
  // A second start within the same second gets a name of its own: the file
  // of the first may still be in use, and a new log replaces what it names.
  string16 name = stem + tail;
  for (int n = 2; pathExists(name) && n <= kMaxSameSecondLogs; ++n)
    name = stem + asciiToWide(stringPrintf("-%d", n)) + tail;
  return name;
}

}  // namespace base
