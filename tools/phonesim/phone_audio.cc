#include "tools/phonesim/phone_audio.h"

#include <cmath>
#include <cstdint>

#include "base/values.h"
#include "components/audio/audio_packet_data.h"
#include "components/audio/ilbc_audio_converter.h"
#include "components/audio/speex_audio_resampler.h"
#include "components/component_message.h"
#include "tools/phonesim/wav_file.h"

namespace phonesim {

namespace {

constexpr double kPi = 3.14159265358979323846;

constexpr uint32_t kAuthComponent = 14;
constexpr uint32_t kAudioComponent = 56001;
constexpr int32_t kAuthResult = 2;
constexpr int32_t kAudioPacket = 1;
constexpr int32_t kCapabilities = 2;
constexpr int32_t kSourceInfo = 3;
constexpr int32_t kSelectProfile = 4;
constexpr uintptr_t kSendTimer = 1;
constexpr uint32_t kSendTimerMs = 5;
// What the PC sends is kept up to ten minutes.
constexpr size_t kMaxReceivedSamples = 10 * 60 * 8000;

std::string fourccText(uint32_t v) {
  std::string s;
  for (int shift = 24; shift >= 0; shift -= 8) s += static_cast<char>((v >> shift) & 0xFF);
  return s;
}

}  // namespace

PhoneAudio::PhoneAudio(const AudioOptions& options, PhoneConnection* phone, std::ostream& out, bool* ok)
    : options_(options), phone_(phone), out_(out),
      window_(u"com.quillonlabs.phonesim.PhoneAudio", static_cast<base::MessageWindow::Handler*>(this)) {
  *ok = true;
  if (!options_.audioFile.empty()) {
    int rate = 0;
    std::vector<int16_t> input;
    std::string error;
    if (!readWav(options_.audioFile, &rate, &input, &error)) {
      out_ << "error " << error << std::endl;
      *ok = false;
      return;
    }
    if (rate == 8000) {
      samples_ = std::move(input);
    } else if (!input.empty()) {
      component::SpeexAudioResampler resampler(rate, 8000);
      resampler.Convert(input.data(), input.size() * 2);
      const auto* data = static_cast<const int16_t*>(resampler.Data());
      samples_.assign(data, data + resampler.Size() / 2);
    }
  } else if (options_.toneHz > 0) {
    samples_.resize(static_cast<size_t>(options_.toneSeconds * 8000));
    for (size_t i = 0; i < samples_.size(); ++i)
      samples_[i] = static_cast<int16_t>(10000 * std::sin(2 * kPi * options_.toneHz * double(i) / 8000));
  }
  samples_.resize((samples_.size() + kPacketSamples - 1) / kPacketSamples * kPacketSamples, 0);
  if (options_.profile == "ilbc-20ms") {
    format_ = component::kAudioFormatILBC;
    encoder_ = std::make_unique<component::iLBCAudioEncoder>();
    decoder_ = std::make_unique<component::iLBCAudioDecoder>();
  } else {
    format_ = component::kAudioFormatLPCM;
  }
  phone_->addObserver(this);
}

PhoneAudio::~PhoneAudio() {
  finish();
  phone_->removeObserver(this);
}

void PhoneAudio::onServerHandshake(PhoneConnection* phone, const transport::ServerHandshake&, uint32_t) {
  if (!options_.awaitAuth) accepted_ = true;
  phone->sendMessage(kAudioComponent, component::messageBytes(component::makeComponentMessage(kSourceInfo)));
}

void PhoneAudio::onMessage(PhoneConnection* phone, const transport::Frame& frame) {
  component::ComponentMessageReader message(frame.payload);
  if (frame.type == kAuthComponent && message.kind() == kAuthResult) {
    component::TaggedFieldReader reader(message.iterator());
    component::TaggedField field;
    int32_t result = 0;
    while (reader.next(&field) == component::TaggedFieldReader::kField)
      if (field.tag == 1 && field.kind == component::kTaggedInteger) result = field.integer;
    out_ << "auth result=" << result << std::endl;
    accepted_ = result == 1;
    maybeStart();
  } else if (frame.type == kAudioComponent && message.kind() == kCapabilities) {
    auto caps = base::readDictionaryFromPickle(message.iterator());
    const base::ListValue* list = nullptr;
    out_ << "audio capabilities";
    if (caps && caps->getList("ProfileList", &list)) {
      for (const auto& item : *list) {
        std::string id;
        if (item->asString(&id)) out_ << " " << id;
      }
    }
    out_ << std::endl;
    base::DictionaryValue select;
    select.setString("ProfileID", options_.profile);
    base::Pickle pickle = component::makeComponentMessage(kSelectProfile);
    base::writeDictionaryToPickle(select, &pickle);
    phone->sendMessage(kAudioComponent, component::messageBytes(pickle));
    out_ << "audio selected " << options_.profile << std::endl;
    selected_ = true;
    maybeStart();
  } else if (frame.type == kAudioComponent && message.kind() == kAudioPacket) {
    onAudioPacket(frame.payload);
  }
}

void PhoneAudio::onAudioPacket(const std::vector<uint8_t>& payload) {
  component::ComponentMessageReader message(payload);
  auto info = base::readDictionaryFromPickle(message.iterator());
  int32_t format = 0;
  int64_t timestamp = 0;
  component::TaggedFieldReader reader(message.iterator());
  component::TaggedField field;
  if (!info || !info->getInteger("FormatID", &format) || !info->getInt64("Timestamp", &timestamp) ||
      reader.next(&field) != component::TaggedFieldReader::kField || field.kind != component::kTaggedBytes) {
    out_ << "error unreadable audio packet from the PC" << std::endl;
    return;
  }
  ++receivedPackets_;
  receivedBytes_ += field.length;
  receivedFormat_ = static_cast<uint32_t>(format);
  if (options_.recordFile.empty() && !options_.onReceived) return;
  const int16_t* samples = nullptr;
  size_t count = 0;
  if (static_cast<uint32_t>(format) == component::kAudioFormatILBC) {
    if (!decoder_) decoder_ = std::make_unique<component::iLBCAudioDecoder>();
    if (!decoder_->Convert(field.data, field.length)) return;
    samples = static_cast<const int16_t*>(decoder_->Data());
    count = decoder_->Size() / 2;
  } else {
    samples = reinterpret_cast<const int16_t*>(field.data);
    count = field.length / 2;
  }
  if (options_.onReceived) options_.onReceived(samples, count);
  if (options_.recordFile.empty()) return;
  if (!haveFirst_) {
    haveFirst_ = true;
    firstReceived_ = timestamp;
  }
  const int64_t at = timestamp - firstReceived_;
  if (at < 0 || static_cast<size_t>(at) + count > kMaxReceivedSamples) return;
  if (received_.size() < static_cast<size_t>(at) + count) received_.resize(static_cast<size_t>(at) + count, 0);
  std::copy(samples, samples + count, received_.begin() + at);
}

void PhoneAudio::maybeStart() {
  if (sending_ || !accepted_ || !selected_ || (samples_.empty() && !options_.microphone)) return;
  sending_ = true;
  start_ = std::chrono::steady_clock::now();
  window_.setTimer(kSendTimer, kSendTimerMs);
}

void PhoneAudio::onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t) {
  if (msg == base::kMsgTimer && wparam == kSendTimer) sendDue();
}

