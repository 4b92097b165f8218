// The steps between the phone's JPEG and the picture a consumer shows: the
// decoder, the turning converter that stands a picture upright, the mirror
// step and the scaler that brings a picture to a consumer's size. They all
// work on VideoFrame; the pixel work itself is the platform's (GDI+ on
// Windows, libjpeg-turbo and plain loops on Linux, picture_codec.h).
//
// Thread: each object is used by one thread only (the transport thread).
#ifndef COMPONENTS_VIDEO_VIDEO_CONVERTER_H_
#define COMPONENTS_VIDEO_VIDEO_CONVERTER_H_

#include <cstdint>
#include <memory>

#include "components/video/picture_codec.h"
#include "components/video/video_frame.h"
#include "components/video/video_geometry.h"

namespace component {

class VideoDecoder {
 public:
  virtual ~VideoDecoder() = default;
  virtual bool Decode(const VideoFrame& in, VideoFrame* out) = 0;
};

// JPEG in `in.data` to 24-bit pixels. The picture's own size wins over the
// size the message announced (a warning says when they disagree), so later
// steps never read past the pixels.
class JPEGVideoDecoder : public VideoDecoder {
 public:
  JPEGVideoDecoder();
  bool Decode(const VideoFrame& in, VideoFrame* out) override;
  // The same, at a reduced scale when the platform's decoder offers one
  // that still gives at least `minWidth` x `minHeight` (picture's own
  // orientation); `out` then records the whole picture's size.
  bool Decode(const VideoFrame& in, int32_t minWidth, int32_t minHeight, VideoFrame* out);
};

class VideoConverter {
 public:
  virtual ~VideoConverter() = default;
  virtual bool Convert(const VideoFrame& in, VideoFrame* out) = 0;
};

// Turns a 24-bit picture by the angle its orientation code (flags bits 0-3)
// asks for and clears those bits. The destination is kept while the source
// size and the angle stay the same.
class VideoRotator : public VideoConverter {
 public:
  VideoRotator();
  bool Convert(const VideoFrame& in, VideoFrame* out) override;

 private:
  std::unique_ptr<PictureCanvas> canvas_;
  int32_t sourceWidth_ = -1;
  int32_t sourceHeight_ = -1;
  int angle_ = -1;
};

// Brings a 24-bit picture to the size `out` carries on entry, in the
// fitting mode given at construction.
class VideoScaler : public VideoConverter {
 public:
  explicit VideoScaler(FitMode mode);
  bool Convert(const VideoFrame& in, VideoFrame* out) override;
  // The same, written straight to `pixels` (width * height * 3 bytes).
  bool Scale(const VideoFrame& in, int32_t width, int32_t height, uint8_t* pixels);

 private:
  const FitMode mode_;
  std::unique_ptr<PictureCanvas> canvas_;
};

// Flips a 24-bit picture left to right.
bool MirrorVideoFrame(const VideoFrame& in, VideoFrame* out);

}  // namespace component

#endif  // COMPONENTS_VIDEO_VIDEO_CONVERTER_H_
