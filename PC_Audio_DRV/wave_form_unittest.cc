#include "PC_Audio_DRV/wave_form.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// A device that keeps every written block until the test hands it back.
struct OutRecord {
  std::mutex mutex;
  std::vector<std::pair<unsigned, std::vector<uint8_t>>> writes;
  std::vector<unsigned> queued;
  const RealDeviceInfo* device = nullptr;
  uint32_t rate = 0;
  bool failWrites = false;
  bool failOpen = false;
  WaveOutPort::Client* client = nullptr;
};

class FakeOut : public WaveOutPort {
 public:
  explicit FakeOut(OutRecord* record) : r_(record) {}
  bool open(const RealDeviceInfo* device, uint32_t rate, Client* client, uint8_t* const* blocks, unsigned, size_t,
            int* error) override {
    if (r_->failOpen) {
      *error = 2;
      return false;
    }
    r_->device = device;
    r_->rate = rate;
    r_->client = client;
    blocks_ = blocks;
    return true;
  }
  bool write(unsigned index, size_t bytes, int* error) override {
    std::lock_guard<std::mutex> lock(r_->mutex);
    if (r_->failWrites) {
      *error = 11;
      return false;
    }
    r_->writes.emplace_back(index, std::vector<uint8_t>(blocks_[index], blocks_[index] + bytes));
    r_->queued.push_back(index);
    return true;
  }
  void reset() override {
    std::vector<unsigned> queued;
    {
      std::lock_guard<std::mutex> lock(r_->mutex);
      queued.swap(r_->queued);
    }
    for (unsigned i : queued) r_->client->onBlockDone(i);
  }
  void close() override {}

 private:
  OutRecord* r_;
  uint8_t* const* blocks_ = nullptr;
};

struct InRecord {
  const RealDeviceInfo* device = nullptr;
  uint32_t rate = 0;
  WaveInPort::Client* client = nullptr;
  uint8_t* const* blocks = nullptr;
  std::atomic<int> requeued{0};
  bool started = false;
};

class FakeIn : public WaveInPort {
 public:
  explicit FakeIn(InRecord* record) : r_(record) {}
  bool open(const RealDeviceInfo* device, uint32_t rate, Client* client, uint8_t* const* blocks, unsigned, size_t,
            int*) override {
    r_->device = device;
    r_->rate = rate;
    r_->client = client;
    r_->blocks = blocks;
    return true;
  }
  bool requeue(unsigned) override {
    ++r_->requeued;
    return true;
  }
  bool start() override { return r_->started = true; }
  void stop() override {}
  void close() override {}

 private:
  InRecord* r_;
};

struct Received {
  std::mutex mutex;
  std::vector<size_t> sizes;
  std::vector<uint8_t> bytes;
};

int onRead(void* context, const uint8_t* bytes, uint32_t length) {
  auto* received = static_cast<Received*>(context);
  std::lock_guard<std::mutex> lock(received->mutex);
  received->sizes.push_back(length);
  received->bytes.insert(received->bytes.end(), bytes, bytes + length);
  return 0;
}

