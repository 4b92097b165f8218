#include "components/video/video_component.h"

#include <gtest/gtest.h>

#include "base/message_loop.h"
#include "components/component_message.h"
#include "components/component_test_support.h"
#include "components/session_gate.h"
#include "base/test_util.h"
#include "components/video/snapshot.h"
#include "components/video/video_driver.h"
#include "components/video/video_test_util.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace component {
namespace {

struct FrameLog : VideoComponent::Observer {
  void OnVideoFrame(VideoComponent*, const VideoFrame& frame) override { frames.push_back(frame); }
  std::vector<VideoFrame> frames;
};

struct FrameFields {
  int32_t width = 480;
  int32_t height = 360;
  uint32_t format = kPixelFormat_JPEG;
  uint32_t flags = 0;
  int64_t timestamp = 77;
  bool picture = true;
};

base::Pickle dictionaryFrame(const std::vector<uint8_t>& jpeg, const FrameFields& f) {
  base::Pickle message = makeComponentMessage(VideoComponent::kMessageVideoFrame);
  base::DictionaryValue info;
  info.setInteger("ImageWidth", f.width);
  info.setInteger("ImageHeight", f.height);
  info.setInteger("FormatID", static_cast<int32_t>(f.format));
  info.setInteger("Flags", static_cast<int32_t>(f.flags));
  info.setInteger("KeyFrame", 1);
  info.setInt64("Timestamp", f.timestamp);
  base::writeDictionaryToPickle(info, &message);
  if (f.picture) writeTaggedBytes(&message, 9, jpeg.data(), jpeg.size());
  return message;
}

class VideoComponentTest : public ::testing::Test {
 protected:
  VideoComponentTest() {
    transport_.setApplicationId(12000);
    transport_.setVersion("2.2.0.0");
    video_.AddObserver(&log_);
  }
  ~VideoComponentTest() override { video_.RemoveObserver(&log_); }

  void connectAccepted(const std::string& version = "2.0") {
    ASSERT_TRUE(phone_.connect(version));
    gate_.open();
  }
  void send(const base::Pickle& message) { phone_.send(kVideoComponentId, message); }
  CardReading readDelivered(size_t index = 0) {
    const VideoFrame& f = log_.frames.at(index);
    return readCard(f.data.data(), f.stride, FitRect{0, 0, f.width, f.height});
  }

  base::MessageLoop loop_;
  transport::Transport transport_;
  SessionGate gate_{&transport_};
  VideoComponent video_{&transport_, kVideoComponentId, &gate_};
  FrameLog log_;
  FakePhone phone_{&transport_};
};

TEST_F(VideoComponentTest, CapabilitiesFollowThePhonesVersion) {
  ASSERT_TRUE(phone_.connect("2.0"));
  EXPECT_TRUE(video_.peerUsesDictionaries());
  base::Pickle info = makeComponentMessage(VideoComponent::kMessageSourceInfo);
  base::DictionaryValue camera;
  camera.setString("Camera", "back");
  base::writeDictionaryToPickle(camera, &info);
  send(info);
  ASSERT_NE(nullptr, video_.sourceInfo());
  std::vector<transport::Frame> answers = phone_.receivedOfType(kVideoComponentId);
  ASSERT_EQ(1u, answers.size());
  ComponentMessageReader reader(answers[0].payload);
  EXPECT_EQ(VideoComponent::kMessageCapabilities, reader.kind());
  std::unique_ptr<base::DictionaryValue> caps = base::readDictionaryFromPickle(reader.iterator());
  ASSERT_TRUE(caps);
  const base::ListValue* profiles = nullptr;
  ASSERT_TRUE(caps->getList("ProfileList", &profiles));
  ASSERT_EQ(1u, profiles->size());
  base::Value* first = nullptr;
  std::string name;
  ASSERT_TRUE(profiles->get(0, &first) && first->asString(&name));
  EXPECT_EQ("jpeg", name);
  const base::DictionaryValue* jpeg = nullptr;
  ASSERT_TRUE(caps->getDictionary("jpeg", &jpeg));
  int32_t format = 0;
  ASSERT_TRUE(jpeg->getString("ProfileID", &name) && jpeg->getInteger("FormatID", &format));
  EXPECT_EQ("jpeg", name);
  EXPECT_EQ(0x6A706567, format);

  // Unreadable source info: logged, the old one is gone, capabilities still go out.
  LogCapture log(u"video_source_info.log");
  base::Pickle broken = makeComponentMessage(VideoComponent::kMessageSourceInfo);
  broken.writeInt(7);
  send(broken);
  EXPECT_EQ(nullptr, video_.sourceInfo());
  EXPECT_EQ(2u, phone_.receivedOfType(kVideoComponentId).size());
  EXPECT_NE(log.text().find("Couldn't read message info"), std::string::npos);

  // A phone of version 1.9 gets the tagged form: tag 1, kind 0, 'jpeg'.
  phone_.drop();
  FakePhone older(&transport_);
  ASSERT_TRUE(older.connect("1.9"));
  EXPECT_FALSE(video_.peerUsesDictionaries());
  older.send(kVideoComponentId, info);
  answers = older.receivedOfType(kVideoComponentId);
  ASSERT_EQ(1u, answers.size());
  EXPECT_EQ((std::vector<uint8_t>{23, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0x67, 0x65, 0x70, 0x6A}),
            std::vector<uint8_t>(answers[0].payload.begin() + 4, answers[0].payload.end()));
}

TEST_F(VideoComponentTest, APhoneAskingInALoopGetsABoundedNumberOfAnswers) {
  ASSERT_TRUE(phone_.connect("2.0"));
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 200; ++i) send(makeComponentMessage(VideoComponent::kMessageSourceInfo));
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
  const size_t answers = phone_.receivedOfType(kVideoComponentId).size();
  EXPECT_GE(answers, static_cast<size_t>(AnswerBudget::kBurst));
  EXPECT_LE(answers, static_cast<size_t>(AnswerBudget::kBurst + seconds.count() + 1));
  // The next session starts with a fresh budget.
  phone_.drop();
  ASSERT_TRUE(phone_.connect("2.0"));
  send(makeComponentMessage(VideoComponent::kMessageSourceInfo));
  EXPECT_EQ(phone_.receivedOfType(kVideoComponentId).size(), 1u);
}

