// The platform's picture work, behind one small seam: JPEG decoding and
// encoding of 24-bit pixels (blue, green, red; rows top to bottom), and the
// drawing of a picture turned, mirrored or fitted into another. Windows uses
// GDI+; Linux libjpeg-turbo for the JPEG side and plain loops for drawing.
// Pixel buffers handed out are always tight: rows of width * 3 bytes.
//
// Thread: a codec or canvas is used by one thread at a time.
#ifndef COMPONENTS_VIDEO_PICTURE_CODEC_H_
#define COMPONENTS_VIDEO_PICTURE_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/string_util.h"
#include "components/video/video_geometry.h"

namespace component {

// Starts the imaging library for this process once (GDI+ on Windows; the
// program's start-up may have done so already). Nothing on Linux.
void ensurePictureLibrary();

// Decodes a JPEG file image. `pixels` is resized to width * height * 3.
// False (and no log line) when the image cannot be decoded, or (with a
// warning) when it is larger than the decoder takes.
bool decodeJpeg(const uint8_t* data, size_t size, std::vector<uint8_t>* pixels, int32_t* width,
                int32_t* height);

// The size of a JPEG file image's picture, read from its headers without
// decoding. False when the headers cannot be read, or where the platform
// does not look ahead (Windows: the picture is always decoded whole).
bool jpegPictureSize(const uint8_t* data, size_t size, int32_t* width, int32_t* height);

// decodeJpeg(), but the decoder may leave out detail: the picture comes out
// at the smallest of the decoder's reduced scales that is still at least
// `minWidth` x `minHeight` (the whole picture when none is). Linux only
// reduces (libjpeg-turbo's DCT scaling); Windows decodes the whole picture.
// `pictureWidth` and `pictureHeight` get the whole picture's size.
bool decodeJpegAtLeast(const uint8_t* data, size_t size, int32_t minWidth, int32_t minHeight,
                       std::vector<uint8_t>* pixels, int32_t* width, int32_t* height, int32_t* pictureWidth,
                       int32_t* pictureHeight);

// Encodes 24-bit pixels as a JPEG file image at the platform encoder's
// default quality.
bool encodeJpeg(const uint8_t* pixels, int32_t width, int32_t height, int32_t rowBytes,
                std::vector<uint8_t>* jpeg);

// Writes 24-bit pixels as a JPEG file.
bool saveJpeg(const uint8_t* pixels, int32_t width, int32_t height, int32_t rowBytes,
              const base::string16& path);

// Left to right flip into `out` (width * 3 byte rows).
bool mirrorPixels(const uint8_t* pixels, int32_t width, int32_t height, int32_t rowBytes, uint8_t* out);

// A destination picture of a fixed size, kept while the geometry stays the
// same so nothing is set up again per frame.
class PictureCanvas {
 public:
  static std::unique_ptr<PictureCanvas> create(int32_t width, int32_t height);
  virtual ~PictureCanvas() = default;

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }

  // Draws the source turned clockwise by `angle` (0, 90, 180, 270); the
  // canvas must have the turned size. Writes the result to `out`.
  virtual bool turn(const uint8_t* pixels, int32_t width, int32_t height, int32_t rowBytes, int angle,
                    uint8_t* out) = 0;
  // Fills the canvas black, draws the source scaled into `rect` (clipped to
  // the canvas) and writes the result to `out`.
  virtual bool fit(const uint8_t* pixels, int32_t width, int32_t height, int32_t rowBytes, const FitRect& rect,
                   uint8_t* out) = 0;

 protected:
  PictureCanvas(int32_t width, int32_t height) : width_(width), height_(height) {}

 private:
  int32_t width_;
  int32_t height_;
};

}  // namespace component

#endif  // COMPONENTS_VIDEO_PICTURE_CODEC_H_
