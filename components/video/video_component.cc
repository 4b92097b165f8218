#include "components/video/video_component.h"

#include <algorithm>

#include "base/logging.h"
#include "components/component_message.h"
#include "components/session_gate.h"
#include "transport/handshake.h"
#include "transport/message_bearer.h"

namespace component {

namespace {

const char kProfileJpeg[] = "jpeg";

void resetFrame(VideoFrame* frame) {
  frame->width = -1;
  frame->height = -1;
  frame->key_frame = false;
  frame->pixel_format = kPixelFormatUnknown;
  frame->data.clear();  // keeps the capacity for the next frame
  frame->flags = 0;
  frame->stride = 0;
  frame->timestamp = 0;
}

}  // namespace

bool readDictionaryFrame(base::PickleIterator* iter, VideoFrame* frame) {
  std::unique_ptr<base::DictionaryValue> info = base::readDictionaryFromPickle(iter);
  if (!info) return false;
  int32_t value = 0;
  if (info->getInteger("ImageWidth", &value)) frame->width = value;
  if (info->getInteger("ImageHeight", &value)) frame->height = value;
  if (info->getInteger("FormatID", &value)) frame->pixel_format = static_cast<uint32_t>(value);
  if (info->getInteger("Stride", &value)) frame->stride = value;
  if (info->getInteger("KeyFrame", &value)) frame->key_frame = value != 0;
  if (info->getInteger("Flags", &value)) frame->flags = static_cast<uint32_t>(value);
  int64_t timestamp = 0;
  if (info->getInt64("Timestamp", &timestamp)) frame->timestamp = timestamp;
  // The picture bytes follow as one tagged field whose tag is not checked.
  TaggedFieldReader reader(iter);
  TaggedField field;
  if (reader.next(&field) == TaggedFieldReader::kField && field.kind == kTaggedBytes)
    frame->data.assign(field.data, field.data + field.length);
  return true;
}

void readTaggedFrame(base::PickleIterator* iter, VideoFrame* frame) {
  TaggedFieldReader reader(iter);
  TaggedField field;
  while (reader.next(&field) == TaggedFieldReader::kField) {
    const bool integer = field.kind == kTaggedInteger;
    switch (field.tag) {
      case VideoComponent::kTagWidth:
      case VideoComponent::kTagHeight:
      case VideoComponent::kTagFormat:
      case VideoComponent::kTagKeyFrame:
      case VideoComponent::kTagFlags:
        if (!integer) return;  // a known tag of the wrong kind ends the parse
        break;
      case VideoComponent::kTagData:
        if (integer) return;
        break;
      default:
        continue;  // unknown tags are skipped by their kind
    }
    switch (field.tag) {
      case VideoComponent::kTagWidth: frame->width = field.integer; break;
      case VideoComponent::kTagHeight: frame->height = field.integer; break;
      case VideoComponent::kTagFormat: frame->pixel_format = static_cast<uint32_t>(field.integer); break;
      case VideoComponent::kTagKeyFrame: frame->key_frame = field.integer != 0; break;
      case VideoComponent::kTagFlags: frame->flags = static_cast<uint32_t>(field.integer); break;
      case VideoComponent::kTagData: frame->data.assign(field.data, field.data + field.length); break;
    }
  }
}

VideoComponent::VideoComponent(transport::Transport* transport, uint32_t componentId, SessionGate* gate)
    : TransportObserverImpl(transport, componentId), gate_(gate), rotator_(std::make_unique<VideoRotator>()) {}

VideoComponent::~VideoComponent() {
  rotator_.reset();
  decoder_.reset();
  sourceInfo_.reset();
}

void VideoComponent::AddObserver(Observer* observer) { observers_.addObserver(observer); }

void VideoComponent::RemoveObserver(Observer* observer) { observers_.removeObserver(observer); }

void VideoComponent::SetMirrorImage(bool mirror) { mirror_ = mirror; }

void VideoComponent::onClientDidConnect(transport::Transport* transport) {
  const transport::MessageBearer* bearer = transport->clientBearer();
  // A phone whose version is not known counts as an older one.
  peerUsesDictionaries_ =
      bearer && !bearer->clientVersion().parts().empty() &&
      bearer->clientVersion() >= transport::Version::fromString("2.0");
  capabilityAnswers_.reset();
}

void VideoComponent::onMessage(transport::Transport*, uint32_t, const std::vector<uint8_t>& payload) {
  ComponentMessageReader message(payload);
  switch (message.kind()) {
    case kMessageSourceInfo:
      onSourceInfo(message.iterator());
      break;
    case kMessageVideoFrame:
      onVideoFrame(message.iterator());
      break;
    default:
      break;
  }
}

void VideoComponent::onSourceInfo(base::PickleIterator* iter) {
  // Checked first: a peer asking in a loop must not flood the log either.
  if (!capabilityAnswers_.take()) return;
  LOG(INFO) << "Received source info";
  sourceInfo_.reset();
  if (!peerUsesDictionaries_) {
    LOG(INFO) << "Sending capabilities... (old format)";
    sendCapabilities();
    return;
  }
  sourceInfo_ = base::readDictionaryFromPickle(iter);
  if (!sourceInfo_) LOG(ERROR) << "Couldn't read message info";
  LOG(INFO) << "Sending capabilities...";
  sendCapabilities();
}

void VideoComponent::sendCapabilities() {
  base::Pickle message = makeComponentMessage(kMessageCapabilities);
  if (peerUsesDictionaries_) {
    base::DictionaryValue capabilities;
    auto profiles = std::make_unique<base::ListValue>();
    profiles->append(std::make_unique<base::StringValue>(kProfileJpeg));
    capabilities.set("ProfileList", std::move(profiles));
    auto jpeg = std::make_unique<base::DictionaryValue>();
    jpeg->setString("ProfileID", kProfileJpeg);
    jpeg->setInteger("FormatID", static_cast<int32_t>(kPixelFormat_JPEG));
    capabilities.set(kProfileJpeg, std::move(jpeg));
    if (!base::writeDictionaryToPickle(capabilities, &message)) return;
  } else {
    writeTaggedInteger(&message, kTagFormatId, static_cast<int32_t>(kPixelFormat_JPEG));
  }
  sendMessage(message);
}

void VideoComponent::onVideoFrame(base::PickleIterator* iter) {
  resetFrame(&input_);
  if (peerUsesDictionaries_) {
    if (!readDictionaryFrame(iter, &input_)) {
      LOG(ERROR) << "Couldn't read message info";
      resetFrame(&input_);
    }
  } else {
    readTaggedFrame(iter, &input_);
  }
  // The gate is asked only for frames that would otherwise be shown.
  if (input_.pixel_format != kPixelFormat_JPEG || input_.data.empty()) return;
  if (!gate_->admit(SessionGate::kVideoFrames)) return;
  if (!ProcessFrame(input_, &output_)) return;
  // Kept (by swapping, not copying) for LastPicture().
  std::swap(input_, shown_);
  shownMirrored_ = mirror_;
  FOR_EACH_OBSERVER(Observer, observers_, OnVideoFrame(this, output_));
}

bool VideoComponent::ProcessFrame(const VideoFrame& in, VideoFrame* out) { return processFrame(in, false, out); }

bool VideoComponent::LastPicture(VideoFrame* out) {
  if (shown_.data.empty()) return false;
  const bool mirror = mirror_;
  mirror_ = shownMirrored_;
  const bool ok = processFrame(shown_, true, out);
  mirror_ = mirror;
  return ok;
}

bool VideoComponent::processFrame(const VideoFrame& in, bool whole, VideoFrame* out) {
  if (in.pixel_format != kPixelFormat_JPEG) return false;
  // The decoder is never given an empty buffer.
  if (in.data.empty()) return false;
  if (!decoder_) decoder_ = std::make_unique<JPEGVideoDecoder>();
  // The least the observers want of the upright picture, turned back into
  // the picture's own orientation for the decoder.
  int32_t minWidth = kMaxPictureSide + 1, minHeight = kMaxPictureSide + 1;
  int32_t pictureWidth = 0, pictureHeight = 0;
  if (!whole && jpegPictureSize(in.data.data(), in.data.size(), &pictureWidth, &pictureHeight)) {
    const int angle = orientationAngle(in.flags);
    int32_t uprightWidth = 0, uprightHeight = 0;
    turnedSize(pictureWidth, pictureHeight, angle, &uprightWidth, &uprightHeight);
    // Nobody to ask: the whole picture, for whoever called.
    int32_t wantedWidth = observers_.empty() ? uprightWidth : 0;
    int32_t wantedHeight = observers_.empty() ? uprightHeight : 0;
    observers_.forEach([&](Observer* observer) {
      int32_t w = uprightWidth, h = uprightHeight;
      observer->WantedPictureSize(uprightWidth, uprightHeight, &w, &h);
      wantedWidth = std::max(wantedWidth, w);
      wantedHeight = std::max(wantedHeight, h);
    });
    turnedSize(wantedWidth, wantedHeight, angle, &minWidth, &minHeight);
  }
  if (!decoder_->Decode(in, minWidth, minHeight, &decoded_)) return false;
  const VideoFrame* current = &decoded_;
  VideoFrame* spare = out;
  if (in.flags & kOrientationMask) {
    if (!rotator_->Convert(*current, spare)) return false;
    current = spare;
    spare = &decoded_;
  }
  if (mirror_) {
    if (!MirrorVideoFrame(*current, spare)) return false;
    current = spare;
  }
  if (current != out) std::swap(*out, decoded_);
  return true;
}

}  // namespace component
