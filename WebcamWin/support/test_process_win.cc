#include <windows.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "WebcamWin/support/test_process.h"
#include "base/string_util.h"

namespace support_test {
namespace {

// How long the output may stay open after the child has exited.
constexpr DWORD kDrainMs = 2000;

std::wstring toWide(const std::string& utf8) {
  const base::string16 w = base::utf8ToWide(utf8);
  return std::wstring(w.begin(), w.end());
}

std::wstring upper(std::wstring s) {
  for (auto& c : s) c = static_cast<wchar_t>(towupper(c));
  return s;
}

}  // namespace

struct ChildProcess::Impl {
  HANDLE process = nullptr;
  HANDLE input = nullptr;
  HANDLE output = nullptr;
  std::thread reader;
  mutable std::mutex mutex;
  std::string collected;
  bool exited = false;
  std::atomic<bool> stopReading{false};

  // Polls the pipe so that the reader can be stopped even when some other
  // process still holds the pipe's writing end.
  void read() {
    char buffer[4096];
    while (!stopReading.load()) {
      DWORD available = 0;
      if (!PeekNamedPipe(output, nullptr, 0, nullptr, &available, nullptr)) return;  // closed
      if (available == 0) {
        Sleep(5);
        continue;
      }
      DWORD n = 0;
      if (!ReadFile(output, buffer, available < sizeof(buffer) ? available : sizeof(buffer), &n, nullptr)) return;
      std::lock_guard<std::mutex> lock(mutex);
      collected.append(buffer, n);
    }
  }
  void stopReader(DWORD graceMs) {
    if (!reader.joinable()) return;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < graceMs) {
      DWORD available = 0;
      if (!PeekNamedPipe(output, nullptr, 0, nullptr, &available, nullptr)) break;
      Sleep(5);
    }
    stopReading = true;
    reader.join();
  }
};

ChildProcess::ChildProcess() : impl_(std::make_unique<Impl>()) {}

ChildProcess::~ChildProcess() {
  if (impl_->process && !impl_->exited) {
    TerminateProcess(impl_->process, 9);
    WaitForSingleObject(impl_->process, 10000);
  }
  closeInput();
  impl_->stopReader(0);
  if (impl_->output) CloseHandle(impl_->output);
  if (impl_->process) CloseHandle(impl_->process);
}

bool ChildProcess::start(const std::string& program, const std::map<std::string, std::string>& env,
                         bool withInput) {
  SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
  HANDLE inRead = nullptr, inWrite = nullptr, outRead = nullptr, outWrite = nullptr;
  if (withInput && !CreatePipe(&inRead, &inWrite, &sa, 0)) return false;
  if (!CreatePipe(&outRead, &outWrite, &sa, 0)) return false;
  if (inWrite) SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);

  // Our environment with the given entries replaced or added.
  std::map<std::wstring, std::wstring> byName;  // upper-case name -> "Name=value"
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
    const std::wstring entry = p;
    const size_t eq = entry.find(L'=', 1);
    if (eq == std::wstring::npos) continue;
    byName[upper(entry.substr(0, eq))] = entry;
  }
  FreeEnvironmentStringsW(block);
  for (const auto& kv : env) byName[upper(toWide(kv.first))] = toWide(kv.first + "=" + kv.second);
  std::vector<wchar_t> environment;
  for (const auto& kv : byName) {
    environment.insert(environment.end(), kv.second.begin(), kv.second.end());
    environment.push_back(L'\0');
  }
  environment.push_back(L'\0');

  std::wstring line = L"\"" + toWide(program) + L"\"";
  std::vector<wchar_t> command(line.begin(), line.end());
  command.push_back(L'\0');
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = inRead;
  si.hStdOutput = outWrite;
  si.hStdError = outWrite;
  PROCESS_INFORMATION pi = {};
  const BOOL ok = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                                 environment.data(), nullptr, &si, &pi);
  if (inRead) CloseHandle(inRead);
  CloseHandle(outWrite);
  impl_->input = inWrite;
  impl_->output = outRead;
  if (!ok) return false;
  CloseHandle(pi.hThread);
  impl_->process = pi.hProcess;
  Impl* impl = impl_.get();
  impl_->reader = std::thread([impl] { impl->read(); });
  return true;
}

bool ChildProcess::writeInput(const std::string& bytes) {
  DWORD written = 0;
  return WriteFile(impl_->input, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

void ChildProcess::closeInput() {
  if (impl_->input) CloseHandle(impl_->input);
  impl_->input = nullptr;
}

std::string ChildProcess::output() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->collected;
}

bool ChildProcess::wait(int timeoutMs, int* exitCode) {
  if (WaitForSingleObject(impl_->process, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
    TerminateProcess(impl_->process, 9);
    WaitForSingleObject(impl_->process, 10000);
    impl_->exited = true;
    return false;
  }
  impl_->exited = true;
  DWORD code = 0;
  GetExitCodeProcess(impl_->process, &code);
  *exitCode = static_cast<int>(code);
  impl_->stopReader(kDrainMs);
  return true;
}

std::string nativeTestPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string out = "Z:" + path;
  for (auto& c : out)
    if (c == '/') c = '\\';
  return out;
}

}  // namespace support_test
