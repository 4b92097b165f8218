#include "WebcamWin/support/jobs.h"
#include "WebcamWin/support/uploader.h"
#include "base/logging.h"

namespace support {

int CSendLog::progress() const { return percentOf(sent_.load(), total_.load()); }

HResult CSendLog::execute(const StopEvent& stop) {
  LOG(INFO) << "CSendLog::Execute ****** Begin ******";
  sent_ = 0;
  total_ = 0;
  const string16 packedPath = store_->get(kKeyCompressedLog);
  LOG(INFO) << "CSendLog::Execute " << kKeyCompressedLog << " = " << packedPath;
  // Only exactly "TRUE" names the upload as a tar file.
  const std::string extension = store_->get(kKeyTarFile) == u"TRUE" ? "tar" : "txt";

  HResult hr;
  {
    CUploader uploader(extension);
    hr = uploader.start(address_, packedPath);
    if (hr == kEPending) {
      hr = kEAbort;  // unless it finishes before the stop event
      while (!stop.isSet()) {
        if (uploader.finished()) {
          const string16 answer = uploader.responseText();
          store_->set(kKeyShippedLog, answer);
          LOG(INFO) << "CSendLog::Execute " << kKeyShippedLog << " = " << answer;
          sent_ = uploader.bytesSent();
          hr = kSOk;
          break;
        }
        total_ = uploader.bodyLength();
        sent_ = uploader.bytesSent();
        stop.waitFor(kPollMs);
      }
    }
  }
  LOGF(INFO, "CSendLog::Execute ****** Finish with %#x ******", static_cast<unsigned>(hr));
  return hr;
}

}  // namespace support
