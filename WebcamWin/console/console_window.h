// The console front end of `server` on Linux: it plays the main window's
// part. It prints what the window would show (title, state, "Listen on
// ..."), takes single-key commands when standard input is a terminal, and
// turns SIGINT, SIGTERM and the requests of other starts into the window's
// close and show messages. Without a terminal it simply runs until closed.
#ifndef WEBCAMWIN_CONSOLE_CONSOLE_WINDOW_H_
#define WEBCAMWIN_CONSOLE_CONSOLE_WINDOW_H_

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>

#include "WebcamWin/console/terminal_input.h"
#include "WebcamWin/frame_window.h"
#include "base/message_loop.h"

class ConsoleWindow : public FrameWindow, private base::MessageWindow::Handler {
 public:
  // Messages of the hidden window that carries requests to the UI thread.
  static constexpr uint32_t kMsgClose = 0x0010;  // WM_CLOSE
  static constexpr uint32_t kMsgShow = base::kMsgUser + 1;
  static constexpr uint32_t kMsgKey = base::kMsgUser + 2;
  static constexpr uint32_t kMsgInterrupt = base::kMsgUser + 3;
  static constexpr uint32_t kMsgAnswer = base::kMsgUser + 4;
  // How long another start's answer waits for the user-interface thread.
  static constexpr int kAnswerWaitMs = 4000;

  // `out` receives the lines (standard output in the program).
  ConsoleWindow(CMainFrame* frame, FILE* out);
  ~ConsoleWindow() override;

  // FrameWindow
  bool create(const base::string16& title) override;
  void centre() override {}
  void show(int showCommand) override;
  void bringToFront() override;
  bool visible() const override { return visible_; }
  void destroy() override;
  void postClose(uintptr_t param) override;
  void postShow() override;
  void showStatus(const base::string16& text) override;
  void showAuthorizationPrompt(const base::string16& name, const base::string16& uid) override;
  void closeAuthorizationPrompt() override;
  bool answerFromAnotherStart(uintptr_t answer) override;

  // A key as the terminal delivered it (UI thread).
  void onKey(char key);
  // Ctrl-C (UI thread): denies an open prompt, closes otherwise.
  void onInterrupt();

  // The question the console asks about a phone.
  static std::string promptText(const base::string16& name, const base::string16& uid);

 private:
  void onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) override;
  // Shown normally and in front (another start, the 's' key).
  void raise();
  void print(const std::string& line);
  void printHelp();
  void answerWaitingRequests();

  // An answer of another start, waiting for the user-interface thread.
  struct PendingAnswer {
    uintptr_t answer = 0;
    bool done = false;
    bool answered = false;
  };

  CMainFrame* frame_;
  FILE* out_;
  std::unique_ptr<base::MessageWindow> window_;
  std::unique_ptr<TerminalInput> input_;
  base::string16 title_;
  base::string16 status_;
  bool created_ = false;
  bool visible_ = false;
  bool prompting_ = false;

  std::mutex answersMu_;
  std::condition_variable answersDone_;
  std::deque<std::shared_ptr<PendingAnswer>> answers_;
};

#endif  // WEBCAMWIN_CONSOLE_CONSOLE_WINDOW_H_
