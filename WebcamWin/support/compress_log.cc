#include <zlib.h>

#include "WebcamWin/support/jobs.h"
#include "WebcamWin/support/support_platform.h"
#include "base/logging.h"

namespace support {

int CCompressLog::progress() const {
  const int64_t total = total_.load();
  return total > 0 ? percentOf(static_cast<uint64_t>(bytesRead_.load()), static_cast<uint64_t>(total)) : 0;
}

HResult CCompressLog::execute(const StopEvent& stop) {
  LOG(INFO) << "CCompressLog::Execute ****** Begin ******";
  bytesRead_ = 0;
  total_ = 0;
  string16 logPath;
  if (!store_->lookup(kKeyLog, &logPath)) {
    LOG(ERROR) << "CCompressLog::Execute '" << kKeyLog << "' parameter empty";
    return kEInvalidArg;
  }
  LOG(INFO) << "CCompressLog::Execute " << kKeyLog << " = " << logPath;

  SharedReadFile log;
  uint32_t error = 0;
  if (!log.open(logPath, &error)) {
    LOG(ERROR) << "CCompressLog::Execute Can't open log file for reading. " << errorMessage(error);
    return hresultFromWin32(error);
  }

  string16 packedPath;
  if (!createUniqueTempFile(u"zlib", &packedPath)) return kEFail;
  const int fd = openFileDescriptorForGzip(packedPath, &error);
  gzFile gz = fd >= 0 ? gzdopen(fd, "wb6") : nullptr;
  if (!gz) {
    LOG(ERROR) << "CCompressLog::Execute can't start a gzip stream on " << packedPath;
    return kEFail;
  }

  const int64_t size = log.size();
  total_ = size > 0 ? size : 0;
  HResult hr = kSOk;
  char block[kBlockBytes];
  while (!stop.isSet()) {
    const long n = log.read(block, sizeof(block), &error);
    if (n < 0) {
      LOG(ERROR) << "CCompressLog::Execute read error " << error;
      hr = hresultFromWin32(error);
      break;
    }
    if (n == 0) break;
    if (gzwrite(gz, block, static_cast<unsigned>(n)) != n) {
      int code = 0;
      LOG(ERROR) << "CCompressLog::Execute GZIP error: " << gzerror(gz, &code);
      hr = kEFail;
      break;
    }
    bytesRead_ += n;
  }
  if (gzclose(gz) != Z_OK) {
    LOG(ERROR) << "CCompressLog::Execute failed gzclose";
    if (!failed(hr)) hr = kEFail;
  }
  if (!failed(hr) && stop.isSet()) hr = kEAbort;
  // The file of a failed or stopped packing stays, like every packed log:
  // what it holds is the part of the log read so far.
  if (failed(hr)) {
    LOG(INFO) << "CCompressLog::Execute left " << packedPath;
  } else {
    store_->set(kKeyCompressedLog, packedPath);
    LOG(INFO) << "CCompressLog::Execute " << kKeyCompressedLog << " = " << packedPath;
  }
  LOGF(INFO, "CCompressLog::Execute ****** Finish with %#x ******", static_cast<unsigned>(hr));
  return hr;
}

}  // namespace support
