// End-to-end: a simulated phone streams the test card to the real `server`,
// and the picture is read back from the camera's shared memory the way the
// camera reads it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <regex>
#include <sstream>

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/e2e/server_process.h"
#include "base/file_util.h"
#include "base/platform_thread.h"
#include "base/reg_key.h"
#include "base/socket.h"
#include "components/action_component.h"
#include "components/component_message.h"
#include "components/video/picture_codec.h"
#include "components/video/test_card.h"
#include "tools/phonesim/simulator.h"
#include "tools/vcamview/camera_view.h"

namespace {

constexpr uint32_t kPollMs = 50;
constexpr char kPhoneId[] = "e2e-video-phone";
#if defined(_WIN32)
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

void setEnvironment(const char* name, const std::string& value) {
#if defined(_WIN32)
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

class VideoE2ETest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!user_.setUp()) GTEST_SKIP() << "no private user on this system";
    base::initializeSockets();
    // A section of this test's own, so a real camera or another run is not touched.
    section_ = "LumoraZuvIridarE2E-" +
               std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007);
    setEnvironment("LUMORA_CAMERA_SECTION", section_);
    component::SharedSection::unlink(section_);
    pictures_ = base::joinPath(base::joinPath(user_.folder(), u"Pictures"), u"Lumora snapshots");
  }
  void TearDown() override {
    component::SharedSection::unlink(section_);
    setEnvironment("LUMORA_CAMERA_SECTION", "");
    EXPECT_EQ("", user_.sanitizerReports());
  }

  // The settings a user would have: the phone allowed, a pictures folder
  // that does not exist yet, the mirror switch.
  bool storeSettings(bool mirror) {
    base::RegKey app;
    return app.create(base::RegRoot::kCurrentUser, kAppRegistryKey) == base::kRegOk &&
           app.writeValue(u"PicturesFolder", pictures_) == base::kRegOk &&
           app.writeValueDW(u"MirrorImage", mirror ? 1 : 0) == base::kRegOk &&
           user_.allowPhone(kPhoneId, u"Video phone");
  }

  // One phone session: optional authorization, messages, then `frames`
  // pictures of the test card at 30 per second.
  std::string runPhone(int port, bool authorize, uint32_t frames, uint32_t orientation,
                       std::vector<std::pair<uint32_t, std::vector<uint8_t>>> messages = {},
                       std::vector<int32_t> actions = {}) {
    phonesim::SimulatorOptions options;
    options.port = static_cast<uint16_t>(port);
    options.timeoutMs = 20000;
    options.lingerMs = 300;
    if (authorize) {
      options.authorize = true;
      options.uid = kPhoneId;
      options.name = "phonesim";
    }
    options.messages = std::move(messages);
    options.actions = std::move(actions);
    if (frames) {
      options.video.source = "pattern";
      options.video.fps = 30;
      options.video.frames = frames;
      options.video.orientation = orientation;
    }
    std::ostringstream out;
    phonesim::runSession(options, out, nullptr);
    return out.str();
  }


  PrivateUser user_;
  std::string section_;
  base::string16 pictures_;
};

