// ServiceBase: the frame of a service program, one per process. It keeps the
// status record the service control manager sees and runs the control
// handler's table (which state a control sets, which operation it calls);
// a host reports the status to the system: the service control manager on
// Windows (service_host_win.cc), the daemon's control socket on Linux
// (daemon_posix.cc).
//
// Thread: CtrlHandler on the host's control thread (the dispatcher thread);
// ServiceThread on the service's worker. The current state is one word
// written by one thread and read by the others.
#ifndef PC_AUDIO_DRV_SERVICE_BASE_H_
#define PC_AUDIO_DRV_SERVICE_BASE_H_

#include <atomic>
#include <cstdint>

// Service states and controls as the service control manager numbers them.
constexpr uint32_t kStateStopped = 1;
constexpr uint32_t kStateStartPending = 2;
constexpr uint32_t kStateRunning = 4;
constexpr uint32_t kStatePaused = 7;

constexpr uint32_t kControlStop = 1;
constexpr uint32_t kControlPause = 2;
constexpr uint32_t kControlContinue = 3;
constexpr uint32_t kControlInterrogate = 4;

constexpr uint32_t kServiceWin32 = 0x30;
constexpr uint32_t kAcceptStopPauseContinue = 3;

struct ServiceStatusRecord {
  uint32_t serviceType = 0;
  std::atomic<uint32_t> currentState{0};
  uint32_t controlsAccepted = 0;
  uint32_t win32ExitCode = 0;
  uint32_t serviceSpecificExitCode = 0;
  uint32_t checkPoint = 0;
  uint32_t waitHint = 0;
};

class ServiceBase {
 public:
  ServiceBase();
  virtual ~ServiceBase();
  ServiceBase(const ServiceBase&) = delete;
  ServiceBase& operator=(const ServiceBase&) = delete;

  // The process's service object (the last one constructed, while alive).
  static ServiceBase* instance();

  virtual void ServiceThread() {}
  virtual void ServicePause(bool pause) {}
  virtual void ServiceStop() {}
  virtual void ServiceInterrogate() {}
  virtual void ServiceControl(uint32_t code) {}
  virtual uint32_t ServiceInit(uint32_t argc, char16_t** argv) { return 0; }
  virtual const char16_t* GetServiceName() const = 0;

  // The control handler: sets the state the control asks for, calls the
  // operation and reports the status.
  void CtrlHandler(uint32_t control);

  // The host's start-up: START_PENDING, ServiceInit, then RUNNING or STOPPED
  // with the init result. True when the service runs and the host should
  // start the worker.
  bool startService(uint32_t argc, char16_t** argv);

  ServiceStatusRecord& status() { return status_; }
  uint32_t currentState() const { return status_.currentState.load(); }
  uint32_t lastError() const { return lastError_.load(); }
  void setLastError(uint32_t error) { lastError_ = error; }

  // Sends the status record to the system; the host's part. Returns false
  // with the error in *error when the report failed.
  using StatusReporter = bool (*)(ServiceBase* service, uint32_t* error);
  void setStatusReporter(StatusReporter reporter) { reporter_ = reporter; }
  bool reportStatus(uint32_t* error);

 protected:
  ServiceStatusRecord status_;
  std::atomic<uint32_t> lastError_{0};

 private:
  StatusReporter reporter_ = nullptr;
};

#endif  // PC_AUDIO_DRV_SERVICE_BASE_H_
