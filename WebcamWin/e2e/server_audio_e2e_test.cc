// End-to-end: the phone's audio through the real `server` to the virtual
// sound device and PC audio back to the phone. The device is the simulated
// one on both builds (render.raw / capture.raw) and, on Linux, PulseAudio
// with a private daemon. Waits bound hangs; they are not speed checks.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <mutex>
#include <thread>
#include <vector>

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/e2e/server_process.h"
#include "base/file_util.h"
#include "base/platform_thread.h"
#include "base/reg_key.h"
#include "base/socket.h"
#include "tools/phonesim/simulator.h"
#include "tools/phonesim/wav_file.h"
#ifndef _WIN32
#include "tools/soak/audio_markers.h"
#endif

namespace {

constexpr double kPi = 3.14159265358979323846;

constexpr uint32_t kStartTimeoutMs = 90000;
constexpr uint32_t kEndTimeoutMs = 60000;
constexpr uint32_t kPollMs = 50;
constexpr char kPhoneUid[] = "PHONESIM-AUDIO-E2E";
// The Windows build runs here under Wine with its 32-bit code emulated by
// qemu, roughly twenty times slower than native: the 10 ms device threads
// and the quality-10 resampler cannot keep real pace there, so that build
// checks that both directions carry audio and leaves the pitch to the
// native build, which runs the same portable code.
#ifdef _WIN32
constexpr bool kRealTimeAudio = false;
#else
constexpr bool kRealTimeAudio = true;
#endif

void setEnv(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  if (value.empty()) ::unsetenv(name);
  else ::setenv(name, value.c_str(), 1);
#endif
}

std::vector<int16_t> readRaw(const base::string16& path) {
  std::string bytes;
  base::readFile(path, &bytes);
  std::vector<int16_t> samples(bytes.size() / 2);
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) | static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
  return samples;
}

// The loud part of `samples`: [first, last] sample above `threshold`;
// false when there is none.
bool loudStretch(const std::vector<int16_t>& samples, int threshold, size_t* first, size_t* last) {
  bool found = false;
  for (size_t i = 0; i < samples.size(); ++i) {
    if (std::abs(samples[i]) <= threshold) continue;
    if (!found) *first = i;
    *last = i;
    found = true;
  }
  return found;
}

// The pitch of a steady tone from its zero crossings.
double pitchOf(const std::vector<int16_t>& samples, size_t from, size_t count, int rate) {
  if (from + count > samples.size() || count < 2) return 0;
  size_t crossings = 0;
  for (size_t i = from + 1; i < from + count; ++i)
    if ((samples[i - 1] < 0) != (samples[i] < 0)) ++crossings;
  return crossings / 2.0 / (double(count) / rate);
}

[[maybe_unused]] size_t occurrences(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

#ifndef _WIN32
extern "C" char** environ;

// How long each drifting phone speaks: 500 ppm of it (12.5 ms) is more than
// the 10 ms the delay may move.
constexpr int kDriftSeconds = 25;

int64_t steadyUs(std::chrono::steady_clock::time_point at) {
  return std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch()).count();
}
int64_t nowUs() { return steadyUs(std::chrono::steady_clock::now()); }

// The phone's microphone: a quiet 500 Hz tone with a loud 2 ms marker every
// 240 ms, each marker dated when the phone took it.
class MarkedTone {
 public:
  static constexpr uint64_t kMarkerEveryPackets = 12;

  void fill(uint64_t packet, std::chrono::steady_clock::time_point takenAt, int16_t* pcm) {
    // A packet leaves when its 20 ms are complete; later than that, the
    // phone itself was held up (a loaded machine).
    const int64_t late = nowUs() - steadyUs(takenAt) - 20000;
    maxLateUs_ = std::max(maxLateUs_.load(), late);
    for (size_t i = 0; i < phonesim::PhoneAudio::kPacketSamples; ++i) {
      const double t = double(packet * phonesim::PhoneAudio::kPacketSamples + i) / 8000;
      pcm[i] = static_cast<int16_t>(3000 * std::sin(2 * kPi * 500 * t));
    }
    if (packet % kMarkerEveryPackets) return;
    for (size_t i = 0; i < 16; ++i) pcm[i] = soak::kMarkerAmplitude;
    std::lock_guard<std::mutex> lock(mutex_);
    made_.push_back(steadyUs(takenAt));
  }
  std::vector<int64_t> made() {
    std::lock_guard<std::mutex> lock(mutex_);
    return made_;
  }
  int64_t maxLateUs() const { return maxLateUs_.load(); }

