// The parts of the audio bridge as the service drives them: the pair of
// real devices (IWaveForm, implemented by CWaveForm), the link to the
// virtual sound device (IDriverLink, implemented by CLumoraWaveDriver) and
// the factory that makes them. The service creates, starts, stops and
// destroys them; at most one of each exists at a time.
#ifndef PC_AUDIO_DRV_BRIDGE_H_
#define PC_AUDIO_DRV_BRIDGE_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/string_util.h"

// Where the link hands the virtual device's playback.
class IAudioCallback {
 public:
  virtual ~IAudioCallback() = default;
  virtual void Write(const uint8_t* bytes, int length) = 0;
};

// Receives what the real input device recorded, at 48 kHz.
using ReadCallback = int (*)(void* context, const uint8_t* bytes, uint32_t length);

class IWaveForm {
 public:
  virtual ~IWaveForm() = default;
  virtual void SetReadCallback(ReadCallback callback, void* context) = 0;
  virtual bool StartRecording() = 0;
  virtual void StopRecording() = 0;
  virtual void StopPlaying() = 0;
  // Plays 48 kHz audio on the real output device.
  virtual void Out(const uint8_t* bytes, size_t length) = 0;
};

class IDriverLink {
 public:
  virtual ~IDriverLink() = default;
  virtual bool Start() = 0;
  virtual void Stop() = 0;
  // One write toward the virtual device's microphone.
  virtual void Write(const uint8_t* bytes, size_t length) = 0;
};

class BridgeFactory {
 public:
  virtual ~BridgeFactory() = default;
  // An open, not yet recording pair of real devices, or nothing. Names
  // that contain "Lumora Wave" give nothing.
  virtual std::unique_ptr<IWaveForm> CreateWaveForm(const base::string16& input,
                                                    const base::string16& output) = 0;
  // The opened link whose reader hands its data to `sink`, or nothing.
  virtual std::unique_ptr<IDriverLink> OpenDriver(IAudioCallback* sink) = 0;
};

// The factory of the real bridge (CWaveForm on the system's devices,
// CLumoraWaveDriver on the virtual device of this build).
std::unique_ptr<BridgeFactory> createSystemBridgeFactory();

#endif  // PC_AUDIO_DRV_BRIDGE_H_
