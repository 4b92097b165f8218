// End-to-end on Linux: the real `server` publishes its camera on a private
// PipeWire (started by scripts/with-private-pipewire.sh) and GStreamer's
// pipewiresrc opens it as any camera program would, while the simulated
// phone sends the test card.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <regex>
#include <set>
#include <thread>

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/e2e/server_process.h"
#include "base/file_util.h"
#include "base/platform_thread.h"
#include "base/reg_key.h"
#include "base/socket.h"
#include "components/video/linux_camera/camera_picture.h"
#include "components/video/test_card.h"
#include "tools/phonesim/simulator.h"
#include "tools/vcamview/pipewire_view.h"

namespace {

constexpr uint32_t kStartTimeoutMs = 30000;
constexpr uint32_t kPollMs = 50;
constexpr char kPhoneId[] = "e2e-camera-phone";
constexpr int32_t kWidth = 320;
constexpr int32_t kHeight = 240;

class CameraE2ETest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("LUMORA_TEST_PIPEWIRE_DIR")) GTEST_SKIP() << "no private PipeWire (run through ctest)";
    if (std::system("gst-launch-1.0 --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no gst-launch-1.0";
    ASSERT_TRUE(user_.setUp());
    base::initializeSockets();
  }
  void TearDown() override { EXPECT_EQ("", user_.sanitizerReports()); }

  bool storeSettings(bool listPhone) {
    base::RegKey app;
    if (app.create(base::RegRoot::kCurrentUser, kAppRegistryKey) != base::kRegOk ||
        app.writeValue(u"CameraSize", u"320x240") != base::kRegOk ||
        app.writeValue(u"LinuxCamera", u"pipewire") != base::kRegOk)
      return false;
    return !listPhone || user_.allowPhone(kPhoneId, u"Camera phone");
  }

  // Starts the server and waits for its port and its camera node.
  int startServer() {
    if (!server_.start(ServerProcess::defaultProgram(), {}, base::joinPath(user_.folder(), u"server.out")))
      return 0;
    int port = 0;
    for (uint32_t waited = 0; waited < kStartTimeoutMs; waited += kPollMs) {
      const std::string log = user_.logOf(server_.pid());
      std::smatch match;
      static const std::regex kListen("Listen on [0-9.]+:([0-9]+)");
      if (!port && std::regex_search(log, match, kListen)) port = std::stoi(match[1]);
      // A consumer started before the node exists waits for ever.
      if (port && log.find("PipeWire node \"lumora_camera\"") != std::string::npos) return port;
      if (!server_.running()) break;
      base::PlatformThread::sleepMs(kPollMs);
    }
    return 0;
  }

  // The shell command of one consumer writing `frames` raw pictures.
  std::string consumer(component::CameraFormat format, int frames, const std::string& file) {
    const char* caps = format == component::CameraFormat::kI420   ? "I420"
                       : format == component::CameraFormat::kYUY2 ? "YUY2"
                                                                 : "BGR";
    return "timeout 20 gst-launch-1.0 -q pipewiresrc target-object=lumora_camera num-buffers=" +
           std::to_string(frames) + " ! video/x-raw,format=" + caps + ",width=" + std::to_string(kWidth) +
           ",height=" + std::to_string(kHeight) + " ! filesink location=" + file + " >/dev/null 2>&1";
  }

  // The pictures a consumer wrote, as 24 bits each.
  std::vector<std::vector<uint8_t>> readPictures(const std::string& file, component::CameraFormat format) {
    std::string bytes;
    base::readFile(base::utf8ToWide(file), &bytes);
    const size_t size = component::cameraFrameBytes(format, kWidth, kHeight);
    std::vector<std::vector<uint8_t>> pictures;
    for (size_t at = 0; at + size <= bytes.size(); at += size) {
      std::vector<uint8_t> bgr;
      component::cameraPictureToBGR(reinterpret_cast<const uint8_t*>(bytes.data()) + at, format, kWidth, kHeight,
                                    &bgr);
      pictures.push_back(std::move(bgr));
    }
    EXPECT_EQ(0u, bytes.size() % size) << "a picture of another size came";
    return pictures;
  }

  std::string file(const std::string& name) { return base::nativePath(user_.folder()) + "/" + name; }

  // A phone sending the card (upright 120 x 160) at 10 pictures a second
  // for `seconds`, on its own thread.
  std::thread phone(int port, bool authorize, int seconds) {
    return std::thread([port, authorize, seconds] {
      phonesim::SimulatorOptions options;
      options.port = static_cast<uint16_t>(port);
      options.timeoutMs = 20000;
      options.lingerMs = 300;
      options.authorize = authorize;
      options.uid = kPhoneId;
      options.name = "Camera phone";
      options.video.source = "pattern";
      options.video.fps = 10;
      options.video.frames = static_cast<uint32_t>(seconds * 10);
      options.video.width = 120;
      options.video.height = 160;
      options.video.orientation = 1;  // held turned: the server stands it up
      std::ostringstream out;
      phonesim::runSession(options, out, nullptr);
    });
  }

  PrivateUser user_;
  ServerProcess server_;
};