 private:
  std::atomic<int64_t> maxLateUs_{0};
  std::mutex mutex_;
  std::vector<int64_t> made_;
};

// A PC program recording "lumora_wave_mic" (parec with a short buffer): when
// the markers come out, and when anything of the tone is heard. A sample's
// time is its read's, counted back by its place in the read.
class MicListener {
 public:
  ~MicListener() { stop(); }

  bool start() {
    int fds[2];
    if (::pipe(fds) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {"parec", "-d", "lumora_wave_mic", "--rate=48000", "--channels=1",
                          "--format=s16le", "--latency-msec=10", nullptr};
    const int rc = posix_spawnp(&pid_, "parec", &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
      ::close(fds[0]);
      pid_ = -1;
      return false;
    }
    fd_ = fds[0];
    reader_ = std::thread([this] { read(); });
    return true;
  }

  void stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    if (reader_.joinable()) reader_.join();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  // Waits until the recorder delivers (it takes a while to start); false
  // when it does not within `timeoutMs`.
  bool waitUntilRecording(uint32_t timeoutMs) {
    for (uint32_t waited = 0; waited < timeoutMs; waited += kPollMs) {
      if (recording_.load()) return true;
      base::PlatformThread::sleepMs(kPollMs);
    }
    return false;
  }

  std::vector<int64_t> markers() {
    std::lock_guard<std::mutex> lock(mutex_);
    return markers_;
  }
  // The first time after `fromUs` that the tone was heard; -1: never.
  int64_t heardAfter(int64_t fromUs) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::upper_bound(heard_.begin(), heard_.end(), fromUs);
    return it == heard_.end() ? -1 : *it;
  }
  // The last time before `toUs` that the tone was heard; -1: never.
  int64_t heardLastBefore(int64_t toUs) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::lower_bound(heard_.begin(), heard_.end(), toUs);
    return it == heard_.begin() ? -1 : *(it - 1);
  }

 private:
  void read() {
    soak::OnsetFinder finder(48000 / 10);
    std::vector<int16_t> samples(2048);
    for (;;) {
      const ssize_t got = ::read(fd_, samples.data(), samples.size() * 2);
      if (got <= 0) return;
      const int64_t at = nowUs();
      recording_.store(true);
      // parec writes whole samples.
      const size_t count = static_cast<size_t>(got) / 2;
      auto timeOf = [&](size_t i) { return at - static_cast<int64_t>((count - 1 - i) * 1000000 / 48000); };
      std::lock_guard<std::mutex> lock(mutex_);
      finder.feed(samples.data(), count, [&](int64_t, size_t i) { markers_.push_back(timeOf(i)); });
      for (size_t i = 0; i < count; ++i) {
        if (std::abs(samples[i]) < 1000) continue;
        heard_.push_back(timeOf(i));
        break;
      }
    }
  }

  pid_t pid_ = -1;
  int fd_ = -1;
  std::thread reader_;
  std::atomic<bool> recording_{false};
  std::mutex mutex_;
  std::vector<int64_t> markers_;
  std::vector<int64_t> heard_;
};

// The median latency (ms) of the markers made in [fromUs, toUs); -1 when
// none was heard.
double medianLatency(const std::vector<int64_t>& made, const std::vector<int64_t>& found, int64_t fromUs,
                     int64_t toUs) {
  std::vector<double> latencies;
  for (int64_t at : found) {
    auto it = std::upper_bound(made.begin(), made.end(), at);
    if (it == made.begin() || *(it - 1) < fromUs || *(it - 1) >= toUs) continue;
    latencies.push_back(double(at - *(it - 1)) / 1000.0);
  }
  return latencies.empty() ? -1 : soak::percentile(latencies, 0.5);
}

// The markers' delay as a PC program recording "lumora_wave_mic" sees it:
// play-out's 100 ms +/- 10, plus what PulseAudio holds on the way (the
// server's stream keeps about 30 ms, the sink and the recorder's buffer
// about 20 more). Markers come every 240 ms, so a delay near a second
// reads like a short one; when the tone is first heard, and how long it
// goes on once the phone falls silent, show such a delay.
constexpr double kMinMarkerDelayMs = 90;
constexpr double kMaxMarkerDelayMs = 170;
// The tone is heard this soon after the phone took its first packet: the
// play-out's 100 ms and PulseAudio's few tens.
constexpr int64_t kMaxFirstSoundUs = 300000;
// A phone held up longer than this (a loaded machine starving the test's
// own threads) is rightly played late or from a new start: the delays are
// then not judged, only reported.
constexpr int64_t kMaxPhoneLateUs = 60000;

