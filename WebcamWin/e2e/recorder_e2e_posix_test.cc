// End-to-end: a simulated phone streams the test card and a tone to the
// real `server`, asks for a recording with action 1 and stops it with
// action 2; the file is checked with ffprobe (the way a user would) and
// read back with FFmpeg. Also a recording cut by the phone leaving, one
// ended by `server -exit`, and one that cannot start.
#include <gtest/gtest.h>

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
#include "components/recorder/media_probe.h"
#include "tools/phonesim/simulator.h"

namespace {

constexpr char kPhoneUid[] = "PHONESIM-RECORDER-E2E";

std::string run(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[512];
    while (size_t n = std::fread(buffer, 1, sizeof(buffer), pipe)) out.append(buffer, n);
    ::pclose(pipe);
  }
  return out;
}

// What ffprobe says about one stream: "key=value" lines.
std::string ffprobe(const base::string16& file, const char* stream, const char* entries) {
  return run(std::string("ffprobe -v error -count_frames -select_streams ") + stream + " -show_entries stream=" +
             entries + " -of default=noprint_wrappers=1 '" + base::wideToUtf8(file) + "' 2>&1");
}

double field(const std::string& text, const std::string& key) {
  std::smatch match;
  if (!std::regex_search(text, match, std::regex(key + "=([0-9.]+)"))) return -1;
  return std::stod(match[1]);
}

class RecorderE2ETest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!user_.setUp()) GTEST_SKIP() << "no private user on this system";
    if (std::system("ffprobe -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ffprobe";
    base::initializeSockets();
    movies_ = base::joinPath(base::joinPath(user_.folder(), u"Videos"), u"Lumora recordings");
    base::RegKey app, device;
    ASSERT_EQ(base::kRegOk, app.create(base::RegRoot::kCurrentUser, kAppRegistryKey));
    ASSERT_EQ(base::kRegOk, app.writeValue(u"MoviesFolder", movies_));
    ASSERT_EQ(base::kRegOk, device.create(base::RegRoot::kCurrentUser,
                                          base::string16(kAppRegistryKey) + u"\\ACL\\" + base::utf8ToWide(kPhoneUid)));
    ASSERT_EQ(base::kRegOk, device.writeValue(u"Name", u"Recording phone"));
    ASSERT_EQ(base::kRegOk, device.writeValueDW(u"Status", 1));
    // PC audio from the simulated device: silence unless a test writes some.
    device_ = base::joinPath(user_.folder(), u"device");
    ASSERT_TRUE(base::createDirectories(device_));
    ::setenv("LUMORA_AUDIO_DEVICE", ("sim:" + base::wideToUtf8(device_)).c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("LUMORA_AUDIO_DEVICE");
    if (!IsSkipped()) EXPECT_EQ("", user_.sanitizerReports());
  }

  std::string runPhone(int port, const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"--port", std::to_string(port), "--auth", kPhoneUid, "--timeout", "60000",
                                     "--video", "pattern", "--fps", "25", "--card", "320x240"};
    args.insert(args.end(), extra.begin(), extra.end());
    phonesim::SimulatorOptions options;
    std::string error;
    if (!phonesim::parseArguments(args, &options, &error)) return "error " + error;
    std::ostringstream out;
    phonesim::runSession(options, out, nullptr);
    return out.str();
  }
  std::vector<base::string16> recordings() const {
    std::vector<base::string16> files = base::listDirectory(movies_);
    for (auto& f : files) f = base::joinPath(movies_, f);
    return files;
  }

  PrivateUser user_;
  base::string16 movies_;
  base::string16 device_;
};

TEST_F(RecorderE2ETest, PhoneRecordsEightSecondsIntoAFolderMadeForIt) {
  ServerProcess server;
  const int port = e2e::startServer(user_, &server);
  ASSERT_NE(0, port) << user_.logOf(server.pid());
  ASSERT_FALSE(base::pathExists(base::dirName(movies_)));

  const std::string out = runPhone(port, {"--frames", "300", "--tone", "1000", "--tone-seconds", "12", "--action-at",
                                          "1:1", "--action-at", "9:2", "--linger", "500"});
  // The phone hears both actions and rising recording times in between.
  const size_t started = out.find("\naction 1\n");
  const size_t stopped = out.find("\naction 2\n");
  ASSERT_NE(std::string::npos, started) << out;
  ASSERT_NE(std::string::npos, stopped) << out;
  EXPECT_LT(started, stopped);
  std::vector<uint32_t> times;
  static const std::regex kTime("recording-time ms=([0-9]+)");
  for (auto it = std::sregex_iterator(out.begin(), out.end(), kTime); it != std::sregex_iterator(); ++it)
    times.push_back(static_cast<uint32_t>(std::stoul((*it)[1])));
  for (size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i], times[i - 1]);
#if !defined(__SANITIZE_THREAD__)
  // The times come from a 100 ms timer, which, as on Windows, fires only
  // when no posted message waits; under ThreadSanitizer the phone's frames
  // keep the queue busy all the time, so only the normal builds check them.
  ASSERT_GT(times.size(), 50u) << out;
  EXPECT_NEAR(8000, static_cast<double>(times.back()), 300);
