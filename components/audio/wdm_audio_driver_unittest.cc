#include "components/audio/wdm_audio_driver.h"

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/test_util.h"
#include "components/audio/sim_wave_device.h"
#include "gtest/gtest.h"
#include "transport/transport_test_support.h"

namespace component {
namespace {

// Time that moves only when told to (or by the sleeps of the code under
// test).
class FakeClock : public AudioClock {
 public:
  int64_t nowUs() override { return now_.load(); }
  void sleepMs(unsigned ms) override {
    now_ += int64_t{ms} * 1000;
    std::this_thread::yield();
  }
  void set(int64_t us) { now_ = us; }
  std::atomic<int64_t> now_{0};
};

// A device that hands out scripted reads and records the writes; writes
// may be made to hang until released.
class ScriptedDevice : public WaveDevice {
 public:
  bool open() override { return open_ = true; }
  void close() override { open_ = false; }
  bool isOpen() const override { return open_; }
  size_t write(const uint8_t*, size_t bytes) override {
    std::unique_lock<std::mutex> lock(mutex_);
    ++writes_;
    if (hang_) {
      hanging_ = true;
      changed_.notify_all();
      changed_.wait(lock, [this] { return !hang_; });
    }
    return bytes;
  }
  size_t read(uint8_t* data, size_t bytes) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (reads_.empty()) return 0;
    const size_t n = std::min(bytes, reads_.front());
    reads_.pop_front();
    std::memset(data, 0x11, n);
    return n;
  }
  void queueReads(size_t count, size_t bytes = kBlockBytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < count; ++i) reads_.push_back(bytes);
  }
  void hangWrites() {
    std::lock_guard<std::mutex> lock(mutex_);
    hang_ = true;
  }
  bool waitUntilHanging() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [this] { return hanging_; });
  }
  void release() override {
    std::lock_guard<std::mutex> lock(mutex_);
    hang_ = false;
    changed_.notify_all();
  }
  size_t writes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
  }
  // What waits, as a device that can tell says (PulseAudio); by default it
  // cannot.
  size_t readable() override {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t bytes = 0;
    if (tells_)
      for (size_t r : reads_) bytes += r;
    return bytes;
  }
  void tellWhatWaits() { tells_ = true; }
  size_t waiting() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reads_.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
  bool hang_ = false;
  bool hanging_ = false;
  bool tells_ = false;
  size_t writes_ = 0;
  std::deque<size_t> reads_;
};

struct Call {
  int64_t position;
  size_t bytes;
};

class RecordingDelegate : public AudioDriver::Delegate {
 public:
  void render(AudioDriver*, void* buffer, size_t bytes, int64_t position) override {
    renders.push_back({position, bytes});
  }
  void captured(AudioDriver*, const void*, size_t bytes, int64_t position) override {
    captures.push_back({position, bytes});
  }
  std::vector<Call> renders;
  std::vector<Call> captures;
};

TEST(RenderPacerTest, KeepsThreeBlocksAheadAndCatchesUpAfterAStall) {
  ScriptedDevice device;
  RecordingDelegate delegate;
  RenderPacer pacer(&device, nullptr, &delegate);
  pacer.start(0);
  pacer.tick(1000);  // at the first deadline: three blocks to fill the lead
  ASSERT_EQ(3u, delegate.renders.size());
  EXPECT_EQ(0, delegate.renders[0].position);
  EXPECT_EQ(960, delegate.renders[2].position);
  // On time: one block per tick.
  pacer.tick(11000);
  pacer.tick(21000);
  ASSERT_EQ(5u, delegate.renders.size());
  EXPECT_EQ(1920, delegate.renders[4].position);
  EXPECT_EQ(51000, pacer.deadline());
  // The thread comes back 50 ms after the deadline: the position skips
  // 2,400 samples and three blocks go out at once.
  pacer.tick(101000);
  ASSERT_EQ(8u, delegate.renders.size());
  EXPECT_EQ(2400 + 2400, delegate.renders[5].position);
  EXPECT_EQ(2400 + 2400 + 960, delegate.renders[7].position);
  EXPECT_EQ(8u, device.writes());
  // Early tick (still 30 ms ahead): nothing to write.
  pacer.tick(101000);
  EXPECT_EQ(8u, delegate.renders.size());
}

