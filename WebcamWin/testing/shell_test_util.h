// Helpers for the tests of the shell services: environment variables set
// for one test, a message loop pumped until something happened, a hidden
// window that records what is posted to it, and where the built programs
// are.
#ifndef WEBCAMWIN_SHELL_TEST_UTIL_H_
#define WEBCAMWIN_SHELL_TEST_UTIL_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/message_loop.h"
#include "base/string_util.h"

namespace shell_test {

// Sets or removes variables; the destructor puts the old values back.
class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ~ScopedEnvironment();
  void set(const std::string& name, const std::string& value);
  void unset(const std::string& name);

 private:
  void remember(const std::string& name);
  struct Saved {
    std::string name, value;
    bool had = false;
  };
  std::vector<Saved> saved_;
};

// Pumps the calling thread's loop until `done` or the time-out (generous:
// the machines are shared). Returns done().
bool pumpUntil(base::MessageLoop* loop, const std::function<bool()>& done, int timeoutMs = 30000);

// Records the messages posted to it (user messages only, not timers).
class MessageRecorder : public base::MessageWindow::Handler {
 public:
  MessageRecorder();
  ~MessageRecorder() override;
  base::MessageWindow* window() { return window_.get(); }
  std::vector<std::pair<uint32_t, uintptr_t>> messages;

 private:
  void onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) override;
  std::unique_ptr<base::MessageWindow> window_;
};

// A program of this build in bin/ (the test programs sit in tests/), with
// ".exe" on Windows.
base::string16 builtProgram(const base::string16& name);
// A test program beside this one.
base::string16 testProgram(const base::string16& name);

// Sends the log to a scratch file for as long as it lives.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  std::string text() const;
  bool contains(const std::string& line) const { return text().find(line) != std::string::npos; }

 private:
  base::string16 folder_, file_;
};

// The whole file ("" when it can't be read).
std::string fileText(const base::string16& path);

}  // namespace shell_test

#endif  // WEBCAMWIN_SHELL_TEST_UTIL_H_
