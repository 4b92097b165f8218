// AudioComponent (id 56001): both audio directions of a session. Phone to
// PC: packets are decoded on a worker thread to 48 kHz and laid into the
// play-out ring that the sound device link reads every 10 ms. PC to phone:
// the link writes captured audio into the capture ring; a worker encodes
// 20 ms blocks and the user-interface thread sends them. Copies of both
// directions (48 kHz, 16-bit mono) go to the observers (the recorder).
// Before the phone is accepted the component negotiates, but nothing is
// played, captured or sent (the session gate).
//
// Thread: messages and observer calls on the user-interface thread; the
// AudioDriver::Delegate calls on the link's device threads.
#ifndef COMPONENTS_AUDIO_AUDIO_COMPONENT_H_
#define COMPONENTS_AUDIO_AUDIO_COMPONENT_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "base/observer_list.h"
#include "base/platform_thread.h"
#include "base/thread_call.h"
#include "base/thread_safe_queue.h"
#include "components/answer_budget.h"
#include "components/audio/audio_clock.h"
#include "components/audio/audio_driver.h"
#include "components/audio/audio_packet_data.h"
#include "components/audio/audio_paths.h"
#include "components/audio/sample_ring.h"
#include "components/transport_observer_impl.h"

namespace base {
class DictionaryValue;
}

namespace component {

class SessionGate;

class AudioComponent : public TransportObserverImpl, public AudioDriver::Delegate {
 public:
  static constexpr int32_t kMessageAudioPacket = 1;
  static constexpr int32_t kMessageCapabilities = 2;
  static constexpr int32_t kMessageSourceInfo = 3;
  static constexpr int32_t kMessageSelectProfile = 4;

  // A packet's timestamp may stray this far (8 kHz samples, 10 s) from where
  // the stream is expected to be.
  static constexpr int64_t kMaxTimestampJump = 10 * kPhoneRate;
  // So many packets in a row that agree on a new timeline (the phone
  // restarted its clock) are taken as the new stream position.
  static constexpr int kTimelineRestartPackets = 50;
  // Received packets held at most (the decoding thread sheds long before).
  static constexpr size_t kMaxQueuedPackets = 64;
  // At most one second of audio in one packet.
  static constexpr size_t kMaxPayloadSeconds = 1;

  class Observer {
   public:
    virtual ~Observer() = default;
    // `packet` is lent for the call: format 'lpcm', 48 kHz mono 16-bit
    // samples, origin kAudioOriginPC or kAudioOriginPhone, timestamp in
    // 48 kHz samples.
    virtual void OnAudioPacket(AudioComponent* component, const AudioPacketData& packet) {}
  };

  // Counters for the log, the tests and the benchmark.
  struct Stats {
    std::atomic<uint64_t> received{0};         // packets that passed the checks
    std::atomic<uint64_t> malformed{0};        // unreadable or wrong for the profile
    std::atomic<uint64_t> badTimestamp{0};     // negative, overflowing or far off
    std::atomic<uint64_t> withoutProfile{0};   // no running decoder to take them
    std::atomic<uint64_t> shed{0};             // dropped by the overload rule
    std::atomic<uint64_t> late{0};             // older than 60 ms when taken
    std::atomic<uint64_t> decodeFailed{0};
    std::atomic<uint64_t> played{0};           // laid into the play-out ring
    std::atomic<uint64_t> discarded{0};        // still queued when the threads stopped
    std::atomic<uint64_t> sent{0};             // packets sent to the phone
    std::atomic<uint64_t> encoderSteps{0};     // 20 ms capture blocks taken or skipped
  };

  // `gate` (not owned) decides whether audio flows; `clock` (not owned,
  // null: the system clock) stamps and ages the packets.
  AudioComponent(transport::Transport* transport, uint32_t componentId, SessionGate* gate,
                 AudioClock* clock = nullptr);
  ~AudioComponent() override;

  void AddObserver(Observer* observer) { observers_.addObserver(observer); }
  void RemoveObserver(Observer* observer) { observers_.removeObserver(observer); }

  // AudioDriver::Delegate (device threads).
  void render(AudioDriver* driver, void* buffer, size_t bytes, int64_t position) override;
  void captured(AudioDriver* driver, const void* buffer, size_t bytes, int64_t position) override;

