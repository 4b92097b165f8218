#include "WebcamWin/support/upload_body.h"

#include <algorithm>

#include "base/string_util.h"

namespace support {

UtcTime utcFromUnixSeconds(int64_t seconds) {
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  UtcTime t;
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest % 3600 / 60);
  t.second = static_cast<int>(rest % 60);
  // Days to civil date (eras of 400 years starting in March).
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t mp = (5 * dayOfYear + 2) / 153;
  t.day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.year = static_cast<int>(yearOfEra + era * 400 + (t.month <= 2 ? 1 : 0));
  return t;
}

std::string uploadBoundary(int64_t unixSeconds) {
  return base::stringPrintf("----LumoraDesktop%x", static_cast<uint32_t>(unixSeconds));
}

std::string uploadFileName(const UtcTime& t, const std::string& extension) {
  return base::stringPrintf("Log-%04d-%02d-%02dT%02d-%02d-%02d.%s.gz", t.year, t.month,
                            t.day, t.hour, t.minute, t.second, extension.c_str());
}

std::string uploadHead(const std::string& boundary, const std::string& fileName) {
  return "--" + boundary + "\nContent-Disposition: form-data; name=\"userfile\"; filename=\"" +
         fileName + "\"\nContent-Type: gzip\n\n";
}

std::string uploadTail(const std::string& boundary) { return "\n--" + boundary + "--\n"; }

std::vector<std::string> uploadHeaders(uint64_t bodyLength, const std::string& boundary) {
  return {base::stringPrintf("Content-Length: %d", static_cast<int>(bodyLength)),
          "Content-Type: multipart/form-data; boundary=\"" + boundary + "\""};
}

void CUploadBody::reset(std::string head, const uint8_t* file, size_t fileSize,
                        std::string tail) {
  head_ = std::move(head);
  tail_ = std::move(tail);
  file_ = file;
  fileSize_ = file ? fileSize : 0;
  length_ = head_.size() + fileSize_ + tail_.size();
  sent_.store(0, std::memory_order_release);
  phase_.store(kHead, std::memory_order_release);
}

size_t CUploadBody::next(const uint8_t** data, size_t limit) const {
  const uint64_t sent = this->sent();
  switch (phase()) {
    case kHead: {
      const size_t offset = static_cast<size_t>(sent);
      *data = reinterpret_cast<const uint8_t*>(head_.data()) + offset;
      return std::min(limit, head_.size() - offset);
    }
    case kFile: {
      const size_t offset = static_cast<size_t>(sent - head_.size());
      *data = file_ + offset;
      return std::min({limit, kUploadChunkBytes, fileSize_ - offset});
    }
    case kTail: {
      const size_t offset = static_cast<size_t>(sent - head_.size() - fileSize_);
      *data = reinterpret_cast<const uint8_t*>(tail_.data()) + offset;
      return std::min(limit, tail_.size() - offset);
    }
  }
  *data = nullptr;
  return 0;
}

void CUploadBody::advance(size_t written) {
  const uint64_t sent = sent_.load(std::memory_order_relaxed) + written;
  sent_.store(sent, std::memory_order_release);
  int phase = this->phase();
  if (phase == kHead && sent >= head_.size()) phase = kFile;
  if (phase == kFile && length_ - sent == tail_.size()) phase = kTail;
  else if (phase == kTail && sent == length_) phase = kWritten;
  phase_.store(phase, std::memory_order_release);
}

}  // namespace support
