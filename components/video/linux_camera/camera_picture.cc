#include "components/video/linux_camera/camera_picture.h"

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/logging.h"

namespace component {
namespace {

// The card's colours, blue green red.
constexpr uint8_t kFieldColour[3] = {64, 48, 40};
constexpr uint8_t kInkColour[3] = {210, 210, 210};
// How far a colour may drift through the 4:2:0 formats and back.
constexpr int kColourTolerance = 28;

// Where the card's phone outline lies for a picture of that size.
struct CardLayout {
  int32_t phoneLeft, phoneTop, phoneWidth, phoneHeight, line;
  int32_t textTop, textScale;
};

CardLayout cardLayout(int32_t width, int32_t height) {
  CardLayout layout;
  layout.phoneHeight = std::max(8, height * 2 / 5);
  layout.phoneWidth = std::max(4, layout.phoneHeight / 2);
  layout.phoneLeft = (width - layout.phoneWidth) / 2;
  layout.phoneTop = height * 3 / 20;
  layout.line = std::max(2, layout.phoneHeight / 24);
  layout.textTop = layout.phoneTop + layout.phoneHeight + height / 12;
  layout.textScale = 0;
  return layout;
}

constexpr char kCardText[] = "WAITING FOR THE PHONE";

// 5 x 7 letters, one row a byte, the leftmost column in bit 4.
const uint8_t* glyph(char c) {
  static const uint8_t kW[7] = {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A};
  static const uint8_t kA[7] = {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11};
  static const uint8_t kI[7] = {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x1F};
  static const uint8_t kT[7] = {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04};
  static const uint8_t kN[7] = {0x11, 0x19, 0x15, 0x13, 0x11, 0x11, 0x11};
  static const uint8_t kG[7] = {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F};
  static const uint8_t kF[7] = {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10};
  static const uint8_t kO[7] = {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E};
  static const uint8_t kR[7] = {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11};
  static const uint8_t kH[7] = {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11};
  static const uint8_t kE[7] = {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F};
  static const uint8_t kP[7] = {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10};
  switch (c) {
    case 'W': return kW;
    case 'A': return kA;
    case 'I': return kI;
    case 'T': return kT;
    case 'N': return kN;
    case 'G': return kG;
    case 'F': return kF;
    case 'O': return kO;
    case 'R': return kR;
    case 'H': return kH;
    case 'E': return kE;
    case 'P': return kP;
    default: return nullptr;
  }
}

void fillRect(uint8_t* bgr, int32_t width, int32_t height, int32_t x, int32_t y, int32_t w, int32_t h,
              const uint8_t colour[3]) {
  const int32_t x0 = std::max(0, x), y0 = std::max(0, y);
  const int32_t x1 = std::min(width, x + w), y1 = std::min(height, y + h);
  for (int32_t row = y0; row < y1; ++row) {
    uint8_t* p = bgr + (static_cast<size_t>(row) * width + x0) * 3;
    for (int32_t col = x0; col < x1; ++col, p += 3) std::memcpy(p, colour, 3);
  }
}

bool near(const uint8_t* pixel, const uint8_t colour[3]) {
  for (int i = 0; i < 3; ++i)
    if (std::abs(static_cast<int>(pixel[i]) - colour[i]) > kColourTolerance) return false;
  return true;
}

AVPixelFormat avFormat(CameraFormat format) {
  switch (format) {
    case CameraFormat::kI420: return AV_PIX_FMT_YUV420P;
    case CameraFormat::kYUY2: return AV_PIX_FMT_YUYV422;
    case CameraFormat::kBGR: return AV_PIX_FMT_BGR24;
  }
  return AV_PIX_FMT_BGR24;
}

// The planes of a packed picture of that format.
void planes(CameraFormat format, int32_t width, int32_t height, uint8_t* base, uint8_t* data[4], int lines[4]) {
  for (int i = 0; i < 4; ++i) {
    data[i] = nullptr;
    lines[i] = 0;
  }
  data[0] = base;
  lines[0] = cameraRowBytes(format, width);
  if (format == CameraFormat::kI420) {
    const size_t luma = static_cast<size_t>(width) * height;
    data[1] = base + luma;
    data[2] = data[1] + luma / 4;
    lines[1] = lines[2] = width / 2;
  }
}

}  // namespace

const char* cameraFormatName(CameraFormat format) {
  switch (format) {
    case CameraFormat::kI420: return "I420";
    case CameraFormat::kYUY2: return "YUY2";
    case CameraFormat::kBGR: return "BGR";
  }
  return "?";
}

bool parseCameraSize(const std::string& text, int32_t* width, int32_t* height) {
  const size_t x = text.find_first_of("xX");
  if (x == std::string::npos || x == 0 || x + 1 >= text.size() || x > 5 || text.size() - x - 1 > 5) return false;
  int32_t w = 0, h = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == x) continue;
    if (text[i] < '0' || text[i] > '9') return false;
    int32_t& side = i < x ? w : h;
    side = side * 10 + (text[i] - '0');
  }
  if (w < kCameraSizeMinSide || h < kCameraSizeMinSide || w > kCameraSizeMaxWidth || h > kCameraSizeMaxHeight ||
      w % 2 != 0 || h % 2 != 0)
    return false;
  *width = w;
  *height = h;
  return true;
}

