// The Linux camera without a PipeWire daemon or a loopback module: the
// picture it publishes, its settings, and the V4L2 writer against a device
// that answers like v4l2loopback (or does not).
#include <linux/videodev2.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/test_util.h"
#include "components/video/linux_camera/camera_picture.h"
#include "components/video/linux_camera/linux_camera.h"
#include "components/video/linux_camera/v4l2_output.h"
#include "components/video/test_card.h"

namespace component {
namespace {

TEST(CameraSettings, SizesAndOutputsFromTheirTexts) {
  int32_t w = 0, h = 0;
  ASSERT_TRUE(parseCameraSize("1280x720", &w, &h));
  EXPECT_EQ(1280, w);
  EXPECT_EQ(720, h);
  ASSERT_TRUE(parseCameraSize("16X16", &w, &h));
  // Odd sides do not halve for 4:2:0; zero, signs, spaces, huge and missing
  // numbers are no sizes.
  for (const char* bad : {"", "x", "640x", "x480", "641x480", "640x481", "0x0", "-640x480", "640 x480",
                          "640x480x2", "99999999999x480", "7680x4320", "8x8", "640,480", "１２x34"}) {
    w = h = 7;
    EXPECT_FALSE(parseCameraSize(bad, &w, &h)) << bad;
    EXPECT_EQ(7, w) << bad;
  }

  LinuxCameraOptions options = linuxCameraOptions("320x240", "PipeWire", "/dev/video9");
  EXPECT_EQ(320, options.width);
  EXPECT_TRUE(options.pipewire);
  EXPECT_FALSE(options.v4l2);
  EXPECT_EQ("/dev/video9", options.v4l2Device);
  options = linuxCameraOptions("huge", "v4l2", "");
  EXPECT_EQ(640, options.width);
  EXPECT_EQ(480, options.height);
  EXPECT_FALSE(options.pipewire);
  EXPECT_TRUE(options.v4l2);
  options = linuxCameraOptions("", "off", "");
  EXPECT_FALSE(options.pipewire || options.v4l2);
  options = linuxCameraOptions("", "sometimes", "");
  EXPECT_TRUE(options.pipewire && options.v4l2);
}

// Each offered format carries the picture: turned back into 24 bits the
// test card reads upright, and the waiting card is still recognised.
TEST(CameraPicture, EveryFormatCarriesTheCardAndTheWaitingCard) {
  const int32_t w = 320, h = 240;
  const VideoFrame card = makeTestCard(w, h);
  std::vector<uint8_t> waiting(static_cast<size_t>(w) * h * 3);
  drawWaitingCard(w, h, waiting.data());
  ASSERT_TRUE(looksLikeWaitingCard(waiting.data(), w, h));
  EXPECT_FALSE(looksLikeWaitingCard(card.data.data(), w, h));
  PictureFitter fitter;
  std::vector<uint8_t> cardI420(cameraFrameBytes(CameraFormat::kI420, w, h));
  std::vector<uint8_t> waitingI420(cardI420.size());
  ASSERT_TRUE(fitter.fit(card, w, h, cardI420.data()));
  ASSERT_TRUE(fitter.convert(waiting.data(), w, h, waitingI420.data()));
  PictureFormatter formatter;
  for (CameraFormat format : {CameraFormat::kI420, CameraFormat::kYUY2, CameraFormat::kBGR}) {
    std::vector<uint8_t> out(cameraFrameBytes(format, w, h));
    std::vector<uint8_t> back;
    ASSERT_TRUE(formatter.format(cardI420.data(), w, h, format, out.data()));
    ASSERT_TRUE(cameraPictureToBGR(out.data(), format, w, h, &back));
    EXPECT_TRUE(readCard(back.data(), w * 3, FitRect{0, 0, w, h}).upright()) << cameraFormatName(format);
    ASSERT_TRUE(formatter.format(waitingI420.data(), w, h, format, out.data()));
    ASSERT_TRUE(cameraPictureToBGR(out.data(), format, w, h, &back));
    EXPECT_TRUE(looksLikeWaitingCard(back.data(), w, h)) << cameraFormatName(format);
  }
}

// A camera with no outputs still keeps the picture the outputs would send.
class LinuxCameraPictureTest : public ::testing::Test {
 protected:
  LinuxCameraPictureTest() {
    options_.width = 320;
    options_.height = 240;
    options_.pipewire = false;
    options_.v4l2 = true;
  }
  std::vector<uint8_t> latest() {
    std::vector<uint8_t> copy;
    camera_->picture()->read([&](const uint8_t* i420, uint64_t, int64_t) {
      EXPECT_TRUE(cameraPictureToBGR(i420, CameraFormat::kI420, options_.width, options_.height, &copy));
    });
    return copy;
  }
  LinuxCameraOptions options_;
  std::shared_ptr<void> keepAlive_;  // destroyed after camera_
  std::unique_ptr<LinuxCamera> camera_;
};

// The fake device: v4l2loopback's answers, with knobs for the ways a real
// device refuses.
class FakeLoopback : public V4l2Device {
 public:
  struct State {
    std::vector<std::string> nodes = {"/dev/video0", "/dev/video1"};
    std::string loopbackNode = "/dev/video1";
    std::string opened;
    bool openFails = false;
    int sFmtError = 0;
    uint32_t answerWidth = 0;  // 0: the size asked for
    ssize_t shortWrite = -2;   // -2: everything written
    v4l2_format format{};
    std::vector<std::vector<uint8_t>> frames;
    int closes = 0;
  };
  explicit FakeLoopback(State* state) : s_(state) {}
  std::vector<std::string> candidates() override { return s_->nodes; }
  bool open(const std::string& path) override {
    if (s_->openFails) return false;
    s_->opened = path;
    return true;
  }
  int ioctl(unsigned long request, void* argument) override {
    if (request == VIDIOC_QUERYCAP) {
      auto* caps = static_cast<v4l2_capability*>(argument);
      // A camera for /dev/video0; the loopback for the other, with a
      // driver string that fills its field to the last byte.
      const bool loopback = s_->opened == s_->loopbackNode;
      std::strcpy(reinterpret_cast<char*>(caps->driver), loopback ? kV4l2LoopbackDriver : "uvcvideo");
      std::memset(caps->card, 'C', sizeof(caps->card));
      caps->capabilities = V4L2_CAP_DEVICE_CAPS;
      caps->device_caps = loopback ? (V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_VIDEO_CAPTURE) : V4L2_CAP_VIDEO_CAPTURE;
      return 0;
    }
    if (request == VIDIOC_S_FMT) {
      if (s_->sFmtError) return s_->sFmtError;
      auto* format = static_cast<v4l2_format*>(argument);
      if (s_->answerWidth) format->fmt.pix.width = s_->answerWidth;
      s_->format = *format;
      return 0;
    }
    if (request == VIDIOC_S_PARM) return EINVAL;  // a hint only
    return ENOTTY;
  }
  ssize_t write(const void* data, size_t bytes) override {
    const auto* p = static_cast<const uint8_t*>(data);
    s_->frames.emplace_back(p, p + bytes);
    return s_->shortWrite == -2 ? static_cast<ssize_t>(bytes) : s_->shortWrite;
  }
  void close() override { ++s_->closes; }