// Resident memory of a process in kB (0 when unknown).
uint64_t residentKb(uint32_t pid) {
  std::string status;
  if (!base::readFile(base::utf8ToWide("/proc/" + std::to_string(pid) + "/status"), &status)) return 0;
  std::smatch m;
  return std::regex_search(status, m, std::regex("VmRSS:\\s+(\\d+)")) ? std::stoull(m[1]) : 0;
}

// The counters of the server's "Audio session:" line.
struct AudioSession {
  bool found = false;
  uint64_t played = 0, late = 0, shed = 0, starts = 0, underruns = 0;
  // Milliseconds play-out sped up over, and slowed down over.
  uint64_t pulledBackMs = 0, heldBackMs = 0;
};
AudioSession audioSessionOf(const std::string& log) {
  std::smatch m;
  AudioSession a;
  if (!std::regex_search(log, m,
                         std::regex("Audio session: played (\\d+), late (\\d+), shed (\\d+), play-out starts "
                                    "(\\d+), underruns (\\d+), pulled back (\\d+) ms, held back (\\d+) ms")))
    return a;
  a.found = true;
  a.played = std::stoull(m[1]);
  a.late = std::stoull(m[2]);
  a.shed = std::stoull(m[3]);
  a.starts = std::stoull(m[4]);
  a.underruns = std::stoull(m[5]);
  a.pulledBackMs = std::stoull(m[6]);
  a.heldBackMs = std::stoull(m[7]);
  return a;
}
#endif

class ServerAudioE2ETest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!user_.setUp()) GTEST_SKIP() << "no private user on this system";
    base::initializeSockets();
    // The phone is known: it is let in without a question.
    base::RegKey device;
    ASSERT_EQ(base::kRegOk, device.create(base::RegRoot::kCurrentUser,
                                          base::string16(kAppRegistryKey) + u"\\ACL\\" + base::utf8ToWide(kPhoneUid)));
    ASSERT_EQ(base::kRegOk, device.writeValue(u"Name", u"Audio phone"));
    ASSERT_EQ(base::kRegOk, device.writeValueDW(u"Status", 1));
  }
  void TearDown() override {
#ifndef _WIN32
    stopPulse();
#endif
    setEnv("LUMORA_AUDIO_DEVICE", "");
    if (!IsSkipped()) EXPECT_EQ("", user_.sanitizerReports());
  }

  std::string waitForLog(ServerProcess& server, const std::string& text, uint32_t timeoutMs = kStartTimeoutMs) {
    for (uint32_t waited = 0; waited < timeoutMs; waited += kPollMs) {
      if (user_.logOf(server.pid()).find(text) != std::string::npos || !server.running()) break;
      base::PlatformThread::sleepMs(kPollMs);
    }
    return user_.logOf(server.pid());
  }
  static int listeningPort(const std::string& log) { return e2e::listeningPort(log); }
  base::string16 output(const char16_t* name) { return base::joinPath(user_.folder(), name); }
  std::string outputUtf8(const char16_t* name) { return base::wideToUtf8(output(name)); }

  // One phone session through phonesim's library; its report lines.
  std::string runPhone(int port, const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"--port", std::to_string(port), "--auth", kPhoneUid, "--timeout", "60000"};
    args.insert(args.end(), extra.begin(), extra.end());
    phonesim::SimulatorOptions options;
    std::string error;
    if (!phonesim::parseArguments(args, &options, &error)) return "error " + error;
    std::ostringstream out;
    std::thread phone([&] { phonesim::runSession(options, out, nullptr); });
    phone.join();
    return out.str();
  }
  int endServer(ServerProcess& server) { return e2e::endServer(user_, &server, kEndTimeoutMs); }

