// The work of the audio component's threads, apart from the threads
// themselves so each rule can be exercised step by step:
//  - AudioDecodePath: one received packet -> shedding and ageing rules ->
//    decoder and resampler -> play-out ring at its 48 kHz position;
//  - AudioPlayout: the device's 10 ms request -> the play-out ring, with
//    the 100 ms start rule, the slow pull-back of a lag that has grown
//    and resynchronisation;
//  - AudioEncodePath: 20 ms blocks of the capture ring -> resampler and
//    encoder -> packets for the phone.
// And the two profiles the PC offers.
//
// Thread: each object is used by one thread at a time (decode: the decoding
// thread; play-out: the device's render thread; encode: the encoding thread).
#ifndef COMPONENTS_AUDIO_AUDIO_PATHS_H_
#define COMPONENTS_AUDIO_AUDIO_PATHS_H_

#include <array>
#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "components/audio/audio_converter.h"
#include "components/audio/audio_packet_data.h"
#include "components/audio/sample_ring.h"

namespace component {

struct AudioProfile {
  const char* id;
  uint32_t format;
  int32_t framesPerPacket;
  int32_t sampleRate;
  // What the PC puts into one packet toward the phone.
  size_t packetBytes;
  // The payload of a received packet must be a whole number of these.
  size_t frameBytes;
};

constexpr char kProfileILBC[] = "ilbc-20ms";
constexpr char kProfileLPCM[] = "lpcm-20ms-8kHz";

// The two profiles, in the order the capabilities list them.
const AudioProfile* audioProfiles(size_t* count);
// Null for an id the PC does not offer.
const AudioProfile* findAudioProfile(const std::string& id);

// 48 kHz samples per 8 kHz sample.
constexpr int64_t kUpsampleFactor = 6;
constexpr int kPhoneRate = 8000;
constexpr int kDeviceRate = 48000;

class AudioDecodePath {
 public:
  // Packets older than this when the thread takes them are dropped.
  static constexpr int64_t kMaxPacketAgeUs = 60000;
  // Waiting packets that turn shedding on, and the count that ends it.
  static constexpr size_t kShedStartWaiting = 8;
  static constexpr size_t kShedEndWaiting = 3;

  enum Result { kPlayed, kShed, kLate, kFailed };

  // `ring` (not owned) is the play-out ring.
  explicit AudioDecodePath(SampleRing* ring) : ring_(ring) {}

  // Builds the two stages of the profile; false (logged) for an unknown id.
  bool setUp(const std::string& profileId);

  // One packet taken from the queue, with `waiting` packets still queued
  // behind it. kPlayed: the samples are in the ring and `copy` (format
  // 'lpcm', origin 1, 48 kHz position and samples) is filled.
  Result take(const AudioPacketData& packet, size_t waiting, int64_t nowUs, AudioPacketData* copy);
  bool shedding() const { return shedding_; }
  // How far (48 kHz samples) the decoder and resampler put a sound behind
  // the position its packet's timestamp gives it.
  uint64_t delaySamples() const;

 private:
  SampleRing* ring_;
  std::unique_ptr<AudioConverter> stage1_;
  std::unique_ptr<AudioConverter> stage2_;
  bool shedding_ = false;
};

class AudioPlayout {
 public:
  // Play-out starts once this much is buffered (100 ms), and the phone's
  // sound is heard this far behind the newest sample the phone sent ...
  static constexpr uint64_t kStartLagSamples = 4800;
  // ... and resynchronises once it falls this far behind (200 ms).
  static constexpr uint64_t kMaxLagSamples = 9600;
  // The longest wait of the newest packet a start makes up for (40 ms, the
  // longest packet).
  static constexpr uint64_t kMaxArrivalWaitSamples = 1920;

  // A lag that has grown past the start lag, or shrunk below it, by more
  // than this (8 ms, so that a drift the window needs to see stays
  // inside 10 ms) ...
  static constexpr uint64_t kPullBackMarginSamples = 384;
  // ... for the median block of a window this long (1 s of the device's
  // blocks; late packets and late device ticks move single blocks) ...
  static constexpr uint64_t kPullBackWindowSamples = 48000;
  static constexpr size_t kPullBackWindowBlocks = 128;
  // ... is taken back by reading one sample more in every this many played
  // (0.625 % faster, 40 ms taken back in 6.4 s), or given back by reading
  // one sample fewer (0.625 % slower: a phone whose clock runs slow),
  // interpolated so that the sound stays continuous.
  static constexpr uint64_t kPullBackEvery = 160;

  explicit AudioPlayout(SampleRing* ring) : ring_(ring) {}

  // The decoding chain's own delay (AudioDecodePath::delaySamples()): the
  // newest samples in the ring are that much older than their positions
  // say, so play-out starts that much less far behind them. Any thread.
  void setChainDelay(uint64_t samples) { chainDelay_.store(samples, std::memory_order_relaxed); }
  // How far behind the newest sample in the ring play-out starts.
  uint64_t startLag() const;

