// End to end on Linux: a private PulseAudio daemon with null devices that
// stand for the real speakers and microphone, the simulated virtual device,
// the real `defprobe` and `wavehost run`. A tone in the virtual device's
// playback must come out of the speakers' monitor, a tone on the microphone
// must reach the virtual device, "pause" silences both, "continue" brings
// them back, and without pings the watchdog starts the bridge again.
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "PC_Audio_DRV/posix_test_util.h"
#include "PC_Audio_DRV/wave_service.h"
#include "base/reg_key.h"

extern char** environ;

namespace {

constexpr int kRate = 48000;
constexpr double kPlaybackTone = 1000.0;
constexpr double kMicTone = 1500.0;

void writeTone(const std::string& path, double frequency, int seconds) {
  std::vector<int16_t> samples(static_cast<size_t>(kRate) * seconds);
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * frequency * static_cast<double>(i) / kRate));
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(samples.data()), samples.size() * 2);
}

std::vector<int16_t> readSamples(const std::string& path, long from = 0) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(from);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<int16_t> samples(bytes.size() / 2);
  if (!samples.empty()) std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  return samples;
}

double rms(const std::vector<int16_t>& s) {
  double sum = 0;
  for (int16_t v : s) sum += static_cast<double>(v) * v;
  return s.empty() ? 0 : std::sqrt(sum / s.size());
}

// The share of the signal's power at `frequency` (1 for a pure tone).
double toneShare(const std::vector<int16_t>& s, double frequency) {
  if (s.empty()) return 0;
  const double w = 2 * M_PI * frequency / kRate;
  double re = 0, im = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    re += s[i] * std::cos(w * i);
    im -= s[i] * std::sin(w * i);
  }
  const double amplitude = 2 * std::sqrt(re * re + im * im) / s.size();
  const double r = rms(s);
  return r > 0 ? (amplitude * amplitude / 2) / (r * r) : 0;
}

pid_t spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

