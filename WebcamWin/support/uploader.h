// Sends the packed log to the support web server as a multipart/form-data
// POST and keeps the server's answer. The transfer runs asynchronously:
// start() returns kEPending once the request is on its way, and the owner
// polls finished() / bytesSent(). Windows: WinINet in asynchronous mode
// driven by its status callback; Linux: libcurl on a worker thread reading
// the body through a read callback (both shared with the main program's
// update check, WebcamWin/http/). Destroying the uploader ends the
// transfer and unmaps the file.
#ifndef WEBCAMWIN_SUPPORT_UPLOADER_H_
#define WEBCAMWIN_SUPPORT_UPLOADER_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "WebcamWin/support/hresult.h"
#include "WebcamWin/support/mapped_file.h"
#include "WebcamWin/support/upload_body.h"
#include "base/string_util.h"

namespace support {

constexpr const char* kUserAgent = "WC BB";
// At most this much of the server's answer is kept (it ends up in an address).
constexpr size_t kMaxResponseBytes = 64 * 1024;

class CUploader {
 public:
  // "txt" when `extension` is empty.
  explicit CUploader(const std::string& extension);
  ~CUploader();
  CUploader(const CUploader&) = delete;
  CUploader& operator=(const CUploader&) = delete;

  // kEPending when the upload is under way; another failure otherwise.
  HResult start(const base::string16& address, const base::string16& filePath);

  // Any thread.
  bool finished() const { return body_.finished(); }
  uint64_t bodyLength() const { return body_.length(); }
  uint64_t bytesSent() const { return body_.sent(); }
  // The answer in the 8-bit code page, as text.
  base::string16 responseText() const;
  int statusCode() const;

  // The upload's file name (for traces and tests).
  const std::string& fileName() const { return fileName_; }

 private:
  struct Transfer;  // per platform
  struct TransferDeleter {
    void operator()(Transfer* transfer) const;
  };

  // Maps the file and builds the body; false when there is no view.
  bool prepareBody(const base::string16& filePath);
  // The answer as the transfer kept it; `cut` when it was longer.
  void appendResponse(const char* data, size_t size, bool cut);
  void setStatusCode(int code);
  // The request is over (also when it failed): phase 4.
  void requestEnd();

  std::string extension_;
  std::string boundary_;
  std::string fileName_;
  CMappedFile file_;
  CUploadBody body_;
  mutable std::mutex responseMutex_;
  std::string response_;
  bool responseCut_ = false;
  int statusCode_ = 200;
  std::unique_ptr<Transfer, TransferDeleter> transfer_;  // declared last: ends first
};

}  // namespace support

#endif  // WEBCAMWIN_SUPPORT_UPLOADER_H_