size_t cameraFrameBytes(CameraFormat format, int32_t width, int32_t height) {
  const size_t pixels = static_cast<size_t>(width) * height;
  switch (format) {
    case CameraFormat::kI420: return pixels * 3 / 2;
    case CameraFormat::kYUY2: return pixels * 2;
    case CameraFormat::kBGR: return pixels * 3;
  }
  return 0;
}

int32_t cameraRowBytes(CameraFormat format, int32_t width) {
  switch (format) {
    case CameraFormat::kI420: return width;
    case CameraFormat::kYUY2: return width * 2;
    case CameraFormat::kBGR: return width * 3;
  }
  return 0;
}

void drawWaitingCard(int32_t width, int32_t height, uint8_t* bgr) {
  fillRect(bgr, width, height, 0, 0, width, height, kFieldColour);
  const CardLayout l = cardLayout(width, height);
  // The phone: an outline with a button under its screen.
  fillRect(bgr, width, height, l.phoneLeft, l.phoneTop, l.phoneWidth, l.line, kInkColour);
  fillRect(bgr, width, height, l.phoneLeft, l.phoneTop + l.phoneHeight - l.line, l.phoneWidth, l.line, kInkColour);
  fillRect(bgr, width, height, l.phoneLeft, l.phoneTop, l.line, l.phoneHeight, kInkColour);
  fillRect(bgr, width, height, l.phoneLeft + l.phoneWidth - l.line, l.phoneTop, l.line, l.phoneHeight, kInkColour);
  const int32_t button = l.line * 2;
  fillRect(bgr, width, height, l.phoneLeft + (l.phoneWidth - button) / 2,
           l.phoneTop + l.phoneHeight - l.line - button * 2, button, button, kInkColour);
  // The words, as wide as four fifths of the picture allow.
  const int32_t cells = static_cast<int32_t>(sizeof(kCardText) - 1) * 6 - 1;
  const int32_t scale = std::max(1, width * 4 / 5 / cells);
  int32_t x = (width - cells * scale) / 2;
  for (const char* c = kCardText; *c; ++c, x += 6 * scale) {
    const uint8_t* rows = glyph(*c);
    if (!rows) continue;
    for (int32_t r = 0; r < 7; ++r)
      for (int32_t col = 0; col < 5; ++col)
        if (rows[r] & (0x10 >> col))
          fillRect(bgr, width, height, x + col * scale, l.textTop + r * scale, scale, scale, kInkColour);
  }
}

