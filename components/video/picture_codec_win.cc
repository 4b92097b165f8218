// Windows side of the picture seam: GDI+ decodes and encodes JPEG and draws
// turned, mirrored and fitted pictures.
#include <windows.h>
#include <objbase.h>

// GDI+ wants min and max of its own.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "base/logging.h"
#include "components/video/picture_codec.h"

namespace component {

namespace gp = Gdiplus::DllExports;
using Gdiplus::GpBitmap;
using Gdiplus::GpGraphics;
using Gdiplus::GpImageAttributes;
using Gdiplus::GpMatrix;
using Gdiplus::Ok;

namespace {

// The encoder's default quality is what a GDI+ save without parameters
// gives; a memory encode uses the same.
constexpr wchar_t kJpegMime[] = L"image/jpeg";

// A JPEG copied into a movable global block with a stream over it that
// frees the block when released.
IStream* streamOver(const uint8_t* data, size_t size) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!block) return nullptr;
  void* target = GlobalLock(block);
  if (!target) {
    GlobalFree(block);
    return nullptr;
  }
  std::memcpy(target, data, size);
  GlobalUnlock(block);
  IStream* stream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(block, TRUE, &stream))) {
    GlobalFree(block);
    return nullptr;
  }
  return stream;
}

struct BitmapCloser {
  void operator()(GpBitmap* bitmap) const {
    if (bitmap) gp::GdipDisposeImage(bitmap);
  }
};
using Bitmap = std::unique_ptr<GpBitmap, BitmapCloser>;

// A bitmap over 24-bit rows: over the caller's own bytes when the row
// length is a multiple of 4 (GDI+ takes no other), else over a padded copy
// the wrapper keeps.
class Wrapped {
 public:
  Wrapped(const uint8_t* pixels, int32_t width, int32_t height, int32_t rowBytes) {
    const BYTE* rows = reinterpret_cast<const BYTE*>(pixels);
    int32_t stride = rowBytes;
    if (rowBytes % 4 != 0) {
      stride = (width * 3 + 3) & ~3;
      copy_.resize(static_cast<size_t>(stride) * height);
      for (int32_t y = 0; y < height; ++y)
        std::memcpy(copy_.data() + static_cast<size_t>(y) * stride, pixels + static_cast<ptrdiff_t>(y) * rowBytes,
                    static_cast<size_t>(width) * 3);
      rows = copy_.data();
    }
    GpBitmap* bitmap = nullptr;
    if (gp::GdipCreateBitmapFromScan0(width, height, stride, PixelFormat24bppRGB, const_cast<BYTE*>(rows), &bitmap) ==
        Ok)
      bitmap_.reset(bitmap);
  }
  GpBitmap* get() const { return bitmap_.get(); }
  explicit operator bool() const { return bitmap_ != nullptr; }

 private:
  std::vector<uint8_t> copy_;
  Bitmap bitmap_;
};

// Copies a bitmap's pixels out as tight rows: the locked stride is rounded
// up to 4 bytes, which a width * 3 that is not a multiple of 4 must not
// carry into the frame.
bool copyPixels(GpBitmap* bitmap, int32_t width, int32_t height, uint8_t* out) {
  Gdiplus::Rect area(0, 0, width, height);
  Gdiplus::BitmapData locked;
  if (gp::GdipBitmapLockBits(bitmap, &area, Gdiplus::ImageLockModeRead, PixelFormat24bppRGB, &locked) != Ok)
    return false;
  const size_t row = static_cast<size_t>(width) * 3;
  for (int32_t y = 0; y < height; ++y) {
    std::memcpy(out + y * row, static_cast<const uint8_t*>(locked.Scan0) + static_cast<ptrdiff_t>(y) * locked.Stride,
                row);
  }
  gp::GdipBitmapUnlockBits(bitmap, &locked);
  return true;
}

bool findJpegEncoder(CLSID* clsid) {
  UINT count = 0, bytes = 0;
  if (gp::GdipGetImageEncodersSize(&count, &bytes) != Ok || bytes == 0) return false;
  std::vector<uint8_t> buffer(bytes);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  if (gp::GdipGetImageEncoders(count, bytes, codecs) != Ok) return false;
  for (UINT i = 0; i < count; ++i) {
    if (codecs[i].MimeType && wcscmp(codecs[i].MimeType, kJpegMime) == 0) {
      *clsid = codecs[i].Clsid;
      return true;
    }
  }
  return false;
}