template <typename Predicate>
bool waitUntil(Predicate done) {
  for (int i = 0; i < 400 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return done();
}

class WaveFormTest : public ::testing::Test {
 protected:
  std::unique_ptr<IWaveForm> make(const base::string16& input, const base::string16& output) {
    return CreateWaveForm(input, output, std::make_unique<FakeOut>(&out_), std::make_unique<FakeIn>(&in_), inputs_,
                          outputs_);
  }
  OutRecord out_;
  InRecord in_;
  std::vector<RealDeviceInfo> outputs_ = {{u"Headphones", kFormat48M16, "0"}, {u"Speakers", kFormat48M16, "1"}};
  std::vector<RealDeviceInfo> inputs_ = {{u"Line In", kFormat44M16, "0"}, {u"Old Mic", 0, "1"}};
};

TEST_F(WaveFormTest, RateFollowsTheCapabilityBitsInOrder) {
  EXPECT_EQ(48000u, CWaveForm::rateFor(kFormat48M16 | kFormat44M16));
  EXPECT_EQ(44100u, CWaveForm::rateFor(kFormat44M16 | kFormat22M16));
  EXPECT_EQ(22050u, CWaveForm::rateFor(kFormat22M16 | 0x1));
  EXPECT_EQ(8000u, CWaveForm::rateFor(0x0001 | 0x0100));
}

TEST_F(WaveFormTest, DevicesAreFoundByNameIgnoringCaseOrTheDefaultIsUsed) {
  auto form = make(u"LINE IN", u"speakers");
  ASSERT_TRUE(form);
  ASSERT_TRUE(out_.device);
  EXPECT_EQ("1", out_.device->id);
  EXPECT_EQ(48000u, out_.rate);
  ASSERT_TRUE(in_.device);
  EXPECT_EQ(44100u, in_.rate);
  form.reset();

  auto fallback = make(u"No Such Mic", u"No Such Speakers");
  ASSERT_TRUE(fallback);
  EXPECT_EQ(nullptr, out_.device);
  EXPECT_EQ(nullptr, in_.device);
  EXPECT_EQ(48000u, out_.rate);
}

TEST_F(WaveFormTest, TheVirtualDeviceAndOverlongNamesAreRefused) {
  EXPECT_FALSE(make(u"Lumora Wave Audio Device (WDM)", u"Speakers"));
  EXPECT_FALSE(make(u"Line In", u"Lumora Wave Audio Device (WDM)"));
  // Longer than any device name the system reports: refused, not cut down
  // to some other device's name.
  EXPECT_FALSE(make(u"Line In", base::string16(maxRealDeviceNameChars() + 1, u'x')));
  EXPECT_EQ(nullptr, out_.client);
  // An output device that can't be opened gives no form.
  out_.failOpen = true;
  EXPECT_FALSE(make(u"Line In", u"Speakers"));
}

TEST_F(WaveFormTest, PlaybackAt48kHzGoesOutUnchangedInBlocksOfAtMost960Bytes) {
  auto form = make(u"Line In", u"Speakers");
  ASSERT_TRUE(form);
  std::vector<uint8_t> audio(1920);
  for (size_t i = 0; i < audio.size(); ++i) audio[i] = static_cast<uint8_t>(i * 7);
  form->Out(audio.data(), audio.size());
  ASSERT_EQ(2u, out_.writes.size());
  EXPECT_EQ(0u, out_.writes[0].first);
  EXPECT_EQ(1u, out_.writes[1].first);
  EXPECT_EQ(std::vector<uint8_t>(audio.begin(), audio.begin() + 960), out_.writes[0].second);
  EXPECT_EQ(std::vector<uint8_t>(audio.begin() + 960, audio.end()), out_.writes[1].second);

  form->Out(audio.data(), 1000);
  ASSERT_EQ(4u, out_.writes.size());
  EXPECT_EQ(960u, out_.writes[2].second.size());
  EXPECT_EQ(40u, out_.writes[3].second.size());
  // A returned block is the first one used again.
  out_.client->onBlockDone(1);
  form->Out(audio.data(), 2);
  EXPECT_EQ(1u, out_.writes.back().first);
}

TEST_F(WaveFormTest, PlaybackWaitsForAFreeBlockAndTheStopEndsTheWait) {
  auto form = make(u"Line In", u"Speakers");
  ASSERT_TRUE(form);
  std::vector<uint8_t> audio(CWaveForm::kBlocks * CWaveForm::kBlockBytes);
  form->Out(audio.data(), audio.size());
  ASSERT_EQ(CWaveForm::kBlocks, out_.writes.size());

  std::atomic<bool> returned{false};
  std::thread writer([&] {
    form->Out(audio.data(), 960);
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(returned);
  out_.client->onBlockDone(5);
  ASSERT_TRUE(waitUntil([&] { return returned.load(); }));
  writer.join();
  EXPECT_EQ(5u, out_.writes.back().first);
  const size_t before = out_.writes.size();

  // All in use again; the stop releases the waiting writer with nothing
  // written.
  returned = false;
  std::thread blocked([&] {
    form->Out(audio.data(), 960);
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(returned);
  form->StopRecording();
  ASSERT_TRUE(waitUntil([&] { return returned.load(); }));
  blocked.join();
  EXPECT_EQ(before, out_.writes.size());
  // StopPlaying gets every block back (the reset) and later Outs return.
  form->StopPlaying();
  form->Out(audio.data(), 960);
  EXPECT_EQ(before, out_.writes.size());
}

TEST_F(WaveFormTest, AWriteTheDeviceRefusedDoesNotKeepItsBlock) {
  auto form = make(u"Line In", u"Speakers");
  ASSERT_TRUE(form);
  out_.failWrites = true;
  std::vector<uint8_t> audio(CWaveForm::kBlockBytes);
  // More writes than blocks: none may wait for a block that never returns.
  for (unsigned i = 0; i < 2 * CWaveForm::kBlocks; ++i) form->Out(audio.data(), audio.size());
  out_.failWrites = false;
  form->Out(audio.data(), audio.size());
  ASSERT_EQ(1u, out_.writes.size());
  EXPECT_EQ(0u, out_.writes[0].first);
}

TEST_F(WaveFormTest, RecordingIsResampledTo48kHzOffTheDeviceThread) {
  inputs_[0].formats = 0;  // an 8 kHz-only device
  auto form = make(u"Line In", u"Speakers");
  ASSERT_TRUE(form);
  EXPECT_EQ(8000u, in_.rate);
  Received received;
  form->SetReadCallback(&onRead, &received);
  ASSERT_TRUE(form->StartRecording());
  EXPECT_TRUE(in_.started);
  for (unsigned block = 0; block < 3; ++block) {
    std::memset(in_.blocks[block], 0x10, CWaveForm::kBlockBytes);
    in_.client->onBlockFilled(block, CWaveForm::kBlockBytes);
  }
  ASSERT_TRUE(waitUntil([&] { return in_.requeued.load() == 3; }));
  std::lock_guard<std::mutex> lock(received.mutex);
  ASSERT_EQ(3u, received.sizes.size());
  size_t total = 0;
  for (size_t size : received.sizes) total += size;
  // 480 samples at 8 kHz are 2880 at 48 kHz; the resampler holds back its
  // filter's delay at the start.
  EXPECT_LE(total, 3u * 5760u);
  EXPECT_GT(total, 3u * 5760u - 800u);
}

TEST_F(WaveFormTest, RecordingAt48kHzPassesBlocksThroughAndShutdownKeepsThem) {
  inputs_[0].formats = kFormat48M16;
  auto form = make(u"Line In", u"Speakers");
  ASSERT_TRUE(form);
  Received received;
  form->SetReadCallback(&onRead, &received);
  ASSERT_TRUE(form->StartRecording());
  for (size_t i = 0; i < CWaveForm::kBlockBytes; ++i) in_.blocks[4][i] = static_cast<uint8_t>(i);
  in_.client->onBlockFilled(4, 500);
  ASSERT_TRUE(waitUntil([&] { return in_.requeued.load() == 1; }));
  {
    std::lock_guard<std::mutex> lock(received.mutex);
    ASSERT_EQ(1u, received.sizes.size());
    EXPECT_EQ(500u, received.sizes[0]);
    EXPECT_EQ(std::vector<uint8_t>(in_.blocks[4], in_.blocks[4] + 500), received.bytes);
  }
  form->StopRecording();
  // A block delivered during shutdown reaches nobody and is not re-queued.
  in_.client->onBlockFilled(5, 960);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(1, in_.requeued.load());
  std::lock_guard<std::mutex> lock(received.mutex);
  EXPECT_EQ(1u, received.sizes.size());
}

TEST_F(WaveFormTest, PlaybackIsResampledForA44kHzDevice) {
  outputs_[1].formats = kFormat44M16;
  auto form = make(u"Line In", u"Speakers");
  ASSERT_TRUE(form);
  EXPECT_EQ(44100u, out_.rate);
  std::vector<uint8_t> audio(1920);
  for (int i = 0; i < 10; ++i) {
    form->Out(audio.data(), audio.size());
    // The device plays everything at once.
    std::vector<unsigned> queued;
    {
      std::lock_guard<std::mutex> lock(out_.mutex);
      queued.swap(out_.queued);
    }
    for (unsigned block : queued) out_.client->onBlockDone(block);
  }
  size_t total = 0;
  for (auto& write : out_.writes) total += write.second.size();
  // 9600 samples at 48 kHz are 8820 at 44.1 kHz, less the filter's delay.
  EXPECT_LE(total, 8820u * 2);
  EXPECT_GT(total, 8820u * 2 - 800);
}

}  // namespace
