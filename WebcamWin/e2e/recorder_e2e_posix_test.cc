// End-to-end: a simulated phone streams the test card and a tone to the
// real `server`, asks for a recording with action 1 and stops it with
// action 2; the file is checked with ffprobe (the way a user would) and
// read back with FFmpeg. Also a recording cut by the phone leaving, one
// ended by `server -exit`, and one that cannot start.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <regex>
#include <sstream>
#include <streambuf>
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

// The phone's report as it is, and a copy with the seconds since the test
// began before each line, printed when a test fails: on a slow machine the
// order alone does not say who was late.
class TimedLines : public std::streambuf {
 public:
  explicit TimedLines(std::chrono::steady_clock::time_point begin) : begin_(begin) {}
  const std::string& plain() const { return plain_; }
  const std::string& timed() const { return timed_; }

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return 0;
    if (lineStart_) {
      char stamp[24];
      std::snprintf(stamp, sizeof(stamp), "%8.3f ",
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - begin_).count());
      timed_ += stamp;
    }
    plain_.push_back(static_cast<char>(c));
    timed_.push_back(static_cast<char>(c));
    lineStart_ = c == '\n';
    return c;
  }

 private:
  const std::chrono::steady_clock::time_point begin_;
  std::string plain_;
  std::string timed_;
  bool lineStart_ = true;
};

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
    if (!IsSkipped()) {
      EXPECT_EQ("", user_.sanitizerReports());
    }
    // Both sides of a failure: the next run on a slow machine says why.
    if (!HasFailure()) return;
    std::printf("phone (seconds since the test began):\n%s\n", phoneLog_.c_str());
    if (serverPid_ != 0) std::printf("server log:\n%s\n", user_.logOf(serverPid_).c_str());
  }

  // Starts the server and remembers it for the log of a failure; 0 when it
  // did not listen.
  int startServer(ServerProcess* server) {
    const int port = e2e::startServer(user_, server);
    serverPid_ = server->pid();
    return port;
  }

  std::string runPhone(int port, const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"--port", std::to_string(port), "--auth", kPhoneUid, "--timeout", "60000",
                                     "--video", "pattern", "--fps", "25", "--card", "320x240"};
    args.insert(args.end(), extra.begin(), extra.end());
    phonesim::SimulatorOptions options;
    std::string error;
    if (!phonesim::parseArguments(args, &options, &error)) return "error " + error;
    TimedLines lines(begin_);
    std::ostream out(&lines);
    phonesim::runSession(options, out, nullptr);
    std::lock_guard<std::mutex> lock(phoneLogLock_);
    phoneLog_ += lines.timed();
    return lines.plain();
  }
  // When the phone printed `line` (the first time), in seconds since the
  // test began; -1 when it did not.
  double phoneSaidAt(const std::string& line) {
    std::lock_guard<std::mutex> lock(phoneLogLock_);
    std::istringstream lines(phoneLog_);
    std::string text;
    while (std::getline(lines, text)) {
      const size_t stamp = text.find_first_not_of(' ');
      const size_t space = text.find(' ', stamp);
      if (space != std::string::npos && text.compare(space + 1, std::string::npos, line) == 0)
        return std::stod(text.substr(stamp, space - stamp));
    }
    return -1;
  }
  double secondsNow() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin_).count();
  }
  // A recording began between the first and the second time and ended
  // between the third and the fourth: its frames at 25 a second, give or
  // take the two frames the pacing may round.
  static void expectFramesCover(double frames, double startAsked, double startHeard, double endAsked,
                                double endHeard) {
    EXPECT_GE(frames, (endAsked - startHeard) * 25 - 2);
    EXPECT_LE(frames, (endHeard - startAsked) * 25 + 2);
  }
  std::vector<base::string16> recordings() const {
    std::vector<base::string16> files = base::listDirectory(movies_);
    for (auto& f : files) f = base::joinPath(movies_, f);
    return files;
  }

  const std::chrono::steady_clock::time_point begin_ = std::chrono::steady_clock::now();
  PrivateUser user_;
  uint32_t serverPid_ = 0;
  std::mutex phoneLogLock_;
  std::string phoneLog_;
  base::string16 movies_;
  base::string16 device_;
};