TEST(RenderPacerTest, TicksThatWanderByAFewMillisecondsWriteOneBlockEach) {
  // The timer's first tick comes a period after the start, past the first
  // deadline; after that the ticks wander by the scheduler's jitter. Each
  // must still write exactly one block: a lead flipping between two and
  // three blocks makes the sound reach the device 10 ms early or late.
  ScriptedDevice device;
  RecordingDelegate delegate;
  RenderPacer pacer(&device, nullptr, &delegate);
  pacer.start(0);
  pacer.tick(10000);
  ASSERT_EQ(3u, delegate.renders.size());
  EXPECT_EQ(432, delegate.renders[0].position);  // 9 ms fell behind
  const int64_t jitterUs[] = {100, -100, 4000, 0, -4000, 300, 4900, -4900, 50, 2000};
  for (int i = 0; i < 200; ++i) {
    const size_t before = delegate.renders.size();
    pacer.tick(10000 + int64_t{i + 1} * 10000 + jitterUs[i % 10]);
    ASSERT_EQ(before + 1, delegate.renders.size()) << "tick " << i;
    EXPECT_EQ(delegate.renders[before - 1].position + 480, delegate.renders[before].position);
  }
}

TEST(RecordPacerTest, DrainsThenHandsOverBlocksByTheClock) {
  ScriptedDevice device;
  RecordingDelegate delegate;
  RecordPacer pacer(&device, nullptr, &delegate);
  device.queueReads(5);
  pacer.drain();
  EXPECT_TRUE(delegate.captures.empty());
  pacer.start(0);
  device.queueReads(10);
  pacer.tick(25000);  // 25 ms late: up to three blocks
  ASSERT_EQ(3u, delegate.captures.size());
  EXPECT_EQ(0, delegate.captures[0].position);
  EXPECT_EQ(960, delegate.captures[2].position);
  EXPECT_EQ(30000, pacer.clock());
  // A short read ends the tick and moves the position by what came.
  device.queueReads(1, 480);
  pacer.tick(31000);
  EXPECT_EQ(4u, delegate.captures.size());
}

TEST(RecordPacerTest, MoreThan200msBehindDropsOneBlockAndResynchronises) {
  ScriptedDevice device;
  RecordingDelegate delegate;
  RecordPacer pacer(&device, nullptr, &delegate);
  pacer.start(0);
  device.queueReads(30);
  pacer.tick(250000);
  EXPECT_TRUE(delegate.captures.empty());
  EXPECT_EQ(1u, pacer.resyncs());
  EXPECT_EQ(12000, pacer.position());
  EXPECT_EQ(250000, pacer.clock());
  pacer.tick(260000);
  ASSERT_EQ(2u, delegate.captures.size());
  EXPECT_EQ(12000, delegate.captures[0].position);
}

TEST(RecordPacerTest, ASurplusThatLastsIsDroppedAndAPassingOneIsNot) {
  ScriptedDevice device;
  device.tellWhatWaits();
  RecordingDelegate delegate;
  RecordPacer pacer(&device, nullptr, &delegate);
  pacer.start(0);
  // The device delivers on time, one block a tick, with a burst of 8
  // blocks ahead for a while (fewer ticks than the pacer waits for): all
  // of it is handed over by the clock, nothing dropped.
  device.queueReads(9);
  int64_t now = 0;
  const auto tick = [&](int blocksArriving) {
    device.queueReads(static_cast<size_t>(blocksArriving));
    now += 10000;
    pacer.tick(now);
  };
  for (int i = 0; i < RecordPacer::kSurplusTicks - 10; ++i) tick(1);
  EXPECT_EQ(0u, pacer.droppedBytes());
  for (int i = 0; i < 8; ++i) tick(0);  // the burst is used up by the clock
  EXPECT_EQ(0u, pacer.droppedBytes());
  for (int i = 0; i < 3 * RecordPacer::kSurplusTicks; ++i) tick(1);
  EXPECT_EQ(0u, pacer.droppedBytes());

  // Then half a second arrives at once and stays ahead of the clock: once
  // it has lasted, all but a block goes, and the positions move on by the
  // time it spanned.
  device.queueReads(50);
  for (int i = 0; i < RecordPacer::kSurplusTicks; ++i) tick(1);
  EXPECT_LE(device.waiting(), 1u);
  EXPECT_GE(pacer.droppedBytes(), 48u * WaveDevice::kBlockBytes);
  const size_t handed = delegate.captures.size();
  tick(1);
  ASSERT_GT(delegate.captures.size(), handed);
  const int64_t expected =
      static_cast<int64_t>(handed * 480 + pacer.droppedBytes() / 2);
  EXPECT_EQ(expected, delegate.captures[handed].position);
}

