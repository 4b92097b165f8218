// The simulated phone's audio: it asks to be let in (authorization data),
// announces its microphone, picks a profile from the PC's capabilities as
// a phone does, then sends its audio (a WAV file or a tone) at real pace in
// 20 ms packets, and keeps what the PC sends, decoded to 8 kHz samples.
//
// Output lines:
//   auth result=<0|1>
//   audio capabilities <profile ids>
//   audio selected <profile id>
//   audio sent <n> packets
//   audio received <n> packets bytes=<payload bytes> format=<fourcc>
//
// Thread: the thread that runs the message loop.
#ifndef TOOLS_PHONESIM_PHONE_AUDIO_H_
#define TOOLS_PHONESIM_PHONE_AUDIO_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "base/message_loop.h"
#include "tools/phonesim/phone_connection.h"

namespace component {
class AudioConverter;
}

namespace phonesim {

struct AudioOptions {
  // The session sends authorization data: audio starts once the PC
  // accepts the phone, not right after the handshake.
  bool awaitAuth = false;
  // What to send: a WAV file (any rate, mixed to mono) or a tone.
  std::string audioFile;
  double toneHz = 0;
  double toneSeconds = 5;
  std::string profile = "lpcm-20ms-8kHz";
  // Where to keep what the PC sends (8 kHz WAV).
  std::string recordFile;
  // First "Timestamp" sent.
  int64_t firstTimestamp = 0;
  // How far the phone's sample clock is off the PC's, in parts per million
  // (positive: it runs fast and its packets come that much more often).
  int32_t clockPpm = 0;
  // An endless microphone instead of a file or a tone: fills each 20 ms
  // packet when it is due; `takenAt` is when its first sample was taken.
  std::function<void(uint64_t packet, std::chrono::steady_clock::time_point takenAt, int16_t* pcm)> microphone;
  // Each packet from the PC, decoded to 8 kHz, as it arrives.
  std::function<void(const int16_t* samples, size_t count)> onReceived;

  bool wanted() const {
    return !audioFile.empty() || toneHz > 0 || !recordFile.empty() || microphone || onReceived;
  }
};

class PhoneAudio : public PhoneConnection::Observer, private base::MessageWindow::Handler {
 public:
  static constexpr size_t kPacketSamples = 160;  // 20 ms at 8 kHz

  // Attaches to `phone`; the samples to send are prepared here. False in
  // *ok (with the reason on `out`) when the audio cannot be read.
  PhoneAudio(const AudioOptions& options, PhoneConnection* phone, std::ostream& out, bool* ok);
  ~PhoneAudio() override;
  PhoneAudio(const PhoneAudio&) = delete;
  PhoneAudio& operator=(const PhoneAudio&) = delete;

  // How long the audio to send lasts.
  int64_t durationMs() const { return static_cast<int64_t>(samples_.size() / 8); }
  // Writes the received audio and the summary lines (once).
  void finish();

 private:
  void onServerHandshake(PhoneConnection* phone, const transport::ServerHandshake& handshake,
                         uint32_t sequence) override;
  void onMessage(PhoneConnection* phone, const transport::Frame& frame) override;
  void onPhoneDisconnected(PhoneConnection* phone, const transport::Error* error) override;
  void onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) override;

  void maybeStart();
  void sendDue();
  void onAudioPacket(const std::vector<uint8_t>& payload);

  AudioOptions options_;
  PhoneConnection* phone_;
  std::ostream& out_;
  base::MessageWindow window_;
  std::vector<int16_t> samples_;
  std::unique_ptr<component::AudioConverter> encoder_;
  std::unique_ptr<component::AudioConverter> decoder_;
  uint32_t format_ = 0;
  bool accepted_ = false;
  bool selected_ = false;
  bool sending_ = false;
  std::chrono::steady_clock::time_point start_;
  size_t sent_ = 0;
  // Received audio, laid out by its timestamps from the first packet on.
  std::vector<int16_t> received_;
  bool haveFirst_ = false;
  int64_t firstReceived_ = 0;
  size_t receivedPackets_ = 0;
  size_t receivedBytes_ = 0;
  uint32_t receivedFormat_ = 0;
  bool finished_ = false;
};

}  // namespace phonesim

#endif  // TOOLS_PHONESIM_PHONE_AUDIO_H_
