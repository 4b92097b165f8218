// Linux: PulseAudio's sources (sinks' monitors left out) and sinks, by
// description.
#include "WebcamWin/audio/audio_device_enumerator.h"

#include "components/audio/pulse_listing_posix.h"

namespace {

std::vector<base::string16> descriptions(pulse::DeviceKind kind, bool* answered) {
  std::vector<base::string16> names;
  const pulse::Listing listing = pulse::listDevices(kind, "Lumora ZuvIridar");
  if (answered) *answered = listing.complete;
  for (const pulse::Device& device : listing.devices) {
    // A sink's monitor is no recording device.
    if (!device.monitor) names.push_back(base::utf8ToWide(device.description));
  }
  return names;
}

}  // namespace

std::vector<base::string16> enumerateRecordingDevices(bool* answered) {
  return descriptions(pulse::DeviceKind::kSources, answered);
}

std::vector<base::string16> enumeratePlaybackDevices(bool* answered) {
  return descriptions(pulse::DeviceKind::kSinks, answered);
}
