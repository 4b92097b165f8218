#include "tools/phonesim/video_sender.h"

#include <algorithm>
#include <cctype>
#include <chrono>

#include "base/file_util.h"
#include "base/pickle.h"
#include "base/values.h"
#include "components/component_message.h"
#include "components/video/picture_codec.h"
#include "components/video/test_card.h"
#include "tools/phonesim/session_messages.h"
#include "components/video/video_component.h"

namespace phonesim {

namespace {

constexpr uintptr_t kFrameTimer = 1;
constexpr uint32_t kTickMs = 5;
// How many different test cards are prepared (the marker moves through them).
constexpr uint32_t kPatternFrames = 30;

int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && std::equal(tail.rbegin(), tail.rend(), text.rbegin(),
                                                   [](char a, char b) { return std::tolower(a) == std::tolower(b); });
}

bool addPicture(std::vector<uint8_t> jpeg, std::vector<VideoPicture>* pictures) {
  VideoPicture picture;
  std::vector<uint8_t> pixels;
  if (!component::decodeJpeg(jpeg.data(), jpeg.size(), &pixels, &picture.width, &picture.height)) return false;
  picture.jpeg = std::move(jpeg);
  pictures->push_back(std::move(picture));
  return true;
}

}  // namespace

std::vector<std::vector<uint8_t>> splitMjpeg(const std::vector<uint8_t>& bytes) {
  std::vector<std::vector<uint8_t>> pictures;
  size_t start = std::string::npos;
  for (size_t i = 0; i + 1 < bytes.size(); ++i) {
    if (bytes[i] != 0xFF) continue;
    if (bytes[i + 1] == 0xD8 && start == std::string::npos) {
      start = i;
    } else if (bytes[i + 1] == 0xD9 && start != std::string::npos) {
      pictures.emplace_back(bytes.begin() + static_cast<ptrdiff_t>(start), bytes.begin() + static_cast<ptrdiff_t>(i + 2));
      start = std::string::npos;
      ++i;
    }
  }
  return pictures;
}

bool loadVideoPictures(const VideoOptions& options, std::vector<VideoPicture>* pictures, std::string* error) {
  pictures->clear();
  if (options.source == "pattern") {
    for (uint32_t phase = 0; phase < kPatternFrames; ++phase) {
      const component::VideoFrame taken = component::takeAsPhone(
          component::makeTestCard(options.width, options.height, phase), options.orientation);
      VideoPicture picture;
      picture.width = taken.width;
      picture.height = taken.height;
      if (!component::encodeJpeg(taken.data.data(), taken.width, taken.height, taken.rowBytes(), &picture.jpeg)) {
        *error = "cannot encode the test card";
        return false;
      }
      pictures->push_back(std::move(picture));
    }
    return true;
  }
  const base::string16 path = base::utf8ToWide(options.source);
  if (base::isDirectory(path)) {
    std::vector<base::string16> names = base::listDirectory(path);
    std::sort(names.begin(), names.end());
    for (const base::string16& name : names) {
      const std::string narrow = base::wideToUtf8(name);
      if (!endsWith(narrow, ".jpg") && !endsWith(narrow, ".jpeg")) continue;
      std::string bytes;
      if (base::readFile(base::joinPath(path, name), &bytes)) addPicture({bytes.begin(), bytes.end()}, pictures);
    }
  } else {
    std::string bytes;
    if (!base::readFile(path, &bytes)) {
      *error = "cannot read " + options.source;
      return false;
    }
    for (auto& jpeg : splitMjpeg({bytes.begin(), bytes.end()})) addPicture(std::move(jpeg), pictures);
  }
  if (pictures->empty()) {
    *error = "no JPEG pictures in " + options.source;
    return false;
  }
  return true;
}

std::vector<uint8_t> sourceInfoMessage(bool dictionary) {
  base::Pickle message = component::makeComponentMessage(component::VideoComponent::kMessageSourceInfo);
  if (dictionary) {
    base::DictionaryValue camera;
    camera.setString("DeviceName", "Back Camera");
    camera.setInteger("FormatID", static_cast<int32_t>(component::kPixelFormat_JPEG));
    base::writeDictionaryToPickle(camera, &message);
  }
  return component::messageBytes(message);
}

