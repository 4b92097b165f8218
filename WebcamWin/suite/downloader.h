// CDownloader: one asynchronous HTTP GET of a small text, reported to an
// IDownloadCompleteCallback on the internet library's thread. Windows:
// WinINet in asynchronous mode (user agent "Tavrix", port 80 unless the
// address names another); Linux: libcurl on a worker thread. At most
// kMaxAnswerBytes of the answer are taken: a longer answer is a failure.
//
// start(), state() and the destructor: the owner's thread. The callback
// runs on the library's thread; after the destructor it is never called.
#ifndef WEBCAMWIN_DOWNLOADER_H_
#define WEBCAMWIN_DOWNLOADER_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/string_util.h"

class IDownloadCompleteCallback {
 public:
  virtual ~IDownloadCompleteCallback() = default;
  // Status 200 with a non-empty body of at most kMaxAnswerBytes.
  virtual void OnDownloadComplete(const char* data, size_t length) = 0;
  // Anything else: no connection, another status, an empty or too long body.
  virtual void OnDownloadFailed() = 0;
};

class CDownloader {
 public:
  enum State : int { kIdle = 0, kFinished = 1, kRunning = 2 };

  static constexpr size_t kMaxAnswerBytes = 64 * 1024;
  static constexpr const char* kUserAgent = "Tavrix";
  // Result of a start that is under way (E_PENDING).
  static constexpr int32_t kPending = static_cast<int32_t>(0x8000000Au);

  explicit CDownloader(IDownloadCompleteCallback* callback);
  ~CDownloader();
  CDownloader(const CDownloader&) = delete;
  CDownloader& operator=(const CDownloader&) = delete;

  // Ends what an earlier download left and starts the GET of `url`.
  // kPending when it is on its way (state kRunning; the callback follows);
  // another result code otherwise (state kIdle, no callback).
  int32_t start(const base::string16& url);
  State state() const { return static_cast<State>(state_.load()); }
  // Ends a running download without a callback (state kIdle).
  void cancel();

 private:
  struct Transfer;  // per platform
  struct TransferDeleter {
    void operator()(Transfer* transfer) const;
  };

  // Library thread: the end of the request, with what it brought.
  void finish(int status, const char* data, size_t length, bool ok);

  IDownloadCompleteCallback* callback_;
  std::atomic<int> state_{kIdle};
  std::unique_ptr<Transfer, TransferDeleter> transfer_;  // declared last: ends first
};

#endif  // WEBCAMWIN_DOWNLOADER_H_
