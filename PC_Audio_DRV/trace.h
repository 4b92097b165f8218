// Trace lines of `wavehost`: a severity (0 information, 1 warning, 2 error),
// the source file, the line, the function and the message. They go to the
// trace file when one is set (the service's own, kept below a size limit)
// and to a capture that tests install; otherwise they are dropped.
//
// Any thread may trace; each line is written whole under one lock.
#ifndef PC_AUDIO_DRV_TRACE_H_
#define PC_AUDIO_DRV_TRACE_H_

#include <functional>
#include <string>

namespace wave {

constexpr int kTraceInfo = 0;
constexpr int kTraceWarning = 1;
constexpr int kTraceError = 2;
// The trace file is started again from empty beyond this size.
constexpr long kTraceFileMaxBytes = 4L * 1024 * 1024;

void trace(int severity, const char* source, int line, const char* function,
           const char* format, ...) __attribute__((format(printf, 5, 6)));

// Sets (or with an empty path, ends) the trace file; appends to it.
bool setTraceFile(const std::string& path);
// Every finished line (without its line feed) also goes here; nullptr ends.
void setTraceCaptureForTesting(std::function<void(const std::string&)> capture);

}  // namespace wave

// `kTraceSource` is each file's source name ("Service", "servicebase", ...).
#define WTRACE(severity, ...) \
  ::wave::trace(severity, kTraceSource, __LINE__, __func__, __VA_ARGS__)

#endif  // PC_AUDIO_DRV_TRACE_H_