std::vector<uint8_t> videoFrameMessage(const VideoPicture& picture, uint32_t flags, int64_t timestamp,
                                       bool dictionary) {
  using component::VideoComponent;
  base::Pickle message = component::makeComponentMessage(VideoComponent::kMessageVideoFrame);
  const int32_t format = static_cast<int32_t>(component::kPixelFormat_JPEG);
  if (dictionary) {
    base::DictionaryValue info;
    info.setInteger("ImageWidth", picture.width);
    info.setInteger("ImageHeight", picture.height);
    info.setInteger("FormatID", format);
    info.setInt64("Timestamp", timestamp);
    info.setInteger("KeyFrame", 1);
    info.setInteger("Flags", static_cast<int32_t>(flags));
    base::writeDictionaryToPickle(info, &message);
    component::writeTaggedBytes(&message, 1, picture.jpeg.data(), picture.jpeg.size());
  } else {
    component::writeTaggedInteger(&message, VideoComponent::kTagWidth, picture.width);
    component::writeTaggedInteger(&message, VideoComponent::kTagHeight, picture.height);
    component::writeTaggedInteger(&message, VideoComponent::kTagFormat, format);
    component::writeTaggedInteger(&message, VideoComponent::kTagKeyFrame, 1);
    component::writeTaggedInteger(&message, VideoComponent::kTagFlags, static_cast<int32_t>(flags));
    component::writeTaggedBytes(&message, VideoComponent::kTagData, picture.jpeg.data(), picture.jpeg.size());
  }
  return component::messageBytes(message);
}

VideoSender::VideoSender(PhoneConnection* phone, const VideoOptions& options, bool dictionary,
                         std::vector<VideoPicture> pictures)
    : phone_(phone), options_(options), dictionary_(dictionary), pictures_(std::move(pictures)) {
  if (options_.fps == 0) options_.fps = 1;
}

VideoSender::~VideoSender() = default;

void VideoSender::start() {
  if (window_ || pictures_.empty()) return;
  window_ = std::make_unique<base::MessageWindow>(u"com.quillonlabs.phonesim.VideoSender",
                                                  static_cast<base::MessageWindow::Handler*>(this));
  phone_->sendMessage(component::kVideoComponentId, sourceInfoMessage(dictionary_));
  startMs_ = nowMs();
  sendNext();
  if (!done_) window_->setTimer(kFrameTimer, kTickMs);
}

void VideoSender::stop() {
  if (window_) window_->killTimer(kFrameTimer);
}

void VideoSender::onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t) {
  if (msg != base::kMsgTimer || wparam != kFrameTimer || done_) return;
  // Frames go out on a fixed schedule; a late tick catches up by one frame.
  const int64_t due = startMs_ + static_cast<int64_t>(sent_) * 1000 / options_.fps;
  if (nowMs() >= due) sendNext();
}

void VideoSender::sendNext() {
  if (!phone_->isConnected()) {
    stop();
    return;
  }
  const VideoPicture& picture = pictures_[sent_ % pictures_.size()];
  const int64_t timestamp = nowMs() - startMs_;
  phone_->sendMessage(component::kVideoComponentId,
                      videoFrameMessage(picture, options_.orientation, timestamp, dictionary_));
  const uint32_t index = sent_++;
  if (onFrameSent) onFrameSent(index);
  if (options_.frames != 0 && sent_ >= options_.frames) {
    done_ = true;
    stop();
    if (onDone) onDone();
  }
}

bool startVideoSession(base::MessageLoop* loop, PhoneConnection* phone, uint16_t port,
                       const PhoneIdentity& identity, const std::string& uid, const std::string& name,
                       std::string* error) {
  constexpr int kTurns = 500;  // of 10 ms each, for each step
  if (!phone->connect("127.0.0.1", port, 5000, error)) return false;
  for (int i = 0; i < kTurns && !phone->isConnected(); ++i) loop->runFor(10);
  phone->sendHandshake(identity);
  for (int i = 0; i < kTurns && !phone->serverHandshake() && phone->isConnected(); ++i) loop->runFor(10);
  if (!phone->serverHandshake()) {
    *error = "the PC did not answer the handshake";
    return false;
  }
  phone->sendMessage(kAuthType, authData(uid, name));
  phone->sendMessage(component::kVideoComponentId, sourceInfoMessage(true));
  return true;
}

std::vector<std::vector<uint8_t>> videoFrameMessages(const VideoOptions& options, std::string* error) {
  std::vector<VideoPicture> pictures;
  std::vector<std::vector<uint8_t>> messages;
  if (!loadVideoPictures(options, &pictures, error)) return messages;
  for (const auto& picture : pictures) messages.push_back(videoFrameMessage(picture, options.orientation, 0, true));
  return messages;
}

}  // namespace phonesim
