// Test service (Windows): registers as "Lumora Wave Service" and appends
// every user control code it receives, one number a line, to the file named
// by its first start argument. Stops on SERVICE_CONTROL_STOP.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

wchar_t kName[] = L"Lumora Wave Service";
SERVICE_STATUS_HANDLE g_status = nullptr;
SERVICE_STATUS g_state = {};
HANDLE g_stopped = nullptr;
std::wstring g_record;

void report(DWORD state) {
  g_state.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  g_state.dwCurrentState = state;
  g_state.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  ::SetServiceStatus(g_status, &g_state);
}

DWORD WINAPI handler(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_STOP) {
    report(SERVICE_STOP_PENDING);
    ::SetEvent(g_stopped);
    return NO_ERROR;
  }
  if (control >= 128 && control <= 255) {
    if (FILE* f = ::_wfopen(g_record.c_str(), L"ab")) {
      std::fprintf(f, "%lu\n", control);
      std::fclose(f);
    }
  }
  return NO_ERROR;
}

void WINAPI serviceMain(DWORD argc, wchar_t** argv) {
  if (argc > 1) g_record = argv[1];
  g_status = ::RegisterServiceCtrlHandlerExW(kName, &handler, nullptr);
  if (!g_status) return;
  g_stopped = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  report(SERVICE_RUNNING);
  ::WaitForSingleObject(g_stopped, INFINITE);
  report(SERVICE_STOPPED);
}

}  // namespace

int main() {
  SERVICE_TABLE_ENTRYW table[] = {{kName, &serviceMain}, {nullptr, nullptr}};
  return ::StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
