// iLBC speech codec, 20 ms mode (RFC 3951): 160 samples at 8 kHz <-> one
// 38-byte frame. Samples are floats in the 16-bit range. Each object keeps
// the state of one stream across calls; use one object per thread.
//
// The arithmetic is deterministic: the same input gives the same bytes and
// samples on every build that compiles this library with strict IEEE float
// arithmetic (SSE2, no contraction, no fast-math).
#ifndef COMPONENTS_AUDIO_ILBC_ILBC_H_
#define COMPONENTS_AUDIO_ILBC_ILBC_H_

#include <cstddef>
#include <cstdint>
#include <memory>

namespace ilbc {

constexpr size_t kFrameSamples = 160;  // 20 ms at 8 kHz
constexpr size_t kFrameBytes = 38;     // 303 bits and one unused bit
constexpr int kSampleRateHz = 8000;

struct EncoderState;
struct DecoderState;

class Encoder {
 public:
  Encoder();
  ~Encoder();
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  // Back to the state of a new stream.
  void Reset();

  // Encodes kFrameSamples samples into kFrameBytes bytes.
  void Encode(const float* samples, uint8_t* frame);

 private:
  std::unique_ptr<EncoderState> state_;
};

class Decoder {
 public:
  // The enhancer improves speech quality at the cost of a 5 ms delay.
  explicit Decoder(bool use_enhancer = true);
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  void Reset();

  // How many samples the output lags behind the frames fed in (the
  // enhancer's look-ahead; 0 without it).
  int DelaySamples() const;

  // Decodes one frame into kFrameSamples samples. A frame that is marked
  // empty or carries impossible values is concealed like a lost one; the
  // result is then false.
  bool Decode(const uint8_t* frame, float* samples);

  // Produces kFrameSamples samples for a frame that never arrived.
  void Conceal(float* samples);

 private:
  std::unique_ptr<DecoderState> state_;
};

}  // namespace ilbc

#endif  // COMPONENTS_AUDIO_ILBC_ILBC_H_