TEST_F(VideoE2ETest, PhonePictureReachesTheCameraUprightOnlyOnceAccepted) {
  ASSERT_TRUE(storeSettings(false));
  ServerProcess server;
  const int port = e2e::startServer(user_, &server);
  ASSERT_NE(0, port) << user_.logOf(server.pid());

  vcamview::CameraView camera(section_);
  ASSERT_TRUE(camera.ok());
  camera.request(352, 288);
  const uint64_t untouched = camera.fingerprint();

  // A phone that never identifies itself is not accepted: no picture.
  std::string out = runPhone(port, false, 10, 4);
  EXPECT_NE(std::string::npos, out.find("video sent 10 frames")) << out;
  ASSERT_TRUE(e2e::waitForLogCount(user_, &server, "Transport disconnected", 1));
  EXPECT_EQ(untouched, camera.fingerprint());

  // The listed phone, held turned (orientation 4): upright, with 12-row bands.
  out = runPhone(port, true, 15, 4);
  EXPECT_NE(std::string::npos, out.find("video sent 15 frames")) << out;
  ASSERT_TRUE(e2e::waitForLogCount(user_, &server, "Transport disconnected", 2));
  component::VideoFrame picture = camera.picture();
  ASSERT_EQ(352, picture.width);
  component::FitRect rect = vcamview::contentRect(picture);
  // GDI+ may leave the picture's first row to the band.
  EXPECT_EQ(0, rect.x);
  EXPECT_LE(12, rect.y);
  EXPECT_GE(12 + (kWindows ? 1 : 0), rect.y);
  EXPECT_EQ(352, rect.width);
  EXPECT_EQ(276, rect.y + rect.height);
  component::CardReading reading = component::readCard(picture.data.data(), picture.stride, rect);
  EXPECT_TRUE(reading.upright()) << reading.describe();

  // The camera asks for 320x240 and the phone is upside down (code 2).
  camera.request(320, -240);
  out = runPhone(port, true, 15, 2);
  ASSERT_TRUE(e2e::waitForLogCount(user_, &server, "Transport disconnected", 3));
  picture = camera.picture();
  rect = vcamview::contentRect(picture);
  EXPECT_EQ(320, rect.width) << out;
  EXPECT_EQ(240, rect.height);
  EXPECT_TRUE(component::readCard(picture.data.data(), picture.stride, rect).upright());

  // The phone asks for a snapshot (action 3) after it streamed: the last
  // picture goes into the pictures folder, which is created for it.
  EXPECT_FALSE(base::pathExists(pictures_));
  out = runPhone(port, true, 0, 0, {}, {component::ActionComponent::kActionSnapshot});
  std::vector<base::string16> files;
  for (uint32_t waited = 0; waited < 10000 && files.empty(); waited += kPollMs) {
    files = base::listDirectory(pictures_);
    if (files.empty()) base::PlatformThread::sleepMs(kPollMs);
  }
  ASSERT_EQ(1u, files.size()) << user_.logOf(server.pid());
  EXPECT_TRUE(std::regex_match(base::wideToUtf8(files[0]),
                               std::regex("Image_\\d{4}-\\d{2}-\\d{2}_\\d{2}-\\d{2}-\\d{2}\\.jpg")))
      << base::wideToUtf8(files[0]);
  std::string jpeg;
  ASSERT_TRUE(base::readFile(base::joinPath(pictures_, files[0]), &jpeg));
  std::vector<uint8_t> pixels;
  int32_t w = 0, h = 0;
  ASSERT_TRUE(component::decodeJpeg(reinterpret_cast<const uint8_t*>(jpeg.data()), jpeg.size(), &pixels, &w, &h));
  EXPECT_EQ(480, w);
  EXPECT_EQ(360, h);
  EXPECT_TRUE(component::readCard(pixels.data(), w * 3, component::FitRect{0, 0, w, h}).upright());

  EXPECT_EQ(1, e2e::endServer(user_, &server));
}

TEST_F(VideoE2ETest, MirrorImageSettingMirrorsTheCamera) {
  ASSERT_TRUE(storeSettings(true));
  ServerProcess server;
  const int port = e2e::startServer(user_, &server);
  ASSERT_NE(0, port);
  vcamview::CameraView camera(section_);
  ASSERT_TRUE(camera.ok());
  const std::string out = runPhone(port, true, 10, 1);
  ASSERT_TRUE(e2e::waitForLogCount(user_, &server, "Transport disconnected", 1));
  const component::VideoFrame picture = camera.picture();
  ASSERT_EQ(320, picture.width) << out;
  const component::FitRect rect = vcamview::contentRect(picture);
  const component::CardReading reading = component::readCard(picture.data.data(), picture.stride, rect);
  EXPECT_TRUE(reading.mirrored()) << reading.describe();
  EXPECT_EQ(1, e2e::endServer(user_, &server));
}

}  // namespace
