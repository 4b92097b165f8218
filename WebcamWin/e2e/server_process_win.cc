// Windows (under Wine): CreateProcessW on a desktop of this test run, so
// that the programs see each other's windows and the frame window gets a
// display of its own; the private user is the program's registry key,
// cleared before and after (only under Wine, never on a real user's system).
#include <windows.h>

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/e2e/server_process.h"
#include "base/file_util.h"
#include "base/reg_key.h"
#include "base/test_util.h"

namespace {

std::wstring desktopName() {
  return L"server-e2e-" + std::to_wstring(::GetCurrentProcessId());
}

bool underWine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void clearAppKey() {
  base::RegKey software;
  if (software.open(base::RegRoot::kCurrentUser, u"Software\\Quillon Labs") == base::kRegOk)
    software.deleteSubtree(u"Lumora ZuvIridar for iPhone");
}

}  // namespace

struct ServerProcess::Impl {
  HANDLE process = nullptr;
};

ServerProcess::ServerProcess() : impl_(std::make_unique<Impl>()) {}

ServerProcess::~ServerProcess() {
  kill();
  if (impl_->process) ::CloseHandle(impl_->process);
}

base::string16 ServerProcess::defaultProgram() {
  return base::joinPath(base::joinPath(base::dirName(base::executableDirectory()), u"bin"),
                        u"server.exe");
}

bool ServerProcess::start(const base::string16& program, const std::vector<std::string>& args,
                          const base::string16&) {
  std::wstring commandLine = L"\"" + std::wstring(program.begin(), program.end()) + L"\"";
  for (const std::string& arg : args) commandLine += L" " + std::wstring(arg.begin(), arg.end());
  std::wstring desktop = desktopName();
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.lpDesktop = &desktop[0];
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
    return false;
  }
  ::CloseHandle(info.hThread);
  if (impl_->process) ::CloseHandle(impl_->process);
  impl_->process = info.hProcess;
  pid_ = info.dwProcessId;
  return true;
}

bool ServerProcess::running() {
  return impl_->process && ::WaitForSingleObject(impl_->process, 0) == WAIT_TIMEOUT;
}

bool ServerProcess::wait(uint32_t timeoutMs, int* exitCode) {
  if (!impl_->process || ::WaitForSingleObject(impl_->process, timeoutMs) != WAIT_OBJECT_0)
    return false;
  DWORD code = 0;
  ::GetExitCodeProcess(impl_->process, &code);
  *exitCode = static_cast<int>(code);
  return true;
}

bool ServerProcess::terminate() { return false; }

void ServerProcess::kill() {
  if (running()) {
    ::TerminateProcess(impl_->process, 9);
    ::WaitForSingleObject(impl_->process, INFINITE);
  }
}

PrivateUser::PrivateUser() = default;

PrivateUser::~PrivateUser() {
  if (!folder_.empty()) {
    clearAppKey();
    base::removeTree(folder_);
  }
}

bool PrivateUser::setUp() {
  if (!underWine()) return false;
  folder_ = base::makeTempDirectory(u"server-e2e");
  clearAppKey();
  rememberOldLogs();
  return !folder_.empty();
}

bool PrivateUser::storePort(uint32_t port) {
  base::RegKey key;
  return key.create(base::RegRoot::kCurrentUser, kAppRegistryKey) == base::kRegOk &&
         key.writeValueDW(u"Port", port) == base::kRegOk;
}

bool PrivateUser::useDisplay() { return true; }  // a Wine program always has its window
