// The bytes of the log upload: a multipart/form-data body with one file
// field "userfile", written as head, the packed log and tail. CUploadBody
// hands the body out in phases (0 head, 1 file in chunks of at most 4096
// bytes, 2 tail, 3 all written, 4 finished) so that the file can be sent
// straight from its memory mapping.
#ifndef WEBCAMWIN_SUPPORT_UPLOAD_BODY_H_
#define WEBCAMWIN_SUPPORT_UPLOAD_BODY_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace support {

constexpr size_t kUploadChunkBytes = 4096;

struct UtcTime {
  int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
// Calendar time of a count of seconds since 1970 (UTC, proleptic Gregorian).
UtcTime utcFromUnixSeconds(int64_t seconds);

// "----LumoraDesktop%x" with the lowest 32 bits of the seconds since 1970.
std::string uploadBoundary(int64_t unixSeconds);
// "Log-%04d-%02d-%02dT%02d-%02d-%02d.%s.gz"
std::string uploadFileName(const UtcTime& time, const std::string& extension);
std::string uploadHead(const std::string& boundary, const std::string& fileName);
std::string uploadTail(const std::string& boundary);
// "Content-Length: %d" and "Content-Type: multipart/form-data; boundary="%s"".
std::vector<std::string> uploadHeaders(uint64_t bodyLength, const std::string& boundary);

// Not copyable; the file bytes are borrowed and must outlive the body.
// The writer side (one thread at a time) calls next()/advance(); sent(),
// length() and phase() may be read from any thread.
class CUploadBody {
 public:
  enum Phase { kHead = 0, kFile = 1, kTail = 2, kWritten = 3, kFinished = 4 };

  CUploadBody() = default;
  CUploadBody(const CUploadBody&) = delete;
  CUploadBody& operator=(const CUploadBody&) = delete;

  void reset(std::string head, const uint8_t* file, size_t fileSize, std::string tail);

  uint64_t length() const { return length_; }
  uint64_t sent() const { return sent_.load(std::memory_order_acquire); }
  int phase() const { return phase_.load(std::memory_order_acquire); }
  bool finished() const { return phase() == kFinished; }
  void setFinished() { phase_.store(kFinished, std::memory_order_release); }

  // The next bytes of the current phase, at most `limit` (file bytes at
  // most kUploadChunkBytes); 0 when nothing is left to write.
  size_t next(const uint8_t** data, size_t limit) const;
  // Counts `written` bytes of what next() gave as sent and moves the phase:
  // 0 -> 1 after the head, 1 -> 2 when exactly the tail is left, 2 -> 3
  // after the tail.
  void advance(size_t written);

 private:
  std::string head_, tail_;
  const uint8_t* file_ = nullptr;
  size_t fileSize_ = 0;
  uint64_t length_ = 0;
  std::atomic<uint64_t> sent_{0};
  std::atomic<int> phase_{kHead};
};

}  // namespace support

#endif  // WEBCAMWIN_SUPPORT_UPLOAD_BODY_H_
