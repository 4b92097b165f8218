#include "WebcamWin/http/curl_transfer_posix.h"

#include <mutex>
#include <system_error>

#include "base/logging.h"

namespace http {
namespace {

constexpr long kConnectTimeoutMs = 30000;
// Like WinINet's receive time-out: a server that sends nothing for a minute
// ends the request.
constexpr long kStallSeconds = 60;

}  // namespace

CurlTransfer::CurlTransfer(size_t maxResponseBytes) : maxResponseBytes_(maxResponseBytes) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  curl_ = curl_easy_init();
}

CurlTransfer::~CurlTransfer() {
  abort_.store(true);
  if (thread_.joinable()) thread_.join();
  if (headers_) curl_slist_free_all(headers_);
  if (curl_) curl_easy_cleanup(curl_);
}

void CurlTransfer::addHeader(const std::string& header) {
  headers_ = curl_slist_append(headers_, header.c_str());
}

bool CurlTransfer::start(const std::string& url, const char* userAgent, EndCallback onEnd) {
  if (!curl_ || thread_.joinable()) return false;
  url_ = url;
  userAgent_ = userAgent;
  onEnd_ = std::move(onEnd);
  curl_easy_setopt(curl_, CURLOPT_URL, url_.c_str());
  curl_easy_setopt(curl_, CURLOPT_USERAGENT, userAgent_.c_str());
  curl_easy_setopt(curl_, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  // Only the web: an address from the environment must not read files.
  curl_easy_setopt(curl_, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  if (headers_) curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers_);
  curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &CurlTransfer::writeAnswer);
  curl_easy_setopt(curl_, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(curl_, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl_, CURLOPT_XFERINFOFUNCTION, &CurlTransfer::progress);
  curl_easy_setopt(curl_, CURLOPT_XFERINFODATA, this);
  curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
  curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
  try {
    thread_ = std::thread([this] { run(); });
  } catch (const std::system_error& e) {
    LOG(ERROR) << "Can't start the transfer thread: " << e.what();
    return false;
  }
  return true;
}

size_t CurlTransfer::writeAnswer(char* data, size_t size, size_t count, void* user) {
  auto* self = static_cast<CurlTransfer*>(user);
  if (self->abort_.load()) return 0;
  const size_t n = size * count;
  const size_t room = self->maxResponseBytes_ - self->result_.body.size();
  if (n > room) {
    // Keep what fits and end the transfer: returning less than given stops it.
    self->result_.body.append(data, room);
    self->result_.cut = true;
    return room;
  }
  self->result_.body.append(data, n);
  return n;
}

int CurlTransfer::progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<CurlTransfer*>(user)->abort_.load() ? 1 : 0;
}

void CurlTransfer::run() {
  result_.code = curl_easy_perform(curl_);
  curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &result_.status);
  if (abort_.load()) return;  // the owner is going away
  if (result_.code != CURLE_OK && !(result_.cut && result_.code == CURLE_WRITE_ERROR)) {
    LOG(ERROR) << "Request failed: " << static_cast<int>(result_.code) << " "
               << curl_easy_strerror(result_.code);
  }
  if (onEnd_) onEnd_(result_);
}

}  // namespace http
