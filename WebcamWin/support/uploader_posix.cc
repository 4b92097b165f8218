// The upload on Linux: libcurl on a worker thread (the shared CurlTransfer).
// The body is streamed through the read callback in the same phases and
// chunks as on Windows.
#include <cstring>

#include "WebcamWin/http/curl_transfer_posix.h"
#include "WebcamWin/support/uploader.h"
#include "base/logging.h"

namespace support {

struct CUploader::Transfer {
  explicit Transfer(CUploader* uploader) : owner(uploader), curl(kMaxResponseBytes) {}

  static size_t readBody(char* buffer, size_t size, size_t count, void* user) {
    auto* self = static_cast<Transfer*>(user);
    if (self->curl.aborting()) return CURL_READFUNC_ABORT;
    CUploadBody& body = self->owner->body_;
    const uint8_t* data = nullptr;
    const size_t n = body.next(&data, size * count);
    if (n == 0) {
      if (body.phase() == CUploadBody::kWritten && body.sent() < body.length())
        LOG(WARNING) << " Not all data sended";
      return 0;
    }
    std::memcpy(buffer, data, n);
    body.advance(n);
    return n;
  }

  void onEnd(const http::CurlTransfer::Result& result) {
    owner->appendResponse(result.body.data(), result.body.size(), result.cut);
    if (result.code == CURLE_OK || result.cut) owner->setStatusCode(static_cast<int>(result.status));
    owner->requestEnd();
  }

  CUploader* owner;
  http::CurlTransfer curl;
};

void CUploader::TransferDeleter::operator()(Transfer* transfer) const { delete transfer; }

HResult CUploader::start(const base::string16& address, const base::string16& filePath) {
  transfer_.reset();
  if (!prepareBody(filePath)) return kEFail;

  std::unique_ptr<Transfer, TransferDeleter> transfer(new Transfer(this));
  CURL* curl = transfer->curl.handle();
  if (!curl) return kEFail;
  for (const std::string& header : uploadHeaders(body_.length(), boundary_))
    transfer->curl.addHeader(header);
  // Send what WinINet sends: no Expect: 100-continue, no Accept.
  transfer->curl.addHeader("Expect:");
  transfer->curl.addHeader("Accept:");
  transfer->curl.addHeader("Connection: Keep-Alive");
  curl_easy_setopt(curl, CURLOPT_POST, 1L);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_.length()));
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, &Transfer::readBody);
  curl_easy_setopt(curl, CURLOPT_READDATA, transfer.get());

  Transfer* raw = transfer.get();
  if (!transfer->curl.start(base::wideToUtf8(address), kUserAgent,
                            [raw](const http::CurlTransfer::Result& result) { raw->onEnd(result); }))
    return kEFail;
  transfer_ = std::move(transfer);
  return kEPending;
}

}  // namespace support
