#include "PC_Audio_DRV/service_base.h"

#include "PC_Audio_DRV/trace.h"

namespace {
constexpr char kTraceSource[] = "servicebase";
std::atomic<ServiceBase*> g_instance{nullptr};
}  // namespace

ServiceBase::ServiceBase() { g_instance = this; }

ServiceBase::~ServiceBase() {
  ServiceBase* self = this;
  g_instance.compare_exchange_strong(self, nullptr);
}

ServiceBase* ServiceBase::instance() { return g_instance.load(); }

bool ServiceBase::reportStatus(uint32_t* error) {
  if (!reporter_) return true;
  return reporter_(this, error);
}

bool ServiceBase::startService(uint32_t argc, char16_t** argv) {
  status_.serviceType = kServiceWin32;
  status_.currentState = kStateStartPending;
  status_.controlsAccepted = kAcceptStopPauseContinue;
  status_.win32ExitCode = 0;
  status_.serviceSpecificExitCode = 0;
  status_.checkPoint = 0;
  status_.waitHint = 0;
  const uint32_t result = ServiceInit(argc, argv);
  uint32_t error = 0;
  if (result != 0) {
    lastError_ = result;
    WTRACE(wave::kTraceError, "Fail: %d", static_cast<int>(result));
    status_.currentState = kStateStopped;
    status_.win32ExitCode = result;
    status_.serviceSpecificExitCode = result;
    status_.checkPoint = 0;
    status_.waitHint = 0;
    if (!reportStatus(&error)) lastError_ = error;
    return false;
  }
  status_.currentState = kStateRunning;
  status_.checkPoint = 0;
  status_.waitHint = 0;
  if (!reportStatus(&error)) {
    lastError_ = error;
    WTRACE(wave::kTraceError, "Reporting runing status failed (%d)", static_cast<int>(error));
  }
  return true;
}

void ServiceBase::CtrlHandler(uint32_t control) {
  uint32_t error = 0;
  switch (control) {
    case kControlStop:
      WTRACE(wave::kTraceInfo, "SERVICE_CONTROL_STOP");
      status_.currentState = kStateStopped;
      status_.win32ExitCode = 0;
      status_.checkPoint = 0;
      status_.waitHint = 0;
      // The work stops before the report: once the manager hears "stopped"
      // the process may end at any moment.
      ServiceStop();
      if (!reportStatus(&error)) {
        lastError_ = error;
        WTRACE(wave::kTraceError, "Failed reporting on SERVICE_CONTROL_STOP (%d)", static_cast<int>(error));
      }
      return;
    case kControlPause:
      WTRACE(wave::kTraceInfo, "SERVICE_CONTROL_PAUSE");
      status_.currentState = kStatePaused;
      ServicePause(true);
      break;
    case kControlContinue:
      WTRACE(wave::kTraceInfo, "SERVICE_CONTROL_CONTINUE");
      status_.currentState = kStateRunning;
      ServicePause(false);
      break;
    case kControlInterrogate:
      WTRACE(wave::kTraceInfo, "SERVICE_CONTROL_INTERROGATE");
      ServiceInterrogate();
      break;
    default:
      WTRACE(wave::kTraceInfo, "Custom control code");
      ServiceControl(control);
      break;
  }
  if (!reportStatus(&error)) {
    lastError_ = error;
    WTRACE(wave::kTraceError, "Failed reporting current service status (%d)", static_cast<int>(error));
  }
}