 private:
  State* s_;
};

TEST_F(LinuxCameraPictureTest, FramesAreFittedAndShownOnlyWhileAPhoneIsAccepted) {
  // The device's state outlives the camera, whose writer thread uses it.
  auto device = std::make_shared<FakeLoopback::State>();
  keepAlive_ = device;
  camera_ = std::make_unique<LinuxCamera>(options_, std::make_unique<FakeLoopback>(device.get()));
  ASSERT_TRUE(camera_->Start());
  EXPECT_TRUE(looksLikeWaitingCard(latest().data(), 320, 240));

  // Not accepted: the decoder is told no pixels are wanted, and a frame on
  // its way does not reach the camera.
  int32_t wantedWidth = -1, wantedHeight = -1;
  camera_->WantedPictureSize(480, 640, &wantedWidth, &wantedHeight);
  EXPECT_EQ(0, wantedWidth);
  EXPECT_EQ(0, wantedHeight);
  const VideoFrame tall = makeTestCard(120, 160);
  camera_->OnVideoFrame(nullptr, tall);
  EXPECT_TRUE(looksLikeWaitingCard(latest().data(), 320, 240));

  // Accepted: a portrait picture sits in the middle between black bars,
  // with the shared-memory area's fit rule.
  camera_->SetPhoneAccepted(true);
  // Only the fitted rectangle's detail is wanted from a larger picture.
  camera_->WantedPictureSize(480, 640, &wantedWidth, &wantedHeight);
  EXPECT_EQ(180, wantedWidth);
  EXPECT_EQ(240, wantedHeight);
  camera_->OnVideoFrame(nullptr, tall);
  std::vector<uint8_t> shown = latest();
  const FitRect rect = fitRectangle(120, 160, 320, 240, kFitInside);
  EXPECT_EQ(70, rect.x);
  EXPECT_TRUE(readCard(shown.data(), 320 * 3, rect).upright());
  EXPECT_EQ(CardColor::kBlack, colorAt(shown.data(), 320 * 3, 10, 120));
  EXPECT_EQ(CardColor::kBlack, colorAt(shown.data(), 320 * 3, 310, 120));

  // A wide one fills the width; the size of the camera stays.
  camera_->OnVideoFrame(nullptr, makeTestCard(640, 360));
  shown = latest();
  EXPECT_TRUE(readCard(shown.data(), 320 * 3, fitRectangle(640, 360, 320, 240, kFitInside)).upright());
  EXPECT_EQ(CardColor::kBlack, colorAt(shown.data(), 320 * 3, 160, 5));

  // The same pictures as the decoder hands them over when it reduces them
  // to the wanted size land in the same rectangles, bars and all (the
  // conversion writes straight into the rectangle then). Pictures covering
  // the whole camera go first, so no bar is left over from before.
  camera_->OnVideoFrame(nullptr, makeTestCard(320, 240));
  camera_->OnVideoFrame(nullptr, makeTestCard(320, 240));
  VideoFrame reduced = makeTestCard(180, 240);
  reduced.picture_width = 480;
  reduced.picture_height = 640;
  camera_->OnVideoFrame(nullptr, reduced);
  shown = latest();
  EXPECT_TRUE(readCard(shown.data(), 320 * 3, rect).upright());
  EXPECT_EQ(CardColor::kBlack, colorAt(shown.data(), 320 * 3, 10, 120));
  EXPECT_EQ(CardColor::kBlack, colorAt(shown.data(), 320 * 3, 310, 120));
  reduced = makeTestCard(320, 180);
  reduced.picture_width = 640;
  reduced.picture_height = 360;
  camera_->OnVideoFrame(nullptr, reduced);
  shown = latest();
  EXPECT_TRUE(readCard(shown.data(), 320 * 3, fitRectangle(640, 360, 320, 240, kFitInside)).upright());
  EXPECT_EQ(CardColor::kBlack, colorAt(shown.data(), 320 * 3, 160, 5));
  EXPECT_EQ(CardColor::kBlack, colorAt(shown.data(), 320 * 3, 160, 234));

  // A broken frame keeps the last picture.
  VideoFrame broken = makeTestCard(64, 48);
  broken.data.resize(10);
  camera_->OnVideoFrame(nullptr, broken);
  EXPECT_EQ(shown, latest());

  // The phone left: nothing of it stays.
  camera_->SetPhoneAccepted(false);
  EXPECT_TRUE(looksLikeWaitingCard(latest().data(), 320, 240));
}

TEST_F(LinuxCameraPictureTest, APipeWireNodeWaitingForItsDaemonTakesNoPictureWork) {
  // An empty runtime folder: no daemon can answer there.
  const base::string16 runtime = base::makeTempDirectory(u"no-pipewire");
  const char* old = std::getenv("PIPEWIRE_RUNTIME_DIR");
  const std::string saved = old ? old : "";
  ::setenv("PIPEWIRE_RUNTIME_DIR", base::wideToUtf8(runtime).c_str(), 1);
  options_.pipewire = true;
  options_.v4l2 = false;
  options_.nodeName = "lumora_camera_unittest_waiting";
  camera_ = std::make_unique<LinuxCamera>(options_);
  // It runs (the node comes once a daemon answers), yet nobody can open it.
  EXPECT_TRUE(camera_->Start());
  camera_->SetPhoneAccepted(true);
  int32_t wantedWidth = -1, wantedHeight = -1;
  camera_->WantedPictureSize(480, 640, &wantedWidth, &wantedHeight);
  EXPECT_EQ(0, wantedWidth);
  EXPECT_EQ(0, wantedHeight);
  camera_->OnVideoFrame(nullptr, makeTestCard(320, 240));
  EXPECT_TRUE(looksLikeWaitingCard(latest().data(), 320, 240));
  camera_.reset();
  if (old) ::setenv("PIPEWIRE_RUNTIME_DIR", saved.c_str(), 1);
  else ::unsetenv("PIPEWIRE_RUNTIME_DIR");
  base::removeTree(runtime);
}

TEST(V4l2OutputTest, FindsTheLoopbackDeviceAndWritesYuyvAtTheCameraSize) {
  LatestPicture picture(320, 240);
  FakeLoopback::State state;
  V4l2Output output(&picture, std::make_unique<FakeLoopback>(&state), "");
  ASSERT_TRUE(output.Start(false));
  EXPECT_EQ("/dev/video1", output.path());  // the camera before it is passed over
  EXPECT_EQ(V4L2_BUF_TYPE_VIDEO_OUTPUT, state.format.type);
  EXPECT_EQ(static_cast<uint32_t>(V4L2_PIX_FMT_YUYV), state.format.fmt.pix.pixelformat);
  EXPECT_EQ(320u, state.format.fmt.pix.width);
  EXPECT_EQ(640u, state.format.fmt.pix.bytesperline);
  EXPECT_EQ(320u * 240u * 2u, state.format.fmt.pix.sizeimage);

  ASSERT_TRUE(output.WriteFrame());
  ASSERT_EQ(1u, state.frames.size());
  std::vector<uint8_t> back;
  ASSERT_TRUE(cameraPictureToBGR(state.frames[0].data(), CameraFormat::kYUY2, 320, 240, &back));
  EXPECT_TRUE(looksLikeWaitingCard(back.data(), 320, 240));

  // A device that takes part of a frame: the frame failed.
  state.shortWrite = 100;
  EXPECT_FALSE(output.WriteFrame());
  state.shortWrite = -1;
  EXPECT_FALSE(output.WriteFrame());
  state.shortWrite = -2;
  EXPECT_TRUE(output.WriteFrame());
}

TEST(V4l2OutputTest, RefusesDevicesItCannotWriteTo) {
  LatestPicture picture(320, 240);
  {
    // Only cameras there.
    FakeLoopback::State state;
    state.loopbackNode = "/dev/none";
    V4l2Output output(&picture, std::make_unique<FakeLoopback>(&state), "");
    EXPECT_FALSE(output.Start(false));
  }
  {
    // Named, but a capture-only camera.
    FakeLoopback::State state;
    V4l2Output output(&picture, std::make_unique<FakeLoopback>(&state), "/dev/video0");
    EXPECT_FALSE(output.Start(false));
  }
  {
    FakeLoopback::State state;
    state.openFails = true;
    V4l2Output output(&picture, std::make_unique<FakeLoopback>(&state), "/dev/video1");
    EXPECT_FALSE(output.Start(false));
  }
  {
    // Another writer fixed the device at another size.
    FakeLoopback::State state;
    state.answerWidth = 640;
    V4l2Output output(&picture, std::make_unique<FakeLoopback>(&state), "");
    EXPECT_FALSE(output.Start(false));
    EXPECT_GE(state.closes, 1);
  }
  {
    FakeLoopback::State state;
    state.sFmtError = EBUSY;
    V4l2Output output(&picture, std::make_unique<FakeLoopback>(&state), "/dev/video1");
    EXPECT_FALSE(output.Start(false));
  }
}

TEST(V4l2OutputTest, TheThreadWritesAboutThirtyFramesASecondUntilStopped) {
  LatestPicture picture(64, 48);
  FakeLoopback::State state;
  V4l2Output output(&picture, std::make_unique<FakeLoopback>(&state), "");
  ASSERT_TRUE(output.Start(true));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  output.Stop();
  const size_t written = state.frames.size();
  EXPECT_GE(written, 3u);  // loose: a loaded machine is slow, never too fast
  EXPECT_LE(written, 12u);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(written, state.frames.size());
}

}  // namespace
}  // namespace component
