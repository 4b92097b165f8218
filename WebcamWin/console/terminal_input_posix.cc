// Linux: the signals are blocked and read from a signalfd; keys come from
// standard input switched to non-canonical mode without echo. One thread
// polls both and a stop event.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "WebcamWin/console/terminal_input.h"
#include "base/logging.h"
#include "WebcamWin/platform/stoppable_thread_posix.h"

namespace {

// Lock-free, so a signal handler may set it.
std::atomic<bool> g_keysYielded{false};

}  // namespace

struct TerminalInput::Impl {
  ~Impl() { stop(); }

  void stop() {
    thread.stop();
    if (signalFd >= 0) ::close(signalFd);
    signalFd = -1;
    if (termiosSaved) ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTermios);
    termiosSaved = false;
  }

  void readLoop(int stopFd) {
    bool keys = readKeys;
    for (;;) {
      pollfd fds[3] = {{stopFd, POLLIN, 0},
                       {signalFd, POLLIN, 0},
                       {keys ? STDIN_FILENO : -1, POLLIN, 0}};
      const int n = ::poll(fds, 3, -1);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 || fds[0].revents) return;
      if (fds[1].revents & POLLIN) {
        signalfd_siginfo info;
        if (::read(signalFd, &info, sizeof(info)) == sizeof(info)) {
          if (info.ssi_signo == SIGINT && callbacks.onInterrupt) callbacks.onInterrupt();
          else if (callbacks.onTerminate) callbacks.onTerminate();
        }
      }
      if (fds[2].revents && g_keysYielded.load()) {
        keys = false;  // the key is someone else's now
      } else if (fds[2].revents) {
        char key = 0;
        const ssize_t r = ::read(STDIN_FILENO, &key, 1);
        if (r == 1 && callbacks.onKey) callbacks.onKey(key);
        if (r == 0 || (r < 0 && errno != EINTR && errno != EAGAIN)) keys = false;  // end of input
      }
    }
  }

  Callbacks callbacks;
  int signalFd = -1;
  bool readKeys = false;
  bool termiosSaved = false;
  termios savedTermios = {};
  StoppableThread thread;
};

TerminalInput::TerminalInput() = default;
TerminalInput::~TerminalInput() = default;

bool TerminalInput::interactive() { return ::isatty(STDIN_FILENO) == 1; }

void TerminalInput::yieldKeys() { g_keysYielded.store(true); }

bool TerminalInput::start(Callbacks callbacks) {
  if (impl_) return true;
  auto impl = std::make_unique<Impl>();
  impl->callbacks = std::move(callbacks);
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  // Threads made from now on inherit the mask, so only the signalfd sees them.
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  impl->signalFd = ::signalfd(-1, &signals, SFD_CLOEXEC);
  if (impl->signalFd < 0) {
    LOG(ERROR) << "Can't watch the termination signals";
    ::pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
    return false;
  }
  impl->readKeys = interactive();
  if (impl->readKeys && ::tcgetattr(STDIN_FILENO, &impl->savedTermios) == 0) {
    termios raw = impl->savedTermios;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    impl->termiosSaved = ::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
  }
  Impl* raw = impl.get();
  if (!impl->thread.start([raw](int stopFd) { raw->readLoop(stopFd); })) {
    LOG(ERROR) << "Can't start the console input thread";
    ::pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
    return false;  // the Impl's destructor restores the terminal
  }
  impl_ = std::move(impl);
  return true;
}

void TerminalInput::stop() {
  if (impl_) impl_->stop();
}
