// Linux: a short-lived, blocking PulseAudio connection that lists the sound
// server's sources or sinks together with its default one. Used wherever a
// device is chosen by name (the settings dialog, the bridge service, the
// default device prober). No server is started for us (no autospawn): asking
// for a list must not bring up a sound server as a side effect.
#ifndef COMPONENTS_AUDIO_PULSE_LISTING_POSIX_H_
#define COMPONENTS_AUDIO_PULSE_LISTING_POSIX_H_

#include <string>
#include <vector>

namespace pulse {

enum class DeviceKind { kSources, kSinks };

struct Device {
  std::string name;         // the server's name ("alsa_output...")
  std::string description;  // what users see ("Built-in Audio")
  bool monitor = false;     // a sink's monitor (sources only)
};

struct Listing {
  // False when no server answered or the list did not complete within the
  // time-out; `devices` is then empty, since a cut list would offer a wrong
  // choice.
  bool complete = false;
  std::vector<Device> devices;
  std::string defaultName;  // the server's default source or sink
};

// Lists `kind` within two seconds; `client` is the name the server shows for
// the connection. Logs why when the server can't be reached.
Listing listDevices(DeviceKind kind, const char* client);

}  // namespace pulse

#endif  // COMPONENTS_AUDIO_PULSE_LISTING_POSIX_H_
