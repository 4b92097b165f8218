// The converter objects the audio component chains together: feed a block
// of bytes in with Convert(), then read the result with Data() and Size().
// The result stays valid until the next Convert() or the destruction.
// Samples are 16-bit signed little-endian mono everywhere.
//
// Threads: each converter is used by one thread only.
#ifndef COMPONENTS_AUDIO_AUDIO_CONVERTER_H_
#define COMPONENTS_AUDIO_AUDIO_CONVERTER_H_

#include <cstddef>
#include <cstdint>

namespace component {

class AudioConverter {
 public:
  virtual ~AudioConverter() = default;
  virtual bool Convert(const void* data, size_t size) = 0;
  virtual const void* Data() = 0;
  virtual size_t Size() = 0;
  // How long a sound fed in takes to come out, in microseconds, beyond the
  // block it came in: a filter's or a decoder's look-ahead.
  virtual int64_t DelayUs() const { return 0; }
};

class AudioEncoder {
 public:
  virtual ~AudioEncoder() = default;
  virtual bool Convert(const void* data, size_t size) = 0;
  virtual const void* Data() = 0;
  virtual size_t Size() = 0;
};

class AudioDecoder {
 public:
  virtual ~AudioDecoder() = default;
  virtual bool Convert(const void* data, size_t size) = 0;
  virtual const void* Data() = 0;
  virtual size_t Size() = 0;
};

// Pass-through: keeps the caller's pointer and size, copies nothing.
class DummyAudioConverter : public AudioConverter {
 public:
  bool Convert(const void* data, size_t size) override;
  const void* Data() override;
  size_t Size() override;

 private:
  const void* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace component

#endif  // COMPONENTS_AUDIO_AUDIO_CONVERTER_H_