// Before any phone, and while a phone that nobody accepted sends, the
// camera shows the waiting card at the camera's size.
TEST_F(CameraE2ETest, NothingOfAPhoneBeforeItIsAccepted) {
  ASSERT_TRUE(storeSettings(false));
  const int port = startServer();
  ASSERT_NE(0, port) << user_.logOf(server_.pid());
  const std::string before = file("before.raw");
  ASSERT_EQ(0, std::system(consumer(component::CameraFormat::kI420, 3, before).c_str()));
  auto pictures = readPictures(before, component::CameraFormat::kI420);
  ASSERT_EQ(3u, pictures.size());
  EXPECT_TRUE(component::looksLikeWaitingCard(pictures.back().data(), kWidth, kHeight));

  // Not on the list: the question waits for the user, the pictures are dropped.
  std::thread sender = phone(port, false, 3);
  base::PlatformThread::sleepMs(1200);
  const std::string during = file("during.raw");
  ASSERT_EQ(0, std::system(consumer(component::CameraFormat::kYUY2, 10, during).c_str()));
  sender.join();
  pictures = readPictures(during, component::CameraFormat::kYUY2);
  ASSERT_EQ(10u, pictures.size());
  for (const auto& picture : pictures) EXPECT_TRUE(component::looksLikeWaitingCard(picture.data(), kWidth, kHeight));
  server_.terminate();
}

// An accepted phone's card, upright between black bars, in every format;
// the camera runs at 30 a second while the phone sends 10 (each picture
// comes about three times); two consumers at once both get every frame.
TEST_F(CameraE2ETest, TheAcceptedPhonesCardInEveryFormatAtThirtyFramesASecond) {
  ASSERT_TRUE(storeSettings(true));
  const int port = startServer();
  ASSERT_NE(0, port) << user_.logOf(server_.pid());
  std::thread sender = phone(port, true, 12);
  base::PlatformThread::sleepMs(1500);
  const component::FitRect rect = component::fitRectangle(120, 160, kWidth, kHeight, component::kFitInside);
  for (component::CameraFormat format :
       {component::CameraFormat::kI420, component::CameraFormat::kYUY2, component::CameraFormat::kBGR}) {
    const std::string raw = file(std::string("card-") + component::cameraFormatName(format) + ".raw");
    ASSERT_EQ(0, std::system(consumer(format, 5, raw).c_str())) << component::cameraFormatName(format);
    const auto pictures = readPictures(raw, format);
    ASSERT_EQ(5u, pictures.size());
    const auto& last = pictures.back();
    EXPECT_TRUE(component::readCard(last.data(), kWidth * 3, rect).upright())
        << component::cameraFormatName(format) << ": " << component::readCard(last.data(), kWidth * 3, rect).describe();
    EXPECT_EQ(component::CardColor::kBlack, component::colorAt(last.data(), kWidth * 3, 5, kHeight / 2));
    EXPECT_EQ(component::CardColor::kBlack, component::colorAt(last.data(), kWidth * 3, kWidth - 6, kHeight / 2));
  }

  // vcamview's consumer (libpipewire, whichever format it gets) sees the same.
  vcamview::PipeWireCapture capture;
  std::string error;
  ASSERT_TRUE(vcamview::capturePipeWire("lumora_camera", 1, 1, 10000, &capture, &error)) << error;
  EXPECT_EQ(0u, capture.format.find_first_of("IYB")) << capture.format;
  EXPECT_NE(std::string::npos, capture.format.find(" 320x240"));
  EXPECT_TRUE(component::readCard(capture.pictures[0].data.data(), kWidth * 3, rect).upright());

  // Two consumers of 45 frames each, at once.
  const std::string first = file("first.raw"), second = file("second.raw");
  const auto started = std::chrono::steady_clock::now();
  std::thread other([&] { EXPECT_EQ(0, std::system(consumer(component::CameraFormat::kI420, 45, second).c_str())); });
  EXPECT_EQ(0, std::system(consumer(component::CameraFormat::kI420, 45, first).c_str()));
  other.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  sender.join();
  const auto a = readPictures(first, component::CameraFormat::kI420);
  const auto b = readPictures(second, component::CameraFormat::kI420);
  EXPECT_EQ(45u, a.size());
  EXPECT_EQ(45u, b.size());
  // 45 frames of a 10-a-second phone: about 15 different pictures, each
  // repeated; a camera that only passed the phone's pictures on would show
  // 45 different ones and need 4.5 s.
  std::set<std::vector<uint8_t>> distinct(a.begin(), a.end());
  EXPECT_LE(distinct.size(), 30u);
  EXPECT_GE(distinct.size(), 5u);
  EXPECT_LT(seconds, 4.0);
  server_.terminate();
}

}  // namespace

