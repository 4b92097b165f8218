// The client of the audio bridge service "Lumora Wave Service" (`wavehost`):
// it finds the service, asks its state and sends it the user control codes
// 200 to 203; it also reads and writes the names of the real sound devices
// the service bridges to, and lists the computer's recording and playback
// devices for the settings dialog.
//
// Windows: the service control manager. Linux: the control socket of the
// `wavehost` daemon, $XDG_RUNTIME_DIR/lumora-wave-service.sock, one
// connection per request: the client writes one line ("ping", "pause",
// "continue", "reload" or "state") and reads one line back, "ok <state>" or
// "error <text>". <state> is a service state number as the service control
// manager numbers them (4 running) or a word; any "ok" answer means the
// daemon runs. The service counts as installed when the socket or the
// systemd user unit lumora-wave-service.service exists.
//
// Thread: the user-interface thread (one client per user: the main window
// keeps one for the whole run, the settings dialog makes a short-lived one).
#ifndef WEBCAMWIN_WAVEHOST_H_
#define WEBCAMWIN_WAVEHOST_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "PC_Audio_DRV/wave_service_protocol.h"
#include "base/string_util.h"


// Service states as the service control manager numbers them.
constexpr int32_t kServiceStopped = 1;
constexpr int32_t kServiceRunning = 4;

// Win32 error numbers the client reports on both builds.
constexpr uint32_t kErrorServiceDoesNotExist = 1060;

class CWaveHost {
 public:
  CWaveHost();
  ~CWaveHost();  // closes
  CWaveHost(const CWaveHost&) = delete;
  CWaveHost& operator=(const CWaveHost&) = delete;

  // Connects to the service manager and opens the service for status
  // queries and user controls. False (logged) when either fails; when the
  // service does not exist notInstalled() is true afterwards.
  bool open();
  void close();
  bool opened() const;
  bool notInstalled() const { return notInstalled_; }

  // The service's current state number (kServiceRunning when it runs); -1
  // when not opened or the query failed.
  int32_t state();
  bool isRunning() { return state() == kServiceRunning; }

  // Sends one control code. False when not opened, when the service does
  // not run (it gets nothing: "Service is not running") or refused.
  bool sendControl(uint32_t code);
  bool ping() { return sendControl(WAVE_SERVICE_PING); }
  bool pause() { return sendControl(WAVE_SERVICE_PAUSE); }
  bool resume() { return sendControl(WAVE_SERVICE_CONTINUE); }
  bool openDevice() { return sendControl(WAVE_SERVICE_OPEN_DEVICE); }

  // The device names under HKEY_CURRENT_USER\<kWaveServiceKey>; empty when
  // the key or value is missing, not a string, or longer than the limit.
  static base::string16 inputDeviceName();
  static base::string16 outputDeviceName();
  static bool setInputDeviceName(const base::string16& name);
  static bool setOutputDeviceName(const base::string16& name);

  // The names of the recording / playback devices, in the system's order,
  // without the virtual "Lumora Wave Audio Device" ones. *answered (when
  // given) is false when the sound system could not be asked: the empty
  // list then says nothing about the devices.
  static std::vector<base::string16> inputDevices(bool* answered = nullptr);
  static std::vector<base::string16> outputDevices(bool* answered = nullptr);

  // A failed system call: its error number and the system's text for it.
  struct SystemError {
    uint32_t code = 0;
    base::string16 message;
  };
  struct Handles;  // per platform
  struct HandlesDeleter {
    void operator()(Handles* handles) const;
  };

 private:
  std::unique_ptr<Handles, HandlesDeleter> handles_;
  bool notInstalled_ = false;
};

#endif  // WEBCAMWIN_WAVEHOST_H_
