#include "components/video/video_converter.h"

#include "base/logging.h"

namespace component {

namespace {

// What every raw output carries along from its input.
void fillRawFields(const VideoFrame& in, int32_t width, int32_t height, VideoFrame* out) {
  out->picture_width = in.picture_width;
  out->picture_height = in.picture_height;
  out->width = width;
  out->height = height;
  out->pixel_format = kPixelFormat_24RGB;
  out->stride = width * 3;
  out->key_frame = in.key_frame;
  out->flags = in.flags;
  out->timestamp = in.timestamp;
}

}  // namespace

JPEGVideoDecoder::JPEGVideoDecoder() { ensurePictureLibrary(); }

bool JPEGVideoDecoder::Decode(const VideoFrame& in, VideoFrame* out) {
  return Decode(in, kMaxPictureSide + 1, kMaxPictureSide + 1, out);
}

bool JPEGVideoDecoder::Decode(const VideoFrame& in, int32_t minWidth, int32_t minHeight, VideoFrame* out) {
  if (in.data.empty()) return false;
  int32_t width = 0, height = 0, pictureWidth = 0, pictureHeight = 0;
  if (!decodeJpegAtLeast(in.data.data(), in.data.size(), minWidth, minHeight, &out->data, &width, &height,
                         &pictureWidth, &pictureHeight))
    return false;
  // The picture's own size, not the decoded one, is what the frame should
  // have announced.
  const bool reduced = pictureWidth != width || pictureHeight != height;
  if (pictureWidth != in.width || pictureHeight != in.height) {
    LOG(WARNING) << "The frame says " << in.width << "x" << in.height << " but its picture is " << pictureWidth
                 << "x" << pictureHeight << "; the picture's size is used";
  }
  fillRawFields(in, width, height, out);
  out->picture_width = reduced ? pictureWidth : 0;
  out->picture_height = reduced ? pictureHeight : 0;
  return true;
}

VideoRotator::VideoRotator() { ensurePictureLibrary(); }

bool VideoRotator::Convert(const VideoFrame& in, VideoFrame* out) {
  if (!checkRawFrame(in)) return false;
  const int angle = orientationAngle(in.flags);
  int32_t width = 0, height = 0;
  turnedSize(in.width, in.height, angle, &width, &height);
  if (!canvas_ || in.width != sourceWidth_ || in.height != sourceHeight_ || angle != angle_) {
    canvas_ = PictureCanvas::create(width, height);
    sourceWidth_ = in.width;
    sourceHeight_ = in.height;
    angle_ = angle;
    if (!canvas_) return false;
  }
  out->data.resize(static_cast<size_t>(width) * height * 3);
  if (!canvas_->turn(in.data.data(), in.width, in.height, in.rowBytes(), angle, out->data.data())) return false;
  fillRawFields(in, width, height, out);
  turnedSize(in.picture_width, in.picture_height, angle, &out->picture_width, &out->picture_height);
  out->flags = in.flags & ~kOrientationMask;
  return true;
}

VideoScaler::VideoScaler(FitMode mode) : mode_(mode) { ensurePictureLibrary(); }

bool VideoScaler::Scale(const VideoFrame& in, int32_t width, int32_t height, uint8_t* pixels) {
  if (!checkRawFrame(in)) return false;
  if (!pictureSizeAcceptable(width, height)) {
    LOG(ERROR) << "Cannot scale to " << width << "x" << height;
    return false;
  }
  if (!canvas_ || canvas_->width() != width || canvas_->height() != height) {
    canvas_ = PictureCanvas::create(width, height);
    if (!canvas_) return false;
  }
  // Placed by the whole picture's size: a reduced decode lands where the
  // whole picture would.
  const FitRect rect = fitRectangle(in.pictureWidth(), in.pictureHeight(), width, height, mode_);
  return canvas_->fit(in.data.data(), in.width, in.height, in.rowBytes(), rect, pixels);
}

bool VideoScaler::Convert(const VideoFrame& in, VideoFrame* out) {
  const int32_t width = out->width, height = out->height;
  if (!pictureSizeAcceptable(width, height)) {
    LOG(ERROR) << "Cannot scale to " << width << "x" << height;
    return false;
  }
  out->data.resize(static_cast<size_t>(width) * height * 3);
  if (!Scale(in, width, height, out->data.data())) return false;
  fillRawFields(in, width, height, out);
  out->picture_width = out->picture_height = 0;
  return true;
}

bool MirrorVideoFrame(const VideoFrame& in, VideoFrame* out) {
  if (!checkRawFrame(in)) return false;
  out->data.resize(static_cast<size_t>(in.width) * in.height * 3);
  if (!mirrorPixels(in.data.data(), in.width, in.height, in.rowBytes(), out->data.data())) return false;
  fillRawFields(in, in.width, in.height, out);
  return true;
}

}  // namespace component