TEST(RecordPacerTest, AResyncDropsWhatPiledUpMeanwhile) {
  ScriptedDevice device;
  device.tellWhatWaits();
  RecordingDelegate delegate;
  RecordPacer pacer(&device, nullptr, &delegate);
  pacer.start(0);
  device.queueReads(30);
  pacer.tick(250000);
  EXPECT_EQ(1u, pacer.resyncs());
  EXPECT_LE(device.waiting(), 1u);
  EXPECT_EQ(28u * WaveDevice::kBlockBytes, pacer.droppedBytes());
}

TEST(WDMAudioDriverTest, StartNeedsAnOpenDevice) {
  transport::LogCapture log;
  WDMAudioDriver driver(std::make_unique<ScriptedDevice>());
  EXPECT_FALSE(driver.Start());
  EXPECT_TRUE(log.contains("Device isn't opened yet. Call Open() first."));
  ASSERT_TRUE(driver.Open());
  EXPECT_TRUE(driver.Open());
  EXPECT_TRUE(log.contains("Device was already opened"));
}

TEST(WDMAudioDriverTest, RunsBothThreadsUntilStopped) {
  transport::LogCapture log;
  auto* device = new ScriptedDevice;
  device->queueReads(3);
  RecordingDelegate delegate;
  WDMAudioDriver driver{std::unique_ptr<WaveDevice>(device)};
  driver.setDelegate(&delegate);
  ASSERT_TRUE(driver.Open());
  ASSERT_TRUE(driver.Start());
  for (int i = 0; i < 500 && device->writes() < 3; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  driver.Stop();
  EXPECT_GE(device->writes(), 3u);
  EXPECT_FALSE(driver.isRunning());
  for (const char* line : {"Render thread begin", "Render thread end", "Record thread begin", "Record thread end"})
    EXPECT_TRUE(log.contains(line)) << line;
  EXPECT_FALSE(log.contains("Force threads shutdown"));
}

TEST(WDMAudioDriverTest, StopGivesUpOnAThreadStuckInTheDeviceAfterFiveSeconds) {
  transport::LogCapture log;
  FakeClock clock;
  auto shared = std::make_shared<ScriptedDevice>();
  // The link owns its device; this one stays reachable to release it.
  struct Forward : WaveDevice {
    explicit Forward(std::shared_ptr<ScriptedDevice> d) : d(std::move(d)) {}
    bool open() override { return d->open(); }
    void close() override { d->close(); }
    bool isOpen() const override { return d->isOpen(); }
    size_t write(const uint8_t* data, size_t bytes) override { return d->write(data, bytes); }
    size_t read(uint8_t* data, size_t bytes) override { return d->read(data, bytes); }
    std::shared_ptr<ScriptedDevice> d;
  };
  shared->hangWrites();
  {
    WDMAudioDriver driver(std::make_unique<Forward>(shared), &clock);
    ASSERT_TRUE(driver.Open());
    ASSERT_TRUE(driver.Start());
    ASSERT_TRUE(shared->waitUntilHanging());
    const int64_t before = clock.nowUs();
    driver.Stop();
    EXPECT_GE(clock.nowUs() - before, WDMAudioDriver::kStopTimeoutUs);
    EXPECT_TRUE(log.contains("Force threads shutdown"));
    EXPECT_FALSE(driver.isRunning());
  }
  // The abandoned thread ends once its call returns.
  shared->release();
  for (int i = 0; i < 500 && shared.use_count() > 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(1, shared.use_count());
}

class SimDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = base::makeTempDirectory(u"simdev"); }
  void TearDown() override { base::removeTree(dir_); }
  std::string path(const char* name) { return base::wideToUtf8(dir_) + "/" + name; }
  base::string16 dir_;
  FakeClock clock_;
};

