// The phone's camera: announces itself to the PC's video component and
// streams JPEG frames at a steady rate, in the dictionary form (phones from
// version 2.0) or the tagged-field form (older ones). The pictures come
// from a folder of .jpg files, an .mjpeg file (JPEG pictures one after the
// other), or the generated test card held in a chosen orientation.
//
// Thread: the thread that runs the connection's message loop.
#ifndef TOOLS_PHONESIM_VIDEO_SENDER_H_
#define TOOLS_PHONESIM_VIDEO_SENDER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/message_loop.h"
#include "tools/phonesim/phone_connection.h"

namespace phonesim {

struct VideoOptions {
  // "" (no video), "pattern", a folder of .jpg files or an .mjpeg file.
  std::string source;
  uint32_t fps = 15;
  // Orientation code of the frames (flags bits 0-3): 0, 1, 2, 4 or 8.
  uint32_t orientation = 0;
  // Size of the upright test card.
  int32_t width = 480;
  int32_t height = 360;
  // Frames to send; 0: until the connection ends.
  uint32_t frames = 0;
};

struct VideoPicture {
  std::vector<uint8_t> jpeg;
  int32_t width = 0;
  int32_t height = 0;
};

// The pictures of `options.source`; false with a message when there are none.
bool loadVideoPictures(const VideoOptions& options, std::vector<VideoPicture>* pictures, std::string* error);
// The JPEG pictures of an .mjpeg stream, split at their start and end marks.
std::vector<std::vector<uint8_t>> splitMjpeg(const std::vector<uint8_t>& bytes);

// Component message bodies of the video component (13001).
std::vector<uint8_t> sourceInfoMessage(bool dictionary);
std::vector<uint8_t> videoFrameMessage(const VideoPicture& picture, uint32_t flags, int64_t timestamp,
                                       bool dictionary);

// A phone on loopback that has passed the handshake and sent its
// authorization data (`uid`, `name`) and its camera's description, turning
// `loop` while it waits: how the benchmarks and the soak start a session.
// False with a message when the PC could not be reached or did not answer.
bool startVideoSession(base::MessageLoop* loop, PhoneConnection* phone, uint16_t port,
                       const PhoneIdentity& identity, const std::string& uid, const std::string& name,
                       std::string* error);
// The frame messages (dictionary form) of `options`' pictures, held in its
// orientation; empty with a message when there are no pictures.
std::vector<std::vector<uint8_t>> videoFrameMessages(const VideoOptions& options, std::string* error);

class VideoSender : private base::MessageWindow::Handler {
 public:
  VideoSender(PhoneConnection* phone, const VideoOptions& options, bool dictionary,
              std::vector<VideoPicture> pictures);
  ~VideoSender() override;

  // Sends the camera's description, then a frame every 1/fps seconds.
  void start();
  void stop();
  uint32_t sent() const { return sent_; }
  bool done() const { return done_; }
  // Called right after each frame went to the connection (index from 0).
  std::function<void(uint32_t index)> onFrameSent;
  // Called once the last frame (options.frames) has gone.
  std::function<void()> onDone;

 private:
  void onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) override;
  void sendNext();

  PhoneConnection* phone_;
  VideoOptions options_;
  bool dictionary_;
  std::vector<VideoPicture> pictures_;
  std::unique_ptr<base::MessageWindow> window_;
  uint32_t sent_ = 0;
  bool done_ = false;
  int64_t startMs_ = 0;
};

}  // namespace phonesim

#endif  // TOOLS_PHONESIM_VIDEO_SENDER_H_
