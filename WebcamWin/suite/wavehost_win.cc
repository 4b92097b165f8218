// Windows: the service control manager of the local machine.
#include <windows.h>

#include <memory>

#include "WebcamWin/suite/wavehost_platform.h"
#include "base/win_util.h"

namespace {

constexpr DWORD kMaxMessageChars = 1024;

CWaveHost::SystemError lastError() {
  CWaveHost::SystemError error;
  error.code = ::GetLastError();
  wchar_t text[kMaxMessageChars] = {};
  DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error.code,
                             0, text, kMaxMessageChars, nullptr);
  while (n > 0 && (text[n - 1] == L' ' || text[n - 1] == L'\r' || text[n - 1] == L'\n' || text[n - 1] == L'\t'))
    --n;
  error.message = base::fromWide(text, n);
  return error;
}

}  // namespace

struct CWaveHost::Handles {
  ~Handles() {
    if (service) ::CloseServiceHandle(service);
    if (manager) ::CloseServiceHandle(manager);
  }
  SC_HANDLE manager = nullptr;
  SC_HANDLE service = nullptr;
};

void CWaveHost::HandlesDeleter::operator()(Handles* handles) const { delete handles; }

namespace wavehost_platform {

CWaveHost::Handles* open(Step* failed, CWaveHost::SystemError* error) {
  auto handles = std::make_unique<CWaveHost::Handles>();
  handles->manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!handles->manager) {
    *failed = Step::kManager;
    *error = lastError();
    return nullptr;
  }
  handles->service = ::OpenServiceW(handles->manager, base::wstr(kWaveServiceName),
                                    SERVICE_QUERY_STATUS | SERVICE_USER_DEFINED_CONTROL);
  if (!handles->service) {
    *failed = Step::kService;
    *error = lastError();
    return nullptr;  // closes the manager
  }
  return handles.release();
}

bool queryState(CWaveHost::Handles* handles, int32_t* state, CWaveHost::SystemError* error) {
  SERVICE_STATUS_PROCESS status = {};
  DWORD needed = 0;
  if (!::QueryServiceStatusEx(handles->service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof(status), &needed)) {
    *error = lastError();
    return false;
  }
  *state = static_cast<int32_t>(status.dwCurrentState);
  return true;
}

bool control(CWaveHost::Handles* handles, uint32_t code, CWaveHost::SystemError* error) {
  SERVICE_STATUS status = {};
  if (!::ControlService(handles->service, code, &status)) {
    *error = lastError();
    return false;
  }
  return true;
}

}  // namespace wavehost_platform
