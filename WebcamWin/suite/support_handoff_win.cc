// Windows: two anonymous pipes with inheritable child ends and
// CreateProcessW with the standard handles.
#include <windows.h>

#include "WebcamWin/suite/support_handoff.h"
#include "base/logging.h"
#include "base/win_util.h"

namespace {

constexpr DWORD kPollMs = 20;

int32_t resultOf(DWORD error) {
  return error == 0 ? static_cast<int32_t>(0x80004005u) : static_cast<int32_t>(0x80070000u | (error & 0xFFFF));
}

int32_t fail(const char* what) {
  const DWORD error = ::GetLastError();
  LOG(ERROR) << what;
  return resultOf(error);
}

// Closes a handle the hand-off owns: 0, or the result code (logged as
// `what`) when the system refused.
int32_t closeHandle(HANDLE* handle, const char* what) {
  if (!*handle) return 0;
  const BOOL ok = ::CloseHandle(*handle);
  *handle = nullptr;
  return ok ? 0 : fail(what);
}

struct Pipes {
  ~Pipes() {
    for (HANDLE h : {outRead, outWrite, inRead, inWrite})
      if (h) ::CloseHandle(h);
  }
  HANDLE outRead = nullptr, outWrite = nullptr, inRead = nullptr, inWrite = nullptr;
};

}  // namespace

base::string16 defaultSupportProgram() { return u"support.exe"; }

int32_t runSupportTool(const base::string16& program, const std::string& input,
                       const std::atomic<bool>* stop) {
  SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  Pipes p;
  if (!::CreatePipe(&p.outRead, &p.outWrite, &inherit, 0) ||
      !::SetHandleInformation(p.outRead, HANDLE_FLAG_INHERIT, 0))
    return fail("Stdout pipe creation failed");
  if (!::CreatePipe(&p.inRead, &p.inWrite, &inherit, 0) ||
      !::SetHandleInformation(p.inWrite, HANDLE_FLAG_INHERIT, 0))
    return fail("Stdin pipe creation failed");

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = p.inRead;
  startup.hStdOutput = p.outWrite;
  startup.hStdError = p.outWrite;
  PROCESS_INFORMATION process = {};
  std::wstring commandLine = L"\"" + std::wstring(program.begin(), program.end()) + L"\"";
  if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process))
    return fail("CreateProcess failed");
  ::CloseHandle(process.hProcess);
  ::CloseHandle(process.hThread);
  // The child has its own copies now; ours would keep its input and output
  // open.
  if (const int32_t hr = closeHandle(&p.inRead, "Closing handle failed")) return hr;

  DWORD written = 0;
  if (!input.empty() &&
      !::WriteFile(p.inWrite, input.data(), static_cast<DWORD>(input.size()), &written, nullptr))
    LOG(ERROR) << "Writing to the support tool failed with error " << ::GetLastError();
  if (const int32_t hr = closeHandle(&p.inWrite, "Close pipe failed")) return hr;
  if (const int32_t hr = closeHandle(&p.outWrite, "Closing handle failed")) return hr;

  char buffer[kSupportDrainBytes];
  for (;;) {
    if (stop) {
      // Read only what is there, so that a stop is seen in time.
      DWORD available = 0;
      if (!::PeekNamedPipe(p.outRead, nullptr, 0, nullptr, &available, nullptr)) break;
      if (available == 0) {
        if (stop->load()) break;
        ::Sleep(kPollMs);
        continue;
      }
    }
    DWORD read = 0;
    if (!::ReadFile(p.outRead, buffer, sizeof(buffer), &read, nullptr) || read == 0) break;
  }
  return 0;
}
