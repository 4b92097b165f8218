#include "components/audio/audio_paths.h"

#include <algorithm>
#include <cstring>

#include "base/logging.h"
#include "components/audio/ilbc_audio_converter.h"
#include "components/audio/speex_audio_resampler.h"

namespace component {

namespace {

const AudioProfile kProfiles[] = {
    {kProfileILBC, kAudioFormatILBC, 160, kPhoneRate, 2 * kILBCFrameBytes, kILBCFrameBytes},
    {kProfileLPCM, kAudioFormatLPCM, 160, kPhoneRate, 320, 2},
};

void logUnknownProfile(const std::string& id) {
  LOG(ERROR) << "Unknown profile '" << id << "'. End Thread.";
}

}  // namespace

const AudioProfile* audioProfiles(size_t* count) {
  *count = sizeof(kProfiles) / sizeof(kProfiles[0]);
  return kProfiles;
}

const AudioProfile* findAudioProfile(const std::string& id) {
  for (const AudioProfile& profile : kProfiles)
    if (id == profile.id) return &profile;
  return nullptr;
}

// ---------------------------------------------------------------------------

bool AudioDecodePath::setUp(const std::string& profileId) {
  shedding_ = false;
  if (profileId == kProfileILBC) {
    stage1_ = std::make_unique<iLBCAudioDecoder>();
    stage2_ = std::make_unique<SpeexAudioResampler>(kPhoneRate, kDeviceRate);
  } else if (profileId == kProfileLPCM) {
    stage1_ = std::make_unique<SpeexAudioResampler>(kPhoneRate, kDeviceRate);
    stage2_ = std::make_unique<DummyAudioConverter>();
  } else {
    logUnknownProfile(profileId);
    return false;
  }
  return true;
}

uint64_t AudioDecodePath::delaySamples() const {
  if (!stage1_ || !stage2_) return 0;
  const int64_t us = stage1_->DelayUs() + stage2_->DelayUs();
  return us > 0 ? static_cast<uint64_t>((us * kDeviceRate + 500000) / 1000000) : 0;
}

AudioDecodePath::Result AudioDecodePath::take(const AudioPacketData& packet, size_t waiting, int64_t nowUs,
                                              AudioPacketData* copy) {
  if (shedding_) {
    if (waiting > kShedEndWaiting) return kShed;
    if (waiting == kShedEndWaiting) {
      shedding_ = false;
      return kShed;
    }
  } else if (waiting >= kShedStartWaiting) {
    shedding_ = true;
    return kShed;
  }
  if (nowUs - packet.received > kMaxPacketAgeUs) return kLate;
  if (!stage1_ || !stage2_ || packet.data.empty()) return kFailed;
  if (!stage1_->Convert(packet.data.data(), packet.data.size())) return kFailed;
  if (!stage2_->Convert(stage1_->Data(), stage1_->Size())) return kFailed;

  const size_t count = stage2_->Size() / 2;
  const auto* samples = static_cast<const int16_t*>(stage2_->Data());
  const uint64_t position = static_cast<uint64_t>(packet.timestamp) * kUpsampleFactor;
  if (count == 0 || ring_->Write(samples, count, position) != SampleRing::kDone) return kFailed;

  copy->format = kAudioFormatLPCM;
  copy->origin = kAudioOriginPhone;
  copy->timestamp = static_cast<int64_t>(position);
  copy->received = packet.received;
  copy->data.assign(static_cast<const uint8_t*>(stage2_->Data()),
                    static_cast<const uint8_t*>(stage2_->Data()) + count * 2);
  return kPlayed;
}

// ---------------------------------------------------------------------------

void AudioPlayout::reset() {
  stopPlaying();
  readPosition_ = 0;
  anchor_ = 0;
}

void AudioPlayout::stopPlaying() {
  playing_ = false;
  windowBlocks_ = 0;
  windowSamples_ = 0;
  pullBackLeft_ = 0;
  pullBackCredit_ = 0;
}

uint64_t AudioPlayout::lagNow(uint64_t end, int64_t nowUs) const {
  uint64_t lag = end > readPosition_ ? end - readPosition_ : 0;
  // Without the newest packet's arrival the lag is taken as smaller than it
  // is, which never pulls back too far.
  const uint64_t noted = newestEnd_.load(std::memory_order_acquire);
  const int64_t arrived = newestArrivedUs_.load(std::memory_order_acquire);
  if (nowUs != kNoTime && arrived != kNoTime && noted == end && newestEnd_.load(std::memory_order_acquire) == end &&
      nowUs > arrived) {
    const uint64_t waited = static_cast<uint64_t>((nowUs - arrived) * kDeviceRate / 1000000);
    lag += std::min(waited, kMaxLagSamples);
  }
  return lag;
}

void AudioPlayout::judgeLag(uint64_t lag, size_t samples) {
  if (pullBackLeft_ != 0) return;  // the window starts afresh after a pull-back
  windowLags_[windowBlocks_++] = static_cast<uint32_t>(std::min<uint64_t>(lag, UINT32_MAX));
  windowSamples_ += samples;
  if (windowSamples_ < kPullBackWindowSamples && windowBlocks_ < windowLags_.size()) return;
  // The median block: a packet that came late lowers single blocks, a device
  // tick that came late raises them; neither moves the median.
  auto middle = windowLags_.begin() + windowBlocks_ / 2;
  std::nth_element(windowLags_.begin(), middle, windowLags_.begin() + windowBlocks_);
  const uint64_t typical = *middle;
  const uint64_t target = startLag();
  if (typical > target + kPullBackMarginSamples) {
    pullBackLeft_ = static_cast<int64_t>(typical - target);
    pullBackCredit_ = 0;
  } else if (typical + kPullBackMarginSamples < target) {
    // The phone's clock runs slower than the device's: play a little slower
    // rather than run dry and restart.
    pullBackLeft_ = -static_cast<int64_t>(target - typical);
    pullBackCredit_ = 0;
  }
  windowBlocks_ = 0;
  windowSamples_ = 0;
}

bool AudioPlayout::readStretched(int16_t* out, size_t samples, size_t span) {
  // Output sample i is taken at ring offset i * span / samples: the step
  // between output samples is the same within a request and across its
  // boundary with the next, so the change of speed bends a waveform by 0.6 %
  // instead of cutting it. The phone's sound is 8 kHz audio at 48 kHz, six
  // times oversampled, where linear interpolation is close to exact.
  if (ring_->Read(scratch_.data(), span + 1, readPosition_) != SampleRing::kDone) return false;
  for (size_t i = 0; i < samples; ++i) {
    const uint64_t x = uint64_t{i} * span;
    const size_t at = static_cast<size_t>(x / samples);
    const int64_t frac = static_cast<int64_t>(x % samples);
    const int64_t n = static_cast<int64_t>(samples);
    const int64_t sum = int64_t{scratch_[at]} * (n - frac) + int64_t{scratch_[at + 1]} * frac;
    out[i] = static_cast<int16_t>((sum + (sum >= 0 ? n / 2 : -n / 2)) / n);
  }
  return true;
}

uint64_t AudioPlayout::startLag() const {
  const uint64_t delay = chainDelay_.load(std::memory_order_relaxed);
  return delay < kStartLagSamples ? kStartLagSamples - delay : 0;
}

void AudioPlayout::noteNewest(uint64_t end, int64_t arrivedUs) {
  newestEnd_.store(0, std::memory_order_release);
  newestArrivedUs_.store(arrivedUs, std::memory_order_release);
  newestEnd_.store(end, std::memory_order_release);
}

void AudioPlayout::render(int16_t* out, size_t samples, int64_t position, int64_t nowUs) {
  uint64_t begin = 0, end = 0;
  if (ring_->Range(&begin, &end) != SampleRing::kDone) return;
  if (begin == end) {
    reset();
    return;
  }
  if (!playing_) {
    const uint64_t lag = startLag();
    if (end - begin < kStartLagSamples || end - lag < readPosition_) return;
    playing_ = true;
    readPosition_ = end - lag;
    // The newest samples have waited since their packet came: play-out
    // begins that much further on. The phase between the device's blocks
    // and the phone's packets is less than a packet; a longer wait is no
    // phase but a stall, and is not made up for beyond that.
    const uint64_t noted = newestEnd_.load(std::memory_order_acquire);
    const int64_t arrived = newestArrivedUs_.load(std::memory_order_acquire);
    if (nowUs != kNoTime && arrived != kNoTime && noted == end && newestEnd_.load(std::memory_order_acquire) == end &&
        nowUs > arrived) {
      const uint64_t waited = static_cast<uint64_t>((nowUs - arrived) * kDeviceRate / 1000000);
      readPosition_ += std::min(waited, std::min(lag, kMaxArrivalWaitSamples));
    }
    anchor_ = position;
    starts_.fetch_add(1, std::memory_order_relaxed);
  }
  if (readPosition_ < end && end - readPosition_ > kMaxLagSamples) {
    stopPlaying();
    underruns_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  const int64_t moved = position - anchor_;
  if (moved < 0) {
    reset();
    return;
  }
  readPosition_ += static_cast<uint64_t>(moved);

  // A lag that stays beyond the start lag (play-out restarted while the
  // phone's packets were late, or the phone's clock runs fast) is taken
  // back a little with every request instead of staying in the latency
  // until the 200 ms rule; one that stays below it (the phone's clock runs
  // slow) is given back the same way before the ring runs dry.
  judgeLag(lagNow(end, nowUs), samples);
  int64_t extra = 0;  // consumed beyond the samples played (negative: short of them)
  if (pullBackLeft_ != 0 && samples <= kMaxPullBackRequest) {
    pullBackCredit_ += samples;
    const uint64_t left = static_cast<uint64_t>(pullBackLeft_ > 0 ? pullBackLeft_ : -pullBackLeft_);
    const auto due = static_cast<int64_t>(std::min<uint64_t>(pullBackCredit_ / kPullBackEvery, left));
    pullBackCredit_ %= kPullBackEvery;
    extra = pullBackLeft_ > 0 ? due : -due;
    // Only from samples in hand: an interpolation toward missing samples
    // would be heard.
    const uint64_t span = static_cast<uint64_t>(static_cast<int64_t>(samples) + extra);
    if (readPosition_ < begin || readPosition_ + span + 1 > end || span + 1 > scratch_.size()) extra = 0;
  }
  if (extra != 0 && readStretched(out, samples, static_cast<size_t>(static_cast<int64_t>(samples) + extra))) {
    readPosition_ += static_cast<uint64_t>(static_cast<int64_t>(samples) + extra);
    pullBackLeft_ -= extra;
    if (extra > 0) pulledBack_.fetch_add(static_cast<uint64_t>(extra), std::memory_order_relaxed);
    else heldBack_.fetch_add(static_cast<uint64_t>(-extra), std::memory_order_relaxed);
    anchor_ = position + static_cast<int64_t>(samples);
    return;
  }

  const int code = ring_->Read(out, samples, readPosition_);
  if (code == SampleRing::kNoOverlap || code == SampleRing::kAlreadyOverwritten ||
      code == SampleRing::kNotYetThere) {
    std::memset(out, 0, samples * 2);
    stopPlaying();
    underruns_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  if (code != SampleRing::kDone) return;
  // Samples past the newest one came out as silence: the phone's audio was
  // late for this block.
  if (readPosition_ + samples > end || readPosition_ < begin) underruns_.fetch_add(1, std::memory_order_relaxed);
  readPosition_ += samples;
  anchor_ = position + static_cast<int64_t>(samples);
}

// ---------------------------------------------------------------------------

bool AudioEncodePath::setUp(const std::string& profileId) {
  profile_ = findAudioProfile(profileId);
  if (!profile_) {
    logUnknownProfile(profileId);
    return false;
  }
  stage1_ = std::make_unique<SpeexAudioResampler>(kDeviceRate, kPhoneRate);
  if (profile_->format == kAudioFormatILBC) stage2_ = std::make_unique<iLBCAudioEncoder>();
  else stage2_ = std::make_unique<DummyAudioConverter>();
  forget();
  lastPosition_ = 0;
  return true;
}

void AudioEncodePath::forget() {
  havePosition_ = false;
  // A packet begun before the jump would carry the wrong timestamp.
  packet_.reset();
  copy_.reset();
}

AudioEncodePath::Step AudioEncodePath::step(std::unique_ptr<AudioPacketData>* packet,
                                            std::unique_ptr<AudioPacketData>* copy) {
  if (!profile_) return kWait;
  uint64_t begin = 0, end = 0;
  if (ring_->Range(&begin, &end) != SampleRing::kDone) return kWait;
  if (begin == end) {
    forget();
    return kWait;
  }
  if (!havePosition_) {
    if (end - begin < kBlockSamples || end - kBlockSamples < lastPosition_) return kWait;
    position_ = end - kBlockSamples;
    havePosition_ = true;
  }
  if (end > position_ && end - position_ > kMaxLagSamples) {
    forget();
    lastPosition_ = 0;
    return kBlock;
  }
  if (end < position_ + kBlockSamples) return kWait;

  const int code = ring_->Read(block_.data(), kBlockSamples, position_);
  if (code == SampleRing::kAlreadyOverwritten || code == SampleRing::kNotYetThere) {
    forget();
    return kBlock;
  }
  if (code == SampleRing::kDone && stage1_->Convert(block_.data(), kBlockSamples * 2) &&
      stage2_->Convert(stage1_->Data(), stage1_->Size())) {
    if (!packet_) {
      packet_ = std::make_unique<AudioPacketData>();
      packet_->format = profile_->format;
      packet_->origin = kAudioOriginPC;
      packet_->timestamp = static_cast<int64_t>(position_ / kUpsampleFactor);
      copy_ = std::make_unique<AudioPacketData>();
      copy_->format = kAudioFormatLPCM;
      copy_->origin = kAudioOriginPC;
      copy_->timestamp = static_cast<int64_t>(position_);
    }
    const auto* encoded = static_cast<const uint8_t*>(stage2_->Data());
    packet_->data.insert(packet_->data.end(), encoded, encoded + stage2_->Size());
    const auto* raw = reinterpret_cast<const uint8_t*>(block_.data());
    copy_->data.insert(copy_->data.end(), raw, raw + kBlockSamples * 2);
    if (packet_->data.size() >= profile_->packetBytes) {
      *packet = std::move(packet_);
      *copy = std::move(copy_);
    }
  }
  position_ += kBlockSamples;
  lastPosition_ = position_;
  return kBlock;
}

}  // namespace component