  const std::string& profileId() const { return profileId_; }
  bool running() const { return decodeThread_.joinable() || encodeThread_.joinable(); }
  const Stats& stats() const { return stats_; }
  uint64_t playoutStarts() const { return playout_.starts(); }
  uint64_t playoutUnderruns() const { return playout_.underruns(); }
  uint64_t playoutPulledBack() const { return playout_.pulledBack(); }
  // For tests: the rings as the device threads see them.
  SampleRing* playoutRing() { return &playoutRing_; }
  SampleRing* captureRing() { return &captureRing_; }

 protected:
  // Transport::Observer
  void onMessage(transport::Transport* transport, uint32_t type, const std::vector<uint8_t>& payload) override;
  void onClientDidDisconnect(transport::Transport* transport) override;

 private:
  class Worker : public base::PlatformThread::Delegate {
   public:
    Worker(AudioComponent* owner, void (AudioComponent::*body)()) : owner_(owner), body_(body) {}
    void threadMain() override { (owner_->*body_)(); }

   private:
    AudioComponent* owner_;
    void (AudioComponent::*body_)();
  };
  class Call : public base::ThreadCall::Delegate {
   public:
    Call(AudioComponent* owner, void (AudioComponent::*body)()) : owner_(owner), body_(body) {}
    void run() override { (owner_->*body_)(); }

   private:
    AudioComponent* owner_;
    void (AudioComponent::*body_)();
  };

  void onSourceInfo();
  void onSelectProfile(base::PickleIterator* iter);
  void onAudioPacket(base::PickleIterator* iter);
  // Checks the packet's timestamp against the stream; false drops it.
  bool acceptTimestamp(int64_t timestamp, int64_t now);
  // Why a phone packet is dropped; each kind has its counter.
  enum class Reject { kUnreadable, kMalformed, kNoProfile, kBadTimestamp, kQueueFull };
  // Counts and logs a dropped packet: an unreadable message each time,
  // the other kinds once per connection, `why` saying what was wrong.
  void reject(Reject kind, const std::string& why);
  void sendCapabilities();
  void sendPacket(const AudioPacketData& packet);

  void startThreads();
  void stopThreads();
  // Empties rings, queues and play-out state while no device call runs.
  void resetStreams();
  // Drops the received packets still queued (no thread runs).
  void discardReceived();

  void decodingThread();
  void encodingThread();
  void onDecodeDone();
  void onEncodeDone();

  SessionGate* gate_;
  AudioClock* clock_;
  base::ObserverList<Observer> observers_;
  std::string profileId_;
  const AudioProfile* profile_ = nullptr;
  AnswerBudget capabilityAnswers_{"audio capabilities"};

  SampleRing playoutRing_;
  SampleRing captureRing_;
  AudioPlayout playout_{&playoutRing_};
  // Device calls in progress, and whether they may touch the rings: a
  // reset waits for the calls to leave before it empties the rings.
  std::atomic<int> deviceCalls_{0};
  std::atomic<bool> ringsReady_{true};

  base::ThreadSafeQueue<AudioPacketData> receivedQueue_;
  base::ThreadSafeQueue<AudioPacketData> encodedQueue_;
  base::ThreadSafeQueue<AudioPacketData> decodedCopies_;
  base::ThreadSafeQueue<AudioPacketData> capturedCopies_;

  Worker decodeWorker_{this, &AudioComponent::decodingThread};
  Worker encodeWorker_{this, &AudioComponent::encodingThread};
  base::PlatformThread::Handle decodeThread_;
  base::PlatformThread::Handle encodeThread_;
  std::atomic<bool> stopDecoding_{false};
  std::atomic<bool> stopEncoding_{false};
  Call decodeDone_{this, &AudioComponent::onDecodeDone};
  Call encodeDone_{this, &AudioComponent::onEncodeDone};
  std::unique_ptr<base::ThreadCall> decodeDoneCall_;
  std::unique_ptr<base::ThreadCall> encodeDoneCall_;
  // Whether the decoding thread takes packets (it ends at once for an
  // unknown profile).
  std::atomic<bool> decoding_{false};

  // The stream position as the accepted packets tell it (transport thread).
  bool haveStream_ = false;
  int64_t streamTimestamp_ = 0;
  int64_t streamTime_ = 0;
  int rejectedRun_ = 0;
  int64_t rejectedTimestamp_ = 0;
  int64_t rejectedTime_ = 0;
  // The Reject kinds logged in this connection, one bit each.
  uint32_t loggedRejects_ = 0;

  Stats stats_;
};

}  // namespace component

#endif  // COMPONENTS_AUDIO_AUDIO_COMPONENT_H_
