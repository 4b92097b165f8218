// Test helper (Linux): a stand-in for the `wavehost` daemon's control
// socket. Every connection carries one request line; the daemon records it
// and answers with the configured line ("ok 4" unless told otherwise), or
// (by mode) keeps silent or hangs up.
#ifndef WEBCAMWIN_TEST_WAVE_DAEMON_POSIX_H_
#define WEBCAMWIN_TEST_WAVE_DAEMON_POSIX_H_

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "WebcamWin/platform/stoppable_thread_posix.h"

class FakeWaveDaemon {
 public:
  enum class Mode { kAnswer, kSilent, kHangUp };

  FakeWaveDaemon() = default;
  ~FakeWaveDaemon() { stop(); }

  bool start(const std::string& socketPath);
  void stop();

  void setMode(Mode mode) { mode_ = mode; }
  // The answer (without its line feed) to `request`, or to every request
  // when `request` is empty; the latest setting wins.
  void setAnswer(const std::string& request, const std::string& answer);
  std::vector<std::string> requests() const;

 private:
  void serve(int stopFd);
  std::string answerFor(const std::string& request) const;

  std::string path_;
  int listenFd_ = -1;
  std::atomic<Mode> mode_{Mode::kAnswer};
  mutable std::mutex mutex_;
  std::vector<std::pair<std::string, std::string>> answers_;
  std::vector<std::string> requests_;
  std::vector<int> held_;  // connections left without an answer
  StoppableThread thread_;
};

#endif  // WEBCAMWIN_TEST_WAVE_DAEMON_POSIX_H_
