// What the console front end hears from outside: single keys when standard
// input is a terminal (read without waiting for Enter and without echo),
// and the termination requests SIGINT and SIGTERM. Both arrive on a helper
// thread; the callbacks must only post to the user-interface thread.
#ifndef WEBCAMWIN_CONSOLE_TERMINAL_INPUT_H_
#define WEBCAMWIN_CONSOLE_TERMINAL_INPUT_H_

#include <functional>
#include <memory>

class TerminalInput {
 public:
  struct Callbacks {
    std::function<void(char key)> onKey;
    std::function<void()> onTerminate;  // SIGTERM, and SIGINT without onInterrupt
    std::function<void()> onInterrupt;  // SIGINT (Ctrl-C) when set
  };

  TerminalInput();
  ~TerminalInput();  // stops and restores the terminal
  TerminalInput(const TerminalInput&) = delete;
  TerminalInput& operator=(const TerminalInput&) = delete;

  // Call on the main thread before other threads exist that could take the
  // signals: it keeps SIGINT and SIGTERM for this object from then on.
  bool start(Callbacks callbacks);
  void stop();

  // Keys are read only when standard input is a terminal.
  static bool interactive();

  // From now on no key is taken from standard input, so that whoever calls
  // this (the internal-error question) reads the next one. Any thread, also
  // a signal handler.
  static void yieldKeys();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

#endif  // WEBCAMWIN_CONSOLE_TERMINAL_INPUT_H_
