// Linux side of the picture seam: libjpeg-turbo (TurboJPEG API) for JPEG,
// plain loops for turning, mirroring and fitting.
#include <turbojpeg.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// out[i] = (top[i] * wTop + bottom[i] * wBottom) / 256, rounded; the
// weights add up to 256. Each value keeps 16 bits so the fit's second pass
// can work on a whole pixel at once.
void blendRows(const uint8_t* top, const uint8_t* bottom, uint16_t wTop, uint16_t wBottom, int32_t count,
               uint16_t* out) {
  int32_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i half = _mm_set1_epi16(128);
  const __m128i wt = _mm_set1_epi16(static_cast<short>(wTop));
  const __m128i wb = _mm_set1_epi16(static_cast<short>(wBottom));
  for (; i + 16 <= count; i += 16) {
    const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + i));
    // At most 255 * 256 + 128: the 16-bit sums do not wrap.
    const __m128i lo = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(t, zero), wt),
                                     _mm_mullo_epi16(_mm_unpacklo_epi8(b, zero), wb));
    const __m128i hi = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(t, zero), wt),
                                     _mm_mullo_epi16(_mm_unpackhi_epi8(b, zero), wb));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_srli_epi16(_mm_add_epi16(lo, half), 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_srli_epi16(_mm_add_epi16(hi, half), 8));
  }
#endif
  for (; i < count; ++i) out[i] = static_cast<uint16_t>((top[i] * wTop + bottom[i] * wBottom + 128) >> 8);
}

// One destination pixel from the blended pixels at `a` and `b` (three
// 16-bit values each, all at most 255), weighted 256 - weight and weight.
inline void blendPixel(const uint16_t* a, const uint16_t* b, uint32_t weight, uint8_t* d) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  // The three channels (and a fourth value, ignored) side by side in one
  // 64-bit word: each product and their sum stay below 65,536, so no lane
  // carries into the next.
  uint64_t first, second;
  std::memcpy(&first, a, 8);
  std::memcpy(&second, b, 8);
  const uint64_t sum = first * (256 - weight) + second * weight + 0x0080008000800080ULL;
  d[0] = static_cast<uint8_t>(sum >> 8);
  d[1] = static_cast<uint8_t>(sum >> 24);
  d[2] = static_cast<uint8_t>(sum >> 40);
#else
  for (int c = 0; c < 3; ++c) d[c] = static_cast<uint8_t>((a[c] * (256 - weight) + b[c] * weight + 128) >> 8);