TEST_F(VideoComponentTest, FramesWaitForTheAcceptedPhone) {
  ASSERT_TRUE(phone_.connect("2.0"));
  const std::vector<uint8_t> jpeg = cardJpeg(480, 360);
  send(dictionaryFrame(jpeg, {}));
  EXPECT_TRUE(log_.frames.empty());
  EXPECT_EQ(1u, gate_.dropped(SessionGate::kVideoFrames));
  gate_.open();
  send(dictionaryFrame(jpeg, {}));
  ASSERT_EQ(1u, log_.frames.size());
  EXPECT_EQ(480, log_.frames[0].width);
  EXPECT_EQ(77, log_.frames[0].timestamp);
  EXPECT_TRUE(log_.frames[0].key_frame);
  EXPECT_TRUE(readDelivered().upright());
}

TEST_F(VideoComponentTest, EveryOrientationArrivesUprightAndMirroredOnlyWhenAsked) {
  connectAccepted();
  EXPECT_FALSE(video_.mirrorImage());
  for (bool mirror : {false, true}) {
    video_.SetMirrorImage(mirror);
    for (uint32_t code : {0u, 1u, 2u, 4u, 8u}) {
      log_.frames.clear();
      FrameFields fields;
      fields.flags = code | 0x300;
      send(dictionaryFrame(cardJpeg(480, 360, code), fields));
      ASSERT_EQ(1u, log_.frames.size()) << code;
      const VideoFrame& f = log_.frames[0];
      EXPECT_EQ(480, f.width) << code;
      EXPECT_EQ(360, f.height) << code;
      EXPECT_EQ(0x300u, f.flags) << code;  // orientation cleared, the rest carried
      const CardReading reading = readDelivered();
      EXPECT_TRUE(mirror ? reading.mirrored() : reading.upright())
          << "code " << code << " mirror " << mirror << ": " << reading.describe();
    }
  }
}