TEST_F(RecorderE2ETest, PhoneRecordsEightSecondsIntoAFolderMadeForIt) {
  ServerProcess server;
  const int port = startServer(&server);
  ASSERT_NE(0, port);
  ASSERT_FALSE(base::pathExists(base::dirName(movies_)));

  const std::string out = runPhone(port, {"--frames", "300", "--tone", "1000", "--tone-seconds", "12", "--action-at",
                                          "1:1", "--action-at", "9:2", "--linger", "500"});
  // The phone hears both actions and rising recording times in between.
  const size_t started = out.find("\naction 1\n");
  const size_t stopped = out.find("\naction 2\n");
  ASSERT_NE(std::string::npos, started) << out;
  ASSERT_NE(std::string::npos, stopped) << out;
  EXPECT_LT(started, stopped);
  // When the server did what: between the phone asking and hearing back.
  const double startAsked = phoneSaidAt("sent action 1"), startHeard = phoneSaidAt("action 1");
  const double stopAsked = phoneSaidAt("sent action 2"), stopHeard = phoneSaidAt("action 2");
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
  EXPECT_GE(times.back(), (stopAsked - startHeard) * 1000 - 300);
  EXPECT_LE(times.back(), (stopHeard - startAsked) * 1000);
#endif

  const std::vector<base::string16> files = recordings();
  ASSERT_EQ(1u, files.size());
  EXPECT_TRUE(std::regex_match(base::wideToUtf8(base::baseName(files[0])),
                               std::regex("Video_\\d{4}-\\d{2}-\\d{2}_\\d{2}-\\d{2}-\\d{2}\\.avi")));
  const std::string video = ffprobe(files[0], "v:0", "codec_name,r_frame_rate,nb_read_frames");
  EXPECT_NE(std::string::npos, video.find("r_frame_rate=25/1")) << video;
  // About 200 frames when the server keeps up; on a slow machine the
  // frames follow the time the recording covered, never the phone's count.
  const double frames = field(video, "nb_read_frames");
  expectFramesCover(frames, startAsked, startHeard, stopAsked, stopHeard);
  const std::string audio = ffprobe(files[0], "a:0", "codec_name,sample_rate,channels,duration");
  EXPECT_NE(std::string::npos, audio.find("sample_rate=48000")) << audio;
  EXPECT_NEAR(frames / 25, field(audio, "duration"), 0.25) << audio;

  // The phone's tone is in the track from about 100 ms in to the end.
  const component::MediaProbe probe = component::probeMedia(files[0]);
  ASSERT_TRUE(probe.opened) << probe.error;
  EXPECT_NEAR(frames / 25, probe.audioSeconds(), 0.25);
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
  const int port = startServer(&server);
  ASSERT_NE(0, port);

  // The phone starts a recording and leaves 3 s later without stopping it.
  std::string out = runPhone(port, {"--frames", "100", "--action-at", "1:1", "--linger", "100"});
  ASSERT_NE(std::string::npos, out.find("\naction 1\n")) << out;
  ASSERT_TRUE(e2e::waitForLogCount(user_, &server, "Transport disconnected", 1));
  const double seen = secondsNow();
  std::vector<base::string16> files = recordings();
  ASSERT_EQ(1u, files.size());
  std::string video = ffprobe(files[0], "v:0", "r_frame_rate,nb_read_frames");
  EXPECT_NE(std::string::npos, video.find("r_frame_rate=25/1")) << video;
  // About 78 frames (3.1 s) when the server keeps up. It stops once it has
  // read all the phone sent, after the phone left and before the log says so.
  expectFramesCover(field(video, "nb_read_frames"), phoneSaidAt("sent action 1"), phoneSaidAt("action 1"),
                    phoneSaidAt("disconnected"), seen);
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
  const int port = startServer(&server);
  ASSERT_NE(0, port);
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