TEST_F(SimDeviceTest, CaptureComesAtRealPaceThenSilenceAndRenderIsAppended) {
  std::vector<uint8_t> capture(1500);
  for (size_t i = 0; i < capture.size(); ++i) capture[i] = static_cast<uint8_t>(i % 251 + 1);
  FILE* f = std::fopen(path("capture.raw").c_str(), "wb");
  ASSERT_TRUE(f);
  std::fwrite(capture.data(), 1, capture.size(), f);
  std::fclose(f);

  SimWaveDevice device(base::wideToUtf8(dir_), &clock_);
  clock_.set(1000000);
  ASSERT_TRUE(device.open());
  std::vector<uint8_t> block(960, 0xEE);
  EXPECT_EQ(0u, device.read(block.data(), block.size()));
  clock_.set(1009999);
  EXPECT_EQ(0u, device.read(block.data(), block.size()));
  clock_.set(1010000);
  ASSERT_EQ(960u, device.read(block.data(), block.size()));
  EXPECT_EQ(0, std::memcmp(block.data(), capture.data(), 960));
  EXPECT_EQ(0u, device.read(block.data(), block.size()));
  clock_.set(1030000);
  ASSERT_EQ(960u, device.read(block.data(), block.size()));
  EXPECT_EQ(0, std::memcmp(block.data(), capture.data() + 960, 540));
  EXPECT_EQ(std::vector<uint8_t>(420, 0), std::vector<uint8_t>(block.begin() + 540, block.end()));
  ASSERT_EQ(960u, device.read(block.data(), block.size()));
  EXPECT_EQ(std::vector<uint8_t>(960, 0), block);

  EXPECT_EQ(960u, device.write(block.data(), 960));
  EXPECT_EQ(960u, device.write(capture.data(), 960));
  device.close();
  std::string render;
  FILE* r = std::fopen(path("render.raw").c_str(), "rb");
  ASSERT_TRUE(r);
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), r)) > 0) render.append(buffer, n);
  std::fclose(r);
  ASSERT_EQ(1920u, render.size());
  EXPECT_EQ(0, std::memcmp(render.data() + 960, capture.data(), 960));
}

TEST(WaveDeviceTest, EnvironmentPicksTheSimulatedDevice) {
  const base::string16 dir = base::makeTempDirectory(u"simenv");
  const std::string choice = "sim:" + base::wideToUtf8(dir);
#ifdef _WIN32
  _putenv_s("LUMORA_AUDIO_DEVICE", choice.c_str());
#else
  setenv("LUMORA_AUDIO_DEVICE", choice.c_str(), 1);
#endif
  std::unique_ptr<WaveDevice> device = createWaveDevice();
  EXPECT_NE(nullptr, dynamic_cast<SimWaveDevice*>(device.get()));
#ifdef _WIN32
  _putenv_s("LUMORA_AUDIO_DEVICE", "");
#else
  unsetenv("LUMORA_AUDIO_DEVICE");
#endif
  base::removeTree(dir);
}

TEST(WaveDeviceTest, MissingPlatformDeviceIsLoggedAndRefused) {
  transport::LogCapture log;
#ifndef _WIN32
  // No PulseAudio server to be found.
  setenv("PULSE_SERVER", "unix:/nonexistent/lumora-test-socket", 1);
#endif
  std::unique_ptr<WaveDevice> device = createPlatformWaveDevice();
  EXPECT_FALSE(device->open());
  EXPECT_FALSE(device->isOpen());
#ifdef _WIN32
  EXPECT_TRUE(log.contains("Couldn't find device Lumora Wave Audio Device (WDM)"));
#else
  EXPECT_TRUE(log.contains("the server runs without PC audio"));
  unsetenv("PULSE_SERVER");
#endif
}

}  // namespace
}  // namespace component
