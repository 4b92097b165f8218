#include "WebcamWin/support/jobs.h"
#include "WebcamWin/support/support_platform.h"
#include "base/logging.h"

namespace support {

HResult CCheckInternet::execute(const StopEvent&) {
  const bool reachable = checkInternetConnection(address_);
  LOG(INFO) << "CCheckInternet::Execute " << address_ << (reachable ? " reachable" : " not reachable");
  return reachable ? kSOk : kEFail;
}

}  // namespace support
