// Linux side of the picture seam: libjpeg-turbo (TurboJPEG API) for JPEG,
// plain loops for turning, mirroring and fitting.
#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "base/file_util.h"
#include "base/logging.h"
#include "components/video/picture_codec.h"

namespace component {

namespace {

constexpr int kDefaultJpegQuality = 75;  // libjpeg's own default
constexpr int32_t kTileSide = 16;        // turning works tile by tile to stay in the cache

struct HandleCloser {
  void operator()(void* handle) const {
    if (handle) tjDestroy(handle);
  }
};
using Handle = std::unique_ptr<void, HandleCloser>;

tjhandle decompressor() {
  thread_local Handle handle(tjInitDecompress());
  return handle.get();
}

tjhandle compressor() {
  thread_local Handle handle(tjInitCompress());
  return handle.get();
}

class LinuxCanvas : public PictureCanvas {
 public:
  LinuxCanvas(int32_t width, int32_t height) : PictureCanvas(width, height) {}

  bool turn(const uint8_t* pixels, int32_t w, int32_t h, int32_t rowBytes, int angle, uint8_t* out) override;
  bool fit(const uint8_t* pixels, int32_t w, int32_t h, int32_t rowBytes, const FitRect& rect,
           uint8_t* out) override;

 private:
  // Per destination column and row of the fitted area: the two source
  // offsets and the weight of the second (0-256). Rebuilt when the source
  // or the rectangle changes.
  struct Tap {
    int32_t first;
    int32_t second;
    int32_t weight;
  };
  void buildTaps(int32_t sourceLength, int32_t start, int32_t length, int32_t limit, int32_t unit,
                 std::vector<Tap>* taps);