// Asks the process to end; one that is still there after ten seconds is
// killed and counts as a failure (-2), so a hang can't stall the test run.
int endProcess(pid_t pid) {
  if (pid <= 0) return -1;
  ::kill(pid, SIGTERM);
  int status = 0;
  for (int i = 0; i < 500; ++i) {
    if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return -2;
}

class WavehostE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string output;
    if (wave_test::runCommand("command -v pulseaudio pactl parec pacat >/dev/null 2>&1; echo $?", &output) != 0 ||
        output != "0\n")
      GTEST_SKIP() << "PulseAudio and its tools are not installed";
    folder_ = wave_test::makeScratchFolder();
    ASSERT_FALSE(folder_.empty());
    ASSERT_EQ(0, wave_test::runCommand(std::string(LUMORA_SOURCE_DIR) + "/scripts/start-private-pulse.sh '" + folder_ +
                                           "/pulse'",
                                       &output));
    pulseStarted_ = true;
    const std::string run = folder_ + "/run";
    ::mkdir(run.c_str(), 0700);
    ::mkdir((folder_ + "/sim").c_str(), 0700);
    saveEnv("PULSE_SERVER", "unix:" + folder_ + "/pulse/native");
    saveEnv("XDG_CONFIG_HOME", folder_ + "/config");
    saveEnv("XDG_RUNTIME_DIR", run);
    saveEnv("LUMORA_AUDIO_DEVICE", "sim:" + folder_ + "/sim");
    saveEnv("LUMORA_WAVEHOST_TRACE", folder_ + "/trace.log");
    // For the programs of the linux-tsan build (other builds ignore it).
    saveEnv("TSAN_OPTIONS", std::string("suppressions=") + LUMORA_SOURCE_DIR + "/scripts/tsan-system-libs.supp");
    socket_ = run + "/lumora-wave-service.sock";
    render_ = folder_ + "/sim/render.raw";
    writeTone(folder_ + "/sim/capture.raw", kPlaybackTone, 60);
    writeTone(folder_ + "/mic.raw", kMicTone, 60);
  }
  void TearDown() override {
    endProcess(feeder_);
    endProcess(daemon_);
    if (pulseStarted_) {
      std::string output;
      wave_test::runCommand("kill \"$(cat '" + folder_ + "/pulse/pid')\"", &output);
    }
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second.first)
        ::setenv(it->first.c_str(), it->second.second.c_str(), 1);
      else
        ::unsetenv(it->first.c_str());
    }
    wave_test::removeFolder(folder_);
  }
  void saveEnv(const std::string& name, const std::string& value) {
    const char* old = std::getenv(name.c_str());
    saved_.push_back({name, {old != nullptr, old ? old : ""}});
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  // What the speakers played during the next `ms`.
  std::vector<int16_t> speakers(int ms) { return recorded("test_speakers.monitor", ms); }
  // What PulseAudio's `source` carried during the next `ms`.
  std::vector<int16_t> recorded(const std::string& source, int ms) {
    const std::string file = folder_ + "/monitor.raw";
    std::string output;
    wave_test::runCommand("timeout " + std::to_string(ms / 1000.0) + " parec --device=" + source +
                              " --raw --format=s16le --rate=48000 --channels=1 "
                              "--latency-msec=20 > '" + file + "' 2>/dev/null",
                          &output);
    auto samples = readSamples(file);
    // The first 100 ms may still hold what was queued before.
    const size_t skip = std::min(samples.size(), static_cast<size_t>(kRate / 10));
    return std::vector<int16_t>(samples.begin() + skip, samples.end());
  }
  // What reached the virtual device's microphone during the next `ms`.
  std::vector<int16_t> virtualMic(int ms) {
    const long from = std::max(0L, wave_test::fileSize(render_));
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return readSamples(render_, from);
  }
  // The streams take a moment to start: waits until the virtual device's
  // microphone gets audio.
  bool flowing() {
    const long from = std::max(0L, wave_test::fileSize(render_));
    for (int i = 0; i < 250; ++i) {
      if (wave_test::fileSize(render_) >= from + 9600) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  bool bridging() {
    const auto out = speakers(700);
    const auto in = virtualMic(500);
    std::fprintf(stderr, "speakers rms %.0f share %.2f, virtual mic %zu samples rms %.0f share %.2f\n", rms(out),
                 toneShare(out, kPlaybackTone), in.size(), rms(in), toneShare(in, kMicTone));
    return rms(out) > 1000 && toneShare(out, kPlaybackTone) > 0.5 && rms(in) > 1000 &&
           toneShare(in, kMicTone) > 0.5;
  }
  bool silent() {
    const auto out = speakers(700);
    const auto in = virtualMic(500);
    return rms(out) < 50 && in.empty();
  }

  std::string folder_, socket_, render_;
  bool pulseStarted_ = false;
  pid_t daemon_ = -1, feeder_ = -1;
  std::vector<std::pair<std::string, std::pair<bool, std::string>>> saved_;
};

TEST_F(WavehostE2eTest, DefprobeNamesAndStoresTheDefaults) {
  std::string output;
  EXPECT_EQ(0, wave_test::runCommand(std::string("'") + DEFPROBE_PROGRAM + "'", &output));
  EXPECT_EQ("In Device Name: Test Microphone\nOut Device Name: Test Speakers\n", output);
  for (auto root : {base::RegRoot::kLocalMachine, base::RegRoot::kCurrentUser}) {
    base::RegKey key;
    ASSERT_EQ(base::kRegOk, key.open(root, kWaveServiceKey));
    base::string16 in, out;
    EXPECT_EQ(base::kRegOk, key.readValue(kInputDeviceValue, &in));
    EXPECT_EQ(base::kRegOk, key.readValue(kOutputDeviceValue, &out));
    EXPECT_EQ(u"Test Microphone", in);
    EXPECT_EQ(u"Test Speakers", out);
  }

  // The virtual device as the default playback device: only the input is
  // stored.
  wave_test::runCommand("pactl load-module module-null-sink sink_name=lumora rate=48000 channels=1 "
                        "\"sink_properties='device.description=\\\"Lumora Wave Audio Device\\\"'\" && "
                        "pactl set-default-sink lumora && pactl set-default-source mic_feed.monitor",
                        &output);
  EXPECT_EQ(0, wave_test::runCommand(std::string("'") + DEFPROBE_PROGRAM + "'", &output));
  EXPECT_EQ("In Device Name: Monitor of Mic Feed\nOut Device Name: Lumora Wave Audio Device\n", output);
  base::RegKey key;
  ASSERT_EQ(base::kRegOk, key.open(base::RegRoot::kCurrentUser, kWaveServiceKey));
  base::string16 in, out;
  key.readValue(kInputDeviceValue, &in);
  key.readValue(kOutputDeviceValue, &out);
  EXPECT_EQ(u"Monitor of Mic Feed", in);
  EXPECT_EQ(u"Test Speakers", out);

  // No sound server: a clear message, and the stored names stay.
  ASSERT_EQ(0, wave_test::runCommand("kill \"$(cat '" + folder_ + "/pulse/pid')\"", &output));
  pulseStarted_ = false;
  for (int i = 0; i < 100 && wave_test::runCommand("pactl info >/dev/null 2>&1", &output) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(1, wave_test::runCommand(std::string("'") + DEFPROBE_PROGRAM + "'", &output));
  EXPECT_NE(std::string::npos, output.find("No sound server answers")) << output;
  ASSERT_EQ(base::kRegOk, key.open(base::RegRoot::kCurrentUser, kWaveServiceKey));
  key.readValue(kInputDeviceValue, &in);
  EXPECT_EQ(u"Monitor of Mic Feed", in);
}

TEST_F(WavehostE2eTest, BridgesBothWaysPausesAndTheWatchdogRestarts) {
  std::string output;
  ASSERT_EQ(0, wave_test::runCommand(std::string("'") + DEFPROBE_PROGRAM + "'", &output));
  feeder_ = spawn({"pacat", "--device=mic_feed", "--raw", "--format=s16le", "--rate=48000", "--channels=1",
                   folder_ + "/mic.raw"});
  ASSERT_GT(feeder_, 0);
  daemon_ = spawn({WAVEHOST_PROGRAM, "run"});
  ASSERT_GT(daemon_, 0);
  for (int i = 0; i < 250 && wave_test::request(socket_, "state").empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_EQ("ok 4", wave_test::request(socket_, "state"));
  ASSERT_TRUE(wave_test::waitForFile(render_, 5000));
  ASSERT_TRUE(flowing());
  EXPECT_TRUE(bridging());

  // Paused and kept paused by pings, as the main program does while a phone
  // is connected.
  EXPECT_EQ("ok 4", wave_test::request(socket_, "pause"));
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(silent()) << "cycle " << i;
    EXPECT_EQ("ok 4", wave_test::request(socket_, "ping"));
  }
  EXPECT_EQ("ok 4", wave_test::request(socket_, "continue"));
  EXPECT_TRUE(flowing());
  EXPECT_TRUE(bridging());

  // Paused without pings: the watchdog starts the bridge within ten seconds.
  EXPECT_EQ("ok 4", wave_test::request(socket_, "pause"));
  const auto paused = std::chrono::steady_clock::now();
  bool restarted = false;
  while (!restarted && std::chrono::steady_clock::now() - paused < std::chrono::seconds(12))
    restarted = !virtualMic(250).empty();
  EXPECT_TRUE(restarted);
  EXPECT_GE(std::chrono::steady_clock::now() - paused, std::chrono::seconds(4));
  EXPECT_TRUE(bridging());

  EXPECT_EQ(0, endProcess(daemon_));
  daemon_ = -1;
  EXPECT_FALSE(wave_test::waitForFile(socket_, 0));
  std::ifstream trace(folder_ + "/trace.log");
  std::string text((std::istreambuf_iterator<char>(trace)), std::istreambuf_iterator<char>());
  EXPECT_NE(std::string::npos, text.find("Ping not recieved. Try start service"));
}

// The server's real PulseAudio devices on the virtual side (made here as
// the server makes them): the real microphone reaches "lumora_wave_mic",
// "lumora_wave" reaches the real speakers, and both come back after the
// sound server is killed and started again under the running bridge.
class WavehostRealDevicesTest : public WavehostE2eTest {
 protected:
  void makeVirtualDevices() {
    std::string output;
    ASSERT_EQ(0, wave_test::runCommand(
                     "pactl load-module module-null-sink sink_name=lumora_wave rate=48000 channels=1 >/dev/null && "
                     "pactl load-module module-null-sink sink_name=lumora_wave_mic_feed rate=48000 channels=1 "
                     ">/dev/null && pactl load-module module-remap-source source_name=lumora_wave_mic "
                     "master=lumora_wave_mic_feed.monitor channels=1 channel_map=mono >/dev/null",
                     &output));
  }
  // A tone into the real microphone and one into the virtual loudspeaker,
  // as a PC program would play it.
  void playTones() {
    endProcess(feeder_);
    endProcess(player_);
    feeder_ = spawn({"pacat", "--device=mic_feed", "--raw", "--format=s16le", "--rate=48000", "--channels=1",
                     folder_ + "/mic.raw"});
    player_ = spawn({"pacat", "--device=lumora_wave", "--raw", "--format=s16le", "--rate=48000", "--channels=1",
                     folder_ + "/sim/capture.raw"});
  }
  // Polls until both directions carry their tone (each recording takes a
  // second, so a loaded machine only makes this slower).
  bool bothWays(int tries) {
    for (int i = 0; i < tries; ++i) {
      const auto out = recorded("test_speakers.monitor", 1000);
      const auto in = recorded("lumora_wave_mic", 1000);
      std::fprintf(stderr, "speakers rms %.0f share %.2f, lumora_wave_mic rms %.0f share %.2f\n", rms(out),
                   toneShare(out, kPlaybackTone), rms(in), toneShare(in, kMicTone));
      if (rms(out) > 1000 && toneShare(out, kPlaybackTone) > 0.5 && rms(in) > 1000 && toneShare(in, kMicTone) > 0.5)
        return true;
    }
    return false;
  }
  void TearDown() override {
    endProcess(player_);
    WavehostE2eTest::TearDown();
  }

  pid_t player_ = -1;
};

TEST_F(WavehostRealDevicesTest, BridgesBothWaysAndAgainAfterTheSoundServerRestarts) {
  if (IsSkipped()) return;
  ::unsetenv("LUMORA_AUDIO_DEVICE");
  makeVirtualDevices();
  std::string output;
  ASSERT_EQ(0, wave_test::runCommand(std::string("'") + DEFPROBE_PROGRAM + "'", &output));
  playTones();
  daemon_ = spawn({WAVEHOST_PROGRAM, "run"});
  ASSERT_GT(daemon_, 0);
  for (int i = 0; i < 250 && wave_test::request(socket_, "state").empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_EQ("ok 4", wave_test::request(socket_, "state"));
  EXPECT_TRUE(bothWays(10));

  const std::string pulse = folder_ + "/pulse";
  ASSERT_EQ(0, wave_test::runCommand("kill \"$(cat '" + pulse + "/pid')\"", &output));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_EQ(0, wave_test::runCommand(std::string(LUMORA_SOURCE_DIR) + "/scripts/start-private-pulse.sh '" + pulse + "'",
                                     &output));
  makeVirtualDevices();
  playTones();
  EXPECT_TRUE(bothWays(15)) << "the bridge did not come back after the sound server restarted";
  EXPECT_EQ("ok 4", wave_test::request(socket_, "state"));
}

}  // namespace
