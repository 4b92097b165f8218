#include "WebcamWin/suite/wavehost.h"

#include "WebcamWin/audio/audio_device_enumerator.h"
#include "WebcamWin/suite/wavehost_platform.h"
#include "base/logging.h"
#include "base/reg_key.h"

namespace {

constexpr char16_t kVirtualDeviceName[] = u"Lumora Wave Audio Device";

void logSystemError(const char* format, const CWaveHost::SystemError& error) {
  LOGF(ERROR, format, static_cast<unsigned>(error.code), base::wideToUtf8(error.message).c_str());
}

base::string16 readDeviceName(const char16_t* value) {
  base::RegKey key;
  if (key.open(base::RegRoot::kCurrentUser, kWaveServiceKey) != base::kRegOk) return base::string16();
  uint32_t type = 0;
  std::string raw;
  if (key.readRawValue(value, &type, &raw) != base::kRegOk) return base::string16();
  if (raw.size() > kDeviceNameMaxBytes) {
    // Cutting it would name another device; take none.
    LOG(WARNING) << "The value \"" << value << "\" is longer than " << kDeviceNameMaxBytes
                 << " bytes; taken as empty";
    return base::string16();
  }
  base::string16 name;
  if (key.readValue(value, &name) != base::kRegOk) return base::string16();
  return name;
}

bool writeDeviceName(const char16_t* value, const base::string16& name, const char* failure) {
  base::RegKey key;
  if (key.create(base::RegRoot::kCurrentUser, kWaveServiceKey) != base::kRegOk ||
      key.writeValue(value, name) != base::kRegOk) {
    LOG(ERROR) << failure;
    return false;
  }
  return true;
}

std::vector<base::string16> withoutVirtualDevice(std::vector<base::string16> names) {
  std::vector<base::string16> real;
  for (auto& name : names)
    if (name.find(kVirtualDeviceName) == base::string16::npos) real.push_back(std::move(name));
  return real;
}

}  // namespace

CWaveHost::CWaveHost() = default;

CWaveHost::~CWaveHost() { close(); }

bool CWaveHost::opened() const { return handles_ != nullptr; }

bool CWaveHost::open() {
  if (handles_) {
    LOG(INFO) << "Looks like service already opened";
    return true;
  }
  wavehost_platform::Step failed = wavehost_platform::Step::kManager;
  SystemError error;
  handles_.reset(wavehost_platform::open(&failed, &error));
  if (!handles_) {
    if (failed == wavehost_platform::Step::kManager) {
      logSystemError("OpenSCManager() failed with error %#x:%s", error);
    } else {
      logSystemError("OpenService() failed with error %#x:%s", error);
      if (error.code == kErrorServiceDoesNotExist) notInstalled_ = true;
    }
    return false;
  }
  notInstalled_ = false;
  LOG(INFO) << "'Lumora Wave Service' is opened successfully. Status: " << state();
  return true;
}

void CWaveHost::close() { handles_.reset(); }

int32_t CWaveHost::state() {
  if (!handles_) {
    LOG(INFO) << "Service not opened";
    return -1;
  }
  int32_t current = -1;
  SystemError error;
  if (!wavehost_platform::queryState(handles_.get(), &current, &error)) {
    logSystemError("QueryServiceStatusEx failed with code %#x:%s", error);
    return -1;
  }
  return current;
}

bool CWaveHost::sendControl(uint32_t code) {
  if (!handles_) {
    LOG(INFO) << "Service not opened";
    return false;
  }
  if (state() != kServiceRunning) {
    LOG(INFO) << "Service is not running";
    return false;
  }
  SystemError error;
  if (!wavehost_platform::control(handles_.get(), code, &error)) {
    logSystemError("ControlService() failed with error %#x:%s", error);
    return false;
  }
  return true;
}

base::string16 CWaveHost::inputDeviceName() { return readDeviceName(kInputDeviceValue); }

base::string16 CWaveHost::outputDeviceName() { return readDeviceName(kOutputDeviceValue); }

bool CWaveHost::setInputDeviceName(const base::string16& name) {
  return writeDeviceName(kInputDeviceValue, name, "Can't write default input device name to registry");
}

bool CWaveHost::setOutputDeviceName(const base::string16& name) {
  return writeDeviceName(kOutputDeviceValue, name, "Can't write default output device name to registry");
}

std::vector<base::string16> CWaveHost::inputDevices(bool* answered) {
  return withoutVirtualDevice(enumerateRecordingDevices(answered));
}

std::vector<base::string16> CWaveHost::outputDevices(bool* answered) {
  return withoutVirtualDevice(enumeratePlaybackDevices(answered));
}