void PhoneAudio::sendDue() {
  // Packet k holds what the microphone took during [20k, 20k + 20) ms and
  // leaves when it is complete.
  // A phone clock `clockPpm` fast takes 20 ms of samples in that much less
  // of the PC's time.
  const double elapsedMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count() *
      (1.0 + options_.clockPpm / 1e6);
  const size_t total = options_.microphone ? SIZE_MAX : samples_.size() / kPacketSamples;
  int16_t live[kPacketSamples];
  while (sent_ < total && static_cast<double>(sent_ + 1) * 20 <= elapsedMs) {
    const int16_t* pcm = live;
    if (options_.microphone)
      options_.microphone(sent_,
                          start_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                       std::chrono::duration<double, std::milli>(20.0 * static_cast<double>(sent_) /
                                                                                 (1.0 + options_.clockPpm / 1e6))),
                          live);
    else
      pcm = samples_.data() + sent_ * kPacketSamples;
    const uint8_t* payload = reinterpret_cast<const uint8_t*>(pcm);
    size_t size = kPacketSamples * 2;
    if (encoder_) {
      if (!encoder_->Convert(pcm, size)) return;
      payload = static_cast<const uint8_t*>(encoder_->Data());
      size = encoder_->Size();
    }
    base::DictionaryValue info;
    info.setInteger("FormatID", static_cast<int32_t>(format_));
    info.setInt64("Timestamp", options_.firstTimestamp + static_cast<int64_t>(sent_ * kPacketSamples));
    info.setInteger("PacketSizeBytes", static_cast<int32_t>(size));
    info.setInteger("NumberFrames", -1);
    base::Pickle message = component::makeComponentMessage(kAudioPacket);
    base::writeDictionaryToPickle(info, &message);
    component::writeTaggedBytes(&message, 0, payload, size);
    phone_->sendMessage(kAudioComponent, component::messageBytes(message));
    ++sent_;
  }
  if (sent_ == total) {
    window_.killTimer(kSendTimer);
    out_ << "audio sent " << sent_ << " packets" << std::endl;
    sent_ = total + 1;  // reported
  }
}

void PhoneAudio::onPhoneDisconnected(PhoneConnection*, const transport::Error*) { finish(); }

void PhoneAudio::finish() {
  if (finished_) return;
  finished_ = true;
  window_.killTimer(kSendTimer);
  out_ << "audio received " << receivedPackets_ << " packets bytes=" << receivedBytes_
       << " format=" << (receivedPackets_ ? fourccText(receivedFormat_) : std::string("none")) << std::endl;
  if (!options_.recordFile.empty() && !writeWav(options_.recordFile, 8000, received_))
    out_ << "error cannot write " << options_.recordFile << std::endl;
}

}  // namespace phonesim
