// Test helper: a real "Lumora Wave Service" for the client to talk to.
// Windows: a small service program registered with the service control
// manager of the (Wine) machine; it records the user control codes it gets.
// Linux: a stand-in for the `wavehost` daemon serving its control socket in
// a scratch XDG_RUNTIME_DIR, with the systemd user unit in a scratch
// XDG_CONFIG_HOME marking it installed.
#ifndef WEBCAMWIN_TEST_WAVE_SERVICE_H_
#define WEBCAMWIN_TEST_WAVE_SERVICE_H_

#include <cstdint>
#include <memory>
#include <vector>

class TestWaveService {
 public:
  // Removes a service an earlier run may have left behind.
  TestWaveService();
  ~TestWaveService();  // stops and removes the service
  TestWaveService(const TestWaveService&) = delete;
  TestWaveService& operator=(const TestWaveService&) = delete;

  // Registers the service (it does not run yet).
  bool install();
  bool start();
  bool stop();
  void uninstall();

  // The user control codes (200 to 203) received so far, in order.
  std::vector<uint32_t> controls() const;
  bool waitForControls(size_t count, int timeoutMs) const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

#endif  // WEBCAMWIN_TEST_WAVE_SERVICE_H_
