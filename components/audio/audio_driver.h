// AudioDriver: the sound device link as the audio component sees it. The
// link moves 10 ms blocks of 48 kHz, 16-bit mono samples between the device
// and its delegate: render() asks for what the device plays to PC programs
// as microphone input, captured() hands over what PC programs played.
// Positions are 64-bit counts of 48 kHz samples since Start().
//
// Thread: Open/Close/Start/Stop on the owner's thread; the delegate is
// called on the link's render and record threads and must not block.
#ifndef COMPONENTS_AUDIO_AUDIO_DRIVER_H_
#define COMPONENTS_AUDIO_AUDIO_DRIVER_H_

#include <cstddef>
#include <cstdint>

namespace component {

class AudioDriver {
 public:
  class Delegate {
   public:
    virtual ~Delegate() = default;
    // `buffer` arrives zeroed; whatever is left in it is played.
    virtual void render(AudioDriver* driver, void* buffer, size_t bytes, int64_t position) {}
    virtual void captured(AudioDriver* driver, const void* buffer, size_t bytes, int64_t position) {}
  };

  virtual ~AudioDriver() = default;
  virtual bool Open() = 0;
  virtual void Close() = 0;
  virtual bool Start() = 0;
  virtual void Stop() = 0;
};

}  // namespace component

#endif  // COMPONENTS_AUDIO_AUDIO_DRIVER_H_
