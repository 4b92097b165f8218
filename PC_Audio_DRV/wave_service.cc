#include "PC_Audio_DRV/wave_service.h"

#include "PC_Audio_DRV/trace.h"
#include "base/logging.h"
#include "base/reg_key.h"

namespace {
constexpr char kTraceSource[] = "Service";
}  // namespace

bool isConsoleShell(const base::string16& exeName, uint32_t processSession, uint32_t consoleSession) {
  static const char kShell[] = "explorer.exe";
  if (processSession != consoleSession || exeName.size() != sizeof(kShell) - 1) return false;
  for (size_t i = 0; i < exeName.size(); ++i) {
    char16_t c = exeName[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != static_cast<char16_t>(kShell[i])) return false;
  }
  return true;
}

bool readDeviceName(const base::RegKey& key, const char16_t* value, base::string16* name) {
  uint32_t type = 0;
  std::string data;
  if (key.readRawValue(value, &type, &data) != base::kRegOk) return false;
  if (type != base::kRegSz && type != base::kRegExpandSz) {
    LOG(WARNING) << "The device name " << value << " is not text (type " << type << ")";
    return false;
  }
  // Trailing zeros are the terminator (or padding); what is left must fit
  // the buffer with its own terminator.
  size_t units = data.size() / 2;
  const auto* text = reinterpret_cast<const char16_t*>(data.data());
  base::string16 result(text, units);
  const size_t end = result.find(u'\0');
  if (end != base::string16::npos) result.resize(end);
  if ((result.size() + 1) * 2 > kDeviceNameMaxBytes) {
    LOG(WARNING) << "The device name " << value << " is " << result.size()
                 << " characters long, more than the service takes; it is ignored";
    WTRACE(wave::kTraceError, "Device name too long");
    return false;
  }
  *name = result;
  return true;
}

class CWaveService::CCallbackWrite : public IAudioCallback {
 public:
  explicit CCallbackWrite(CWaveService* service) : service_(service) {}
  void Write(const uint8_t* bytes, int length) override {
    // The form outlives the link's reader: it is destroyed only after the
    // reader was joined.
    IWaveForm* form = service_->waveForm_.get();
    if (form && length > 0) form->Out(bytes, static_cast<size_t>(length));
  }

 private:
  CWaveService* service_;
};

CWaveService::CWaveService(WaveServiceEnv env) : env_(std::move(env)) {}

CWaveService::~CWaveService() { stopBridge(); }

uint32_t CWaveService::ServiceInit(uint32_t, char16_t**) {
  ping_ = 0;
  running_ = 0;
  WTRACE(wave::kTraceInfo, "Init service");
  WTRACE(wave::kTraceInfo, "Set process priority to HIGH");
  if (env_.raisePriority) env_.raisePriority();
  return 0;
}

void CWaveService::ServiceStop() {
  WTRACE(wave::kTraceInfo, "Stop service");
  // The bridge is stopped here rather than left to the end of the process,
  // so that the devices are closed in order.
  std::lock_guard<std::mutex> lock(pauseLock_);
  stopBridge();
}

void CWaveService::ServiceThread() {
  WTRACE(wave::kTraceInfo, "Did start service thread. %d", 0);
  WTRACE(wave::kTraceInfo, "Wait for SERVICE_RUNNING status");
  while (currentState() != kStateRunning) {
    if (currentState() == kStateStopped) return;
    if (!env_.sleepMs(kRunningPollMs)) return;
  }
  WTRACE(wave::kTraceInfo, "Now service is running");
  WTRACE(wave::kTraceInfo, "Pause service");
  ServicePause(true);
  WTRACE(wave::kTraceInfo, "Start service");
  ServicePause(false);
  while (currentState() != kStateStopped) {
    if (!watchdogCycle()) break;
  }
  WTRACE(wave::kTraceInfo, "Did finish service thread. %d", 0);
}

bool CWaveService::watchdogCycle() {
  ping_ = 0;
  if (!env_.sleepMs(kWatchdogPeriodMs)) return false;
  if (currentState() == kStateStopped) return false;
  if (ping_ == 0 && running_ == 0) {
    WTRACE(wave::kTraceInfo, "Ping not recieved. Try start service");
    ServicePause(false);
  }
  return true;
}

