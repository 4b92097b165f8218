#include "WebcamWin/testing/test_wave_service.h"


#include <chrono>
#include <string>
#include <thread>

#include "WebcamWin/testing/shell_test_util.h"
#include "WebcamWin/testing/test_wave_daemon_posix.h"
#include "WebcamWin/suite/wavehost.h"
#include "base/file_util.h"
#include "base/test_util.h"

struct TestWaveService::Impl {
  base::string16 folder;
  shell_test::ScopedEnvironment env;
  FakeWaveDaemon daemon;
};

TestWaveService::TestWaveService() : impl_(std::make_unique<Impl>()) {
  impl_->folder = base::makeTempDirectory(u"wave_service");
  base::createDirectories(base::joinPath(impl_->folder, u"run"));
  impl_->env.set("XDG_RUNTIME_DIR", base::wideToUtf8(base::joinPath(impl_->folder, u"run")));
  impl_->env.set("XDG_CONFIG_HOME", base::wideToUtf8(base::joinPath(impl_->folder, u"config")));
}

TestWaveService::~TestWaveService() {
  stop();
  uninstall();
  base::removeTree(impl_->folder);
}

bool TestWaveService::install() {
  const base::string16 units = base::joinPath(impl_->folder, u"config/systemd/user");
  return base::createDirectories(units) &&
         base::writeFileAtomic(base::joinPath(units, u"lumora-wave-service.service"), "[Service]\n");
}

bool TestWaveService::start() {
  return impl_->daemon.start(base::wideToUtf8(base::joinPath(impl_->folder, u"run/lumora-wave-service.sock")));
}

bool TestWaveService::stop() {
  impl_->daemon.stop();
  return true;
}

void TestWaveService::uninstall() {
  base::removeTree(base::joinPath(impl_->folder, u"config"));
}

std::vector<uint32_t> TestWaveService::controls() const {
  std::vector<uint32_t> codes;
  for (const std::string& request : impl_->daemon.requests()) {
    if (request == "ping") codes.push_back(WAVE_SERVICE_PING);
    else if (request == "pause") codes.push_back(WAVE_SERVICE_PAUSE);
    else if (request == "continue") codes.push_back(WAVE_SERVICE_CONTINUE);
    else if (request == "reload") codes.push_back(WAVE_SERVICE_OPEN_DEVICE);
  }
  return codes;
}
