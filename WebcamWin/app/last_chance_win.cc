// Windows: the unhandled-exception filter is the last-chance guard. Window
// procedures run inside it too: 32-bit programs on 64-bit Windows would
// otherwise lose exceptions of callbacks silently.
#include <windows.h>

#include <cstring>

#include "WebcamWin/app/last_chance.h"
#include "WebcamWin/app/seh_exception.h"
#include "WebcamWin/suite/support_handoff.h"
#include "base/logging.h"

namespace {

constexpr DWORD kCallbackFilterEnabled = 0x1;  // PROCESS_CALLBACK_FILTER_ENABLED

LONG WINAPI lastChanceFilter(EXCEPTION_POINTERS* pointers) {
  ExceptionInfo record;
  const EXCEPTION_RECORD* r = pointers->ExceptionRecord;
  record.code = r->ExceptionCode;
  record.flags = r->ExceptionFlags;
  record.address = reinterpret_cast<uintptr_t>(r->ExceptionAddress);
  record.parameterCount = r->NumberParameters;
  for (DWORD i = 0; i < r->NumberParameters && i < ExceptionInfo::kMaxParameters; ++i)
    record.parameters[i] = r->ExceptionInformation[i];
  std::string context;
  if (pointers->ContextRecord)
    context.assign(reinterpret_cast<const char*>(pointers->ContextRecord), sizeof(CONTEXT));
  handleLastChance(*CSEHException::wrap(record, std::move(context)));
}

void keepCallbackExceptions() {
  using GetPolicy = BOOL(WINAPI*)(LPDWORD);
  using SetPolicy = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  auto get = reinterpret_cast<GetPolicy>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "GetProcessUserModeExceptionPolicy")));
  auto set = reinterpret_cast<SetPolicy>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "SetProcessUserModeExceptionPolicy")));
  DWORD flags = 0;
  if (get && set && get(&flags)) set(flags & ~kCallbackFilterEnabled);
}

}  // namespace

void installLastChanceGuard() {
  keepCallbackExceptions();
  ::SetUnhandledExceptionFilter(lastChanceFilter);
}

void handleLastChance(const CSEHException& exception) {
  LOG(FATAL) << exception.message();
  const int answer =
      ::MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(kInternalErrorText),
                    reinterpret_cast<const wchar_t*>(kInternalErrorCaption),
                    MB_YESNO | MB_ICONERROR);
  // The report goes through the support tool, as "Support" in the About box.
  if (answer == IDYES) runSupportHandOff();
  ::TerminateProcess(::GetCurrentProcess(), 0xFFFFFFFF);
  ::ExitProcess(0xFFFFFFFF);
}
