// The real sound devices the bridge plays to and records from, as rotating
// sets of blocks: the bridge fills an output block and writes it, the device
// hands it back when played; the device fills an input block and hands it
// over, the bridge gives it back once used.
//
// Windows: WinMM wave-out / wave-in with one header per block; the device's
// notifications arrive on WinMM's callback thread. Linux: PulseAudio simple
// streams served by one thread per direction.
//
// The client calls (onBlockDone, onBlockFilled) come on the device's
// thread and must neither block nor allocate.
#ifndef PC_AUDIO_DRV_REAL_WAVE_DEVICE_H_
#define PC_AUDIO_DRV_REAL_WAVE_DEVICE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/string_util.h"

// Capability bits of a device (mono 16-bit at 48, 44.1 and 22.05 kHz).
constexpr uint32_t kFormat48M16 = 0x4000;
constexpr uint32_t kFormat44M16 = 0x0400;
constexpr uint32_t kFormat22M16 = 0x0040;

struct RealDeviceInfo {
  base::string16 name;  // product name / description the user chooses by
  uint32_t formats = 0;
  std::string id;       // the system's handle for it (index / sink name)
};

// The names the system reports are at most this long (longer configured
// names can't be a device's and are refused).
size_t maxRealDeviceNameChars();

std::vector<RealDeviceInfo> listRealOutputs();
std::vector<RealDeviceInfo> listRealInputs();

class WaveOutPort {
 public:
  class Client {
   public:
    virtual void onBlockDone(unsigned index) = 0;
  };
  virtual ~WaveOutPort() = default;
  // `device` null: the system's default device. The blocks stay the
  // caller's and outlive the port.
  virtual bool open(const RealDeviceInfo* device, uint32_t rate, Client* client, uint8_t* const* blocks,
                    unsigned count, size_t blockBytes, int* error) = 0;
  virtual bool write(unsigned index, size_t bytes, int* error) = 0;
  // Hands every queued block back (onBlockDone).
  virtual void reset() = 0;
  virtual void close() = 0;
};

class WaveInPort {
 public:
  class Client {
   public:
    virtual void onBlockFilled(unsigned index, size_t bytes) = 0;
  };
  virtual ~WaveInPort() = default;
  // Opens and queues every block; recording starts with start().
  virtual bool open(const RealDeviceInfo* device, uint32_t rate, Client* client, uint8_t* const* blocks,
                    unsigned count, size_t blockBytes, int* error) = 0;
  virtual bool requeue(unsigned index) = 0;
  virtual bool start() = 0;
  virtual void stop() = 0;
  // Stops and hands back (drops) every queued block; then close().
  virtual void close() = 0;
};

std::unique_ptr<WaveOutPort> createWaveOutPort();
std::unique_ptr<WaveInPort> createWaveInPort();

#endif  // PC_AUDIO_DRV_REAL_WAVE_DEVICE_H_
