// The simulated phone's camera against the PC's real video component.
#include "tools/phonesim/video_sender.h"

#include <gtest/gtest.h>

#include <sstream>

#include "base/message_loop.h"
#include "components/session_gate.h"
#include "components/video/test_card.h"
#include "components/video/video_component.h"
#include "tools/phonesim/simulator.h"
#include "transport/transport.h"

namespace phonesim {
namespace {

// Opens the gate for every phone, as an access list that allows all would.
struct AllowAll : transport::Transport::Observer {
  explicit AllowAll(component::SessionGate* gate) : gate_(gate) {}
  void onClientDidConnect(transport::Transport*) override { gate_->open(); }
  component::SessionGate* gate_;
};

struct Frames : component::VideoComponent::Observer {
  void OnVideoFrame(component::VideoComponent*, const component::VideoFrame& frame) override {
    readings.push_back(component::readCard(frame.data.data(), frame.stride,
                                           component::FitRect{0, 0, frame.width, frame.height}));
    sizes.emplace_back(frame.width, frame.height);
  }
  std::vector<component::CardReading> readings;
  std::vector<std::pair<int32_t, int32_t>> sizes;
};

class VideoSenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    transport_.setApplicationId(12000);
    transport_.setVersion("2.2.0.0");
    transport_.addObserver(&allow_);
    video_.AddObserver(&frames_);
    ASSERT_TRUE(transport_.startListening(0));
  }
  void TearDown() override {
    video_.RemoveObserver(&frames_);
    transport_.removeObserver(&allow_);
  }

  base::MessageLoop loop_;
  transport::Transport transport_;
  component::SessionGate gate_{&transport_};
  component::VideoComponent video_{&transport_, component::kVideoComponentId, &gate_};
  AllowAll allow_{&gate_};
  Frames frames_;
};

TEST_F(VideoSenderTest, PatternArrivesUprightInBothForms) {
  for (const char* version : {"2.0", "1.9"}) {
    for (uint32_t orientation : {1u, 2u, 4u}) {
      frames_.readings.clear();
      frames_.sizes.clear();
      std::string error;
      SimulatorOptions options;
      ASSERT_TRUE(parseArguments({"--port", std::to_string(transport_.localPort()), "--version", version, "--video",
                                  "pattern", "--fps", "200", "--frames", "4", "--card", "160x120",
                                  "--orientation", std::to_string(orientation), "--linger", "50"},
                                 &options, &error))
          << error;
      std::ostringstream out;
      EXPECT_EQ(kExitAdmitted, runSession(options, out, nullptr)) << out.str();
      EXPECT_NE(std::string::npos, out.str().find("video sent 4 frames")) << out.str();
      ASSERT_EQ(4u, frames_.readings.size()) << version << " " << orientation << "\n" << out.str();
      for (const auto& reading : frames_.readings) EXPECT_TRUE(reading.upright()) << reading.describe();
      EXPECT_EQ(std::make_pair(160, 120), frames_.sizes[0]);
    }
  }
}

TEST(VideoSender, SplitsMjpegStreams) {
  const std::vector<uint8_t> bytes = {0x00, 0xFF, 0xD8, 1, 2, 0xFF, 0xD9, 7, 0xFF, 0xD8, 3, 0xFF, 0xD9, 0xFF, 0xD8, 4};
  const std::vector<std::vector<uint8_t>> pictures = splitMjpeg(bytes);
  ASSERT_EQ(2u, pictures.size());  // the last one never ends
  EXPECT_EQ((std::vector<uint8_t>{0xFF, 0xD8, 1, 2, 0xFF, 0xD9}), pictures[0]);
  EXPECT_EQ((std::vector<uint8_t>{0xFF, 0xD8, 3, 0xFF, 0xD9}), pictures[1]);
}

TEST(VideoSender, RefusesSourcesWithoutPictures) {
  VideoOptions options;
  options.source = "/nonexistent/folder/clip.mjpeg";
  std::vector<VideoPicture> pictures;
  std::string error;
  EXPECT_FALSE(loadVideoPictures(options, &pictures, &error));
  EXPECT_FALSE(error.empty());
  SimulatorOptions parsed;
  EXPECT_FALSE(parseArguments({"--port", "5", "--fps", "0"}, &parsed, &error));
  EXPECT_FALSE(parseArguments({"--port", "5", "--card", "7x7"}, &parsed, &error));
}

}  // namespace
}  // namespace phonesim
