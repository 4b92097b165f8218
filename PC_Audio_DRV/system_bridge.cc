// The real bridge: CWaveForm on the system's sound devices and the link on
// this build's virtual sound device.
#include "PC_Audio_DRV/bridge.h"
#include "PC_Audio_DRV/lumora_wave_driver.h"
#include "PC_Audio_DRV/wave_form.h"

namespace {

class SystemBridgeFactory : public BridgeFactory {
 public:
  std::unique_ptr<IWaveForm> CreateWaveForm(const base::string16& input, const base::string16& output) override {
    return ::CreateWaveForm(input, output, createWaveOutPort(), createWaveInPort(), listRealInputs(), listRealOutputs());
  }
  std::unique_ptr<IDriverLink> OpenDriver(IAudioCallback* sink) override {
    return OpenDriverLink(component::createWaveDevice(), sink);
  }
};

}  // namespace

std::unique_ptr<BridgeFactory> createSystemBridgeFactory() { return std::make_unique<SystemBridgeFactory>(); }
