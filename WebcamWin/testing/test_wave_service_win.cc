#include "WebcamWin/testing/test_wave_service.h"

#include <windows.h>

#include <string>

#include "WebcamWin/testing/shell_test_util.h"
#include "WebcamWin/suite/wavehost.h"
#include "base/file_util.h"
#include "base/test_util.h"
#include "base/test_util_win.h"
#include "base/win_util.h"

struct TestWaveService::Impl {
  ~Impl() {
    if (service) ::CloseServiceHandle(service);
    if (manager) ::CloseServiceHandle(manager);
  }
  SC_HANDLE manager = nullptr;
  SC_HANDLE service = nullptr;
  base::string16 folder;
  base::string16 record;
};

TestWaveService::TestWaveService() : impl_(std::make_unique<Impl>()) {
  impl_->folder = base::makeTempDirectory(u"wave_service");
  impl_->record = base::joinPath(impl_->folder, u"controls.txt");
  impl_->manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  // A service left over by an earlier run goes first.
  if (impl_->manager) {
    if (SC_HANDLE old = ::OpenServiceW(impl_->manager, base::wstr(kWaveServiceName), SERVICE_ALL_ACCESS)) {
      SERVICE_STATUS status;
      ::ControlService(old, SERVICE_CONTROL_STOP, &status);
      base::waitForServiceState(old, SERVICE_STOPPED);
      ::DeleteService(old);
      ::CloseServiceHandle(old);
    }
  }
}

TestWaveService::~TestWaveService() {
  stop();
  uninstall();
  base::removeTree(impl_->folder);
}

bool TestWaveService::install() {
  if (!impl_->manager) return false;
  uninstall();
  const std::wstring binary =
      L"\"" + std::wstring(reinterpret_cast<const wchar_t*>(shell_test::testProgram(u"wave_test_service").c_str())) +
      L"\"";
  impl_->service = ::CreateServiceW(impl_->manager, base::wstr(kWaveServiceName), base::wstr(kWaveServiceName),
                                    SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                    SERVICE_ERROR_NORMAL, binary.c_str(), nullptr, nullptr, nullptr, nullptr,
                                    nullptr);
  return impl_->service != nullptr;
}

bool TestWaveService::start() {
  if (!impl_->service) return false;
  const wchar_t* args[] = {base::wstr(impl_->record)};
  if (!::StartServiceW(impl_->service, 1, args)) return false;
  return base::waitForServiceState(impl_->service, SERVICE_RUNNING);
}

bool TestWaveService::stop() {
  if (!impl_->service) return false;
  SERVICE_STATUS status = {};
  if (::QueryServiceStatus(impl_->service, &status) && status.dwCurrentState == SERVICE_STOPPED) return true;
  ::ControlService(impl_->service, SERVICE_CONTROL_STOP, &status);
  return base::waitForServiceState(impl_->service, SERVICE_STOPPED);
}

void TestWaveService::uninstall() {
  if (!impl_->service) return;
  ::DeleteService(impl_->service);
  ::CloseServiceHandle(impl_->service);
  impl_->service = nullptr;
}

std::vector<uint32_t> TestWaveService::controls() const {
  std::vector<uint32_t> codes;
  const std::string text = shell_test::fileText(impl_->record);
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = text.find('\n', pos);
    if (end == std::string::npos) break;
    codes.push_back(static_cast<uint32_t>(std::stoul(text.substr(pos, end - pos))));
    pos = end + 1;
  }
  return codes;
}
