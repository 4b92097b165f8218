// Helpers of the video tests: JPEG pictures of the test card, and a log
// file that catches what the code under test writes.
#ifndef COMPONENTS_VIDEO_VIDEO_TEST_UTIL_H_
#define COMPONENTS_VIDEO_VIDEO_TEST_UTIL_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/file_util.h"
#include "base/logging.h"
#include "components/video/picture_codec.h"
#include "components/video/test_card.h"

namespace component {

// Rows or columns at a fitted picture's edge that may still show the black
// background: GDI+ (Wine's, at least) filters the picture's first row into
// the band; the Linux loops start the picture exactly on its rectangle.
#if defined(_WIN32)
constexpr int32_t kFitEdgeTolerance = 1;
#else
constexpr int32_t kFitEdgeTolerance = 0;
#endif

inline std::vector<uint8_t> jpegOf(const VideoFrame& frame) {
  std::vector<uint8_t> jpeg;
  encodeJpeg(frame.data.data(), frame.width, frame.height, frame.rowBytes(), &jpeg);
  return jpeg;
}

// The JPEG of the card as a phone in `orientation` takes it.
inline std::vector<uint8_t> cardJpeg(int32_t width, int32_t height, uint32_t orientation = 0) {
  return jpegOf(takeAsPhone(makeTestCard(width, height), orientation));
}

// Rewrites the size in a JPEG's frame header (SOF0-SOF2); false when there
// is none.
inline bool patchJpegSize(std::vector<uint8_t>* jpeg, uint16_t width, uint16_t height) {
  for (size_t i = 2; i + 9 < jpeg->size(); ++i) {
    if ((*jpeg)[i] == 0xFF && (*jpeg)[i + 1] >= 0xC0 && (*jpeg)[i + 1] <= 0xC2) {
      (*jpeg)[i + 5] = static_cast<uint8_t>(height >> 8);
      (*jpeg)[i + 6] = static_cast<uint8_t>(height);
      (*jpeg)[i + 7] = static_cast<uint8_t>(width >> 8);
      (*jpeg)[i + 8] = static_cast<uint8_t>(width);
      return true;
    }
  }
  return false;
}

// Sends the log to a file of the current folder for the test's lifetime.
class LogCapture {
 public:
  explicit LogCapture(const base::string16& name)
      : file_(base::joinPath(base::currentDirectory(), name)) {
    base::resetLoggingForTesting();
    ok_ = base::initLogging(file_, base::kLogToFile, base::kLockInProcess, 0);
  }
  ~LogCapture() {
    base::resetLoggingForTesting();
    base::deleteFile(file_);
  }
  bool ok() const { return ok_; }
  // Everything logged so far (logging stays on).
  std::string text() {
    std::string contents;
    base::readFile(file_, &contents);
    return contents;
  }

 private:
  base::string16 file_;
  bool ok_ = false;
};

}  // namespace component

#endif  // COMPONENTS_VIDEO_VIDEO_TEST_UTIL_H_
