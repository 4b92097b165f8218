#include "WebcamWin/support/console_host.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

#include "WebcamWin/support/support_app.h"
#include "WebcamWin/support/support_platform.h"
#include "base/logging.h"

namespace support {
namespace {

constexpr int kBarWidth = 30;
constexpr unsigned char kCtrlC = 0x03;
constexpr unsigned char kEscape = 0x1B;

// Terminal state to restore, also from a signal handler.
int g_ttyFd = -1;
struct termios g_savedTermios;
bool g_termiosSaved = false;

void restoreTerminal() {
  if (g_termiosSaved) ::tcsetattr(g_ttyFd, TCSANOW, &g_savedTermios);
}

void onFatalSignal(int sig) {
  restoreTerminal();
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

// Keys one at a time, no echo, Ctrl-C as a key (the question handles it).
void enterKeyMode(int fd) {
  struct termios t;
  if (::tcgetattr(fd, &t) != 0) return;
  g_ttyFd = fd;
  g_savedTermios = t;
  g_termiosSaved = true;
  t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  ::tcsetattr(fd, TCSANOW, &t);
  ::signal(SIGTERM, onFatalSignal);
  ::signal(SIGHUP, onFatalSignal);
}

std::string progressBar(int percent) {
  const int filled = percent * kBarWidth / 100;
  return "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] " +
         std::to_string(percent) + "%";
}

std::string marquee(unsigned tick) {
  constexpr int kBlock = 6;
  const int span = kBarWidth - kBlock;
  int pos = static_cast<int>(tick % (2 * span));
  if (pos > span) pos = 2 * span - pos;
  return "[" + std::string(pos, ' ') + std::string(kBlock, '=') +
         std::string(kBarWidth - kBlock - pos, ' ') + "]";
}

}  // namespace

class ConsoleHost::PreparingPage : public IPage {
 public:
  explicit PreparingPage(ConsoleHost* host) : host_(host) {}
  bool create() override { return true; }
  void setJob(CJob* job) override { job_ = job; }
  void show() override {
    visible_ = true;
    if (!job_) return;
    const std::string title = base::wideToUtf8(job_->title());
    if (title != shownTitle_) {
      host_->write("\r\x1b[K" + title + "\n");
      shownTitle_ = title;
    }
    if (!host_->asking()) drawStatus();
  }
  void hide() override {
    visible_ = false;
    shownTitle_.clear();
    host_->write("\n");
  }
  // Every 100 ms: the bar of a job with progress, or the marquee.
  void tick() {
    ++ticks_;
    if (visible_ && job_ && !host_->asking()) drawStatus();
  }
  bool visible() const { return visible_; }

 private:
  void drawStatus() {
    const std::string bar = job_->hasProgress() ? progressBar(job_->progress()) : marquee(ticks_);
    host_->write("\r\x1b[K" + base::wideToUtf8(job_->statusText()) + "  " + bar);
  }

  ConsoleHost* host_;
  CJob* job_ = nullptr;
  bool visible_ = false;
  std::string shownTitle_;
  unsigned ticks_ = 0;
};

class ConsoleHost::ErrorPage : public IPage {
 public:
  explicit ErrorPage(ConsoleHost* host) : host_(host) {}
  bool create() override { return true; }
  void setJob(CJob*) override {}
  void setMessage(const string16& message) override { message_ = base::wideToUtf8(message); }
  void show() override {
    if (visible_) return;
    visible_ = true;
    host_->write("\r\x1b[K" + message_ + "\n[R] Retry   [Esc] go on to the support form\n");
  }
  void hide() override { visible_ = false; }
  bool visible() const { return visible_; }

