// `defprobe`: see defprobe.h. Arguments are ignored.
#include <cstdio>

#include "PC_Audio_DRV/defprobe/defprobe.h"

int main() {
  const DefaultDevice recording = defaultRecordingDevice();
  const DefaultDevice playback = defaultPlaybackDevice();
  std::string console;
  const int code = runDefProbe(recording, playback, &console);
  std::fputs(console.c_str(), stdout);
  return code;
}
