// What the wave service and its clients (the main program's CWaveHost, the
// settings dialog, defprobe) agree on: the service's name, its user-defined
// control codes and the registry values that name the real devices.
#ifndef PC_AUDIO_DRV_WAVE_SERVICE_PROTOCOL_H_
#define PC_AUDIO_DRV_WAVE_SERVICE_PROTOCOL_H_

#include <cstddef>
#include <cstdint>

constexpr uint32_t WAVE_SERVICE_PING = 200;
constexpr uint32_t WAVE_SERVICE_PAUSE = 201;
constexpr uint32_t WAVE_SERVICE_CONTINUE = 202;
constexpr uint32_t WAVE_SERVICE_OPEN_DEVICE = 203;

constexpr char16_t kWaveServiceName[] = u"Lumora Wave Service";
// Below HKEY_CURRENT_USER (the user's choice) and HKEY_LOCAL_MACHINE (copied
// there by the service).
constexpr char16_t kWaveServiceKey[] = u"Software\\Quillon Labs\\Lumora Wave Service";
constexpr char16_t kInputDeviceValue[] = u"Input Device";
constexpr char16_t kOutputDeviceValue[] = u"Output Device";
// Device names are read into buffers of this many bytes, the terminating
// zero included; a longer value is refused, never cut.
constexpr size_t kDeviceNameMaxBytes = 1024;
// A device whose name contains this is the phone's own virtual device: never
// stored as a real device, never offered as one.
constexpr char16_t kVirtualDeviceMark[] = u"Lumora Wave";

#endif  // PC_AUDIO_DRV_WAVE_SERVICE_PROTOCOL_H_
