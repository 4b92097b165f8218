#include "components/audio/wave_device.h"

#include <cstdlib>
#include <string>

#include "base/logging.h"
#include "components/audio/sim_wave_device.h"

namespace component {

std::unique_ptr<WaveDevice> createWaveDevice() {
  const char* choice = std::getenv("LUMORA_AUDIO_DEVICE");
  if (choice && std::string(choice).rfind("sim:", 0) == 0) {
    const std::string folder = std::string(choice).substr(4);
    LOG(INFO) << "Using the simulated sound device in " << folder;
    return std::make_unique<SimWaveDevice>(folder);
  }
  return createPlatformWaveDevice();
}

}  // namespace component