#ifndef _WIN32
  // A private PulseAudio (stopped with the fixture) and the server on it,
  // its devices ready; the server's port, 0 on failure.
  int startServerOnPrivatePulse(ServerProcess* server) {
    const std::string pulse = outputUtf8(u"pulse");
    stopPulse_ = "kill \"$(cat '" + pulse + "/pid')\" 2>/dev/null";
    setEnv("PULSE_SERVER", "unix:" + pulse + "/native");
    if (std::system((std::string(LUMORA_SOURCE_DIR) + "/scripts/start-private-pulse.sh '" + pulse + "'").c_str()) != 0)
      return 0;
    if (!server->start(ServerProcess::defaultProgram(), {}, output(u"server.out"))) return 0;
    const int port = listeningPort(waitForLog(*server, "Listen on "));
    if (waitForLog(*server, "are ready", 20000).find("'lumora_wave_mic' are ready") == std::string::npos) return 0;
    return port;
  }
  // That, and a PC program recording "lumora_wave_mic"; -1 when PulseAudio
  // is not installed.
  int startListenedServer(ServerProcess* server, MicListener* mic) {
    if (std::system("command -v pulseaudio >/dev/null 2>&1 && command -v parec >/dev/null 2>&1") != 0) return -1;
    const int port = startServerOnPrivatePulse(server);
    // The recorder takes a while to start; the phone speaks once it hears.
    return port && mic->start() && mic->waitUntilRecording(20000) ? port : 0;
  }
  void stopPulse() {
    if (stopPulse_.empty()) return;
    std::system(stopPulse_.c_str());
    stopPulse_.clear();
    setEnv("PULSE_SERVER", "");
  }
  // A phone speaking MarkedTone for `seconds` with phonesim's `extra`
  // arguments, on its own thread.
  std::thread startMarkedPhone(int port, MarkedTone* tone, int seconds, std::vector<std::string> extra,
                               std::function<void(bool)> onStall, std::string* report) {
    std::vector<std::string> args = {"--port", std::to_string(port), "--auth", kPhoneUid, "--timeout", "60000",
                                     "--linger", std::to_string(seconds * 1000)};
    args.insert(args.end(), extra.begin(), extra.end());
    auto options = std::make_shared<phonesim::SimulatorOptions>();
    std::string error;
    if (!phonesim::parseArguments(args, options.get(), &error)) {
      *report = "error " + error;
      return std::thread();
    }
    options->audio.microphone = [tone](uint64_t packet, std::chrono::steady_clock::time_point takenAt,
                                       int16_t* pcm) { tone->fill(packet, takenAt, pcm); };
    options->onStall = std::move(onStall);
    return std::thread([options, report] {
      std::ostringstream out;
      phonesim::runSession(*options, out, nullptr);
      *report = out.str();
    });
  }
  void expectDriftFollowed(const char* ppm, bool phoneFast);
  std::string stopPulse_;
#endif

  PrivateUser user_;
};

TEST_F(ServerAudioE2ETest, ToneReachesTheSimulatedDeviceAndPCAudioReachesThePhone) {
  const base::string16 device = output(u"device");
  ASSERT_TRUE(base::createDirectories(device));
  // PC programs play 440 Hz into the device for four seconds.
  std::string capture;
  for (int i = 0; i < 48000 * 4; ++i) {
    const auto v = static_cast<int16_t>(10000 * std::sin(2 * kPi * 440 * i / 48000.0));
    capture += static_cast<char>(v & 0xFF);
    capture += static_cast<char>((v >> 8) & 0xFF);
  }
  ASSERT_TRUE(base::writeFileAtomic(base::joinPath(device, u"capture.raw"), capture));
  setEnv("LUMORA_AUDIO_DEVICE", "sim:" + base::wideToUtf8(device));

  ServerProcess server;
  ASSERT_TRUE(server.start(ServerProcess::defaultProgram(), {}, output(u"server.out")));
  const int port = listeningPort(waitForLog(server, "Listen on "));
  ASSERT_NE(0, port);

  for (const char* profile : {"lpcm-20ms-8kHz", "ilbc-20ms"}) {
    SCOPED_TRACE(profile);
    const std::string record = outputUtf8(u"from_pc.wav");
    const size_t renderedBefore = readRaw(base::joinPath(device, u"render.raw")).size();
    const std::string report =
        runPhone(port, {"--tone", "1000", "--tone-seconds", "2", "--profile", profile, "--record-audio", record});
    EXPECT_NE(std::string::npos, report.find("auth result=1")) << report;
    EXPECT_NE(std::string::npos, report.find("audio sent 100 packets")) << report;
    EXPECT_NE(std::string::npos, report.find(std::string("audio selected ") + profile)) << report;

    // The phone's tone, at 48 kHz, in what the link wrote to the device.
    std::vector<int16_t> rendered = readRaw(base::joinPath(device, u"render.raw"));
    rendered.erase(rendered.begin(), rendered.begin() + static_cast<std::ptrdiff_t>(renderedBefore));
    size_t first = 0, last = 0;
    ASSERT_TRUE(loudStretch(rendered, 3000, &first, &last));
    if (kRealTimeAudio) {
      EXPECT_GT(last - first, 48000u * 3 / 2);  // most of the two seconds
      EXPECT_NEAR(1000.0, pitchOf(rendered, first + 4800, 48000, 48000), 15.0);
    }

    // The PC's tone, decoded to 8 kHz, in what the phone received.
    int rate = 0;
    std::vector<int16_t> received;
    std::string error;
    ASSERT_TRUE(phonesim::readWav(record, &rate, &received, &error)) << error;
    ASSERT_TRUE(loudStretch(received, 2000, &first, &last));
    if (kRealTimeAudio) EXPECT_NEAR(440.0, pitchOf(received, first + 800, 8000, 8000), 10.0);
  }
  const std::string log = user_.logOf(server.pid());
  EXPECT_NE(std::string::npos, log.find("Selected profile: ilbc-20ms"));
  EXPECT_EQ(std::string::npos, log.find("absurd"));
  EXPECT_EQ(1, endServer(server));
}

