// libcurl on a worker thread of its own, shared by the support tool's upload
// and the main program's update check: one easy handle, its header list, the
// answer kept up to a limit, and an abort flag that the callbacks and the
// destructor use to end the transfer early. Included by *_posix.cc files
// only.
#ifndef WEBCAMWIN_HTTP_CURL_TRANSFER_POSIX_H_
#define WEBCAMWIN_HTTP_CURL_TRANSFER_POSIX_H_

#include <curl/curl.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace http {

class CurlTransfer {
 public:
  struct Result {
    CURLcode code = CURLE_OK;
    long status = 0;      // the HTTP status, 0 when none arrived
    std::string body;     // at most the limit
    bool cut = false;     // the answer was longer than the limit
  };
  // Worker thread; the last thing the transfer does (not called when the
  // transfer is being destroyed).
  using EndCallback = std::function<void(const Result& result)>;

  // A longer answer than `maxResponseBytes` ends the transfer at that point
  // with Result::cut set.
  explicit CurlTransfer(size_t maxResponseBytes);
  // Ends a running transfer and waits for its thread.
  ~CurlTransfer();
  CurlTransfer(const CurlTransfer&) = delete;
  CurlTransfer& operator=(const CurlTransfer&) = delete;

  // Null when libcurl had no handle to give. The owner sets its own options
  // (method, body callbacks) here before start().
  CURL* handle() const { return curl_; }
  void addHeader(const std::string& header);

  // Any thread: whether the owner is ending the transfer (a body callback
  // should then refuse to go on).
  bool aborting() const { return abort_.load(); }

  // Starts the request on the worker thread: `url` with `userAgent`, the
  // headers added so far, the usual time-outs. False when no thread could be
  // started; `onEnd` is not called then.
  bool start(const std::string& url, const char* userAgent, EndCallback onEnd);

 private:
  static size_t writeAnswer(char* data, size_t size, size_t count, void* user);
  static int progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
  void run();

  const size_t maxResponseBytes_;
  CURL* curl_ = nullptr;
  curl_slist* headers_ = nullptr;
  std::string url_;
  std::string userAgent_;
  EndCallback onEnd_;
  Result result_;
  std::atomic<bool> abort_{false};
  std::thread thread_;
};

}  // namespace http

#endif  // WEBCAMWIN_HTTP_CURL_TRANSFER_POSIX_H_