#endif
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
  // The columns again for the second pass: where the two pixels start in
  // the blended row, and their weights, each four times over (one per
  // value of a pixel read as four).
  int32_t spanBegin_ = 0;
  int32_t spanEnd_ = 0;
  std::vector<int32_t> firstAt_;
  std::vector<int32_t> secondAt_;
  std::vector<uint16_t> firstWeights_;
  std::vector<uint16_t> secondWeights_;
  std::vector<uint16_t> blend_;  // one source row pair, blended
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
  // Four pixels at a time: three 4-byte loads (the fourth byte is not
  // used), the fourth pixel byte by byte, and three 4-byte stores. A group
  // whose loads would reach past the source's last pixel, and the ends of
  // the tiles' rows, go pixel by pixel.
  const uint8_t* sourceEnd = pixels + static_cast<ptrdiff_t>(h - 1) * rowBytes + static_cast<ptrdiff_t>(w) * 3;
  const ptrdiff_t furthestLoad = (stepX > 0 ? 2 * stepX : 0) + 4;
  for (int32_t ty = 0; ty < th; ty += kTileSide) {
    const int32_t yEnd = std::min(th, ty + kTileSide);
    for (int32_t tx = 0; tx < tw; tx += kTileSide) {
      const int32_t xEnd = std::min(tw, tx + kTileSide);
      for (int32_t y = ty; y < yEnd; ++y) {
        uint8_t* d = out + y * outRow + static_cast<size_t>(tx) * 3;
        const uint8_t* s = base + y * stepY + tx * stepX;
        int32_t x = tx;
        for (; x + 4 <= xEnd; x += 4, d += 12, s += 4 * stepX) {
          if (s + furthestLoad > sourceEnd) break;
          uint32_t p0, p1, p2;
          std::memcpy(&p0, s, 4);
          std::memcpy(&p1, s + stepX, 4);
          std::memcpy(&p2, s + 2 * stepX, 4);
          const uint8_t* q = s + 3 * stepX;
          const uint32_t p3 = q[0] | (q[1] << 8) | (q[2] << 16);
          const uint32_t w0 = (p0 & 0xFFFFFFu) | (p1 << 24);
          const uint32_t w1 = ((p1 >> 8) & 0xFFFFu) | (p2 << 16);
          const uint32_t w2 = ((p2 >> 16) & 0xFFu) | (p3 << 8);
          std::memcpy(d, &w0, 4);
          std::memcpy(d + 4, &w1, 4);
          std::memcpy(d + 8, &w2, 4);
        }
        for (; x < xEnd; ++x, d += 3, s += stepX) {
          const uint8_t b = s[0], g = s[1], r = s[2];
          d[0] = b;
          d[1] = g;
          d[2] = r;
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
    spanBegin_ = columns_.empty() ? 0 : columns_.front().first;
    spanEnd_ = columns_.empty() ? 0 : columns_.back().second + 3;
    firstAt_.clear();
    secondAt_.clear();
    firstWeights_.clear();
    secondWeights_.clear();
    for (const Tap& col : columns_) {
      firstAt_.push_back(col.first - spanBegin_);
      secondAt_.push_back(col.second - spanBegin_);
      firstWeights_.insert(firstWeights_.end(), 4, static_cast<uint16_t>(256 - col.weight));
      secondWeights_.insert(secondWeights_.end(), 4, static_cast<uint16_t>(col.weight));
    }
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
  // Two passes per row: the two source rows blended over the columns the
  // fit uses, then each destination pixel from two pixels of that blend.
  const int32_t spanBegin = spanBegin_, spanEnd = spanEnd_;
  // A pixel is read as four values: room for the last one's fourth.
  blend_.resize(static_cast<size_t>(spanEnd - spanBegin) + 4);
  uint16_t* const blend = blend_.data();
  const int32_t columns = static_cast<int32_t>(columns_.size());
  // Plain pointers in the loops: the unoptimised builds (the sanitizers')
  // would otherwise make a call per pixel for each vector access.
  const int32_t* const firstAt = firstAt_.data();
  const int32_t* const secondAt = secondAt_.data();
  const uint16_t* const firstWeights = firstWeights_.data();
  const uint16_t* const secondWeights = secondWeights_.data();
  for (size_t r = 0; r < rows_.size(); ++r) {
    const Tap& row = rows_[r];
    const uint16_t wyBottom = static_cast<uint16_t>(row.weight), wyTop = static_cast<uint16_t>(256 - row.weight);
    blendRows(pixels + row.first + spanBegin, pixels + row.second + spanBegin, wyTop, wyBottom, spanEnd - spanBegin,
              blend);
    uint8_t* d = out + (y0 + r) * outRow;
    std::memset(d, 0, leftBytes);
    std::memset(d + outRow - rightBytes, 0, rightBytes);
    d += leftBytes;
    int32_t c = 0;
#if defined(__SSE2__)
    // Two pixels at a time. Each store writes two bytes past the pair,
    // which the next pair overwrites; the last pair is left to the plain
    // loop so nothing lands in the band.
    const __m128i half = _mm_set1_epi16(128);
    for (; c + 2 < columns; c += 2, d += 6) {
      __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(blend + firstAt[c]));
      a = _mm_castpd_si128(
          _mm_loadh_pd(_mm_castsi128_pd(a), reinterpret_cast<const double*>(blend + firstAt[c + 1])));
      __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(blend + secondAt[c]));
      b = _mm_castpd_si128(
          _mm_loadh_pd(_mm_castsi128_pd(b), reinterpret_cast<const double*>(blend + secondAt[c + 1])));
      const __m128i wa = _mm_loadu_si128(reinterpret_cast<const __m128i*>(firstWeights + 4 * c));
      const __m128i wb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(secondWeights + 4 * c));
      // Values at most 255, weights adding up to 256: no 16-bit sum wraps.
      __m128i sum = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(a, wa), _mm_mullo_epi16(b, wb)), half);
      sum = _mm_srli_epi16(sum, 8);
      uint64_t packed;
      _mm_storel_epi64(reinterpret_cast<__m128i*>(&packed), _mm_packus_epi16(sum, sum));
      // b0 g0 r0 -- b1 g1 r1 --  ->  b0 g0 r0 b1 g1 r1
      const uint64_t six = (packed & 0xFFFFFFULL) | ((packed >> 8) & 0xFFFFFF000000ULL);
      std::memcpy(d, &six, 8);
    }
