// Test helper: runs a program with pipes for its standard input and output
// (standard error joins the output, as when the main program starts the
// support tool), extra environment variables and no terminal.
#ifndef WEBCAMWIN_SUPPORT_TEST_PROCESS_H_
#define WEBCAMWIN_SUPPORT_TEST_PROCESS_H_

#include <map>
#include <memory>
#include <string>

namespace support_test {

class ChildProcess {
 public:
  ChildProcess();
  ~ChildProcess();  // kills a child that is still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // `env` entries replace or add to this process's environment. Without
  // `withInput` the child gets no standard input at all.
  bool start(const std::string& program, const std::map<std::string, std::string>& env,
             bool withInput = true);
  bool writeInput(const std::string& bytes);
  void closeInput();
  // What the child wrote so far.
  std::string output() const;
  // Waits for the exit; false (and the child killed) after `timeoutMs`.
  bool wait(int timeoutMs, int* exitCode);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// A path as the programs of this build see it (under Wine, "/x/y" is
// "Z:\x\y").
std::string nativeTestPath(const std::string& path);

}  // namespace support_test

#endif  // WEBCAMWIN_SUPPORT_TEST_PROCESS_H_