  int32_t tapsWidth_ = -1, tapsHeight_ = -1, tapsRow_ = -1;
  FitRect tapsRect_;
  std::vector<Tap> columns_;
  std::vector<Tap> rows_;
};

bool LinuxCanvas::turn(const uint8_t* pixels, int32_t w, int32_t h, int32_t rowBytes, int angle, uint8_t* out) {
  int32_t tw = 0, th = 0;
  turnedSize(w, h, angle, &tw, &th);
  if (tw != width() || th != height()) return false;
  // The source pixel of destination (x, y) is base + x * stepX + y * stepY.
  const uint8_t* base = pixels;
  ptrdiff_t stepX = 3, stepY = rowBytes;
  switch (angle) {
    case 90:
      base = pixels + static_cast<ptrdiff_t>(h - 1) * rowBytes;
      stepX = -static_cast<ptrdiff_t>(rowBytes);
      stepY = 3;
      break;
    case 180:
      base = pixels + static_cast<ptrdiff_t>(h - 1) * rowBytes + static_cast<ptrdiff_t>(w - 1) * 3;
      stepX = -3;
      stepY = -static_cast<ptrdiff_t>(rowBytes);
      break;
    case 270:
      base = pixels + static_cast<ptrdiff_t>(w - 1) * 3;
      stepX = rowBytes;
      stepY = -3;
      break;
    default:
      for (int32_t y = 0; y < th; ++y) {
        std::memcpy(out + static_cast<size_t>(y) * tw * 3, pixels + static_cast<ptrdiff_t>(y) * rowBytes,
                    static_cast<size_t>(tw) * 3);
      }
      return true;
  }
  const size_t outRow = static_cast<size_t>(tw) * 3;
  for (int32_t ty = 0; ty < th; ty += kTileSide) {
    const int32_t yEnd = std::min(th, ty + kTileSide);
    for (int32_t tx = 0; tx < tw; tx += kTileSide) {
      const int32_t xEnd = std::min(tw, tx + kTileSide);
      for (int32_t y = ty; y < yEnd; ++y) {
        uint8_t* d = out + y * outRow + static_cast<size_t>(tx) * 3;
        const uint8_t* s = base + y * stepY + tx * stepX;
        for (int32_t x = tx; x < xEnd; ++x, d += 3, s += stepX) {
          d[0] = s[0];
          d[1] = s[1];
          d[2] = s[2];
        }
      }
    }
  }
  return true;
}

// Samples at pixel centres: destination pixel i of the fitted run maps to
// source position (i + 0.5) * sourceLength / length - 0.5, clamped to the
// picture.
void LinuxCanvas::buildTaps(int32_t sourceLength, int32_t start, int32_t length, int32_t limit, int32_t unit,
                            std::vector<Tap>* taps) {
  taps->clear();
  const int32_t from = std::max(0, start);
  const int32_t to = std::min(limit, start + length);
  for (int32_t d = from; d < to; ++d) {
    double pos = (d - start + 0.5) * sourceLength / length - 0.5;
    if (pos < 0) pos = 0;
    int32_t first = static_cast<int32_t>(pos);
    if (first > sourceLength - 1) first = sourceLength - 1;
    const int32_t second = std::min(first + 1, sourceLength - 1);
    const int32_t weight = static_cast<int32_t>((pos - first) * 256 + 0.5);
    taps->push_back(Tap{first * unit, second * unit, std::min(weight, 256)});
  }
}

bool LinuxCanvas::fit(const uint8_t* pixels, int32_t w, int32_t h, int32_t rowBytes, const FitRect& rect,
                      uint8_t* out) {
  const int32_t dw = width(), dh = height();
  const size_t outRow = static_cast<size_t>(dw) * 3;
  if (w <= 0 || h <= 0 || rect.width <= 0 || rect.height <= 0) {
    std::memset(out, 0, outRow * dh);
    return true;
  }
  if (w != tapsWidth_ || h != tapsHeight_ || rowBytes != tapsRow_ || rect.x != tapsRect_.x ||
      rect.y != tapsRect_.y || rect.width != tapsRect_.width || rect.height != tapsRect_.height) {
    buildTaps(w, rect.x, rect.width, dw, 3, &columns_);
    buildTaps(h, rect.y, rect.height, dh, rowBytes, &rows_);
    tapsWidth_ = w;
    tapsHeight_ = h;
    tapsRow_ = rowBytes;
    tapsRect_ = rect;
  }
  // Only the bands outside the picture are blackened: `out` may be a
  // picture somebody reads while it is being drawn.
  const int32_t x0 = std::max(0, rect.x);
  const int32_t y0 = std::max(0, rect.y);
  const size_t leftBytes = static_cast<size_t>(x0) * 3;
  const size_t rightBytes = outRow - leftBytes - columns_.size() * 3;
  std::memset(out, 0, outRow * y0);
  const size_t below = (y0 + rows_.size()) * outRow;
  std::memset(out + below, 0, outRow * dh - below);
  for (size_t r = 0; r < rows_.size(); ++r) {
    const Tap& row = rows_[r];
    const uint8_t* top = pixels + row.first;
    const uint8_t* bottom = pixels + row.second;
    const int32_t wy = row.weight;
    uint8_t* d = out + (y0 + r) * outRow;
    std::memset(d, 0, leftBytes);
    std::memset(d + outRow - rightBytes, 0, rightBytes);
    d += leftBytes;
    for (const Tap& col : columns_) {
      const int32_t wx = col.weight;
      const uint8_t* a = top + col.first;
      const uint8_t* b = top + col.second;
      const uint8_t* c = bottom + col.first;
      const uint8_t* e = bottom + col.second;
      for (int k = 0; k < 3; ++k) {
        const int32_t upper = a[k] * (256 - wx) + b[k] * wx;
        const int32_t lower = c[k] * (256 - wx) + e[k] * wx;
        d[k] = static_cast<uint8_t>((upper * (256 - wy) + lower * wy + 32768) >> 16);
      }
      d += 3;
    }
  }
  return true;
}

}  // namespace

void ensurePictureLibrary() {}

bool decodeJpeg(const uint8_t* data, size_t size, std::vector<uint8_t>* pixels, int32_t* width,
                int32_t* height) {
  tjhandle handle = decompressor();
  if (!handle || !data || size == 0) return false;
  int w = 0, h = 0, subsampling = 0, colorspace = 0;
  if (tjDecompressHeader3(handle, data, static_cast<unsigned long>(size), &w, &h, &subsampling, &colorspace) != 0)
    return false;
  if (!pictureSizeAcceptable(w, h)) {
    LOG(WARNING) << "JPEG picture of " << w << "x" << h << " is larger than the decoder takes";
    return false;
  }
  pixels->resize(static_cast<size_t>(w) * h * 3);
  if (tjDecompress2(handle, data, static_cast<unsigned long>(size), pixels->data(), w, w * 3, h, TJPF_BGR, 0) != 0) {
    // A warning (a picture cut short, say) still leaves a whole picture,
    // the rest filled in; only a hard error fails.
    if (tjGetErrorCode(handle) != TJERR_WARNING) return false;
  }
  *width = w;
  *height = h;
  return true;
}

bool encodeJpeg(const uint8_t* pixels, int32_t width, int32_t height, int32_t rowBytes,
                std::vector<uint8_t>* jpeg) {
  tjhandle handle = compressor();
  if (!handle || width <= 0 || height <= 0) return false;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  if (tjCompress2(handle, pixels, width, rowBytes, height, TJPF_BGR, &buffer, &size, TJSAMP_420,
                  kDefaultJpegQuality, 0) != 0) {
    LOG(ERROR) << "JPEG encoding failed: " << tjGetErrorStr2(handle);
    if (buffer) tjFree(buffer);
    return false;
  }
  jpeg->assign(buffer, buffer + size);
  tjFree(buffer);
  return true;
}

bool saveJpeg(const uint8_t* pixels, int32_t width, int32_t height, int32_t rowBytes,
              const base::string16& path) {
  std::vector<uint8_t> jpeg;
  if (!encodeJpeg(pixels, width, height, rowBytes, &jpeg)) return false;
  return base::writeFileAtomic(path, std::string(jpeg.begin(), jpeg.end()));
}

bool mirrorPixels(const uint8_t* pixels, int32_t width, int32_t height, int32_t rowBytes, uint8_t* out) {
  const size_t outRow = static_cast<size_t>(width) * 3;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* s = pixels + static_cast<ptrdiff_t>(y) * rowBytes + outRow - 3;
    uint8_t* d = out + y * outRow;
    for (int32_t x = 0; x < width; ++x, d += 3, s -= 3) {
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
    }
  }
  return true;
}

std::unique_ptr<PictureCanvas> PictureCanvas::create(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return nullptr;
  return std::make_unique<LinuxCanvas>(width, height);
}

}  // namespace component