bool looksLikeWaitingCard(const uint8_t* bgr, int32_t width, int32_t height) {
  auto at = [&](int32_t x, int32_t y) { return bgr + (static_cast<size_t>(y) * width + x) * 3; };
  const CardLayout l = cardLayout(width, height);
  const int32_t m = 2;
  return near(at(m, m), kFieldColour) && near(at(width - 1 - m, m), kFieldColour) &&
         near(at(m, height - 1 - m), kFieldColour) && near(at(width - 1 - m, height - 1 - m), kFieldColour) &&
         near(at(l.phoneLeft + l.line / 2, l.phoneTop + l.phoneHeight / 2), kInkColour) &&
         near(at(l.phoneLeft + l.phoneWidth - 1 - l.line / 2, l.phoneTop + l.phoneHeight / 2), kInkColour) &&
         near(at(width / 2, l.phoneTop + l.phoneHeight / 3), kFieldColour);
}

namespace {

// Black in the camera's I420 (video range), over rows [top, bottom) and
// within them the columns outside [left, right).
void blackenI420(uint8_t* i420, int32_t width, int32_t height, int32_t top, int32_t bottom, int32_t left,
                 int32_t right) {
  uint8_t* data[4];
  int lines[4];
  planes(CameraFormat::kI420, width, height, i420, data, lines);
  auto band = [&](int plane, int32_t shift, uint8_t value) {
    const int32_t w = width >> shift, h = height >> shift;
    const int32_t t = top >> shift, b = bottom >> shift, l = left >> shift, r = right >> shift;
    for (int32_t y = 0; y < h; ++y) {
      uint8_t* row = data[plane] + static_cast<ptrdiff_t>(y) * lines[plane];
      if (y < t || y >= b) {
        std::memset(row, value, static_cast<size_t>(w));
      } else {
        std::memset(row, value, static_cast<size_t>(l));
        std::memset(row + r, value, static_cast<size_t>(w - r));
      }
    }
  };
  band(0, 0, 16);
  band(1, 1, 128);
  band(2, 1, 128);
}

}  // namespace

PictureFitter::PictureFitter() = default;

PictureFitter::~PictureFitter() { sws_freeContext(context_); }

