// The console front end of `server` on Linux: it plays the main window's
// part. It prints what the window would show (title, state, "Listen on
// ..."), keeps a status line (phone, picture size and rate, recording time),
// takes single-key commands when standard input is a terminal (the same
// commands as the window's buttons), asks the questions before quitting, and
// turns SIGINT, SIGTERM and the requests of other starts into the window's
// close and show messages. Without a terminal it simply runs until closed.
#ifndef WEBCAMWIN_CONSOLE_CONSOLE_WINDOW_H_
#define WEBCAMWIN_CONSOLE_CONSOLE_WINDOW_H_

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "WebcamWin/console/terminal_input.h"
#include "WebcamWin/controller/message_frame_window.h"
#include "base/message_loop.h"

class ConsoleWindow : public MessageFrameWindow {
 public:
  // The hidden window's own messages, besides close, show and answer.
  static constexpr uint32_t kMsgKey = base::kMsgUser + 2;
  static constexpr uint32_t kMsgInterrupt = base::kMsgUser + 3;
  // SIGTERM: the normal close, but nobody is asked (the system is ending us).
  static constexpr uint32_t kMsgTerminate = base::kMsgUser + 5;
  // The status line's timer: the frame rate is counted over this period.
  static constexpr uintptr_t kStatusTimerId = 1;
  static constexpr uint32_t kStatusPeriodMs = 1000;

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
  void showStatus(const base::string16& text) override;
  void showAuthorizationPrompt(const base::string16& name, const base::string16& uid) override;
  void closeAuthorizationPrompt() override;
  void showPhoneConnected(const base::string16& name) override;
  void showPhoneDisconnected(const base::string16& name) override;
  void showRecording(bool recording) override;
  void showRecordingTime(uint32_t elapsedMs) override;
  // Asks on the console and waits for the answer key (y, n, d) while the
  // loop runs on; without a terminal it quits without asking.
  int askBeforeQuitting(const base::string16& text, bool* dontAskAgain) override;

  // Any thread: a key as if typed (the terminal's thread, tests).
  void postKey(char key);
  // Whether keys are read and questions asked (a terminal on standard
  // input); tests set it.
  void setInteractive(bool interactive) { interactive_ = interactive; }

  // A key as the terminal delivered it (UI thread).
  // `promptId`: the prompt shown when the key was read (0: whichever is
  // open).
  void onKey(char key, uint64_t promptId = 0);
  // Ctrl-C (UI thread): denies an open prompt, closes otherwise.
  void onInterrupt();

  // The question the console asks about a phone.
  static std::string promptText(const base::string16& name, const base::string16& uid);
  // The status line as it reads now ("Phone: Ann | 640x480 at 30 fps |
  // Recording 00:01:05").
  // Not `live`: without the frames per second and the recording time.
  std::string statusLine(bool live = true) const;
  // Counts the frame rate since the last call (UI thread; the timer).
  void updateStatus(uint64_t nowMs);

 private:
  void onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) override;
  // Shown normally and in front (another start, the 's' key).
  void raise();
  void print(const std::string& line);
  void printHelp();
  // One handler per mode of the keyboard. The quit question keeps every
  // key; the others return false for a key they leave to the next mode.
  void onQuitQuestionKey(char key);
  bool onAuthorizationKey(char key, uint64_t promptId);
  void onCommandKey(char key);
  // The access list: listed with numbers; a number and Enter removes one.
  void listAccessList();
  // A key while the access list is shown; false when it leaves the list
  // and the key is to be handled as a command.
  bool onListKey(char key);
  void removeListedEntry(size_t number);
  void toggleRecording();
  // The status line stays the last line of a terminal: redrawn in place.
  void drawStatusLine();
  void clearStatusLine();

  FILE* out_;
  std::unique_ptr<TerminalInput> input_;
  base::string16 title_;
  base::string16 status_;
  bool created_ = false;
  bool visible_ = false;
  bool prompting_ = false;
  bool interactive_ = false;

  // The quit question open in askBeforeQuitting(): 0 while unanswered.
  bool asking_ = false;
  bool terminating_ = false;
  int quitAnswer_ = 0;
  bool quitDontAsk_ = false;

  // The access list as last listed, and the number being typed.
  bool listing_ = false;
  std::vector<base::string16> listed_;
  std::string listNumber_;

  // The status line's parts.
  base::string16 phone_;
  bool phoneConnected_ = false;
  bool recording_ = false;
  uint32_t recordingMs_ = 0;
  double framesPerSecond_ = 0;
  uint64_t countedFrames_ = 0;
  uint64_t countedAtMs_ = 0;
  // What the terminal shows in place; what was last printed without one.
  std::string drawnStatus_;
  std::string printedStatus_;
};

#endif  // WEBCAMWIN_CONSOLE_CONSOLE_WINDOW_H_
