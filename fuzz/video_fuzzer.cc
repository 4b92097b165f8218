// Arbitrary video messages into the video component of a transport that
// has an accepted phone, both the dictionary form (a 2.0 phone) and the
// tagged-field form (a 1.9 phone). Nothing may crash or read past a buffer;
// every frame that reaches an observer is upright 24-bit pixels whose data
// holds exactly width x height x 3 bytes.
//
// The first byte picks the way: bit 0 the phone (2.0 or 1.9); bit 1 the
// rest is a whole message payload (raw), else it is a JPEG picture wrapped
// in a well-formed frame message whose flags and announced size come from
// the next five bytes, so the decoder and the turning see lying and broken
// pictures without the fuzzer having to find the message layout; bit 2 the
// mirror switch.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "base/logging.h"
#include "base/message_loop.h"
#include "base/values.h"
#include "components/component_message.h"
#include "components/component_test_support.h"
#include "components/session_gate.h"
#include "components/video/video_component.h"

namespace {

using namespace component;

struct Checker : VideoComponent::Observer {
  void OnVideoFrame(VideoComponent*, const VideoFrame& frame) override {
    if (frame.pixel_format != kPixelFormat_24RGB || frame.width <= 0 || frame.height <= 0 ||
        frame.data.size() != static_cast<size_t>(frame.width) * frame.height * 3 ||
        (frame.flags & kOrientationMask) != 0)
      std::abort();
  }
};

// One accepted phone per form, made once.
struct Session {
  explicit Session(const char* version) {
    transport.setApplicationId(12000);
    transport.setVersion("2.2.0.0");
    video.AddObserver(&checker);
    if (!phone.connect(version)) std::abort();
    gate.open();
  }
  transport::Transport transport;
  SessionGate gate{&transport};
  VideoComponent video{&transport, kVideoComponentId, &gate};
  Checker checker;
  FakePhone phone{&transport};
};

struct World {
  World() {
    base::setMinLogSeverity(base::LOG_FATAL + 1);
    modern = std::make_unique<Session>("2.0");
    older = std::make_unique<Session>("1.9");
  }
  base::MessageLoop loop;
  std::unique_ptr<Session> modern;
  std::unique_ptr<Session> older;
};

std::vector<uint8_t> wrap(const uint8_t* data, size_t size, bool dictionary) {
  uint8_t head[5] = {};
  for (size_t i = 0; i < 5 && i < size; ++i) head[i] = data[i];
  const size_t skip = size < 5 ? size : 5;
  const uint32_t flags = head[0];
  const int32_t width = static_cast<int16_t>(head[1] | head[2] << 8);
  const int32_t height = static_cast<int16_t>(head[3] | head[4] << 8);
  base::Pickle message = makeComponentMessage(VideoComponent::kMessageVideoFrame);
  if (dictionary) {
    base::DictionaryValue info;
    info.setInteger("ImageWidth", width);
    info.setInteger("ImageHeight", height);
    info.setInteger("FormatID", static_cast<int32_t>(kPixelFormat_JPEG));
    info.setInteger("Flags", static_cast<int32_t>(flags));
    info.setInteger("Stride", width * 3);
    base::writeDictionaryToPickle(info, &message);
  } else {
    writeTaggedInteger(&message, VideoComponent::kTagWidth, width);
    writeTaggedInteger(&message, VideoComponent::kTagHeight, height);
    writeTaggedInteger(&message, VideoComponent::kTagFormat, static_cast<int32_t>(kPixelFormat_JPEG));
    writeTaggedInteger(&message, VideoComponent::kTagFlags, static_cast<int32_t>(flags));
  }
  writeTaggedBytes(&message, VideoComponent::kTagData, data + skip, size - skip);
  return messageBytes(message);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static World* world = new World;
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  const bool dictionary = (mode & 1) == 0;
  Session* session = dictionary ? world->modern.get() : world->older.get();
  session->video.SetMirrorImage((mode & 4) != 0);
  if (mode & 2) {
    // The payload as the bearer delivers it: its size word, then the body.
    std::vector<uint8_t> payload;
    const uint32_t body = static_cast<uint32_t>(size - 1);
    for (int i = 0; i < 4; ++i) payload.push_back(static_cast<uint8_t>(body >> (8 * i)));
    payload.insert(payload.end(), data + 1, data + size);
    session->phone.sendRaw(kVideoComponentId, payload);
  } else {
    session->phone.sendRaw(kVideoComponentId, wrap(data + 1, size - 1, dictionary));
  }
  // The PC's answers (capabilities) are not looked at; keep memory flat.
  session->phone.bearer()->writes.clear();
  world->loop.runUntilIdle();
  return 0;
}