namespace {

size_t occurrences(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

// PipeWire that comes up after the server (a session whose services start
// after an autostarted program) and that restarts under it: the node is
// published each time the daemon is there, and consumers get pictures.
TEST_F(CameraE2ETest, PublishedWhenPipeWireComesLateAndAfterARestart) {
  ASSERT_TRUE(storeSettings(false));
  const std::string dir = std::getenv("LUMORA_TEST_PIPEWIRE_DIR");
  const std::string start = std::string(LUMORA_SOURCE_DIR) + "/scripts/start-private-pipewire.sh '" + dir + "'";
  const std::string stop = std::string(LUMORA_SOURCE_DIR) + "/scripts/stop-private-pipewire.sh '" + dir + "'";
  const std::string node = "PipeWire node \"lumora_camera\"";
  auto waitForLog = [&](const std::string& text, size_t count) {
    for (uint32_t waited = 0; waited < kStartTimeoutMs && server_.running(); waited += kPollMs) {
      if (occurrences(user_.logOf(server_.pid()), text) >= count) return true;
      base::PlatformThread::sleepMs(kPollMs);
    }
    return false;
  };
  auto consumerGetsTheCard = [&](const std::string& name) {
    const std::string raw = file(name);
    if (std::system(consumer(component::CameraFormat::kBGR, 3, raw).c_str()) != 0) return false;
    const auto pictures = readPictures(raw, component::CameraFormat::kBGR);
    return pictures.size() == 3 && component::looksLikeWaitingCard(pictures.back().data(), kWidth, kHeight);
  };

  ASSERT_EQ(0, std::system(stop.c_str()));
  ASSERT_TRUE(server_.start(ServerProcess::defaultProgram(), {}, base::joinPath(user_.folder(), u"server.out")));
  ASSERT_TRUE(waitForLog("once one does", 1)) << user_.logOf(server_.pid());
  ASSERT_EQ(0, std::system(start.c_str()));
  ASSERT_TRUE(waitForLog(node, 1)) << user_.logOf(server_.pid());
  EXPECT_TRUE(consumerGetsTheCard("late.raw"));

  ASSERT_EQ(0, std::system(stop.c_str()));
  ASSERT_TRUE(waitForLog("PipeWire daemon went away", 1)) << user_.logOf(server_.pid());
  ASSERT_EQ(0, std::system(start.c_str()));
  ASSERT_TRUE(waitForLog(node, 2)) << user_.logOf(server_.pid());
  EXPECT_TRUE(consumerGetsTheCard("restarted.raw"));
  EXPECT_EQ(1u, occurrences(user_.logOf(server_.pid()), "PipeWire daemon went away"));
  server_.terminate();
}

}  // namespace