class GdiPlusCanvas : public PictureCanvas {
 public:
  GdiPlusCanvas(int32_t width, int32_t height, GpBitmap* bitmap, GpGraphics* graphics)
      : PictureCanvas(width, height), bitmap_(bitmap), graphics_(graphics) {}
  ~GdiPlusCanvas() override {
    if (graphics_) gp::GdipDeleteGraphics(graphics_);
  }

  bool turn(const uint8_t* pixels, int32_t w, int32_t h, int32_t rowBytes, int angle, uint8_t* out) override {
    Wrapped source(pixels, w, h, rowBytes);
    if (!source) return false;
    // Whole quarter turns are exact in GDI+'s own rotate-and-flip, with no
    // resampling and no half-pixel questions a transformed draw has.
    GpBitmap* raw = nullptr;
    if (gp::GdipCloneBitmapAreaI(0, 0, w, h, PixelFormat24bppRGB, source.get(), &raw) != Ok) return false;
    Bitmap turned(raw);
    Gdiplus::RotateFlipType how = Gdiplus::RotateNoneFlipNone;
    if (angle == 90) how = Gdiplus::Rotate90FlipNone;
    else if (angle == 180) how = Gdiplus::Rotate180FlipNone;
    else if (angle == 270) how = Gdiplus::Rotate270FlipNone;
    if (how != Gdiplus::RotateNoneFlipNone && gp::GdipImageRotateFlip(turned.get(), how) != Ok) return false;
    return copyPixels(turned.get(), width(), height(), out);
  }

  bool fit(const uint8_t* pixels, int32_t w, int32_t h, int32_t rowBytes, const FitRect& rect,
           uint8_t* out) override {
    Wrapped source(pixels, w, h, rowBytes);
    if (!source) return false;
    gp::GdipGraphicsClear(graphics_, 0xFF000000);
    // Edge pixels are filtered against mirrored neighbours, not against the
    // transparent outside, so the picture's border keeps its colour.
    GpImageAttributes* attributes = nullptr;
    gp::GdipCreateImageAttributes(&attributes);
    if (attributes) gp::GdipSetImageAttributesWrapMode(attributes, Gdiplus::WrapModeTileFlipXY, 0, FALSE);
    gp::GdipDrawImageRectRect(graphics_, source.get(), static_cast<Gdiplus::REAL>(rect.x),
                              static_cast<Gdiplus::REAL>(rect.y), static_cast<Gdiplus::REAL>(rect.width),
                              static_cast<Gdiplus::REAL>(rect.height), 0, 0, static_cast<Gdiplus::REAL>(w),
                              static_cast<Gdiplus::REAL>(h), Gdiplus::UnitPixel, attributes, nullptr, nullptr);
    if (attributes) gp::GdipDisposeImageAttributes(attributes);
    gp::GdipFlush(graphics_, Gdiplus::FlushIntentionFlush);
    return copyPixels(bitmap_.get(), width(), height(), out);
  }

 private:
  Bitmap bitmap_;
  GpGraphics* graphics_;
};

std::once_flag g_startOnce;
ULONG_PTR g_token = 0;

}  // namespace

void ensurePictureLibrary() {
  std::call_once(g_startOnce, [] {
    // GDI+ counts its starts; the program's own start-up may have started it.
    Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&g_token, &input, nullptr) != Ok) LOG(ERROR) << "GDI+ could not be started";
  });
}

