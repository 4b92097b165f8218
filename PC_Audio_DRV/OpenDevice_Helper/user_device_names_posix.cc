// Linux: the daemon runs in the user's session as the user, so the user's
// choice is simply its own current-user key.
#include "PC_Audio_DRV/wave_service.h"
#include "base/reg_key.h"

namespace {

class OwnUserDeviceNames : public UserDeviceNames {
 public:
  bool read(base::string16* input, base::string16* output) override {
    base::RegKey key;
    if (key.open(base::RegRoot::kCurrentUser, kWaveServiceKey) != base::kRegOk) return false;
    base::string16 in, out;
    if (!readDeviceName(key, kOutputDeviceValue, &out) || !readDeviceName(key, kInputDeviceValue, &in)) return false;
    *input = in;
    *output = out;
    return true;
  }
};

}  // namespace

std::unique_ptr<UserDeviceNames> createUserDeviceNames() { return std::make_unique<OwnUserDeviceNames>(); }
