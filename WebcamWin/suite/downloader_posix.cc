// The download on Linux: the shared CurlTransfer, following redirects like
// WinINet does.
#include "WebcamWin/suite/downloader.h"
#include "WebcamWin/http/curl_transfer_posix.h"
#include "base/logging.h"

namespace {

constexpr long kMaxRedirects = 5;
// The whole exchange, besides the connect time-out; the caller keeps its own
// deadline too, this one just frees the worker thread in time.
constexpr long kOverallTimeoutMs = 30000;
// A cut answer also ends with a write error; it counts as too long.
constexpr size_t kTakeBytes = CDownloader::kMaxAnswerBytes;

}  // namespace

struct CDownloader::Transfer {
  Transfer() : curl(kTakeBytes) {}
  http::CurlTransfer curl;
};

void CDownloader::TransferDeleter::operator()(Transfer* transfer) const { delete transfer; }

int32_t CDownloader::start(const base::string16& url) {
  transfer_.reset();
  state_.store(kIdle);
  std::unique_ptr<Transfer, TransferDeleter> transfer(new Transfer());
  CURL* curl = transfer->curl.handle();
  if (!curl) return static_cast<int32_t>(0x80004005u);  // E_FAIL
  curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, kOverallTimeoutMs);
  state_.store(kRunning);
  if (!transfer->curl.start(base::wideToUtf8(url), kUserAgent,
                            [this](const http::CurlTransfer::Result& result) {
                              if (result.code == CURLE_OK) LOG(INFO) << "Request success";
                              if (result.cut)
                                LOG(WARNING) << "Answer longer than " << kMaxAnswerBytes << " bytes";
                              finish(static_cast<int>(result.status), result.body.data(),
                                     result.body.size(), result.code == CURLE_OK && !result.cut);
                            })) {
    state_.store(kIdle);
    return static_cast<int32_t>(0x80004005u);
  }
  transfer_ = std::move(transfer);
  return kPending;
}