bool decodeJpeg(const uint8_t* data, size_t size, std::vector<uint8_t>* pixels, int32_t* width,
                int32_t* height) {
  if (!data || size == 0) return false;
  ensurePictureLibrary();
  IStream* stream = streamOver(data, size);
  if (!stream) return false;
  GpBitmap* raw = nullptr;
  bool ok = false;
  if (gp::GdipCreateBitmapFromStream(stream, &raw) == Ok) {
    Bitmap bitmap(raw);
    UINT w = 0, h = 0;
    gp::GdipGetImageWidth(bitmap.get(), &w);
    gp::GdipGetImageHeight(bitmap.get(), &h);
    if (!pictureSizeAcceptable(static_cast<int32_t>(w), static_cast<int32_t>(h))) {
      LOG(WARNING) << "JPEG picture of " << w << "x" << h << " is larger than the decoder takes";
    } else {
      pixels->resize(static_cast<size_t>(w) * h * 3);
      ok = copyPixels(bitmap.get(), static_cast<int32_t>(w), static_cast<int32_t>(h), pixels->data());
      *width = static_cast<int32_t>(w);
      *height = static_cast<int32_t>(h);
    }
  }
  stream->Release();
  return ok;
}

bool jpegPictureSize(const uint8_t*, size_t, int32_t*, int32_t*) { return false; }

bool decodeJpegAtLeast(const uint8_t* data, size_t size, int32_t, int32_t, std::vector<uint8_t>* pixels,
                       int32_t* width, int32_t* height, int32_t* pictureWidth, int32_t* pictureHeight) {
  if (!decodeJpeg(data, size, pixels, width, height)) return false;
  *pictureWidth = *width;
  *pictureHeight = *height;
  return true;
}

bool encodeJpeg(const uint8_t* pixels, int32_t width, int32_t height, int32_t rowBytes,
                std::vector<uint8_t>* jpeg) {
  ensurePictureLibrary();
  CLSID encoder;
  if (!findJpegEncoder(&encoder)) return false;
  Wrapped bitmap(pixels, width, height, rowBytes);
  if (!bitmap) return false;
  IStream* stream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream))) return false;
  bool ok = gp::GdipSaveImageToStream(bitmap.get(), stream, &encoder, nullptr) == Ok;
  if (ok) {
    HGLOBAL block = nullptr;
    ok = SUCCEEDED(GetHGlobalFromStream(stream, &block)) && block;
    if (ok) {
      STATSTG stat;
      ok = SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME));
      const void* bytes = ok ? GlobalLock(block) : nullptr;
      if (bytes) {
        const auto* begin = static_cast<const uint8_t*>(bytes);
        jpeg->assign(begin, begin + stat.cbSize.QuadPart);
        GlobalUnlock(block);
      } else {
        ok = false;
      }
    }
  }
  stream->Release();
  return ok;
}

bool saveJpeg(const uint8_t* pixels, int32_t width, int32_t height, int32_t rowBytes,
              const base::string16& path) {
  ensurePictureLibrary();
  CLSID encoder;
  if (!findJpegEncoder(&encoder)) return false;
  Wrapped bitmap(pixels, width, height, rowBytes);
  if (!bitmap) return false;
  return gp::GdipSaveImageToFile(bitmap.get(), reinterpret_cast<const wchar_t*>(path.c_str()), &encoder,
                                 nullptr) == Ok;
}

bool mirrorPixels(const uint8_t* pixels, int32_t width, int32_t height, int32_t rowBytes, uint8_t* out) {
  ensurePictureLibrary();
  Wrapped source(pixels, width, height, rowBytes);
  if (!source) return false;
  GpBitmap* clone = nullptr;
  if (gp::GdipCloneBitmapAreaI(0, 0, width, height, PixelFormat24bppRGB, source.get(), &clone) != Ok) return false;
  Bitmap flipped(clone);
  if (gp::GdipImageRotateFlip(flipped.get(), Gdiplus::RotateNoneFlipX) != Ok) return false;
  return copyPixels(flipped.get(), width, height, out);
}

std::unique_ptr<PictureCanvas> PictureCanvas::create(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return nullptr;
  ensurePictureLibrary();
  GpBitmap* bitmap = nullptr;
  if (gp::GdipCreateBitmapFromScan0(width, height, 0, PixelFormat24bppRGB, nullptr, &bitmap) != Ok) return nullptr;
  GpGraphics* graphics = nullptr;
  if (gp::GdipGetImageGraphicsContext(bitmap, &graphics) != Ok) {
    gp::GdipDisposeImage(bitmap);
    return nullptr;
  }
  return std::make_unique<GdiPlusCanvas>(width, height, bitmap, graphics);
}

}  // namespace component
