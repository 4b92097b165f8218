// `defprobe`: finds the system's current default recording and playback
// devices and stores their names as the devices the bridge service should
// use, in the machine's and the current user's key. The virtual device is
// never stored: a name that contains "Lumora Wave" leaves that value as it
// was.
#ifndef PC_AUDIO_DRV_DEFPROBE_DEFPROBE_H_
#define PC_AUDIO_DRV_DEFPROBE_DEFPROBE_H_

#include <string>

#include "base/string_util.h"

struct DefaultDevice {
  bool found = false;
  base::string16 name;  // empty when not found
  // The sound system itself did not answer (Linux: no sound server runs),
  // which says nothing about the devices, unlike an empty list.
  bool noAnswer = false;
};

// Printed instead of the names when the sound system does not answer.
extern const char kNoSoundServerMessage[];

// Per build: Windows asks the wave mappers for their mixer's product name,
// Linux asks PulseAudio for its default source and sink.
DefaultDevice defaultRecordingDevice();
DefaultDevice defaultPlaybackDevice();

// Prints the found names to `console` ("In Device Name: %s\n", "Out Device
// Name: %s\n"), writes both keys and returns the exit code: 0, or -1 when a
// key can't be created (the user key is not touched when the machine key
// fails). When the sound system did not answer for either direction, only
// kNoSoundServerMessage is printed, nothing is stored (the names kept there
// are still the user's best choice) and the exit code is 1.
int runDefProbe(const DefaultDevice& recording, const DefaultDevice& playback, std::string* console);

#endif  // PC_AUDIO_DRV_DEFPROBE_DEFPROBE_H_
