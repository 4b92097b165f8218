#include "components/audio/audio_component.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <thread>

#include "base/message_loop.h"
#include "base/values.h"
#include "components/component_message.h"
#include "components/component_test_support.h"
#include "components/session_gate.h"
#include "gtest/gtest.h"
#include "transport/transport_test_support.h"

namespace component {
namespace {

constexpr double kPi = 3.14159265358979323846;

size_t countOf(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::vector<uint8_t> lpcm20ms(int64_t firstSample) {
  std::vector<uint8_t> bytes(320);
  for (size_t i = 0; i < 160; ++i) {
    const auto v = static_cast<int16_t>(9000 * std::sin(2 * kPi * 1000 * double(firstSample + int64_t(i)) / 8000));
    bytes[2 * i] = static_cast<uint8_t>(v & 0xFF);
    bytes[2 * i + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
  }
  return bytes;
}

struct Packet {
  int32_t format = 0;
  int64_t timestamp = 0;
  int32_t size = 0;
  int32_t frames = 0;
  std::vector<uint8_t> payload;
};

class CopyObserver : public AudioComponent::Observer {
 public:
  void OnAudioPacket(AudioComponent*, const AudioPacketData& packet) override { copies.push_back(packet); }
  std::vector<AudioPacketData> copies;
};

class AudioComponentTest : public ::testing::Test {
 protected:
  AudioComponentTest() {
    transport_.setApplicationId(12000);
    transport_.setVersion("2.2.0.0");
    audio_.AddObserver(&observer_);
  }
  ~AudioComponentTest() override { audio_.RemoveObserver(&observer_); }

  void connect(bool accept = true) {
    ASSERT_TRUE(phone_.connect());
    if (accept) gate_.open();
  }
  void sendDictionary(int32_t kind, const base::DictionaryValue& dict) {
    base::Pickle message = makeComponentMessage(kind);
    base::writeDictionaryToPickle(dict, &message);
    phone_.send(kAudioComponentId, message);
  }
  void select(const std::string& id) {
    base::DictionaryValue dict;
    dict.setString("ProfileID", id);
    sendDictionary(AudioComponent::kMessageSelectProfile, dict);
  }
  void sendPacket(uint32_t format, int64_t timestamp, const std::vector<uint8_t>& payload) {
    base::DictionaryValue dict;
    dict.setInteger("FormatID", static_cast<int32_t>(format));
    dict.setInt64("Timestamp", timestamp);
    base::Pickle message = makeComponentMessage(AudioComponent::kMessageAudioPacket);
    base::writeDictionaryToPickle(dict, &message);
    writeTaggedBytes(&message, 0, payload.data(), payload.size());
    phone_.send(kAudioComponentId, message);
  }
  // Runs the loop until `done` or ten seconds passed (a wait, not a timing
  // check).
  bool runUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 1000 && !done(); ++i) loop_.runFor(10);
    return done();
  }
  std::vector<Packet> packetsFromPC() {
    std::vector<Packet> packets;
    for (const transport::Frame& frame : phone_.receivedOfType(kAudioComponentId)) {
      ComponentMessageReader message(frame.payload);
      if (message.kind() != AudioComponent::kMessageAudioPacket) continue;
      Packet p;
      auto dict = base::readDictionaryFromPickle(message.iterator());
      EXPECT_TRUE(dict);
      if (!dict) continue;
      dict->getInteger("FormatID", &p.format);
      dict->getInt64("Timestamp", &p.timestamp);
      dict->getInteger("PacketSizeBytes", &p.size);
      dict->getInteger("NumberFrames", &p.frames);
      TaggedFieldReader reader(message.iterator());
      TaggedField field;
      EXPECT_EQ(TaggedFieldReader::kField, reader.next(&field));
      EXPECT_EQ(0, field.tag);
      p.payload.assign(field.data, field.data + field.length);
      packets.push_back(p);
    }
    return packets;
  }
  // What the record thread would hand over: `blocks` 10 ms blocks of a tone.
  void capture(int64_t* position, int blocks) {
    std::vector<int16_t> block(480);
    for (int b = 0; b < blocks; ++b) {
      for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<int16_t>(9000 * std::sin(2 * kPi * 1000 * double(*position + int64_t(i)) / 48000));
      audio_.captured(nullptr, block.data(), block.size() * 2, *position);
      *position += 480;
    }
  }
  uint64_t ringEnd(SampleRing* ring) {
    uint64_t b = 0, e = 0;
    ring->Range(&b, &e);
    return e;
  }

  base::MessageLoop loop_;
  transport::Transport transport_;
  SessionGate gate_{&transport_};
  AudioComponent audio_{&transport_, kAudioComponentId, &gate_};
  CopyObserver observer_;
  FakePhone phone_{&transport_};
};

TEST_F(AudioComponentTest, SourceInfoIsAnsweredWithBothProfilesEvenBeforeAcceptance) {
  connect(false);
  transport::LogCapture log;
  phone_.send(kAudioComponentId, makeComponentMessage(AudioComponent::kMessageSourceInfo));
  auto frames = phone_.receivedOfType(kAudioComponentId);
  ASSERT_EQ(1u, frames.size());
  ComponentMessageReader message(frames[0].payload);
  ASSERT_EQ(AudioComponent::kMessageCapabilities, message.kind());
  auto caps = base::readDictionaryFromPickle(message.iterator());
  ASSERT_TRUE(caps);
  const base::ListValue* list = nullptr;
  ASSERT_TRUE(caps->getList("ProfileList", &list));
  ASSERT_EQ(2u, list->size());
  const base::DictionaryValue* ilbc = nullptr;
  ASSERT_TRUE(caps->getDictionary("ilbc-20ms", &ilbc));
  int32_t v = 0;
  EXPECT_TRUE(ilbc->getInteger("FormatID", &v));
  EXPECT_EQ(0x696C6263, v);
  EXPECT_TRUE(ilbc->getInteger("FramesPerPacket", &v));
  EXPECT_EQ(160, v);
  const base::DictionaryValue* lpcm = nullptr;
  ASSERT_TRUE(caps->getDictionary("lpcm-20ms-8kHz", &lpcm));
  EXPECT_TRUE(lpcm->getInteger("SampleRate", &v));
  EXPECT_EQ(8000, v);
  std::string id;
  EXPECT_TRUE(lpcm->getString("ProfileID", &id));
  EXPECT_EQ("lpcm-20ms-8kHz", id);
  EXPECT_TRUE(log.contains("Received source info"));
  EXPECT_TRUE(log.contains("Sending capabilities..."));
}

TEST_F(AudioComponentTest, UnknownProfileEndsBothThreadsAndNoAudioFlows) {
  connect();
  transport::LogCapture log;
  select("pcm");
  ASSERT_TRUE(runUntil([&] { return countOf(log.contents(), "Unknown profile 'pcm'. End Thread.") == 2; }));
  sendPacket(kAudioFormatLPCM, 0, lpcm20ms(0));
  loop_.runFor(20);
  EXPECT_EQ(0u, audio_.stats().played.load());
  EXPECT_EQ(1u, audio_.stats().withoutProfile.load());
  int64_t position = 0;
  capture(&position, 10);
  loop_.runFor(20);
  EXPECT_TRUE(packetsFromPC().empty());
}

TEST_F(AudioComponentTest, NothingIsPlayedCapturedOrSentBeforeAcceptance) {
  connect(false);
  select(kProfileLPCM);
  for (int i = 0; i < 5; ++i) sendPacket(kAudioFormatLPCM, 160 * i, lpcm20ms(160 * i));
  int64_t position = 0;
  capture(&position, 20);
  loop_.runFor(50);
  EXPECT_EQ(0u, audio_.stats().played.load());
  EXPECT_EQ(0u, ringEnd(audio_.playoutRing()));
  EXPECT_EQ(0u, ringEnd(audio_.captureRing()));
  std::vector<int16_t> out(480, 0);
  audio_.render(nullptr, out.data(), 960, 0);
  EXPECT_EQ(std::vector<int16_t>(480, 0), out);
  EXPECT_TRUE(packetsFromPC().empty());
  EXPECT_TRUE(observer_.copies.empty());

  gate_.open();
  sendPacket(kAudioFormatLPCM, 800, lpcm20ms(800));
  ASSERT_TRUE(runUntil([&] { return !observer_.copies.empty(); }));
  EXPECT_EQ(kAudioOriginPhone, observer_.copies[0].origin);
  EXPECT_EQ(4800, observer_.copies[0].timestamp);
  EXPECT_EQ(1920u, observer_.copies[0].data.size());
  EXPECT_EQ(5760u, ringEnd(audio_.playoutRing()));
}

class AudioCadenceTest : public AudioComponentTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(AudioCadenceTest, PacketsToThePhoneHaveTheProfilesSizeAndTimestampSteps) {
  const bool ilbc = std::string(GetParam()) == kProfileILBC;
  connect();
  select(GetParam());
  ASSERT_TRUE(runUntil([&] { return audio_.running(); }));
  int64_t position = 0;
  // PC audio in 10 ms blocks, each packet's worth once the one before has
  // gone out (the encoder skips ahead when it falls 80 ms behind, which a
  // slow machine must not provoke here).
  const size_t wanted = ilbc ? 8 : 16;
  const size_t blocksPerPacket = ilbc ? 2 : 1;  // 20 ms encoder blocks
  for (size_t step = 1; step <= wanted * blocksPerPacket; ++step) {
    capture(&position, 2);
    ASSERT_TRUE(runUntil([&] { return audio_.stats().encoderSteps.load() >= step; })) << step;
  }
  ASSERT_TRUE(runUntil([&] { return packetsFromPC().size() >= wanted; }));
  ASSERT_GE(packetsFromPC().size(), wanted);
  const std::vector<Packet> packets = packetsFromPC();
  for (size_t i = 0; i < packets.size(); ++i) {
    EXPECT_EQ(static_cast<int32_t>(ilbc ? kAudioFormatILBC : kAudioFormatLPCM), packets[i].format);
    EXPECT_EQ(ilbc ? 76 : 320, packets[i].size);
    EXPECT_EQ(static_cast<size_t>(packets[i].size), packets[i].payload.size());
    EXPECT_EQ(-1, packets[i].frames);
    if (i) EXPECT_EQ(ilbc ? 320 : 160, packets[i].timestamp - packets[i - 1].timestamp) << i;
  }
  // Each packet's copy for the observers: origin 0, 48 kHz timestamp.
  size_t pcCopies = 0;
  for (const AudioPacketData& copy : observer_.copies) {
    if (copy.origin != kAudioOriginPC) continue;
    EXPECT_EQ(packets[pcCopies].timestamp * 6, copy.timestamp);
    ++pcCopies;
  }
  EXPECT_EQ(packets.size(), pcCopies);
}

INSTANTIATE_TEST_SUITE_P(Profiles, AudioCadenceTest, ::testing::Values(kProfileILBC, kProfileLPCM));

TEST_F(AudioComponentTest, AbsurdTimestampsAreDroppedWithOneLogLine) {
  connect();
  select(kProfileLPCM);
  ASSERT_TRUE(runUntil([&] { return audio_.running(); }));
  sendPacket(kAudioFormatLPCM, 1000, lpcm20ms(1000));
  ASSERT_TRUE(runUntil([&] { return audio_.stats().played.load() == 1; }));
  const uint64_t end = ringEnd(audio_.playoutRing());
  transport::LogCapture log;
  sendPacket(kAudioFormatLPCM, -160, lpcm20ms(0));
  sendPacket(kAudioFormatLPCM, std::numeric_limits<int64_t>::max() / 6 + 1, lpcm20ms(0));
  sendPacket(kAudioFormatLPCM, 1000 + 20 * 8000, lpcm20ms(0));  // 20 s ahead
  sendPacket(kAudioFormatLPCM, std::numeric_limits<int64_t>::max(), lpcm20ms(0));
  loop_.runFor(30);
  EXPECT_EQ(4u, audio_.stats().badTimestamp.load());
  EXPECT_EQ(1u, audio_.stats().played.load());
  EXPECT_EQ(end, ringEnd(audio_.playoutRing()));
  EXPECT_EQ(1u, countOf(log.contents(), "absurd"));
  // The stream goes on where it was.
  sendPacket(kAudioFormatLPCM, 1160, lpcm20ms(1160));
  ASSERT_TRUE(runUntil([&] { return audio_.stats().played.load() == 2; }));
  EXPECT_EQ(end + 960, ringEnd(audio_.playoutRing()));
}

TEST_F(AudioComponentTest, APhoneThatRestartsItsClockIsFollowedAfterASteadyRun) {
  connect();
  select(kProfileLPCM);
  ASSERT_TRUE(runUntil([&] { return audio_.running(); }));
  sendPacket(kAudioFormatLPCM, 5000000, lpcm20ms(0));
  ASSERT_TRUE(runUntil([&] { return audio_.stats().played.load() == 1; }));
  for (int i = 0; i < AudioComponent::kTimelineRestartPackets; ++i) sendPacket(kAudioFormatLPCM, 160 * i, lpcm20ms(0));
  EXPECT_EQ(uint64_t(AudioComponent::kTimelineRestartPackets - 1), audio_.stats().badTimestamp.load());
  EXPECT_EQ(2u, audio_.stats().received.load());
}

TEST_F(AudioComponentTest, MalformedPacketsAreCountedAndNeverDecoded) {
  connect();
  select(kProfileILBC);
  ASSERT_TRUE(runUntil([&] { return audio_.running(); }));
  transport::LogCapture log;
  const std::vector<uint8_t> frame(38, 0x42);
  sendPacket(kAudioFormatILBC, 0, std::vector<uint8_t>(37, 1));   // not whole frames
  sendPacket(kAudioFormatILBC, 0, std::vector<uint8_t>(0));       // empty
  sendPacket(kAudioFormatLPCM, 0, std::vector<uint8_t>(320, 1));  // not the profile's format
  {
    base::DictionaryValue dict;  // no "Timestamp"
    dict.setInteger("FormatID", static_cast<int32_t>(kAudioFormatILBC));
    base::Pickle message = makeComponentMessage(AudioComponent::kMessageAudioPacket);
    base::writeDictionaryToPickle(dict, &message);
    writeTaggedBytes(&message, 0, frame.data(), frame.size());
    phone_.send(kAudioComponentId, message);
  }
  {
    base::DictionaryValue dict;  // no payload field
    dict.setInteger("FormatID", static_cast<int32_t>(kAudioFormatILBC));
    dict.setInt64("Timestamp", 0);
    base::Pickle message = makeComponentMessage(AudioComponent::kMessageAudioPacket);
    base::writeDictionaryToPickle(dict, &message);
    writeTaggedInteger(&message, 0, 38);
    phone_.send(kAudioComponentId, message);
  }
  {
    base::Pickle message = makeComponentMessage(AudioComponent::kMessageAudioPacket);
    message.writeInt(2);  // an integer value where the dictionary belongs
    message.writeInt(7);
    phone_.send(kAudioComponentId, message);
  }
  phone_.send(kAudioComponentId, makeComponentMessage(AudioComponent::kMessageAudioPacket));
  loop_.runFor(30);
  EXPECT_EQ(7u, audio_.stats().malformed.load());
  EXPECT_EQ(0u, audio_.stats().received.load());
  EXPECT_EQ(0u, ringEnd(audio_.playoutRing()));
  EXPECT_EQ(1u, countOf(log.contents(), "Dropping malformed audio packets"));
  EXPECT_TRUE(log.contains("Dictionary expected but received 2"));
  EXPECT_TRUE(log.contains("Couldn't parse audio packet message"));
  sendPacket(kAudioFormatILBC, 0, frame);
  ASSERT_TRUE(runUntil([&] { return audio_.stats().played.load() == 1; }));
}

TEST_F(AudioComponentTest, SelectingAgainStopsTheRunningThreadsFirst) {
  connect();
  transport::LogCapture log;
  // The two threads log their start each on its own: wait for both.
  auto begun = [&](size_t n) {
    const std::string text = log.contents();
    return countOf(text, "Decoding thread begin") == n && countOf(text, "Encoding thread begin") == n;
  };
  select(kProfileLPCM);
  ASSERT_TRUE(runUntil([&] { return begun(1); }));
  select(kProfileILBC);
  ASSERT_TRUE(runUntil([&] { return begun(2); }));
  const std::string text = log.contents();
  EXPECT_EQ(2u, countOf(text, "Decoding thread begin"));
  EXPECT_EQ(1u, countOf(text, "Decoding thread end"));
  EXPECT_EQ(1u, countOf(text, "Encoding thread end"));
  // Both threads of the first selection ended before the second began.
  const size_t secondBegin = text.find("Decoding thread begin", text.find("Decoding thread begin") + 1);
  EXPECT_LT(text.find("Decoding thread end"), secondBegin);
  EXPECT_LT(text.find("Encoding thread end"), secondBegin);
  EXPECT_EQ(kProfileILBC, audio_.profileId());
  sendPacket(kAudioFormatILBC, 0, std::vector<uint8_t>(76, 0x42));
  ASSERT_TRUE(runUntil([&] { return audio_.stats().played.load() == 1; }));
}

TEST_F(AudioComponentTest, BadSelectionIsLoggedAndChangesNothing) {
  connect();
  transport::LogCapture log;
  base::Pickle message = makeComponentMessage(AudioComponent::kMessageSelectProfile);
  message.writeInt(4);
  phone_.send(kAudioComponentId, message);
  base::DictionaryValue noId;
  noId.setInteger("ProfileID", 3);
  sendDictionary(AudioComponent::kMessageSelectProfile, noId);
  EXPECT_EQ(2u, countOf(log.contents(), "Couldn't read message info"));
  EXPECT_FALSE(audio_.running());
}

TEST_F(AudioComponentTest, DisconnectionStopsEverythingAndEmptiesTheRings) {
  connect();
  select(kProfileLPCM);
  ASSERT_TRUE(runUntil([&] { return audio_.running(); }));
  sendPacket(kAudioFormatLPCM, 0, lpcm20ms(0));
  int64_t position = 0;
  capture(&position, 3);
  ASSERT_TRUE(runUntil([&] { return audio_.stats().played.load() == 1; }));
  // A device thread keeps rendering while the phone goes away.
  std::atomic<bool> stop{false};
  std::thread device([&] {
    std::vector<int16_t> out(480);
    for (int64_t p = 0; !stop; p += 480) {
      audio_.render(nullptr, out.data(), 960, p);
      audio_.captured(nullptr, out.data(), 960, p);
    }
  });
  phone_.drop();
  stop = true;
  device.join();
  EXPECT_FALSE(audio_.running());
  EXPECT_EQ(0u, ringEnd(audio_.playoutRing()));
  EXPECT_TRUE(audio_.profileId().empty());
}


// Time set by the test; the threads' sleeps really sleep and leave it alone.
class HeldClock : public AudioClock {
 public:
  int64_t nowUs() override { return now_.load(); }
  void sleepMs(unsigned) override { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }
  std::atomic<int64_t> now_{1000000000};
};

// Through the whole component: six LPCM packets, a click in the third.
// Play-out starting 5 ms after the last packet came hears every sample 4800
// samples after the phone sent it: the resampler's delay and the 5 ms wait
// both taken into account.
TEST(AudioComponentPlayoutTest, ThePhoneIsHeard4800SamplesBehindItsNewestSample) {
  HeldClock clock;
  base::MessageLoop loop;
  transport::Transport transport;
  transport.setApplicationId(12000);
  transport.setVersion("2.2.0.0");
  SessionGate gate(&transport);
  AudioComponent audio(&transport, kAudioComponentId, &gate, &clock);
  FakePhone phone(&transport);
  ASSERT_TRUE(phone.connect());
  gate.open();
  base::DictionaryValue select;
  select.setString("ProfileID", kProfileLPCM);
  base::Pickle selection = makeComponentMessage(AudioComponent::kMessageSelectProfile);
  base::writeDictionaryToPickle(select, &selection);
  phone.send(kAudioComponentId, selection);
  for (int p = 0; p < 6; ++p) {
    std::vector<uint8_t> payload(320, 0);
    if (p == 2) {
      for (size_t i = 80; i < 96; ++i) {  // 8 kHz sample 400
        payload[2 * i] = 0x30;
        payload[2 * i + 1] = 0x75;  // 30000
      }
    }
    base::DictionaryValue info;
    info.setInteger("FormatID", static_cast<int32_t>(kAudioFormatLPCM));
    info.setInt64("Timestamp", 160 * p);
    base::Pickle packet = makeComponentMessage(AudioComponent::kMessageAudioPacket);
    base::writeDictionaryToPickle(info, &packet);
    writeTaggedBytes(&packet, 0, payload.data(), payload.size());
    phone.send(kAudioComponentId, packet);
  }
  for (int i = 0; i < 1000 && audio.stats().played.load() < 6; ++i) loop.runFor(10);
  ASSERT_EQ(6u, audio.stats().played.load());

  clock.now_ += 5000;
  // At the first block the phone's newest sample is 5760 + 240 (48 kHz);
  // the click (2400) is due 4800 after that: at device position 1200.
  int64_t heard = -1;
  std::vector<int16_t> block(480);
  for (int64_t position = 0; position < 4800 && heard < 0; position += 480) {
    std::fill(block.begin(), block.end(), 0);
    audio.render(nullptr, block.data(), block.size() * 2, position);
    for (size_t i = 0; i < block.size() && heard < 0; ++i)
      if (std::abs(block[i]) >= 15000) heard = position + static_cast<int64_t>(i);
  }
  EXPECT_NEAR(1200.0, double(heard), 3.0);
}

}  // namespace
}  // namespace component
