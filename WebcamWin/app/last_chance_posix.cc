// Linux: fatal signals (invalid memory access, bad arithmetic, illegal
// instruction) of any thread end in the guard, described as the exception
// Windows would have raised for them. The handler runs on its own stack so
// that a stack overflow is reported too. With a terminal the user is asked
// whether to send the error report; without one the `SendErrorReports`
// setting decides (default: no).
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "WebcamWin/console/terminal_input.h"
#include "WebcamWin/app/last_chance.h"
#include "WebcamWin/settings/settings.h"
#include "WebcamWin/suite/support_handoff.h"
#include "WebcamWin/app/seh_exception.h"
#include "base/logging.h"
#include "base/string_util.h"

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr int kExitCode = 255;  // 0xFFFFFFFF as Linux keeps it
// Roomy enough for the log line and the hand-off to the support tool.
constexpr size_t kAltStackBytes = 256 * 1024;

// Exception codes of the Windows faults that match the signals.
constexpr uint32_t kIntDivideByZero = 0xC0000094;
constexpr uint32_t kIntOverflow = 0xC0000095;
constexpr uint32_t kFloatFault = 0xC0000090;
constexpr uint32_t kIllegalInstruction = 0xC000001D;

alignas(16) char g_altStack[kAltStackBytes];
volatile sig_atomic_t g_inside = 0;

uintptr_t instructionPointer(const ucontext_t* uc) {
#if defined(__x86_64__)
  return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
  return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_EIP]);
#else
  return 0;
#endif
}

// The page-fault error code tells a write (bit 1) from a read.
bool faultWasWrite(const ucontext_t* uc) {
#if defined(__x86_64__)
  return (uc->uc_mcontext.gregs[REG_ERR] & 0x2) != 0;
#elif defined(__i386__)
  return (uc->uc_mcontext.gregs[REG_ERR] & 0x2) != 0;
#else
  return false;
#endif
}

void onFatalSignal(int signal, siginfo_t* info, void* context) {
  if (g_inside) ::_exit(kExitCode);  // a fault inside the guard itself
  g_inside = 1;
  const auto* uc = static_cast<const ucontext_t*>(context);
  ExceptionInfo record;
  switch (signal) {
    case SIGSEGV:
    case SIGBUS:
      record.code = kExceptionAccessViolation;
      record.parameterCount = 2;
      record.parameters[0] = faultWasWrite(uc) ? 1 : 0;
      record.parameters[1] = reinterpret_cast<uintptr_t>(info->si_addr);
      break;
    case SIGFPE:
      record.code = info->si_code == FPE_INTDIV   ? kIntDivideByZero
                    : info->si_code == FPE_INTOVF ? kIntOverflow
                                                  : kFloatFault;
      break;
    default:
      record.code = kIllegalInstruction;
      break;
  }
  record.address = instructionPointer(uc);
  std::string registers(reinterpret_cast<const char*>(&uc->uc_mcontext), sizeof(uc->uc_mcontext));
  handleLastChance(*CSEHException::wrap(record, std::move(registers)));
}

// The answer to the question: the first key that is not white space; "y" or
// "Y" is yes, anything else (or the end of input) no.
bool readYes(int fd) {
  for (;;) {
    char c = 0;
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    return c == 'y' || c == 'Y';
  }
}

}  // namespace

void installLastChanceGuard() {
  stack_t stack = {};
  stack.ss_sp = g_altStack;
  stack.ss_size = sizeof(g_altStack);
  ::sigaltstack(&stack, nullptr);
  struct sigaction action = {};
  action.sa_sigaction = onFatalSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int signal : kFatalSignals) ::sigaction(signal, &action, nullptr);
}

void handleLastChance(const CSEHException& exception) {
  LOG(FATAL) << exception.message();
  const std::string text = base::wideToUtf8(kInternalErrorText);
  const size_t split = text.find("\r\n\r\n");
  bool send = false;
  if (::isatty(STDIN_FILENO) == 1) {
    // The console front end must not take the answer for a command key.
    TerminalInput::yieldKeys();
    std::fprintf(stderr, "%s: %s\n%s (y/n) ", base::wideToUtf8(kInternalErrorCaption).c_str(),
                 text.substr(0, split).c_str(), text.substr(split + 4).c_str());
    std::fflush(stderr);
    send = readYes(STDIN_FILENO);
    std::fprintf(stderr, "\n");
  } else {
    std::fprintf(stderr, "%s: %s\n", base::wideToUtf8(kInternalErrorCaption).c_str(),
                 text.substr(0, split).c_str());
    send = CSettings::Instance().sendErrorReports();
    LOG(INFO) << "No terminal to ask about the error report; SendErrorReports is "
              << (send ? "1: the report is sent" : "0: no report is sent");
  }
  std::fflush(stderr);
  if (send) runSupportHandOff();
  ::_exit(kExitCode);
}
