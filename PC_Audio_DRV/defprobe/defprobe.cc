#include "PC_Audio_DRV/defprobe/defprobe.h"

#include "PC_Audio_DRV/wave_service.h"
#include "PC_Audio_DRV/wave_service_protocol.h"
#include "base/logging.h"
#include "base/reg_key.h"

namespace {

bool store(base::RegRoot root, const DefaultDevice& recording, const DefaultDevice& playback) {
  base::RegKey key;
  if (key.create(root, kWaveServiceKey) != base::kRegOk) {
    LOG(ERROR) << "Can't create " << base::regRootName(root) << "\\" << kWaveServiceKey;
    return false;
  }
  base::RegWriteGroup group(root);
  if (recording.name.find(kVirtualDeviceMark) == base::string16::npos)
    key.writeValue(kInputDeviceValue, recording.name);
  if (playback.name.find(kVirtualDeviceMark) == base::string16::npos)
    key.writeValue(kOutputDeviceValue, playback.name);
  return true;
}

}  // namespace

const char kNoSoundServerMessage[] =
    "No sound server answers; the stored devices are left as they are. Run defprobe again once sound works.\n";

int runDefProbe(const DefaultDevice& recording, const DefaultDevice& playback, std::string* console) {
  if (recording.noAnswer || playback.noAnswer) {
    LOG(WARNING) << "defprobe: no sound server answers; nothing stored";
    *console += kNoSoundServerMessage;
    return 1;
  }
  if (recording.found) *console += "In Device Name: " + base::wideToUtf8(recording.name) + "\n";
  if (playback.found) *console += "Out Device Name: " + base::wideToUtf8(playback.name) + "\n";
  if (!store(base::RegRoot::kLocalMachine, recording, playback)) return -1;
  if (!store(base::RegRoot::kCurrentUser, recording, playback)) return -1;
  return 0;
}