TEST_F(VideoComponentTest, DropsFramesItCannotShow) {
  connectAccepted();
  const std::vector<uint8_t> jpeg = cardJpeg(64, 48);
  FrameFields other;
  other.format = fourCC('h', '2', '6', '4');
  send(dictionaryFrame(jpeg, other));
  FrameFields noPicture;
  noPicture.picture = false;
  send(dictionaryFrame(jpeg, noPicture));
  send(dictionaryFrame({}, {}));                                       // empty picture
  send(dictionaryFrame({0xFF, 0xD8, 0xFF, 0xE0, 0, 0, 1, 2}, {}));       // not a picture
  std::vector<uint8_t> huge = jpeg;
  ASSERT_TRUE(patchJpegSize(&huge, 65000, 65000));
  send(dictionaryFrame(huge, {}));
  base::Pickle notDictionary = makeComponentMessage(VideoComponent::kMessageVideoFrame);
  notDictionary.writeInt(2);
  notDictionary.writeInt(5);
  send(notDictionary);
  phone_.sendRaw(kVideoComponentId, {15, 0, 0});
  EXPECT_TRUE(log_.frames.empty());
  // Still alive for a good one.
  send(dictionaryFrame(jpeg, {}));
  EXPECT_EQ(1u, log_.frames.size());
}

TEST_F(VideoComponentTest, AFrameThatLiesAboutItsSizeArrivesAtItsRealSize) {
  connectAccepted();
  FrameFields lie;
  lie.width = 1920;
  lie.height = 1080;
  lie.flags = 4;  // turned too, so the turning reads the real picture
  send(dictionaryFrame(cardJpeg(161, 120, 4), lie));
  ASSERT_EQ(1u, log_.frames.size());
  EXPECT_EQ(161, log_.frames[0].width);
  EXPECT_EQ(120, log_.frames[0].height);
  EXPECT_EQ(161u * 120 * 3, log_.frames[0].data.size());
  EXPECT_TRUE(readDelivered().upright());
}

TEST_F(VideoComponentTest, TaggedFramesOfOlderPhones) {
  connectAccepted("1.9");
  const std::vector<uint8_t> jpeg = cardJpeg(480, 360, 1);
  base::Pickle message = makeComponentMessage(VideoComponent::kMessageVideoFrame);
  writeTaggedInteger(&message, 1, 480);
  writeTaggedInteger(&message, 2, 360);
  writeTaggedInteger(&message, 40, 99);                // unknown, kind 0: skipped
  writeTaggedBytes(&message, 41, "abcdefg", 7);        // unknown, kind 1: skipped
  writeTaggedInteger(&message, 3, static_cast<int32_t>(kPixelFormat_JPEG));
  writeTaggedInteger(&message, 4, 1);
  writeTaggedInteger(&message, 6, 1 | 0x40);
  writeTaggedBytes(&message, 5, jpeg.data(), jpeg.size());
  send(message);
  ASSERT_EQ(1u, log_.frames.size());
  EXPECT_TRUE(log_.frames[0].key_frame);
  EXPECT_EQ(0x40u, log_.frames[0].flags);
  EXPECT_EQ(0, log_.frames[0].timestamp);
  EXPECT_TRUE(readDelivered().upright()) << readDelivered().describe();

  // An unknown kind ends the parse: the picture after it is never read.
  base::Pickle stopped = makeComponentMessage(VideoComponent::kMessageVideoFrame);
  writeTaggedInteger(&stopped, 3, static_cast<int32_t>(kPixelFormat_JPEG));
  stopped.writeInt(7);  // tag
  stopped.writeInt(2);  // kind 2 does not exist
  writeTaggedBytes(&stopped, 5, jpeg.data(), jpeg.size());
  send(stopped);
  // A known tag of the wrong kind ends it too.
  base::Pickle wrongKind = makeComponentMessage(VideoComponent::kMessageVideoFrame);
  writeTaggedBytes(&wrongKind, 3, "jpeg", 4);
  writeTaggedBytes(&wrongKind, 5, jpeg.data(), jpeg.size());
  send(wrongKind);
  EXPECT_EQ(1u, log_.frames.size());
}

TEST_F(VideoComponentTest, ObserversInOrderAndRemovableWhileNotified) {
  connectAccepted();
  struct Leaver : VideoComponent::Observer {
    void OnVideoFrame(VideoComponent* component, const VideoFrame&) override {
      ++calls;
      component->RemoveObserver(this);
    }
    int calls = 0;
  } leaver;
  FrameLog second;
  video_.AddObserver(&leaver);
  video_.AddObserver(&second);
  const std::vector<uint8_t> jpeg = cardJpeg(64, 48);
  send(dictionaryFrame(jpeg, {}));
  send(dictionaryFrame(jpeg, {}));
  EXPECT_EQ(1, leaver.calls);
  EXPECT_EQ(2u, second.frames.size());
  EXPECT_EQ(2u, log_.frames.size());
  video_.RemoveObserver(&second);
}