void CWaveService::ServiceControl(uint32_t code) {
  switch (code) {
    case WAVE_SERVICE_PING:
      WTRACE(wave::kTraceInfo, "Ping");
      ping_ = 1;
      break;
    case WAVE_SERVICE_PAUSE:
      WTRACE(wave::kTraceInfo, "Pause");
      ServicePause(true);
      break;
    case WAVE_SERVICE_CONTINUE:
      WTRACE(wave::kTraceInfo, "Continue");
      ServicePause(false);
      break;
    case WAVE_SERVICE_OPEN_DEVICE:
      WTRACE(wave::kTraceInfo, "OpenDevice");
      openDevice();
      break;
    default:
      break;  // accepted and ignored
  }
}

void CWaveService::openDevice() {
  base::string16 input, output;
  if (!env_.userNames || !env_.userNames->read(&input, &output)) return;
  base::RegKey key;
  if (key.create(base::RegRoot::kLocalMachine, kWaveServiceKey) == base::kRegOk) {
    key.writeValue(kOutputDeviceValue, output);
    key.writeValue(kInputDeviceValue, input);
    key.close();
  }
  WTRACE(wave::kTraceInfo, "Reopen Device");
  ServicePause(true);
  ServicePause(false);
}

void CWaveService::ServicePause(bool pause) {
  std::lock_guard<std::mutex> lock(pauseLock_);
  WTRACE(wave::kTraceInfo, pause ? "Request PAUSE" : "Request CONTINUE");
  if (pause) {
    if (!waveForm_ || !driver_) {
      WTRACE(wave::kTraceInfo, "Not runing. Nothing to do.");
      return;
    }
    stopBridge();
    ping_ = 1;
    WTRACE(wave::kTraceInfo, "Did pause");
  } else {
    startBridge();
  }
}

void CWaveService::stopBridge() {
  if (waveForm_) {
    WTRACE(wave::kTraceInfo, "Stopping recording from system device");
    waveForm_->StopRecording();
    WTRACE(wave::kTraceInfo, "Stopping playing to system device");
    waveForm_->StopPlaying();
  }
  if (driver_) {
    WTRACE(wave::kTraceInfo, "Stopping playing/recording from Quillon driver");
    driver_->Stop();
  }
  if (waveForm_ || driver_) WTRACE(wave::kTraceInfo, "Clean objects");
  driver_.reset();
  sink_.reset();
  waveForm_.reset();
  running_ = 0;
}

void CWaveService::startBridge() {
  if (!waveForm_) {
    WTRACE(wave::kTraceInfo, "Creating CWaveForm");
    base::RegKey key;
    base::string16 output, input;
    if (key.open(base::RegRoot::kLocalMachine, kWaveServiceKey) != base::kRegOk ||
        !readDeviceName(key, kOutputDeviceValue, &output) || !readDeviceName(key, kInputDeviceValue, &input)) {
      WTRACE(wave::kTraceError, "Fail");
      return;
    }
    if (env_.bridge) waveForm_ = env_.bridge->CreateWaveForm(input, output);
  }
  if (!waveForm_) {
    WTRACE(wave::kTraceError, "Can't create CWaveForm");
    return;
  }
  if (!driver_) {
    WTRACE(wave::kTraceInfo, "Opening driver");
    sink_ = std::make_unique<CCallbackWrite>(this);
    driver_ = env_.bridge->OpenDriver(sink_.get());
    if (!driver_) {
      WTRACE(wave::kTraceError, "Can't open driver");
      waveForm_.reset();
      sink_.reset();
      return;
    }
    waveForm_->SetReadCallback(&CWaveService::WriteToDriver, this);
    if (!driver_->Start()) {
      // The reader could not start: nothing would carry the playback, so
      // the bridge goes back to stopped and the watchdog tries again.
      WTRACE(wave::kTraceError, "Can't start driver");
      stopBridge();
      return;
    }
    if (!waveForm_->StartRecording()) {
      WTRACE(wave::kTraceError, "Can't start recording");
      stopBridge();
      return;
    }
    running_ = 1;
  }
  WTRACE(wave::kTraceInfo, "Did start");
}

int CWaveService::WriteToDriver(void* context, const uint8_t* bytes, uint32_t length) {
  auto* service = static_cast<CWaveService*>(context);
  // Recording is stopped (and its thread joined) before the link goes.
  IDriverLink* driver = service->driver_.get();
  if (driver) driver->Write(bytes, length);
  return 0;
}