 private:
  ConsoleHost* host_;
  std::string message_;
  bool visible_ = false;
};

ConsoleHost::ConsoleHost(int inFd, int outFd)
    : inFd_(inFd), outFd_(outFd),
      preparing_(std::make_unique<PreparingPage>(this)),
      error_(std::make_unique<ErrorPage>(this)) {}

ConsoleHost::~ConsoleHost() {
  if (keyThread_.joinable()) {
    const char stop = 1;
    if (::write(wakeFds_[1], &stop, 1) < 0) LOG(WARNING) << "Can't wake the key reader";
    keyThread_.join();
  }
  for (int fd : wakeFds_)
    if (fd >= 0) ::close(fd);
}

void ConsoleHost::createWindow() {
  std::lock_guard<std::mutex> lock(windowMutex_);
  if (!window_) window_ = std::make_unique<base::MessageWindow>(u"com.quillonlabs.support", this);
}

int ConsoleHost::run(CMainDlg* dlg) {
  base::MessageLoop loop;
  loop_ = &loop;
  dlg_ = dlg;
  createWindow();
  window_->setTimer(kRefreshTimer, kRefreshMs);
  if (inFd_ >= 0 && ::pipe2(wakeFds_, O_CLOEXEC) == 0)
    keyThread_ = std::thread([this] { readKeys(); });
  dlg_->initDialog();
  const int code = loop.run();
  {
    std::lock_guard<std::mutex> lock(windowMutex_);
    window_.reset();
  }
  loop_ = nullptr;
  return code;
}

bool ConsoleHost::postMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  std::lock_guard<std::mutex> lock(windowMutex_);
  return window_ && window_->post(msg, wparam, lparam);
}

IPage* ConsoleHost::page(PageId id) {
  return id == PageId::kError ? static_cast<IPage*>(error_.get()) : preparing_.get();
}

void ConsoleHost::setTitle(const string16& title) {
  write("== " + base::wideToUtf8(title) + " ==\n");
}

void ConsoleHost::placePage(IPage* page, IPage* previous) {
  if (previous) previous->hide();
  asking_ = false;
  shown_ = page;
}

void ConsoleHost::close(int exitCode) {
  write("\n");
  restoreTerminal();
  if (window_) window_->killTimer(kRefreshTimer);
  if (loop_) loop_->quit(exitCode);
}

void ConsoleHost::write(const std::string& text) {
  if (outFd_ < 0) return;
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(outFd_, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

void ConsoleHost::onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  if (msg == base::kMsgTimer && wparam == kRefreshTimer) {
    preparing_->tick();
    dlg_->pollTestControl();
    return;
  }
  if (msg == kMsgKey) {
    onKey(static_cast<unsigned char>(wparam));
    return;
  }
  dlg_->handleMessage(msg, wparam, lparam);
}

void ConsoleHost::onKey(unsigned char key) {
  if (dlg_->closed()) return;
  if (asking_) {
    if (key == 'y' || key == 'Y') {
      asking_ = false;
      write("yes\n");
      dlg_->handleMessage(kMsgSkipToForm, 0, 0);
    } else if (key == 'n' || key == 'N' || key == kEscape) {
      asking_ = false;
      write("no\n");
      preparing_->show();
    }
    return;
  }
  if (shown_ == preparing_.get() && (key == kCtrlC || key == 'a' || key == 'A')) {
    asking_ = true;
    write("\r\x1b[K" + base::wideToUtf8(kAbortQuestion) + " (y/n) ");
  } else if (shown_ == error_.get() && (key == 'r' || key == 'R')) {
    dlg_->handleMessage(kMsgRetryCheck, 0, 0);
  } else if (key == kEscape) {
    dlg_->handleMessage(kMsgCommand, kIdCancel, 0);
  }
}

void ConsoleHost::readKeys() {
  for (;;) {
    pollfd fds[2] = {{inFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    unsigned char keys[16];
    const ssize_t n = ::read(inFd_, keys, sizeof(keys));
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return;  // the terminal went away
    }
    // A lone Esc is the key; Esc followed by more is an arrow or function
    // key's sequence and is ignored.
    if (keys[0] == kEscape && n > 1) continue;
    for (ssize_t i = 0; i < n; ++i) postMessage(kMsgKey, keys[i], 0);
  }
}

int runSupportTool() {
  takeStandardHandles();
  // A closed answer pipe must not kill us before the form is opened.
  ::signal(SIGPIPE, SIG_IGN);
  initializeSupportTrace();
  // Standard input and output are the main program's pipes; the user is
  // reached through the controlling terminal, if there is one.
  const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (tty >= 0) enterKeyMode(tty);
  int code;
  {
    ConsoleHost host(tty, tty);
    host.createWindow();
    auto dlg = createMainDlg(&host);
    code = host.run(dlg.get());
    code = finishSupportTool(std::move(dlg), code);
  }
  restoreTerminal();
  if (tty >= 0) ::close(tty);
  return code;
}

}  // namespace support
