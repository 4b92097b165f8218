// Audio messages from a hostile phone: the input is a little script of
// source-info, profile-selection, packet (well-formed fields with fuzzed
// values, or raw bytes) and device operations against one AudioComponent.
// Nothing may crash, and a ring changes only when a packet was accepted
// and played.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/logging.h"
#include "base/message_loop.h"
#include "base/platform_thread.h"
#include "base/values.h"
#include "components/audio/audio_component.h"
#include "components/component_message.h"
#include "components/component_test_support.h"
#include "components/session_gate.h"

namespace {

using component::AudioComponent;

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint64_t number(int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint64_t{byte()} << (8 * i);
    return v;
  }
  std::vector<uint8_t> bytes(size_t n) {
    n = std::min(n, size_ - std::min(at_, size_));
    std::vector<uint8_t> out(data_ + at_, data_ + at_ + n);
    at_ += n;
    return out;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

struct World {
  World() {
    base::setMinLogSeverity(base::LOG_FATAL + 1);
    transport.setApplicationId(12000);
    transport.setVersion("2.2.0.0");
    phone = std::make_unique<component::FakePhone>(&transport);
    phone->connect();
    gate.open();
  }
  void send(const base::Pickle& message) { phone->send(component::kAudioComponentId, message); }

  base::MessageLoop loop;
  transport::Transport transport;
  component::SessionGate gate{&transport};
  AudioComponent audio{&transport, component::kAudioComponentId, &gate};
  std::unique_ptr<component::FakePhone> phone;
};

uint64_t ringEnd(component::SampleRing* ring) {
  uint64_t b = 0, e = 0;
  ring->Range(&b, &e);
  return e;
}

uint64_t taken(const AudioComponent::Stats& s) {
  return s.played.load() + s.shed.load() + s.late.load() + s.decodeFailed.load() + s.discarded.load();
}

void packet(World* w, Input* in) {
  const uint8_t flags = in->byte();
  static const uint32_t kFormats[] = {component::kAudioFormatILBC, component::kAudioFormatLPCM, 0, 0xFFFFFFFFu};
  base::DictionaryValue info;
  if (!(flags & 1)) info.setInteger("FormatID", static_cast<int32_t>(kFormats[in->byte() % 4]));
  const int64_t timestamp = static_cast<int64_t>(in->number(flags & 2 ? 8 : 2));
  if (!(flags & 4)) {
    if (flags & 8) info.setInteger("Timestamp", static_cast<int32_t>(timestamp));
    else info.setInt64("Timestamp", timestamp);
  }
  base::Pickle message = component::makeComponentMessage(AudioComponent::kMessageAudioPacket);
  base::writeDictionaryToPickle(info, &message);
  const std::vector<uint8_t> payload = in->bytes(in->number(2) % 2048);
  if (flags & 16) component::writeTaggedInteger(&message, 0, static_cast<int32_t>(payload.size()));
  else component::writeTaggedBytes(&message, in->byte(), payload.data(), payload.size());
  w->send(message);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static World* world = new World;
  World* w = world;
  Input in(data, size);
  bool reset = false;
  const uint64_t playedBefore = w->audio.stats().played.load();
  const uint64_t endBefore = ringEnd(w->audio.playoutRing());
  for (int ops = 0; ops < 64 && !in.empty(); ++ops) {
    switch (in.byte() % 7) {
      case 0:
        w->send(component::makeComponentMessage(AudioComponent::kMessageSourceInfo));
        break;
      case 1: {
        static const char* kIds[] = {"ilbc-20ms", "lpcm-20ms-8kHz", "pcm", ""};
        base::DictionaryValue select;
        const uint8_t choice = in.byte();
        if (choice < 200) select.setString("ProfileID", kIds[choice % 4]);
        else select.setInteger("ProfileID", choice);
        base::Pickle message = component::makeComponentMessage(AudioComponent::kMessageSelectProfile);
        base::writeDictionaryToPickle(select, &message);
        w->send(message);
        break;
      }
      case 2:
      case 3:
        packet(w, &in);
        break;
      case 4: {
        // A message body of raw bytes.
        const std::vector<uint8_t> raw = in.bytes(in.number(2) % 4096);
        w->phone->sendRaw(component::kAudioComponentId, raw);
        break;
      }
      case 5: {
        std::vector<int16_t> block(480);
        const int64_t position = static_cast<int64_t>(in.number(4));
        if (in.byte() & 1) w->audio.render(nullptr, block.data(), 960, position);
        else w->audio.captured(nullptr, block.data(), 960, position);
        break;
      }
      case 6:
        if (in.byte() & 1) {
          // The phone goes and comes back.
          w->phone->drop();
          w->phone = std::make_unique<component::FakePhone>(&w->transport);
          w->phone->connect();
          reset = true;
        }
        w->gate.open();
        break;
    }
  }
  // Let the decoding thread take what was accepted.
  const AudioComponent::Stats& stats = w->audio.stats();
  for (int i = 0; i < 2000 && taken(stats) < stats.received.load(); ++i) base::PlatformThread::sleepMs(1);
  // The observers' copies are handed out on this thread.
  w->loop.runUntilIdle();
  if (!reset && stats.played.load() == playedBefore && ringEnd(w->audio.playoutRing()) != endBefore) abort();
  if (stats.received.load() < taken(stats)) abort();
  return 0;
}
