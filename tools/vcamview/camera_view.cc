#include "tools/vcamview/camera_view.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/file_util.h"
#include "components/video/video_driver.h"

namespace vcamview {

namespace {

uint32_t crcTable(uint32_t n) {
  uint32_t c = n;
  for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
  return c;
}

uint32_t crc32(const uint8_t* data, size_t size) {
  static uint32_t table[256];
  static bool ready = false;
  if (!ready) {
    for (uint32_t n = 0; n < 256; ++n) table[n] = crcTable(n);
    ready = true;
  }
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

void putBig32(std::vector<uint8_t>* out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(v >> shift));
}

void chunk(std::vector<uint8_t>* png, const char* type, const std::vector<uint8_t>& data) {
  putBig32(png, static_cast<uint32_t>(data.size()));
  const size_t start = png->size();
  png->insert(png->end(), type, type + 4);
  png->insert(png->end(), data.begin(), data.end());
  putBig32(png, crc32(png->data() + start, png->size() - start));
}

int32_t readInt32(const uint8_t* at) {
  return static_cast<int32_t>(static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
                              (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24));
}

}  // namespace

CameraView::CameraView(const std::string& name)
    : section_(name, component::kCameraSectionBytes, component::kCameraViewBytes, false) {}

void CameraView::request(int32_t width, int32_t height) {
  if (!ok()) return;
  std::memcpy(section_.data() + component::kCameraRequestedWidthOffset, &width, 4);
  std::memcpy(section_.data() + component::kCameraRequestedHeightOffset, &height, 4);
}

void CameraView::requested(int32_t* width, int32_t* height) const {
  *width = ok() ? readInt32(section_.data() + component::kCameraRequestedWidthOffset) : 0;
  *height = ok() ? readInt32(section_.data() + component::kCameraRequestedHeightOffset) : 0;
}

void CameraView::pictureSize(int32_t* width, int32_t* height) const {
  int32_t w = 0, h = 0;
  requested(&w, &h);
  component::cameraPictureSize(w, h, width, height);
}

component::VideoFrame CameraView::picture() const {
  component::VideoFrame frame;
  pictureSize(&frame.width, &frame.height);
  frame.pixel_format = component::kPixelFormat_24RGB;
  frame.stride = frame.width * 3;
  if (ok()) frame.data.assign(section_.data(), section_.data() + static_cast<size_t>(frame.stride) * frame.height);
  return frame;
}

uint64_t CameraView::fingerprint() const {
  if (!ok()) return 0;
  uint64_t hash = 1469598103934665603ULL;
  const uint8_t* p = section_.data();
  for (size_t i = 0; i + 8 <= component::kCameraPixelBytes; i += 8) {
    uint64_t word;
    std::memcpy(&word, p + i, 8);
    hash = (hash ^ word) * 1099511628211ULL;
  }
  return hash;
}

component::FitRect contentRect(const component::VideoFrame& frame) {
  int32_t left = frame.width, right = -1, top = frame.height, bottom = -1;
  for (int32_t y = 0; y < frame.height; ++y) {
    const uint8_t* row = frame.data.data() + static_cast<size_t>(y) * frame.stride;
    for (int32_t x = 0; x < frame.width; ++x) {
      const uint8_t* p = row + x * 3;
      // Filtering may leave a dark seam at the picture's edge.
      if (p[0] + p[1] + p[2] <= 3 * 24) continue;
      if (x < left) left = x;
      if (x > right) right = x;
      if (y < top) top = y;
      if (y > bottom) bottom = y;
    }
  }
  component::FitRect rect;
  if (right < 0) return rect;
  rect.x = left;
  rect.y = top;
  rect.width = right - left + 1;
  rect.height = bottom - top + 1;
  return rect;
}

std::vector<uint8_t> encodePng(const component::VideoFrame& frame) {
  const uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> png(signature, signature + sizeof(signature));
  std::vector<uint8_t> header;
  putBig32(&header, static_cast<uint32_t>(frame.width));
  putBig32(&header, static_cast<uint32_t>(frame.height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB
  chunk(&png, "IHDR", header);
  // Rows with filter 0, red green blue.
  std::vector<uint8_t> raw;
  raw.reserve(static_cast<size_t>(frame.width * 3 + 1) * frame.height);
  for (int32_t y = 0; y < frame.height; ++y) {
    raw.push_back(0);
    const uint8_t* row = frame.data.data() + static_cast<size_t>(y) * frame.rowBytes();
    for (int32_t x = 0; x < frame.width; ++x) raw.insert(raw.end(), {row[x * 3 + 2], row[x * 3 + 1], row[x * 3]});
  }
  // A zlib stream of stored blocks: no compression needed for a look.
  std::vector<uint8_t> z = {0x78, 0x01};
  size_t at = 0;
  do {
    const size_t n = std::min<size_t>(65535, raw.size() - at);
    const bool last = at + n == raw.size();
    z.push_back(last ? 1 : 0);
    z.insert(z.end(), {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(~n),
                       static_cast<uint8_t>(~n >> 8)});
    z.insert(z.end(), raw.begin() + static_cast<ptrdiff_t>(at), raw.begin() + static_cast<ptrdiff_t>(at + n));
    at += n;
  } while (at < raw.size());
  uint32_t a = 1, b = 0;
  for (uint8_t v : raw) {
    a = (a + v) % 65521;
    b = (b + a) % 65521;
  }
  putBig32(&z, (b << 16) | a);
  chunk(&png, "IDAT", z);
  chunk(&png, "IEND", {});
  return png;
}

std::vector<uint8_t> encodePpm(const component::VideoFrame& frame) {
  const std::string header = "P6\n" + std::to_string(frame.width) + " " + std::to_string(frame.height) + "\n255\n";
  std::vector<uint8_t> ppm(header.begin(), header.end());
  for (int32_t y = 0; y < frame.height; ++y) {
    const uint8_t* row = frame.data.data() + static_cast<size_t>(y) * frame.rowBytes();
    for (int32_t x = 0; x < frame.width; ++x) ppm.insert(ppm.end(), {row[x * 3 + 2], row[x * 3 + 1], row[x * 3]});
  }
  return ppm;
}

bool savePicture(const component::VideoFrame& frame, const std::string& path) {
  const bool png = path.size() >= 4 && (path.compare(path.size() - 4, 4, ".png") == 0 ||
                                        path.compare(path.size() - 4, 4, ".PNG") == 0);
  const std::vector<uint8_t> bytes = png ? encodePng(frame) : encodePpm(frame);
  return base::writeFileAtomic(base::utf8ToWide(path), std::string(bytes.begin(), bytes.end()));
}

bool parseSize(const std::string& text, int32_t* width, int32_t* height) {
  const size_t x = text.find('x');
  if (x == std::string::npos || x == 0 || x + 1 >= text.size()) return false;
  auto number = [](const std::string& part, int32_t* out) {
    if (part.empty() || part.size() > 11) return false;
    char* end = nullptr;
    const long long value = std::strtoll(part.c_str(), &end, 10);
    if (*end != '\0' || value < INT32_MIN || value > INT32_MAX) return false;
    *out = static_cast<int32_t>(value);
    return true;
  };
  return number(text.substr(0, x), width) && number(text.substr(x + 1), height);
}

}  // namespace vcamview
