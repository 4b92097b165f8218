#include "WebcamWin/support/uploader.h"

#include <algorithm>
#include <ctime>

#include "WebcamWin/support/support_platform.h"
#include "base/logging.h"

namespace support {

CUploader::CUploader(const std::string& extension)
    : extension_(extension.empty() ? std::string("txt") : extension) {}

CUploader::~CUploader() {
  transfer_.reset();
  file_.close();
}

bool CUploader::prepareBody(const base::string16& filePath) {
  if (!file_.open(filePath, CMappedFile::kRead)) return false;
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  boundary_ = uploadBoundary(now);
  fileName_ = uploadFileName(utcFromUnixSeconds(now), extension_);
  body_.reset(uploadHead(boundary_, fileName_), file_.data(), file_.size(),
              uploadTail(boundary_));
  return true;
}

void CUploader::appendResponse(const char* data, size_t size, bool cut) {
  std::lock_guard<std::mutex> lock(responseMutex_);
  if (cut && !responseCut_) LOG(WARNING) << "Upload answer longer than " << kMaxResponseBytes << " bytes; cut";
  responseCut_ = responseCut_ || cut;
  response_.append(data, std::min(size, kMaxResponseBytes - response_.size()));
}

void CUploader::setStatusCode(int code) {
  std::lock_guard<std::mutex> lock(responseMutex_);
  statusCode_ = code;
}

int CUploader::statusCode() const {
  std::lock_guard<std::mutex> lock(responseMutex_);
  return statusCode_;
}

void CUploader::requestEnd() { body_.setFinished(); }

base::string16 CUploader::responseText() const {
  std::lock_guard<std::mutex> lock(responseMutex_);
  LOGF(INFO, "size = %u", static_cast<unsigned>(response_.size()));
  return ansiToWide(response_);
}

}  // namespace support
