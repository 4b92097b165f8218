#include "WebcamWin/suite/downloader.h"

#include "base/logging.h"

CDownloader::CDownloader(IDownloadCompleteCallback* callback) : callback_(callback) {}

CDownloader::~CDownloader() { transfer_.reset(); }

void CDownloader::cancel() {
  // Once the transfer is gone its callback can no longer come.
  transfer_.reset();
  state_.store(kIdle);
}

void CDownloader::finish(int status, const char* data, size_t length, bool ok) {
  if (ok && status == 200 && length > 0) {
    callback_->OnDownloadComplete(data, length);
  } else {
    LOG(WARNING) << "Download failed: status " << status << ", " << length << " bytes";
    callback_->OnDownloadFailed();
  }
  state_.store(kFinished);
}
