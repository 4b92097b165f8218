// Windows: `wavehost` under the service control manager. "install" and
// "remove" talk to the manager; otherwise the process is handed to the
// service control dispatcher with one entry, the "Lumora Wave Service".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "PC_Audio_DRV/service_host.h"
#include "PC_Audio_DRV/trace.h"
#include "PC_Audio_DRV/wave_service.h"
#include "base/win_util.h"

namespace {

constexpr char kTraceSource[] = "servicebase";

SERVICE_STATUS_HANDLE g_statusHandle = nullptr;

std::wstring modulePath() {
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, n);
}

std::string narrow(const std::wstring& text) {
  return base::wideToUtf8(base::fromWide(text.c_str()));
}

class ScopedServiceHandle {
 public:
  explicit ScopedServiceHandle(SC_HANDLE handle) : handle_(handle) {}
  ~ScopedServiceHandle() {
    if (handle_) ::CloseServiceHandle(handle_);
  }
  SC_HANDLE get() const { return handle_; }

 private:
  SC_HANDLE handle_;
};

bool reportToManager(ServiceBase* service, uint32_t* error) {
  ServiceStatusRecord& record = service->status();
  SERVICE_STATUS status = {};
  status.dwServiceType = record.serviceType;
  status.dwCurrentState = record.currentState.load();
  status.dwControlsAccepted = record.controlsAccepted;
  status.dwWin32ExitCode = record.win32ExitCode;
  status.dwServiceSpecificExitCode = record.serviceSpecificExitCode;
  status.dwCheckPoint = record.checkPoint;
  status.dwWaitHint = record.waitHint;
  if (::SetServiceStatus(g_statusHandle, &status)) return true;
  *error = ::GetLastError();
  return false;
}

void WINAPI CtrlHandler(DWORD control) {
  if (ServiceBase* service = ServiceBase::instance()) service->CtrlHandler(control);
}

DWORD WINAPI workerThread(void* context) {
  static_cast<ServiceBase*>(context)->ServiceThread();
  return 0;
}

// Start arguments of the form LUMORA_...=value become environment variables
// of the service (the tests choose the simulated sound device this way).
void takeEnvironmentArguments(DWORD argc, wchar_t** argv) {
  for (DWORD i = 1; i < argc; ++i) {
    std::wstring arg = argv[i] ? argv[i] : L"";
    const size_t equals = arg.find(L'=');
    if (arg.rfind(L"LUMORA_", 0) != 0 || equals == std::wstring::npos) continue;
    ::SetEnvironmentVariableW(arg.substr(0, equals).c_str(), arg.substr(equals + 1).c_str());
    _wputenv(arg.c_str());
    if (arg.rfind(L"LUMORA_WAVEHOST_TRACE=", 0) == 0) wave::setTraceFile(narrow(arg.substr(equals + 1)));
  }
}

void WINAPI ServiceStart_(DWORD argc, wchar_t** argv) {
  ServiceBase* service = ServiceBase::instance();
  if (!service) return;
  takeEnvironmentArguments(argc, argv);
  service->status().serviceType = kServiceWin32;
  service->status().currentState = kStateStartPending;
  g_statusHandle = ::RegisterServiceCtrlHandlerW(base::wstr(service->GetServiceName()), &CtrlHandler);
  if (!g_statusHandle) {
    service->setLastError(::GetLastError());
    WTRACE(wave::kTraceError, "Fail: %d", static_cast<int>(service->lastError()));
    return;
  }
  service->setStatusReporter(&reportToManager);
  if (!service->startService(argc, reinterpret_cast<char16_t**>(argv))) return;
  HANDLE thread = ::CreateThread(nullptr, 0, &workerThread, service, 0, nullptr);
  if (thread) ::CloseHandle(thread);
}

}  // namespace

int installService() {
  ScopedServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (!manager.get()) {
    std::printf("Can't open SCM\n");
    return 1;
  }
  const std::wstring binary = L"\"" + modulePath() + L"\"";
  ScopedServiceHandle service(::CreateServiceW(manager.get(), base::wstr(kWaveServiceName), base::wstr(kWaveServiceName),
                                               SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                               SERVICE_ERROR_NORMAL, binary.c_str(), nullptr, nullptr, nullptr,
                                               nullptr, nullptr));
  if (!service.get()) {
    std::printf("Registration error!\n");
    return 2;
  }
  SERVICE_DELAYED_AUTO_START_INFO delayed = {};
  delayed.fDelayedAutostart = FALSE;
  if (!::ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &delayed))
    std::printf("Can't disable auto start delay. This is normal for OS prior Windows Vista.");
  std::printf("Successfully registered %s\n", narrow(binary).c_str());
  return 0;
}

int removeService() {
  ScopedServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (!manager.get()) {
    std::printf("Can't open SCM\n");
    return 1;
  }
  ScopedServiceHandle service(::OpenServiceW(manager.get(), base::wstr(kWaveServiceName), DELETE));
  if (!service.get()) {
    std::printf("Can't open service\n");
    return 2;
  }
  if (!::DeleteService(service.get())) {
    std::printf("Can't delete service\n");
    return 3;
  }
  std::printf("Service deleted\n");
  return 0;
}

int runServiceHost(const std::vector<base::string16>&) {
  // The trace file sits beside the program.
  std::wstring trace = modulePath();
  const size_t slash = trace.find_last_of(L"\\/");
  trace = (slash == std::wstring::npos ? std::wstring() : trace.substr(0, slash + 1)) + L"wavehost-trace.log";
  wave::setTraceFile(narrow(trace));

  // These live until the process ends, like the service object below.
  WaveServiceEnv env;
  env.bridge = createSystemBridgeFactory().release();
  env.userNames = createUserDeviceNames().release();
  env.sleepMs = [](unsigned ms) {
    ::Sleep(ms);
    return true;
  };
  env.raisePriority = [] { ::SetPriorityClass(::GetCurrentProcess(), HIGH_PRIORITY_CLASS); };
  // Lives until the process ends: the worker may still sleep in the
  // watchdog when the dispatcher returns.
  static CWaveService* service = new CWaveService(env);
  (void)service;
  std::wstring name = base::wstr(kWaveServiceName);
  SERVICE_TABLE_ENTRYW table[] = {{&name[0], &ServiceStart_}, {nullptr, nullptr}};
  ::StartServiceCtrlDispatcherW(table);
  return 0;
}
