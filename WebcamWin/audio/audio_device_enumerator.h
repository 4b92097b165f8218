// The computer's sound devices by name, as the settings dialog offers them
// and the bridge service looks them up. Windows: the WinMM wave-in and
// wave-out devices in device-number order, with the product names of their
// capabilities. Linux: PulseAudio's sources (monitors of sinks left out) and
// sinks in the server's order, with their descriptions; without a running
// PulseAudio server the lists are empty and *answered (when given) is
// false, so that an empty list is not taken for "no devices". WinMM always
// answers.
#ifndef WEBCAMWIN_AUDIO_AUDIO_DEVICE_ENUMERATOR_H_
#define WEBCAMWIN_AUDIO_AUDIO_DEVICE_ENUMERATOR_H_

#include <vector>

#include "base/string_util.h"

std::vector<base::string16> enumerateRecordingDevices(bool* answered = nullptr);
std::vector<base::string16> enumeratePlaybackDevices(bool* answered = nullptr);

#endif  // WEBCAMWIN_AUDIO_AUDIO_DEVICE_ENUMERATOR_H_
