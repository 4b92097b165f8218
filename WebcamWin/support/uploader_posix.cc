// The upload on Linux: libcurl on a worker thread of its own. The body is
// streamed through the read callback in the same phases and chunks as on
// Windows; the answer arrives through the write callback.
#include <curl/curl.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include "WebcamWin/support/uploader.h"
#include "base/logging.h"

namespace support {
namespace {

constexpr long kConnectTimeoutMs = 30000;
// Like WinINet's receive time-out: a server that sends nothing for a minute
// ends the request.
constexpr long kStallSeconds = 60;

}  // namespace

struct CUploader::Transfer {
  CUploader* owner = nullptr;
  CURL* curl = nullptr;
  curl_slist* headers = nullptr;
  std::thread thread;
  std::atomic<bool> abort{false};
  std::string url;

  ~Transfer() {
    abort.store(true);
    if (thread.joinable()) thread.join();
    if (headers) curl_slist_free_all(headers);
    if (curl) curl_easy_cleanup(curl);
  }

  static size_t readBody(char* buffer, size_t size, size_t count, void* user) {
    auto* self = static_cast<Transfer*>(user);
    if (self->abort.load()) return CURL_READFUNC_ABORT;
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

  static size_t writeAnswer(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<Transfer*>(user);
    if (self->abort.load()) return 0;
    self->owner->appendResponse(data, size * count);
    return size * count;
  }

  static int progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Transfer*>(user)->abort.load() ? 1 : 0;
  }

  void run() {
    const CURLcode rc = curl_easy_perform(curl);
    if (rc != CURLE_OK) {
      LOG(ERROR) << "Request failed: " << static_cast<int>(rc) << " " << curl_easy_strerror(rc);
    } else {
      long code = 0;
      curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
      owner->setStatusCode(static_cast<int>(code));
    }
    owner->requestEnd();
  }
};

void CUploader::TransferDeleter::operator()(Transfer* transfer) const { delete transfer; }

HResult CUploader::start(const base::string16& address, const base::string16& filePath) {
  transfer_.reset();
  if (!prepareBody(filePath)) return kEFail;

  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  std::unique_ptr<Transfer, TransferDeleter> transfer(new Transfer());
  transfer->owner = this;
  transfer->url = base::wideToUtf8(address);
  transfer->curl = curl_easy_init();
  if (!transfer->curl) return kEFail;
  CURL* curl = transfer->curl;
  for (const std::string& header : uploadHeaders(body_.length(), boundary_))
    transfer->headers = curl_slist_append(transfer->headers, header.c_str());
  // Send what WinINet sends: no Expect: 100-continue, no Accept.
  transfer->headers = curl_slist_append(transfer->headers, "Expect:");
  transfer->headers = curl_slist_append(transfer->headers, "Accept:");
  transfer->headers = curl_slist_append(transfer->headers, "Connection: Keep-Alive");

  curl_easy_setopt(curl, CURLOPT_URL, transfer->url.c_str());
  curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(curl, CURLOPT_POST, 1L);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_.length()));
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, transfer->headers);
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, &Transfer::readBody);
  curl_easy_setopt(curl, CURLOPT_READDATA, transfer.get());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Transfer::writeAnswer);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, transfer.get());
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Transfer::progress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, transfer.get());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kStallSeconds);

  Transfer* raw = transfer.get();
  try {
    transfer->thread = std::thread([raw] { raw->run(); });
  } catch (const std::system_error& e) {
    LOG(ERROR) << "Can't start the upload thread: " << e.what();
    return kEFail;
  }
  transfer_ = std::move(transfer);
  return kEPending;
}

}  // namespace support
