// CWaveService: the audio bridge service "Lumora Wave Service". It keeps one
// bridge between the virtual sound device and the real devices named in the
// machine key, stops it while the main program pings it (codes 200 to 203),
// and a watchdog starts it again once nobody pinged for five seconds.
//
// What touches the system is handed in: the bridge factory, the reading of
// the logged-on user's device names (code 203) and the clock of the
// watchdog, so that tests drive the logic without devices or sleeps.
//
// Thread: CtrlHandler (and so ServicePause, ServiceControl) on the control
// thread; ServiceThread on the worker. ServicePause is serialised.
#ifndef PC_AUDIO_DRV_WAVE_SERVICE_H_
#define PC_AUDIO_DRV_WAVE_SERVICE_H_

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "PC_Audio_DRV/bridge.h"
#include "PC_Audio_DRV/service_base.h"
#include "PC_Audio_DRV/wave_service_protocol.h"
#include "base/string_util.h"

constexpr unsigned kWatchdogPeriodMs = 5000;
constexpr unsigned kRunningPollMs = 1000;

// Reads a device name value the way the service does: REG_SZ of at most
// kDeviceNameMaxBytes. False (logged) when missing, of another type or too
// long.
namespace base {
class RegKey;
}
bool readDeviceName(const base::RegKey& key, const char16_t* value, base::string16* name);

// The logged-on user's device names for code 203.
class UserDeviceNames {
 public:
  virtual ~UserDeviceNames() = default;
  // False when there is no logged-on user or either value is missing.
  virtual bool read(base::string16* input, base::string16* output) = 0;
};
// Windows: the shell's token, impersonation, the user's hive. Linux: the
// daemon runs as the user and reads its own key.
std::unique_ptr<UserDeviceNames> createUserDeviceNames();
// Windows: whether a process is the shell of the user at the console, whose
// token code 203 borrows. Only that exact name (any case) in the active
// console session counts: "myexplorer.exe" or another session's shell would
// read another user's choice.
bool isConsoleShell(const base::string16& exeName, uint32_t processSession, uint32_t consoleSession);

struct WaveServiceEnv {
  BridgeFactory* bridge = nullptr;
  UserDeviceNames* userNames = nullptr;
  // Sleeps `ms`; returns early (false) when the service is asked to stop.
  std::function<bool(unsigned ms)> sleepMs;
  // Raises the process priority; may be empty.
  std::function<void()> raisePriority;
};

class CWaveService : public ServiceBase {
 public:
  explicit CWaveService(WaveServiceEnv env);
  ~CWaveService() override;

  void ServiceThread() override;
  void ServicePause(bool pause) override;
  void ServiceStop() override;
  void ServiceInterrogate() override {}
  void ServiceControl(uint32_t code) override;
  uint32_t ServiceInit(uint32_t argc, char16_t** argv) override;
  const char16_t* GetServiceName() const override { return kWaveServiceName; }

  // One watchdog cycle: clear the ping flag, sleep five seconds, start the
  // bridge when no ping came and it is not running. False when the sleep
  // was ended by a stop.
  bool watchdogCycle();

  bool running() const { return running_.load() != 0; }
  bool pinged() const { return ping_.load() != 0; }

 private:
  class CCallbackWrite;
  static int WriteToDriver(void* context, const uint8_t* bytes, uint32_t length);
  void openDevice();
  void startBridge();
  void stopBridge();

  WaveServiceEnv env_;
  std::unique_ptr<CCallbackWrite> sink_;
  std::atomic<uint32_t> ping_{0};
  std::atomic<uint32_t> running_{0};
  std::mutex pauseLock_;
  std::unique_ptr<IWaveForm> waveForm_;
  std::unique_ptr<IDriverLink> driver_;
};

#endif  // PC_AUDIO_DRV_WAVE_SERVICE_H_
