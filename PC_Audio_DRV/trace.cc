#include "PC_Audio_DRV/trace.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace wave {
namespace {

struct TraceState {
  std::mutex mutex;
  FILE* file = nullptr;
  std::string path;
  std::function<void(const std::string&)> capture;
};

TraceState& state() {
  static TraceState* s = new TraceState;  // lives until the process ends
  return *s;
}

}  // namespace

void trace(int severity, const char* source, int line, const char* function, const char* format, ...) {
  TraceState& s = state();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.file && !s.capture) return;
  }
  char message[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(message, sizeof(message), format, args);
  va_end(args);
  char text[1400];
  snprintf(text, sizeof(text), "%d %s(%d) %s: %s", severity, source, line, function, message);
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.file) {
    if (ftell(s.file) > kTraceFileMaxBytes) {
      FILE* again = freopen(s.path.c_str(), "w", s.file);
      s.file = again;
    }
    if (s.file) {
      fprintf(s.file, "%s\n", text);
      fflush(s.file);
    }
  }
  if (s.capture) s.capture(text);
}

bool setTraceFile(const std::string& path) {
  TraceState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.file) fclose(s.file);
  s.file = nullptr;
  s.path = path;
  if (path.empty()) return true;
  s.file = fopen(path.c_str(), "a");
  return s.file != nullptr;
}

void setTraceCaptureForTesting(std::function<void(const std::string&)> capture) {
  TraceState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.capture = std::move(capture);
}

}  // namespace wave