#endif
    for (; c < columns; ++c, d += 3)
      blendPixel(blend + firstAt[c], blend + secondAt[c], secondWeights[4 * c], d);
  }
  return true;
}

}  // namespace

void ensurePictureLibrary() {}

bool jpegPictureSize(const uint8_t* data, size_t size, int32_t* width, int32_t* height) {
  tjhandle handle = decompressor();
  if (!handle || !data || size == 0) return false;
  int w = 0, h = 0, subsampling = 0, colorspace = 0;
  if (tjDecompressHeader3(handle, data, static_cast<unsigned long>(size), &w, &h, &subsampling, &colorspace) != 0)
    return false;
  *width = w;
  *height = h;
  return true;
}

bool decodeJpegAtLeast(const uint8_t* data, size_t size, int32_t minWidth, int32_t minHeight,
                       std::vector<uint8_t>* pixels, int32_t* width, int32_t* height, int32_t* pictureWidth,
                       int32_t* pictureHeight) {
  tjhandle handle = decompressor();
  if (!handle || !data || size == 0) return false;
  int w = 0, h = 0, subsampling = 0, colorspace = 0;
  if (tjDecompressHeader3(handle, data, static_cast<unsigned long>(size), &w, &h, &subsampling, &colorspace) != 0)
    return false;
  if (!pictureSizeAcceptable(w, h)) {
    LOG(WARNING) << "JPEG picture of " << w << "x" << h << " is larger than the decoder takes";
    return false;
  }
  // The decoder's reduced scales (n/8) leave out the finer DCT terms, which
  // is far cheaper than decoding everything and scaling down afterwards.
  int scaledWidth = w, scaledHeight = h;
  int count = 0;
  const tjscalingfactor* factors = tjGetScalingFactors(&count);
  for (int i = 0; factors && i < count; ++i) {
    const tjscalingfactor f = factors[i];
    if (f.num >= f.denom) continue;
    const int sw = TJSCALED(w, f), sh = TJSCALED(h, f);
    if (sw >= minWidth && sh >= minHeight && sw * sh < scaledWidth * scaledHeight) {
      scaledWidth = sw;
      scaledHeight = sh;
    }
  }
  pixels->resize(static_cast<size_t>(scaledWidth) * scaledHeight * 3);
  if (tjDecompress2(handle, data, static_cast<unsigned long>(size), pixels->data(), scaledWidth, scaledWidth * 3,
                    scaledHeight, TJPF_BGR, 0) != 0) {
    // A warning (a picture cut short, say) still leaves a whole picture,
    // the rest filled in; only a hard error fails.
    if (tjGetErrorCode(handle) != TJERR_WARNING) return false;
  }
  *width = scaledWidth;
  *height = scaledHeight;
  *pictureWidth = w;
  *pictureHeight = h;
  return true;
}

bool decodeJpeg(const uint8_t* data, size_t size, std::vector<uint8_t>* pixels, int32_t* width,
                int32_t* height) {
  int32_t pictureWidth = 0, pictureHeight = 0;
  return decodeJpegAtLeast(data, size, kMaxPictureSide + 1, kMaxPictureSide + 1, pixels, width, height,
                           &pictureWidth, &pictureHeight);
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