  // The decoding thread, after each packet written: `end` (the position
  // after its last sample) arrived from the phone at `arrivedUs`. Play-out
  // starting some time after that arrival starts as much further on, so the
  // phone is heard the same 4800 samples behind however the device's blocks
  // and the phone's packets happen to fall.
  void noteNewest(uint64_t end, int64_t arrivedUs);

  // Fills `samples` samples for device position `position`, the block the
  // device is given at `nowUs` (AudioClock; without it the start ignores
  // when the newest packet arrived); `out` arrives zeroed and stays silence
  // when nothing is to be played.
  void render(int16_t* out, size_t samples, int64_t position, int64_t nowUs);
  void render(int16_t* out, size_t samples, int64_t position) { render(out, samples, position, kNoTime); }
  void reset();

  bool playing() const { return playing_; }
  uint64_t readPosition() const { return readPosition_; }
  // Starts of play-out and the requests while playing that found samples
  // missing (the ring ran dry or fell too far behind).
  uint64_t starts() const { return starts_.load(std::memory_order_relaxed); }
  uint64_t underruns() const { return underruns_.load(std::memory_order_relaxed); }
  // Samples skipped by pull-backs so far, and samples stretched over by
  // slowing down.
  uint64_t pulledBack() const { return pulledBack_.load(std::memory_order_relaxed); }
  uint64_t heldBack() const { return heldBack_.load(std::memory_order_relaxed); }

 private:
  static constexpr int64_t kNoTime = INT64_MIN;
  // The longest request that can be pulled back in (longer ones are read
  // plainly).
  static constexpr size_t kMaxPullBackRequest = 4096;

  void stopPlaying();
  // How far play-out at `readPosition_` is behind the phone: the newest
  // sample's distance, plus how long ago it arrived when that is known.
  uint64_t lagNow(uint64_t end, int64_t nowUs) const;
  // Adds one request's lag to the window; at the window's end decides on a
  // pull-back.
  void judgeLag(uint64_t lag, size_t samples);
  // Reads `samples` samples' worth of time while consuming `span` from
  // `readPosition_`, by linear interpolation. False: nothing was read.
  bool readStretched(int16_t* out, size_t samples, size_t span);

  SampleRing* ring_;
  bool playing_ = false;
  uint64_t readPosition_ = 0;

  // Pull-back state (render thread only).
  std::array<uint32_t, kPullBackWindowBlocks> windowLags_{};
  size_t windowBlocks_ = 0;
  uint64_t windowSamples_ = 0;
  // Samples still to skip (positive) or to stretch over (negative).
  int64_t pullBackLeft_ = 0;
  uint64_t pullBackCredit_ = 0;
  std::array<int16_t, kMaxPullBackRequest + kMaxPullBackRequest / kPullBackEvery + 2> scratch_{};

  int64_t anchor_ = 0;
  std::atomic<uint64_t> chainDelay_{0};
  // Written by the decoding thread: the arrival time first, then the end.
  std::atomic<int64_t> newestArrivedUs_{kNoTime};
  std::atomic<uint64_t> newestEnd_{0};
  std::atomic<uint64_t> starts_{0};
  std::atomic<uint64_t> underruns_{0};
  std::atomic<uint64_t> pulledBack_{0};
  std::atomic<uint64_t> heldBack_{0};
};

class AudioEncodePath {
 public:
  // 20 ms at 48 kHz, and how far the encoder may lag before it skips ahead.
  static constexpr uint64_t kBlockSamples = 960;
  static constexpr uint64_t kMaxLagSamples = 3840;

  enum Step { kWait, kBlock };

  // `ring` (not owned) is the capture ring.
  explicit AudioEncodePath(SampleRing* ring) : ring_(ring) {}

  bool setUp(const std::string& profileId);

  // One step of the encoding loop. kWait: nothing to do yet, sleep 1 ms.
  // kBlock: a block was consumed; when it completed a packet, `packet` and
  // `copy` are set (otherwise left empty).
  Step step(std::unique_ptr<AudioPacketData>* packet, std::unique_ptr<AudioPacketData>* copy);

 private:
  void forget();

  SampleRing* ring_;
  const AudioProfile* profile_ = nullptr;
  std::unique_ptr<AudioConverter> stage1_;
  std::unique_ptr<AudioConverter> stage2_;
  bool havePosition_ = false;
  uint64_t position_ = 0;
  uint64_t lastPosition_ = 0;
  std::vector<int16_t> block_ = std::vector<int16_t>(kBlockSamples);
  std::unique_ptr<AudioPacketData> packet_;
  std::unique_ptr<AudioPacketData> copy_;
};

}  // namespace component

#endif  // COMPONENTS_AUDIO_AUDIO_PATHS_H_
