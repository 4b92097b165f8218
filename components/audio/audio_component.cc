#include "components/audio/audio_component.h"

#include <limits>

#include "base/logging.h"
#include "base/values.h"
#include "components/audio/ilbc_audio_converter.h"
#include "components/component_message.h"
#include "components/session_gate.h"

namespace component {

namespace {

// Marks a device call in progress for the length of a scope.
class DeviceCall {
 public:
  explicit DeviceCall(std::atomic<int>* calls) : calls_(calls) { calls_->fetch_add(1); }
  ~DeviceCall() { calls_->fetch_sub(1); }

 private:
  std::atomic<int>* calls_;
};

int64_t absolute(int64_t v) { return v < 0 ? -v : v; }

}  // namespace

AudioComponent::AudioComponent(transport::Transport* transport, uint32_t componentId, SessionGate* gate,
                               AudioClock* clock)
    : TransportObserverImpl(transport, componentId), gate_(gate), clock_(clock ? clock : AudioClock::system()) {}

AudioComponent::~AudioComponent() { stopThreads(); }

// ---------------------------------------------------------------------------
// Messages (transport thread)

void AudioComponent::onMessage(transport::Transport*, uint32_t, const std::vector<uint8_t>& payload) {
  ComponentMessageReader message(payload);
  switch (message.kind()) {
    case kMessageAudioPacket:
      onAudioPacket(message.iterator());
      break;
    case kMessageSourceInfo:
      onSourceInfo();
      break;
    case kMessageSelectProfile:
      onSelectProfile(message.iterator());
      break;
    default:
      break;
  }
}

void AudioComponent::onSourceInfo() {
  if (!capabilityAnswers_.take()) return;  // first: no log line per ignored ask
  LOG(INFO) << "Received source info";
  LOG(INFO) << "Sending capabilities...";
  sendCapabilities();
}

void AudioComponent::sendCapabilities() {
  base::DictionaryValue capabilities;
  auto* list = new base::ListValue;
  size_t count = 0;
  const AudioProfile* profiles = audioProfiles(&count);
  for (size_t i = 0; i < count; ++i) {
    list->append(new base::StringValue(profiles[i].id));
    auto* entry = new base::DictionaryValue;
    entry->setString("ProfileID", profiles[i].id);
    entry->setInteger("FormatID", static_cast<int32_t>(profiles[i].format));
    entry->setInteger("FramesPerPacket", profiles[i].framesPerPacket);
    entry->setInteger("SampleRate", profiles[i].sampleRate);
    capabilities.set(profiles[i].id, entry);
  }
  capabilities.set("ProfileList", list);
  base::Pickle message = makeComponentMessage(kMessageCapabilities);
  base::writeDictionaryToPickle(capabilities, &message);
  sendMessage(message);
}

void AudioComponent::onSelectProfile(base::PickleIterator* iter) {
  LOG(INFO) << "Received select profile";
  std::unique_ptr<base::DictionaryValue> info = base::readDictionaryFromPickle(iter);
  std::string id;
  if (!info || !info->getString("ProfileID", &id)) {
    LOG(ERROR) << "Couldn't read message info";
    return;
  }
  LOG(INFO) << "Selected profile: " << id;
  // The threads of an earlier selection end before new ones start over the
  // same rings and queues.
  stopThreads();
  discardReceived();
  profileId_ = id;
  profile_ = findAudioProfile(id);
  haveStream_ = false;
  rejectedRun_ = 0;
  startThreads();
}

void AudioComponent::reject(Reject kind, const std::string& why) {
  // Per kind, in the order of Reject: its counter, and its line (none: the
  // reason is the line). Unreadable messages are each logged; the others
  // come in runs and are logged once per connection.
  struct Kind {
    std::atomic<uint64_t> Stats::*counter;
    base::LogSeverity severity;
    const char* line;
  };
  static const Kind kKinds[] = {
      {&Stats::malformed, base::LOG_ERROR, nullptr},
      {&Stats::malformed, base::LOG_ERROR, "Dropping malformed audio packets"},
      {&Stats::withoutProfile, base::LOG_WARNING, "Dropping audio packets: no audio profile is running"},
      {&Stats::badTimestamp, base::LOG_ERROR, "Dropping audio packets with an absurd \"Timestamp\""},
      {&Stats::shed, base::LOG_WARNING, "Audio decoding falls behind; dropping packets"},
  };
  const Kind& k = kKinds[static_cast<int>(kind)];
  (stats_.*k.counter).fetch_add(1, std::memory_order_relaxed);
  if (kind != Reject::kUnreadable) {
    const uint32_t bit = 1u << static_cast<int>(kind);
    if (loggedRejects_ & bit) return;
    loggedRejects_ |= bit;
  }
  base::LogMessage log(__FILE__, __LINE__, k.severity);
  if (!k.line) log.stream() << why;
  else if (why.empty()) log.stream() << k.line;
  else log.stream() << k.line << " (" << why << ")";
}

void AudioComponent::onAudioPacket(base::PickleIterator* iter) {
  // The dictionary's type tag comes first; look at it without moving.
  base::PickleIterator peek = *iter;
  uint8_t type = 0;
  if (!peek.readByte(&type)) return reject(Reject::kUnreadable, "Couldn't parse audio packet message");
  if (type != base::Value::kDictionary)
    return reject(Reject::kUnreadable, "Dictionary expected but received " + std::to_string(type));
  std::unique_ptr<base::DictionaryValue> info = base::readDictionaryFromPickle(iter);
  if (!info) return reject(Reject::kUnreadable, "Couldn't parse audio packet message");
  if (!gate_->admit(SessionGate::kAudioPackets)) return;

  auto packet = std::make_unique<AudioPacketData>();
  int32_t format = 0;
  if (!info->getInteger("FormatID", &format)) return reject(Reject::kMalformed, "no \"FormatID\"");
  packet->format = static_cast<uint32_t>(format);
  int64_t timestamp = 0;
  int32_t timestamp32 = 0;
  if (info->getInt64("Timestamp", &timestamp)) {
  } else if (info->getInteger("Timestamp", &timestamp32)) {
    timestamp = timestamp32;
  } else {
    return reject(Reject::kMalformed, "no \"Timestamp\"");
  }
  packet->timestamp = timestamp;
  const int64_t now = clock_->nowUs();
  packet->received = now;

  TaggedFieldReader reader(iter);
  TaggedField field;
  if (reader.next(&field) != TaggedFieldReader::kField || field.kind != kTaggedBytes)
    return reject(Reject::kMalformed, "no payload field");

  if (!profile_ || !decoding_.load()) return reject(Reject::kNoProfile, "");
  if (packet->format != profile_->format) return reject(Reject::kMalformed, "format differs from the selected profile");
  const size_t maxBytes =
      profile_->format == kAudioFormatILBC ? 50 * kILBCFrameBytes : kPhoneRate * 2 * kMaxPayloadSeconds;
  if (field.length == 0 || field.length % profile_->frameBytes != 0 || field.length > maxBytes)
    return reject(Reject::kMalformed, "payload is not a whole number of frames");
  if (!acceptTimestamp(timestamp, now)) return reject(Reject::kBadTimestamp, std::to_string(timestamp));
  if (receivedQueue_.size() >= kMaxQueuedPackets) return reject(Reject::kQueueFull, "");

  packet->data.assign(field.data, field.data + field.length);
  stats_.received.fetch_add(1, std::memory_order_relaxed);
  receivedQueue_.push(packet.release());
}

bool AudioComponent::acceptTimestamp(int64_t timestamp, int64_t now) {
  bool good = timestamp >= 0 && timestamp <= std::numeric_limits<int64_t>::max() / kUpsampleFactor;
  if (good && haveStream_) {
    // Where the stream should be by now: the phone's clock runs with ours.
    const int64_t expected = streamTimestamp_ + (now - streamTime_) * kPhoneRate / 1000000;
    if (absolute(timestamp - expected) > kMaxTimestampJump) {
      // A phone that restarted its clock sends a steady run of packets on
      // the new timeline; a single absurd packet does not.
      const int64_t runExpected = rejectedTimestamp_ + (now - rejectedTime_) * kPhoneRate / 1000000;
      if (rejectedRun_ > 0 && absolute(timestamp - runExpected) <= kMaxTimestampJump) ++rejectedRun_;
      else rejectedRun_ = 1;
      rejectedTimestamp_ = timestamp;
      rejectedTime_ = now;
      if (rejectedRun_ < kTimelineRestartPackets) good = false;
      else LOG(WARNING) << "The phone's audio timeline restarted at " << timestamp;
    }
  }
  if (!good) return false;
  haveStream_ = true;
  rejectedRun_ = 0;
  streamTimestamp_ = timestamp;
  streamTime_ = now;
  return true;
}

void AudioComponent::sendPacket(const AudioPacketData& packet) {
  base::DictionaryValue info;
  info.setInteger("FormatID", static_cast<int32_t>(packet.format));
  info.setInt64("Timestamp", packet.timestamp);
  info.setInteger("PacketSizeBytes", static_cast<int32_t>(packet.data.size()));
  info.setInteger("NumberFrames", -1);
  base::Pickle message = makeComponentMessage(kMessageAudioPacket);
  base::writeDictionaryToPickle(info, &message);
  writeTaggedBytes(&message, 0, packet.data.data(), packet.data.size());
  if (sendMessage(message)) stats_.sent.fetch_add(1, std::memory_order_relaxed);
}

void AudioComponent::onClientDidDisconnect(transport::Transport*) {
  if (profile_) {
    LOG(INFO) << "Audio session: played " << stats_.played.load() << ", late " << stats_.late.load() << ", shed "
              << stats_.shed.load() << ", play-out starts " << playout_.starts() << ", underruns "
              << playout_.underruns() << ", pulled back " << playout_.pulledBack() / (kDeviceRate / 1000) << " ms, held back "
              << playout_.heldBack() / (kDeviceRate / 1000) << " ms";
  }
  stopThreads();
  resetStreams();
  capabilityAnswers_.reset();
  profileId_.clear();
  profile_ = nullptr;
  haveStream_ = false;
  rejectedRun_ = 0;
  loggedRejects_ = 0;
}

// ---------------------------------------------------------------------------
// Threads

void AudioComponent::startThreads() {
  decodeDoneCall_ = std::make_unique<base::ThreadCall>(&decodeDone_);
  encodeDoneCall_ = std::make_unique<base::ThreadCall>(&encodeDone_);
  stopDecoding_ = false;
  stopEncoding_ = false;
  // Packets are taken from here on; an unknown profile turns it off again
  // when the thread ends.
  decoding_ = profile_ != nullptr;
  if (!base::PlatformThread::create(&decodeWorker_, &decodeThread_)) LOG(ERROR) << "Couldn't start decoding thread";
  if (!base::PlatformThread::create(&encodeWorker_, &encodeThread_)) LOG(ERROR) << "Couldn't start encoding thread";
}

void AudioComponent::stopThreads() {
  stopDecoding_ = true;
  stopEncoding_ = true;
  decodeThread_.join();
  encodeThread_.join();
  decoding_ = false;
  decodeDoneCall_.reset();
  encodeDoneCall_.reset();
}

void AudioComponent::resetStreams() {
  ringsReady_ = false;
  while (deviceCalls_.load() != 0) base::PlatformThread::sleepMs(1);
  playoutRing_.Setup();
  captureRing_.Setup();
  playout_.reset();
  ringsReady_ = true;
  discardReceived();
  encodedQueue_.clear();
  decodedCopies_.clear();
  capturedCopies_.clear();
}

void AudioComponent::discardReceived() {
  stats_.discarded.fetch_add(receivedQueue_.size(), std::memory_order_relaxed);
  receivedQueue_.clear();
}

void AudioComponent::decodingThread() {
  LOG(INFO) << "Decoding thread begin";
  AudioDecodePath path(&playoutRing_);
  if (!path.setUp(profileId_)) {
    decoding_ = false;
    LOG(INFO) << "Decoding thread end";
    return;
  }
  playout_.setChainDelay(path.delaySamples());
  while (!stopDecoding_.load()) {
    AudioPacketData* taken = nullptr;
    if (!receivedQueue_.tryPop(&taken)) {
      clock_->sleepMs(1);
      continue;
    }
    std::unique_ptr<AudioPacketData> packet(taken);
    auto copy = std::make_unique<AudioPacketData>();
    switch (path.take(*packet, receivedQueue_.size(), clock_->nowUs(), copy.get())) {
      case AudioDecodePath::kPlayed:
        playout_.noteNewest(static_cast<uint64_t>(copy->timestamp) + copy->data.size() / 2, packet->received);
        stats_.played.fetch_add(1, std::memory_order_relaxed);
        decodedCopies_.push(copy.release());
        if (!decodeDoneCall_->isPending()) decodeDoneCall_->post();
        break;
      case AudioDecodePath::kShed:
        stats_.shed.fetch_add(1, std::memory_order_relaxed);
        break;
      case AudioDecodePath::kLate:
        stats_.late.fetch_add(1, std::memory_order_relaxed);
        break;
      case AudioDecodePath::kFailed:
        stats_.decodeFailed.fetch_add(1, std::memory_order_relaxed);
        break;
    }
  }
  LOG(INFO) << "Decoding thread end";
}

void AudioComponent::encodingThread() {
  LOG(INFO) << "Encoding thread begin";
  AudioEncodePath path(&captureRing_);
  if (!path.setUp(profileId_)) {
    LOG(INFO) << "Encoding thread end";
    return;
  }
  while (!stopEncoding_.load()) {
    std::unique_ptr<AudioPacketData> packet, copy;
    if (path.step(&packet, &copy) == AudioEncodePath::kWait) {
      clock_->sleepMs(1);
      continue;
    }
    stats_.encoderSteps.fetch_add(1, std::memory_order_relaxed);
    if (!packet) continue;
    encodedQueue_.push(packet.release());
    capturedCopies_.push(copy.release());
    if (!encodeDoneCall_->isPending()) encodeDoneCall_->post();
  }
  LOG(INFO) << "Encoding thread end";
}

void AudioComponent::onEncodeDone() {
  AudioPacketData* taken = nullptr;
  while (encodedQueue_.tryPop(&taken)) {
    std::unique_ptr<AudioPacketData> packet(taken);
    // Nothing goes to a phone that has not been accepted.
    if (gate_->isOpen()) sendPacket(*packet);
  }
  while (capturedCopies_.tryPop(&taken)) {
    std::unique_ptr<AudioPacketData> copy(taken);
    FOR_EACH_OBSERVER(Observer, observers_, OnAudioPacket(this, *copy));
  }
}

void AudioComponent::onDecodeDone() {
  AudioPacketData* taken = nullptr;
  while (decodedCopies_.tryPop(&taken)) {
    std::unique_ptr<AudioPacketData> copy(taken);
    FOR_EACH_OBSERVER(Observer, observers_, OnAudioPacket(this, *copy));
  }
}

// ---------------------------------------------------------------------------
// Device threads

void AudioComponent::render(AudioDriver*, void* buffer, size_t bytes, int64_t position) {
  DeviceCall call(&deviceCalls_);
  if (!ringsReady_.load() || !gate_->isOpen()) return;
  playout_.render(static_cast<int16_t*>(buffer), bytes / 2, position, clock_->nowUs());
}

void AudioComponent::captured(AudioDriver*, const void* buffer, size_t bytes, int64_t position) {
  DeviceCall call(&deviceCalls_);
  // What PC programs play is not taken before the phone is accepted.
  if (!ringsReady_.load() || !gate_->isOpen() || position < 0) return;
  captureRing_.Write(static_cast<const int16_t*>(buffer), bytes / 2, static_cast<uint64_t>(position));
}

}  // namespace component
