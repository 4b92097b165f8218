// The virtual WDM sound device: found among the present render-category
// device interfaces by its name, opened for exclusive read and write, told
// to start with its control code, then driven with 960-byte reads and
// writes.
#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include <string>

#include "base/logging.h"
#include "base/string_util.h"
#include "components/audio/wave_device.h"

namespace component {

namespace {

// KSCATEGORY_RENDER
const GUID kRenderCategory = {0x65E8773E, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
constexpr wchar_t kDeviceName[] = L"Lumora Wave Audio Device (WDM)";
constexpr char kDeviceNameUtf8[] = "Lumora Wave Audio Device (WDM)";
// CTL_CODE(FILE_DEVICE_CONTROLLER, 0x800, METHOD_IN_DIRECT, FILE_READ_ACCESS | FILE_WRITE_ACCESS)
constexpr DWORD kStartControlCode = 0x0004E001;
constexpr DWORD kDetailBytes = 528;
constexpr size_t kMaxPathChars = 260;

// The device path of the first render interface whose device is called
// `kDeviceName`; empty when there is none.
std::wstring findDevicePath() {
  HDEVINFO set = SetupDiGetClassDevsW(&kRenderCategory, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return std::wstring();
  std::wstring found;
  alignas(8) uint8_t detailBuffer[kDetailBytes];
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA interfaceData = {};
    interfaceData.cbSize = sizeof(interfaceData);
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, &kRenderCategory, index, &interfaceData)) break;
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(detailBuffer);
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    SP_DEVINFO_DATA deviceData = {};
    deviceData.cbSize = sizeof(deviceData);
    if (!SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, kDetailBytes, nullptr, &deviceData)) continue;
    wchar_t name[256] = L"noname device";
    ULONG length = sizeof(name);
    if (CM_Get_DevNode_Registry_PropertyW(deviceData.DevInst, CM_DRP_FRIENDLYNAME, nullptr, name, &length, 0) !=
        CR_SUCCESS) {
      length = sizeof(name);
      CM_Get_DevNode_Registry_PropertyW(deviceData.DevInst, CM_DRP_DEVICEDESC, nullptr, name, &length, 0);
    }
    name[255] = 0;
    if (std::wstring(name) == kDeviceName) {
      found = detail->DevicePath;
      if (found.size() > kMaxPathChars) found.resize(kMaxPathChars);
      break;
    }
  }
  SetupDiDestroyDeviceInfoList(set);
  return found;
}

class WdmWaveDevice : public WaveDevice {
 public:
  ~WdmWaveDevice() override { close(); }

  bool open() override {
    if (isOpen()) return true;
    const std::wstring path = findDevicePath();
    if (path.empty()) {
      LOG(INFO) << "Couldn't find device " << kDeviceNameUtf8;
      return false;
    }
    handle_ = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
      LOG(INFO) << "Failed to obtain file handle to device: " << kDeviceNameUtf8 << ". Error: " << GetLastError();
      return false;
    }
    LOG(INFO) << "Attempting authenticate to device...";
    DWORD returned = 0;
    if (!DeviceIoControl(handle_, kStartControlCode, nullptr, 0, nullptr, 0, &returned, nullptr)) {
      // The handle stays open, as the device link expects.
      LOG(INFO) << "Failed on call to DeviceIoControl - error: " << GetLastError();
      return false;
    }
    LOG(INFO) << "Device '" << kDeviceNameUtf8 << "' opened successfully";
    return true;
  }

  void close() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

  bool isOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }

  size_t write(const uint8_t* data, size_t bytes) override {
    DWORD done = 0;
    if (!isOpen() || !WriteFile(handle_, data, static_cast<DWORD>(bytes), &done, nullptr)) return 0;
    return done;
  }

  size_t read(uint8_t* data, size_t bytes) override {
    DWORD done = 0;
    if (!isOpen() || !ReadFile(handle_, data, static_cast<DWORD>(bytes), &done, nullptr)) return 0;
    return done;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace

std::unique_ptr<WaveDevice> createPlatformWaveDevice() { return std::make_unique<WdmWaveDevice>(); }

}  // namespace component
