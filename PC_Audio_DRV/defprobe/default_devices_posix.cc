// Linux: PulseAudio's default source and sink, by description. Without a
// running server nothing is found (no server is started for us) and the
// probe says so rather than storing empty names.
#include "PC_Audio_DRV/defprobe/defprobe.h"
#include "components/audio/pulse_listing_posix.h"

namespace {

DefaultDevice probe(pulse::DeviceKind kind) {
  DefaultDevice found;
  const pulse::Listing listing = pulse::listDevices(kind, "Lumora defprobe");
  found.noAnswer = !listing.complete;
  for (const pulse::Device& device : listing.devices) {
    if (device.name == listing.defaultName) {
      found.found = true;
      found.name = base::utf8ToWide(device.description);
    }
  }
  return found;
}

}  // namespace

DefaultDevice defaultRecordingDevice() { return probe(pulse::DeviceKind::kSources); }
DefaultDevice defaultPlaybackDevice() { return probe(pulse::DeviceKind::kSinks); }
