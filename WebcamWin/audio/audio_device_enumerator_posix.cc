// Linux: PulseAudio's sources (sinks' monitors left out) and sinks, by
// description.
#include "WebcamWin/audio/audio_device_enumerator.h"

#include "components/audio/pulse_listing_posix.h"

namespace {

std::vector<base::string16> descriptions(pulse::DeviceKind kind) {
  std::vector<base::string16> names;
  for (const pulse::Device& device : pulse::listDevices(kind, "Lumora ZuvIridar").devices) {
    // A sink's monitor is no recording device.
    if (!device.monitor) names.push_back(base::utf8ToWide(device.description));
  }
  return names;
}

}  // namespace

std::vector<base::string16> enumerateRecordingDevices() { return descriptions(pulse::DeviceKind::kSources); }

std::vector<base::string16> enumeratePlaybackDevices() { return descriptions(pulse::DeviceKind::kSinks); }
