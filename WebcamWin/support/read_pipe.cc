#include <cstdint>
#include <string>

#include "WebcamWin/support/jobs.h"
#include "WebcamWin/support/support_platform.h"
#include "base/logging.h"

namespace support {

// The answer: "OK" with its terminating null, in UTF-16LE.
static const uint8_t kReply[] = {0x4F, 0x00, 0x4B, 0x00, 0x00, 0x00};

HResult CReadPipe::execute(const StopEvent&) {
  LOG(INFO) << "CReadPipe::Execute ****** Begin ******";
  uint32_t error = 0;
  if (!standardHandlesValid(&error)) {
    // A missing handle with no error code must still read as a failure.
    const HResult hr = error ? hresultFromWin32(error) : kEHandle;
    LOGF(ERROR, "CReadPipe::ReadPipe Invalid handles. %#x", static_cast<unsigned>(hr));
    LOGF(INFO, "CReadPipe::Execute ****** Finish with %#x ******", static_cast<unsigned>(hr));
    return hr;
  }

  // Read to the end: the main program closes its end when it has written
  // everything, and only then gets the answer.
  std::string request;
  char chunk[kReadChunkBytes];
  bool cut = false;
  for (;;) {
    const long n = readStandardInput(chunk, sizeof(chunk), &error);
    if (n < 0) {
      LOG(INFO) << "CReadPipe::ReadPipe read ended with error " << error;
      break;
    }
    if (n == 0) break;
    const size_t room = kMaxRequestBytes - request.size();
    if (static_cast<size_t>(n) > room && !cut) {
      LOG(WARNING) << "CReadPipe::ReadPipe request longer than " << kMaxRequestBytes
                   << " bytes; the rest is dropped";
      cut = true;
    }
    request.append(chunk, std::min(static_cast<size_t>(n), room));
  }

  if (!writeStandardOutput(kReply, sizeof(kReply), &error))
    LOG(WARNING) << "CReadPipe::ReadPipe can't write the answer: error " << error;

  const string16 text = decodeUtf16Le(request);
  LOG(INFO) << "CReadPipe::ReadPipe Input data:\n" << text;
  parseRequest(text, store_);
  LOG(INFO) << "CReadPipe::Execute ****** Finish with 0 ******";
  return kSOk;
}

}  // namespace support
