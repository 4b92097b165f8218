// WaveDevice: the virtual sound device ("Lumora Wave Audio Device") as the
// server's sound device link and the bridge service see it. Both directions
// move 10 ms blocks of 48 kHz, 16-bit, mono samples: written blocks reach PC
// programs that record from the device's microphone; read blocks are what
// PC programs play into the device's loudspeaker.
//
// Builds: Windows finds the WDM device through SetupAPI and drives it with
// CreateFileW, the start control code, ReadFile and WriteFile. Linux serves
// the device through PulseAudio (a sink whose monitor is read, and a source
// that is fed). LUMORA_AUDIO_DEVICE=sim:DIR picks a simulated device on both
// builds (tests): writes are appended to DIR/render.raw, reads come from
// DIR/capture.raw at real pace and are silence once it is used up.
//
// Thread: open() and close() on the owner's thread; write() from one thread
// and read() from one (other) thread while open.
#ifndef COMPONENTS_AUDIO_WAVE_DEVICE_H_
#define COMPONENTS_AUDIO_WAVE_DEVICE_H_

#include <cstddef>
#include <cstdint>
#include <memory>

namespace component {

class WaveDevice {
 public:
  static constexpr uint32_t kSampleRate = 48000;
  // 10 ms: 480 samples of 2 bytes.
  static constexpr size_t kBlockBytes = 960;

  virtual ~WaveDevice() = default;

  // Makes the device available to PC programs where the endpoint has to
  // (Linux: the PulseAudio sink and source, when they are not there yet);
  // done once at start-up. release() takes back what prepare() made.
  virtual bool prepare() { return true; }
  virtual void release() {}

  // Finds and opens the device and sends the start control code. False,
  // with the reason logged, when the device is not there or refuses.
  virtual bool open() = 0;
  virtual void close() = 0;
  virtual bool isOpen() const = 0;

  // Toward the device's microphone. Returns the bytes taken (0: failed).
  virtual size_t write(const uint8_t* data, size_t bytes) = 0;
  // From the device's loudspeaker. Returns the bytes read; 0 when nothing
  // is waiting (or on failure).
  virtual size_t read(uint8_t* data, size_t bytes) = 0;
  // How many bytes from the loudspeaker wait to be read; 0 where the device
  // cannot tell.
  virtual size_t readable() { return 0; }
};

// The device of this build (see above), not yet opened.
std::unique_ptr<WaveDevice> createWaveDevice();
// The device of the platform, ignoring LUMORA_AUDIO_DEVICE.
std::unique_ptr<WaveDevice> createPlatformWaveDevice();

}  // namespace component

#endif  // COMPONENTS_AUDIO_WAVE_DEVICE_H_
