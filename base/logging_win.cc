// Windows side of the log: CreateFileW with read and write sharing
// (OPEN_ALWAYS), a seek to the end and one WriteFile per line; the debugger
// output is OutputDebugStringA; the system lock is a named mutex.
#include <windows.h>

#include "base/logging_internal.h"
#include "base/win_util.h"

namespace base {
namespace internal {
namespace {

class WinLogFile : public LogFile {
 public:
  explicit WinLogFile(HANDLE h) : file_(h) {}
  bool appendLine(const std::string& line) override {
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    ::SetFilePointerEx(file_.get(), zero, nullptr, FILE_END);
    DWORD written = 0;
    return ::WriteFile(file_.get(), line.data(), static_cast<DWORD>(line.size()), &written,
                       nullptr) &&
           written == line.size();
  }

 private:
  ScopedHandle file_;
};

class WinSystemMutex : public SystemMutex {
 public:
  explicit WinSystemMutex(HANDLE h) : mutex_(h) {}
  void lock() override {
    const DWORD r = ::WaitForSingleObject(mutex_.get(), INFINITE);
    (void)r;  // WAIT_ABANDONED still gives us the mutex
  }
  void unlock() override { ::ReleaseMutex(mutex_.get()); }

 private:
  ScopedHandle mutex_;
};

}  // namespace

std::unique_ptr<LogFile> LogFile::open(const string16& name) {
  HANDLE h = ::CreateFileW(wstr(name), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  ::SetFilePointerEx(h, zero, nullptr, FILE_END);
  return std::make_unique<WinLogFile>(h);
}

std::unique_ptr<SystemMutex> SystemMutex::create(const string16& name) {
  HANDLE h = ::CreateMutexW(nullptr, FALSE, wstr(name));
  if (!h) {
    // "Global\" needs a privilege on some systems; fall back to the session.
    string16 local = name;
    if (local.rfind(u"Global\\", 0) == 0) local = u"Local\\" + local.substr(7);
    h = ::CreateMutexW(nullptr, FALSE, wstr(local));
  }
  if (!h) return nullptr;
  return std::make_unique<WinSystemMutex>(h);
}

void writeToDebugger(const std::string& line) { ::OutputDebugStringA(line.c_str()); }

LogTime localNow() {
  SYSTEMTIME st;
  ::GetLocalTime(&st);
  LogTime t;
  t.year = st.wYear;
  t.month = st.wMonth;
  t.day = st.wDay;
  t.hour = st.wHour;
  t.minute = st.wMinute;
  t.second = st.wSecond;
  t.tickCount = ::GetTickCount();
  return t;
}

void processAndThreadIds(uint32_t* pid, uint32_t* tid) {
  *pid = ::GetCurrentProcessId();
  *tid = ::GetCurrentThreadId();
}

}  // namespace internal
}  // namespace base
