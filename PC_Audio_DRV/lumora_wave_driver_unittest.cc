#include "PC_Audio_DRV/lumora_wave_driver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// A device with some audio already waiting when the reader starts, then one
// marked block per read.
class FakeDevice : public component::WaveDevice {
 public:
  bool open() override { return open_ = !refuse; }
  void close() override { open_ = false; }
  bool isOpen() const override { return open_; }
  size_t write(const uint8_t* data, size_t bytes) override {
    std::lock_guard<std::mutex> lock(mutex);
    written.insert(written.end(), data, data + bytes);
    return bytes;
  }
  size_t read(uint8_t* data, size_t bytes) override {
    ++reads;
    if (stale > 0) {
      --stale;
      std::memset(data, 0xEE, bytes);
      return bytes;
    }
    std::memset(data, 0x01, 960);
    return 960;
  }
  bool refuse = false;
  std::atomic<int> stale{3};
  std::atomic<int> reads{0};
  std::mutex mutex;
  std::vector<uint8_t> written;

 private:
  bool open_ = false;
};

class Sink : public IAudioCallback {
 public:
  void Write(const uint8_t* bytes, int length) override {
    std::lock_guard<std::mutex> lock(mutex);
    for (int i = 0; i < length; ++i) stale = stale || bytes[i] == 0xEE;
    ++blocks;
  }
  std::mutex mutex;
  bool stale = false;
  std::atomic<int> blocks{0};
};

TEST(LumoraWaveDriverTest, ReaderDropsWhatWasBufferedAndHandsOnEachTick) {
  auto device = std::make_unique<FakeDevice>();
  FakeDevice* raw = device.get();
  Sink sink;
  auto link = OpenDriverLink(std::move(device), &sink);
  ASSERT_TRUE(link);
  ASSERT_TRUE(link->Start());
  for (int i = 0; i < 200 && sink.blocks < 5; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  link->Stop();
  EXPECT_GE(sink.blocks.load(), 5);
  EXPECT_FALSE(sink.stale);
  // Stopped means stopped: no more reads.
  const int reads = raw->reads;
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  EXPECT_EQ(reads, raw->reads.load());

  const uint8_t mic[4] = {1, 2, 3, 4};
  link->Write(mic, sizeof(mic));
  EXPECT_EQ(std::vector<uint8_t>(mic, mic + 4), raw->written);
}

TEST(LumoraWaveDriverTest, ARefusingDeviceGivesNoLink) {
  auto device = std::make_unique<FakeDevice>();
  device->refuse = true;
  Sink sink;
  EXPECT_FALSE(OpenDriverLink(std::move(device), &sink));
  EXPECT_FALSE(OpenDriverLink(nullptr, &sink));
}

TEST(LumoraWaveDriverTest, StopRightAfterStartEndsTheReader) {
  Sink sink;
  auto link = OpenDriverLink(std::make_unique<FakeDevice>(), &sink);
  ASSERT_TRUE(link);
  ASSERT_TRUE(link->Start());
  link->Stop();
  EXPECT_EQ(0, sink.blocks.load());
  // A second start works after a stop.
  ASSERT_TRUE(link->Start());
  link->Stop();
}

}  // namespace
