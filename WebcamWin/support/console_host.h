// The Linux front end of the support tool: the dialog's pages drawn on the
// terminal (title line, description, status line and a progress bar or
// marquee), keys instead of buttons: Ctrl-C or A asks "Are you sure?"
// (y/n) and on yes skips to the support form, R is "Retry" on the error
// page, Esc goes on to the support form. Without a terminal nothing is
// drawn or asked.
#ifndef WEBCAMWIN_SUPPORT_CONSOLE_HOST_H_
#define WEBCAMWIN_SUPPORT_CONSOLE_HOST_H_

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "WebcamWin/support/main_dlg.h"
#include "base/message_loop.h"

namespace support {

class ConsoleHost : public CMainDlgHost, public base::MessageWindow::Handler {
 public:
  static constexpr uint32_t kMsgKey = base::kMsgUser + 0x100;  // wparam = byte
  static constexpr uintptr_t kRefreshTimer = 1;
  static constexpr uint32_t kRefreshMs = 100;

  // `inFd` / `outFd`: the terminal, or -1 for none. The fds are not owned.
  ConsoleHost(int inFd, int outFd);
  ~ConsoleHost() override;

  // Runs `dlg` (created with this host) until it closes; returns the code.
  int run(CMainDlg* dlg);

  // CMainDlgHost
  bool postMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) override;
  IPage* page(PageId id) override;
  void setTitle(const string16& title) override;
  void placePage(IPage* page, IPage* previous) override;
  void close(int exitCode) override;
  bool interactive() const override { return inFd_ >= 0; }

  // Terminal output (the pages draw through it).
  void write(const std::string& text);
  bool asking() const { return asking_; }

  // Must exist before postMessage() is used; run() creates it otherwise.
  void createWindow();

 private:
  class PreparingPage;
  class ErrorPage;

  void onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) override;
  void onKey(unsigned char key);
  void readKeys();

  int inFd_;
  int outFd_;
  int wakeFds_[2] = {-1, -1};
  CMainDlg* dlg_ = nullptr;
  base::MessageLoop* loop_ = nullptr;
  // Worker threads post job reports here, possibly after run() has ended.
  std::mutex windowMutex_;
  std::unique_ptr<base::MessageWindow> window_;
  std::unique_ptr<PreparingPage> preparing_;
  std::unique_ptr<ErrorPage> error_;
  IPage* shown_ = nullptr;
  bool asking_ = false;
  std::thread keyThread_;
};

}  // namespace support

#endif  // WEBCAMWIN_SUPPORT_CONSOLE_HOST_H_