#ifndef _WIN32
TEST_F(ServerAudioE2ETest, PulseAudioDevicesCarryBothDirections) {
  if (std::system("command -v pulseaudio >/dev/null 2>&1 && command -v parec >/dev/null 2>&1 && "
                  "command -v paplay >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "PulseAudio is not installed";
  // A private daemon in the private user's runtime folder.
  ASSERT_EQ(0, std::system("pulseaudio -D --exit-idle-time=-1 -n --load=module-native-protocol-unix "
                           "--load=module-null-sink --log-target=stderr 2>/dev/null"));
  struct Daemon {
    ~Daemon() { std::system("pulseaudio --kill 2>/dev/null"); }
  } daemon;

  ServerProcess server;
  ASSERT_TRUE(server.start(ServerProcess::defaultProgram(), {}, output(u"server.out")));
  std::string log = waitForLog(server, "Listen on ");
  const int port = listeningPort(log);
  ASSERT_NE(0, port);
  log = waitForLog(server, "are ready", 20000);
  ASSERT_NE(std::string::npos, log.find("PulseAudio devices 'lumora_wave' and 'lumora_wave_mic' are ready")) << log;

  // A PC program records the microphone while the phone speaks, another
  // plays 440 Hz into the loudspeaker.
  const std::string mic = outputUtf8(u"mic.raw");
  const std::string tone = outputUtf8(u"tone440.wav");
  std::vector<int16_t> samples(48000 * 4);
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<int16_t>(10000 * std::sin(2 * kPi * 440 * double(i) / 48000));
  ASSERT_TRUE(phonesim::writeWav(tone, 48000, samples));
  ASSERT_EQ(0, std::system(("(timeout 6 parec -d lumora_wave_mic --rate=48000 --channels=1 --format=s16le > '" + mic +
                            "' 2>/dev/null &)")
                               .c_str()));
  ASSERT_EQ(0, std::system(("(timeout 6 paplay -d lumora_wave '" + tone + "' 2>/dev/null &)").c_str()));

  const std::string record = outputUtf8(u"from_pc.wav");
  const std::string report =
      runPhone(port, {"--tone", "1000", "--tone-seconds", "2", "--profile", "lpcm-20ms-8kHz", "--record-audio", record});
  EXPECT_NE(std::string::npos, report.find("audio sent 100 packets")) << report;
  base::PlatformThread::sleepMs(1000);

  const std::vector<int16_t> recorded = readRaw(output(u"mic.raw"));
  size_t first = 0, last = 0;
  ASSERT_TRUE(loudStretch(recorded, 3000, &first, &last)) << recorded.size() << " samples from the microphone";
  EXPECT_GT(last - first, 48000u);
  EXPECT_NEAR(1000.0, pitchOf(recorded, first + 4800, 24000, 48000), 15.0);

  int rate = 0;
  std::vector<int16_t> received;
  std::string error;
  ASSERT_TRUE(phonesim::readWav(record, &rate, &received, &error)) << error;
  ASSERT_TRUE(loudStretch(received, 2000, &first, &last)) << report;
  EXPECT_NEAR(440.0, pitchOf(received, first + 800, 4000, 8000), 10.0);

  EXPECT_EQ(1, endServer(server));
  // The devices the server made are gone with it.
  EXPECT_NE(0, std::system("pactl list short sinks 2>/dev/null | grep -q lumora_wave"));
}

// The sound server comes up after the server (a session whose services
// start after an autostarted program), then restarts while a phone speaks:
// the server makes its devices once it answers, notices the restart, says
// so once, makes them again and the phone is heard again on the microphone
// without reconnecting. At exit the devices go with the server.
TEST_F(ServerAudioE2ETest, PhoneIsHeardAgainAfterPulseAudioRestarts) {
  if (std::system("command -v pulseaudio >/dev/null 2>&1 && command -v parec >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "PulseAudio is not installed";
  const std::string pulse = outputUtf8(u"pulse");
  const std::string start = std::string(LUMORA_SOURCE_DIR) + "/scripts/start-private-pulse.sh '" + pulse + "'";
  const std::string stop = "kill \"$(cat '" + pulse + "/pid')\" 2>/dev/null";
  struct Daemon {
    std::string stop;
    ~Daemon() { std::system(stop.c_str()); }
  } daemon{stop};
  setEnv("PULSE_SERVER", "unix:" + pulse + "/native");

  ServerProcess server;
  ASSERT_TRUE(server.start(ServerProcess::defaultProgram(), {}, output(u"server.out")));
  std::string log = waitForLog(server, "Listen on ");
  const int port = listeningPort(log);
  ASSERT_NE(0, port);
  ASSERT_NE(std::string::npos, waitForLog(server, "until it answers", 20000).find("No connection to PulseAudio"));
  ASSERT_EQ(0, std::system(start.c_str()));
  log = waitForLog(server, "PulseAudio answers again", 30000);
  ASSERT_NE(std::string::npos, log.find("PulseAudio answers again")) << log;

  // The pitch the microphone carries during the next second and a half.
  const std::string mic = outputUtf8(u"mic.raw");
  auto micPitch = [&] {
    std::system(("timeout 1.5 parec -d lumora_wave_mic --rate=48000 --channels=1 --format=s16le > '" + mic +
                 "' 2>/dev/null")
                    .c_str());
    const std::vector<int16_t> samples = readRaw(output(u"mic.raw"));
    size_t first = 0, last = 0;
    if (!loudStretch(samples, 3000, &first, &last) || last - first < 24000) return 0.0;
    return pitchOf(samples, first + 2400, 19200, 48000);
  };
  std::string report;
  std::thread phone([&] {
    report = runPhone(port, {"--tone", "1000", "--tone-seconds", "40", "--profile", "lpcm-20ms-8kHz"});
  });
  struct Join {
    std::thread& t;
    ~Join() { t.join(); }
  } join{phone};

  double pitch = 0;
  for (int i = 0; i < 20 && std::abs(pitch - 1000) > 15; ++i) pitch = micPitch();
  ASSERT_NEAR(1000.0, pitch, 15.0) << "the phone was never heard";

  ASSERT_EQ(0, std::system(stop.c_str()));
  log = waitForLog(server, "PulseAudio connection lost", 20000);
  ASSERT_NE(std::string::npos, log.find("PulseAudio connection lost")) << log;
  ASSERT_EQ(0, std::system(start.c_str()));
  for (uint32_t waited = 0; waited < 30000 && occurrences(user_.logOf(server.pid()), "PulseAudio answers again") < 2;
       waited += kPollMs)
    base::PlatformThread::sleepMs(kPollMs);
  // Cleanly within a few seconds: a device that leaves PulseAudio's sink
  // dry after the restart is heard with gaps for longer.
  pitch = 0;
  for (int i = 0; i < 3 && std::abs(pitch - 1000) > 15; ++i) pitch = micPitch();
  EXPECT_NEAR(1000.0, pitch, 15.0) << "the phone is not heard after the restart\n" << user_.logOf(server.pid());
  // Said once, not on every attempt.
  log = user_.logOf(server.pid());
  EXPECT_EQ(log.find("PulseAudio connection lost"), log.rfind("PulseAudio connection lost"));

  EXPECT_EQ(1, endServer(server));
  EXPECT_NE(0, std::system("pactl list short sinks 2>/dev/null | grep -q lumora_wave"));
  setEnv("PULSE_SERVER", "");
}

// The phone starts to speak while no PC program listens to the microphone
// (PulseAudio's sink for it then runs seconds ahead of time), a program
// starts to listen, then the phone's network stalls for 5 s and delivers
// the held packets in one burst on the same connection. The microphone
// falls silent soon after the stall begins (nothing of the phone's sound
// waited in PulseAudio since the start), the tone is heard again within a
// second of the burst, the delay is back where it was before the stall
// within 10 s, the server dropped the stale part of the burst instead of
// queueing it, and its memory stayed put.
TEST_F(ServerAudioE2ETest, PhoneIsHeardAgainSoonAfterANetworkStall) {
  if (std::system("command -v pulseaudio >/dev/null 2>&1 && command -v parec >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "PulseAudio is not installed";
  ServerProcess server;
  MicListener mic;
  const int port = startServerOnPrivatePulse(&server);
  ASSERT_NE(0, port) << user_.logOf(server.pid());

  constexpr int64_t kStallUs = 5000000;
  std::mutex mu;
  int64_t heldAt = 0, releasedAt = 0;
  uint64_t rssBefore = 0;
  MarkedTone tone;
  std::string report;
  std::thread phone = startMarkedPhone(port, &tone, 19, {"--stall-at", "4", "--stall-seconds", "5"},
                                       [&](bool held) {
                                         std::lock_guard<std::mutex> lock(mu);
                                         if (held) {
                                           heldAt = nowUs();
                                         } else {
                                           releasedAt = nowUs();
                                           rssBefore = residentKb(server.pid());
                                         }
                                       },
                                       &report);
  ASSERT_TRUE(phone.joinable()) << report;
  for (int waited = 0; waited < 10000 && tone.made().empty(); waited += kPollMs) base::PlatformThread::sleepMs(kPollMs);
  base::PlatformThread::sleepMs(500);
  ASSERT_TRUE(mic.start());
  ASSERT_TRUE(mic.waitUntilRecording(3000));
  // Memory two seconds after the burst, while the phone still speaks.
  uint64_t rssAfter = 0;
  for (int waited = 0; waited < 30000 && !rssAfter; waited += kPollMs) {
    {
      std::lock_guard<std::mutex> lock(mu);
      if (releasedAt && nowUs() > releasedAt + 2000000) rssAfter = residentKb(server.pid());
    }
    base::PlatformThread::sleepMs(kPollMs);
  }
  phone.join();
  base::PlatformThread::sleepMs(500);
  mic.stop();

  ASSERT_NE(std::string::npos, report.find("stall released bytes=")) << report;
  ASSERT_NE(0, heldAt);
  ASSERT_GE(releasedAt - heldAt, kStallUs);
  // No queue grew: the stale part of the burst was dropped.
  ASSERT_NE(0u, rssBefore);
  ASSERT_NE(0u, rssAfter);
  EXPECT_LT(rssAfter, rssBefore + 8192) << "resident memory jumped after the burst";
  ASSERT_EQ(1, endServer(server)) << user_.logOf(server.pid());
  const std::string log = user_.logOf(server.pid());
  const AudioSession session = audioSessionOf(log);
  ASSERT_TRUE(session.found) << log;
  // 5 s of packets came at once; far fewer than that can have been played
  // on time.
  EXPECT_GT(session.shed + session.late, 150u) << log;

  // Silent during the stall once what was buffered ran out, heard again
  // soon after the burst, and as far behind the phone as before.
  const std::vector<int64_t> made = tone.made(), found = mic.markers();
  ASSERT_FALSE(made.empty());
  const int64_t silentAfter = mic.heardLastBefore(releasedAt) - heldAt;
  EXPECT_LT(silentAfter, 500000) << "heard " << silentAfter / 1000 << " ms into the stall";
  const int64_t heardAgain = mic.heardAfter(releasedAt);
  ASSERT_GT(heardAgain, 0) << "never heard after the burst";
  const double before = medianLatency(made, found, heldAt - 2000000, heldAt);
  const double after = medianLatency(made, found, releasedAt + 8000000, releasedAt + 10000000);
  std::printf("stall: heard until %lld ms into it, again %lld ms after the burst; marker delay %.1f ms before, "
              "%.1f ms 8-10 s after; resident %llu -> %llu kB; the phone's packets left up to %lld ms late\n",
              static_cast<long long>(silentAfter / 1000),
              static_cast<long long>((heardAgain - releasedAt) / 1000), before, after,
              static_cast<unsigned long long>(rssBefore), static_cast<unsigned long long>(rssAfter),
              static_cast<long long>(tone.maxLateUs() / 1000));
  if (tone.maxLateUs() > kMaxPhoneLateUs) return;  // this machine, not the stall
  EXPECT_LT(heardAgain - releasedAt, 1000000);
  EXPECT_GE(before, kMinMarkerDelayMs);
  EXPECT_LE(before, kMaxMarkerDelayMs);
  EXPECT_NEAR(before, after, 10.0);
}

// A phone whose clock runs 500 ppm fast or slow speaks for 25 s (12.5 ms
// of drift if nothing followed it): play-out changes its speed the right
// way, never runs dry or restarts, and the delay at the end is the delay at
// the start, give or take the play-out's own margin (8 ms, inside which it
// lets the lag wander) and what the sound server's buffer moves by (a few
// ms).
void ServerAudioE2ETest::expectDriftFollowed(const char* ppm, bool phoneFast) {
  ServerProcess server;
  MicListener mic;
  const int port = startListenedServer(&server, &mic);
  if (port < 0) GTEST_SKIP() << "PulseAudio is not installed";
  ASSERT_NE(0, port) << user_.logOf(server.pid());
  MarkedTone tone;
  std::string report;
  std::thread phone = startMarkedPhone(port, &tone, kDriftSeconds, {"--clock-ppm", ppm}, nullptr, &report);
  ASSERT_TRUE(phone.joinable()) << report;
  phone.join();
  mic.stop();
  ASSERT_EQ(1, endServer(server)) << user_.logOf(server.pid());
  const std::string log = user_.logOf(server.pid());
  const AudioSession session = audioSessionOf(log);
  ASSERT_TRUE(session.found) << log;

  const std::vector<int64_t> made = tone.made(), found = mic.markers();
  ASSERT_FALSE(made.empty()) << report;
  const int64_t end = made.back();
  const double first = medianLatency(made, found, made.front() + 1000000, made.front() + 3000000);
  const double last = medianLatency(made, found, end - 2000000, end + 1);
  const int64_t firstSound = mic.heardAfter(made.front());
  ASSERT_GT(firstSound, 0) << "the phone was never heard";
  std::printf("drift %s ppm over %.1f s: first heard after %lld ms, marker delay %.1f ms at the start, %.1f ms at "
              "the end; play-out starts %llu, underruns %llu, sped up over %llu ms, slowed down over %llu ms; the "
              "phone's packets left up to %lld ms late\n",
              ppm, double(end - made.front()) / 1e6, static_cast<long long>((firstSound - made.front()) / 1000), first,
              last, static_cast<unsigned long long>(session.starts), static_cast<unsigned long long>(session.underruns),
              static_cast<unsigned long long>(session.pulledBackMs),
              static_cast<unsigned long long>(session.heldBackMs), static_cast<long long>(tone.maxLateUs() / 1000));
  if (tone.maxLateUs() > kMaxPhoneLateUs) return;  // this machine, not the drift
  // A phone that drifts one way never needs play-out to follow it the other:
  // that was the server held up (its device ticks came late), which a
  // loaded machine does; the delay then says nothing about the drift.
  if ((phoneFast ? session.heldBackMs : session.pulledBackMs) > 0) return;
#if defined(__SANITIZE_THREAD__)
  // Under ThreadSanitizer the server runs several times slower and its
  // play-out wanders within its margin (8 ms each way) more than the 10 ms
  // judged here; that build looks for races, the others judge the delay.
  return;
#endif
  EXPECT_GT(phoneFast ? session.pulledBackMs : session.heldBackMs, 0u) << "play-out never followed the phone";
  EXPECT_LT(firstSound - made.front(), kMaxFirstSoundUs);
  EXPECT_NEAR(first, last, 12.0) << "the first seconds " << first << " ms, the last " << last << " ms";
  EXPECT_GE(last, kMinMarkerDelayMs);
  EXPECT_LE(last, kMaxMarkerDelayMs);
  EXPECT_EQ(1u, session.starts);
  EXPECT_EQ(0u, session.underruns);
}

TEST_F(ServerAudioE2ETest, PlayOutFollowsAPhoneClock500PpmFast) { expectDriftFollowed("500", true); }

TEST_F(ServerAudioE2ETest, PlayOutFollowsAPhoneClock500PpmSlow) { expectDriftFollowed("-500", false); }
#endif

}  // namespace