bool PictureFitter::convertInto(const uint8_t* bgr, int32_t rowBytes, int32_t sourceWidth, int32_t sourceHeight,
                                const FitRect& rect, int32_t width, int32_t height, uint8_t* i420) {
  if (!context_ || sourceWidth != sourceWidth_ || sourceHeight != sourceHeight_) {
    sws_freeContext(context_);
    context_ = sws_getContext(sourceWidth, sourceHeight, AV_PIX_FMT_BGR24, sourceWidth, sourceHeight,
                              AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    sourceWidth_ = sourceWidth;
    sourceHeight_ = sourceHeight;
    if (!context_) {
      LOG(ERROR) << "Can't convert pictures of " << sourceWidth << "x" << sourceHeight << " to I420";
      return false;
    }
  }
  uint8_t* dst[4];
  int dstLines[4];
  planes(CameraFormat::kI420, width, height, i420, dst, dstLines);
  // The rectangle is even in every coordinate, so the chroma planes start
  // at half of it.
  dst[0] += static_cast<ptrdiff_t>(rect.y) * dstLines[0] + rect.x;
  dst[1] += static_cast<ptrdiff_t>(rect.y / 2) * dstLines[1] + rect.x / 2;
  dst[2] += static_cast<ptrdiff_t>(rect.y / 2) * dstLines[2] + rect.x / 2;
  const uint8_t* src[4] = {bgr, nullptr, nullptr, nullptr};
  const int srcLines[4] = {rowBytes, 0, 0, 0};
  if (sws_scale(context_, src, srcLines, 0, sourceHeight, dst, dstLines) != rect.height) return false;
  if (rect.width != width || rect.height != height)
    blackenI420(i420, width, height, rect.y, rect.y + rect.height, rect.x, rect.x + rect.width);
  return true;
}

bool PictureFitter::fit(const VideoFrame& frame, int32_t width, int32_t height, uint8_t* i420) {
  if (!checkRawFrame(frame)) return false;
  const FitRect rect = fitRectangle(frame.pictureWidth(), frame.pictureHeight(), width, height, kFitInside);
  const bool even = rect.x % 2 == 0 && rect.y % 2 == 0 && rect.width % 2 == 0 && rect.height % 2 == 0;
  if (even && rect.x >= 0 && rect.y >= 0 && rect.width == frame.width && rect.height == frame.height &&
      rect.x + rect.width <= width && rect.y + rect.height <= height) {
    return convertInto(frame.data.data(), frame.rowBytes(), frame.width, frame.height, rect, width, height, i420);
  }
  // Another size: the 24-bit fit, then the conversion of the whole canvas.
  if (!scaler_) scaler_ = std::make_unique<VideoScaler>(kFitInside);
  canvas_.resize(static_cast<size_t>(width) * height * 3);
  if (!scaler_->Scale(frame, width, height, canvas_.data())) return false;
  return convert(canvas_.data(), width, height, i420);
}

bool PictureFitter::convert(const uint8_t* bgr, int32_t width, int32_t height, uint8_t* i420) {
  return convertInto(bgr, width * 3, width, height, FitRect{0, 0, width, height}, width, height, i420);
}

PictureFormatter::PictureFormatter() = default;

PictureFormatter::~PictureFormatter() { sws_freeContext(context_); }

bool PictureFormatter::format(const uint8_t* i420, int32_t width, int32_t height, CameraFormat format,
                              uint8_t* out) {
  if (format == CameraFormat::kI420) {
    std::memcpy(out, i420, cameraFrameBytes(format, width, height));
    return true;
  }
  if (!context_ || width != width_ || height != height_ || format != format_) {
    sws_freeContext(context_);
    // Same size: libswscale's unscaled paths (a repack for YUY2, its
    // vectorised YUV to RGB for 24 bits). Point sampling keeps YUY2 on the
    // repack, each chroma row used for the two picture rows it covers.
    context_ = sws_getContext(width, height, AV_PIX_FMT_YUV420P, width, height, avFormat(format), SWS_POINT,
                              nullptr, nullptr, nullptr);
    width_ = width;
    height_ = height;
    format_ = format;
    if (!context_) {
      LOG(ERROR) << "Can't convert pictures to " << cameraFormatName(format) << " at " << width << "x" << height;
      return false;
    }
  }
  uint8_t* src[4];
  int srcLines[4];
  planes(CameraFormat::kI420, width, height, const_cast<uint8_t*>(i420), src, srcLines);
  uint8_t* dst[4];
  int dstLines[4];
  planes(format, width, height, out, dst, dstLines);
  return sws_scale(context_, src, srcLines, 0, height, dst, dstLines) == height;
}

bool cameraPictureToBGR(const uint8_t* in, CameraFormat format, int32_t width, int32_t height,
                        std::vector<uint8_t>* bgr) {
  bgr->resize(static_cast<size_t>(width) * height * 3);
  if (format == CameraFormat::kBGR) {
    std::memcpy(bgr->data(), in, bgr->size());
    return true;
  }
  SwsContext* context = sws_getContext(width, height, avFormat(format), width, height, AV_PIX_FMT_BGR24,
                                       SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!context) return false;
  uint8_t* src[4];
  int srcLines[4];
  planes(format, width, height, const_cast<uint8_t*>(in), src, srcLines);
  uint8_t* dst[4] = {bgr->data(), nullptr, nullptr, nullptr};
  const int dstLines[4] = {width * 3, 0, 0, 0};
  const bool ok = sws_scale(context, src, srcLines, 0, height, dst, dstLines) == height;
  sws_freeContext(context);
  return ok;
}

}  // namespace component
