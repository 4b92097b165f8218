#include "base/test_util_win.h"

#include <chrono>
#include <thread>

namespace base {

bool waitForServiceState(SC_HANDLE service, DWORD wanted) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (;;) {
    SERVICE_STATUS status = {};
    if (!::QueryServiceStatus(service, &status)) return false;
    if (status.dwCurrentState == wanted) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace base
