// End-to-end: the phone's audio through the real `server` to the virtual
// sound device and PC audio back to the phone. The device is the simulated
// one on both builds (render.raw / capture.raw) and, on Linux, PulseAudio
// with a private daemon. Waits bound hangs; they are not speed checks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
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

size_t occurrences(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

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
  pitch = 0;
  for (int i = 0; i < 10 && std::abs(pitch - 1000) > 15; ++i) pitch = micPitch();
  EXPECT_NEAR(1000.0, pitch, 15.0) << "the phone is not heard after the restart";
  // Said once, not on every attempt.
  log = user_.logOf(server.pid());
  EXPECT_EQ(log.find("PulseAudio connection lost"), log.rfind("PulseAudio connection lost"));

  EXPECT_EQ(1, endServer(server));
  EXPECT_NE(0, std::system("pactl list short sinks 2>/dev/null | grep -q lumora_wave"));
  setEnv("PULSE_SERVER", "");
}
#endif

}  // namespace