// The camera and the snapshot need less than the whole picture per frame, so
// the component may decode less; the camera's picture must still stand
// exactly where a whole decode puts it (bands and all), and a snapshot is
// the whole picture. 400 x 581 upright is a size whose half-scale picture
// would fit one column off.
TEST_F(VideoComponentTest, ReducedDecodesLandWhereTheWholePictureWould) {
  connectAccepted();
  video_.RemoveObserver(&log_);
  const std::string section =
      "LumoraZuvIridarTest-reduced-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  SharedSection camera(section, kCameraSectionBytes, kCameraViewBytes, false);
  const int32_t cif[2] = {352, 288};
  std::memcpy(camera.data() + kCameraRequestedWidthOffset, cif, 8);
  struct SizeLog : VideoComponent::Observer {
    void OnVideoFrame(VideoComponent*, const VideoFrame& frame) override { frames.push_back(frame); }
    void WantedPictureSize(int32_t, int32_t, int32_t* w, int32_t* h) override { *w = *h = 0; }
    std::vector<VideoFrame> frames;
  } sizes;
  VideoDriver driver(section);
  Snapshot snapshot;
  video_.AddObserver(&driver);
  video_.AddObserver(&snapshot);
  video_.AddObserver(&sizes);
  FrameFields fields;
  fields.width = 581;
  fields.height = 400;
  fields.flags = 4;
  const std::vector<uint8_t> jpeg = cardJpeg(400, 581, 4);
  send(dictionaryFrame(jpeg, fields));
  ASSERT_EQ(1u, sizes.frames.size());
  EXPECT_EQ(400, sizes.frames[0].pictureWidth());
  EXPECT_EQ(581, sizes.frames[0].pictureHeight());
#if !defined(_WIN32)
  EXPECT_EQ(200, sizes.frames[0].width);  // half scale: still more than the 199 x 288 shown
  EXPECT_EQ(291, sizes.frames[0].height);
#endif
  const std::vector<uint8_t> reduced(camera.data(), camera.data() + 352 * 288 * 3);

  // The same frame decoded whole (an observer wanting everything).
  video_.AddObserver(&log_);
  send(dictionaryFrame(jpeg, fields));
  ASSERT_EQ(1u, log_.frames.size());
  EXPECT_EQ(400, log_.frames[0].width);
  const uint8_t* whole = camera.data();
  EXPECT_TRUE(readCard(whole, 352 * 3, FitRect{77, 0, 199, 288}).upright());
  auto black = [](const uint8_t* p) { return p[0] + p[1] + p[2] == 0; };
  int64_t difference = 0;
  for (int32_t y = 0; y < 288; ++y) {
    for (int32_t x = 0; x < 352; ++x) {
      const size_t at = (static_cast<size_t>(y) * 352 + x) * 3;
      // The bands are the same pixels (beyond the edge rows a filter may blur).
      if (x < 77 - kFitEdgeTolerance || x >= 77 + 199 + kFitEdgeTolerance) {
        ASSERT_TRUE(black(&reduced[at]) && black(whole + at)) << x << "," << y;
      } else if ((x == 77 + kFitEdgeTolerance || x == 77 + 198 - kFitEdgeTolerance) && y < 200) {
        // The card's edge is grey (its black marker sits lower down).
        ASSERT_FALSE(black(&reduced[at])) << x << "," << y;
      }
      for (int c = 0; c < 3; ++c) difference += std::abs(int(reduced[at + c]) - int(whole[at + c]));
    }
  }
  EXPECT_LT(difference / (352 * 288 * 3), 3) << "the reduced decode looks different";

  // A snapshot taken now is the whole picture, upright.
  const base::string16 folder = base::makeTempDirectory(u"reduced");
  const base::string16 path = base::joinPath(folder, u"Image.jpg");
  EXPECT_TRUE(snapshot.Save(path));
  std::string bytes;
  ASSERT_TRUE(base::readFile(path, &bytes));
  std::vector<uint8_t> pixels;
  int32_t w = 0, h = 0;
  ASSERT_TRUE(decodeJpeg(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &pixels, &w, &h));
  EXPECT_EQ(400, w);
  EXPECT_EQ(581, h);
  EXPECT_TRUE(readCard(pixels.data(), w * 3, FitRect{0, 0, w, h}).upright());
  base::removeTree(folder);
  video_.RemoveObserver(&sizes);
  video_.RemoveObserver(&snapshot);
  video_.RemoveObserver(&driver);
  SharedSection::unlink(section);
}

}  // namespace
}  // namespace component