#endif

  const std::vector<base::string16> files = recordings();
  ASSERT_EQ(1u, files.size()) << user_.logOf(server.pid());
  EXPECT_TRUE(std::regex_match(base::wideToUtf8(base::baseName(files[0])),
                               std::regex("Video_\\d{4}-\\d{2}-\\d{2}_\\d{2}-\\d{2}-\\d{2}\\.avi")));
  const std::string video = ffprobe(files[0], "v:0", "codec_name,r_frame_rate,nb_read_frames");
  EXPECT_NE(std::string::npos, video.find("r_frame_rate=25/1")) << video;
  EXPECT_NEAR(200, field(video, "nb_read_frames"), 2) << video;
  const std::string audio = ffprobe(files[0], "a:0", "codec_name,sample_rate,channels,duration");
  EXPECT_NE(std::string::npos, audio.find("sample_rate=48000")) << audio;
  EXPECT_NEAR(8.0, field(audio, "duration"), 0.25) << audio;

  // The phone's tone is in the track from about 100 ms in to the end.
  const component::MediaProbe probe = component::probeMedia(files[0]);
  ASSERT_TRUE(probe.opened) << probe.error;
  EXPECT_NEAR(8.0, probe.audioSeconds(), 0.25);
  ASSERT_GT(probe.audio.size(), 7u * 48000);
  for (int second = 1; second < 7; ++second) {
    const int16_t* part = probe.audio.data() + second * 48000;
    EXPECT_GT(component::toneLevel(part, 48000, 48000, 1000), 0.05) << "second " << second;
    EXPECT_LT(component::toneLevel(part, 48000, 48000, 700), 0.02) << "second " << second;
  }
  EXPECT_EQ(1, e2e::endServer(user_, &server));
}

TEST_F(RecorderE2ETest, RecordingsCutByTheConnectionOrTheExitStillPlay) {
  ServerProcess server;
  const int port = e2e::startServer(user_, &server);
  ASSERT_NE(0, port) << user_.logOf(server.pid());

  // The phone starts a recording and leaves 3 s later without stopping it.
  std::string out = runPhone(port, {"--frames", "100", "--action-at", "1:1", "--linger", "100"});
  ASSERT_NE(std::string::npos, out.find("\naction 1\n")) << out;
  ASSERT_TRUE(e2e::waitForLogCount(user_, &server, "Transport disconnected", 1));
  std::vector<base::string16> files = recordings();
  ASSERT_EQ(1u, files.size());
  std::string video = ffprobe(files[0], "v:0", "r_frame_rate,nb_read_frames");
  EXPECT_NE(std::string::npos, video.find("r_frame_rate=25/1")) << video;
  EXPECT_NEAR(78, field(video, "nb_read_frames"), 12) << video;
  EXPECT_EQ(std::string::npos, user_.logOf(server.pid()).find("Could not finish the file"));

  // A second recording runs while the server is told to quit.
  base::PlatformThread::sleepMs(1100);  // a new file name
  std::thread phone([&] { out = runPhone(port, {"--frames", "0", "--action-at", "0.2:1"}); });
  ASSERT_TRUE(e2e::waitForLogCount(user_, &server, "Capture thread started", 2));
  base::PlatformThread::sleepMs(2000);
  EXPECT_EQ(1, e2e::endServer(user_, &server));
  phone.join();
  files = recordings();
  ASSERT_EQ(2u, files.size());
  for (const auto& file : files) {
    const component::MediaProbe probe = component::probeMedia(file);
    ASSERT_TRUE(probe.opened) << probe.error;
    EXPECT_GT(probe.videoFrames, 40) << base::wideToUtf8(file);
    EXPECT_NEAR(probe.videoSeconds(), probe.audioSeconds(), 0.2);
  }
}

TEST_F(RecorderE2ETest, RecorderThatCannotStartTellsNobodyItStarted) {
  // The movies folder cannot be made: a file stands where its parent
  // should be.
  ASSERT_TRUE(base::writeFileAtomic(base::dirName(movies_), "not a folder"));
  ServerProcess server;
  const int port = e2e::startServer(user_, &server);
  ASSERT_NE(0, port) << user_.logOf(server.pid());
  const std::string out = runPhone(port, {"--frames", "50", "--action-at", "1:1", "--action-at", "1.5:2"});
  EXPECT_NE(std::string::npos, out.find("sent action 1")) << out;
  EXPECT_EQ(std::string::npos, out.find("\naction 1\n")) << out;
  EXPECT_EQ(std::string::npos, out.find("\naction 2\n")) << out;
  EXPECT_EQ(std::string::npos, out.find("recording-time")) << out;
  const std::string log = user_.logOf(server.pid());
  EXPECT_NE(std::string::npos, log.find("Could not open '")) << log;
  EXPECT_EQ(1, e2e::endServer(user_, &server));
}

}  // namespace
