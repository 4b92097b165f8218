// Windows: the service runs as the local system; the user's choice lives in
// the logged-on user's hive. The shell's process gives the user's token; the
// control thread impersonates the user just long enough to read the names.
// Every handle opened on the way is closed on every path.
#include <windows.h>
#include <tlhelp32.h>

#include <cwchar>

#include "PC_Audio_DRV/trace.h"
#include "PC_Audio_DRV/wave_service.h"
#include "base/logging.h"
#include "base/win_util.h"

namespace {

constexpr char kTraceSource[] = "Service";
constexpr DWORD kTokenRights = TOKEN_DUPLICATE | TOKEN_IMPERSONATE | TOKEN_QUERY;  // 0x0E

class ScopedKey {
 public:
  ~ScopedKey() {
    if (key_) ::RegCloseKey(key_);
  }
  HKEY* receive() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// The token of the console user's shell (see isConsoleShell); null when
// there is none or it can't be opened.
HANDLE GetShellUserToken() {
  const DWORD console = ::WTSGetActiveConsoleSessionId();
  if (console == 0xFFFFFFFF) return nullptr;  // nobody at the console
  base::ScopedHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.valid()) return nullptr;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    DWORD session = 0;
    if (!::ProcessIdToSessionId(entry.th32ProcessID, &session)) continue;
    if (!isConsoleShell(base::fromWide(entry.szExeFile, std::wcslen(entry.szExeFile)), session, console)) continue;
    base::ScopedHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID));
    if (!process.valid()) return nullptr;
    HANDLE token = nullptr;
    if (!::OpenProcessToken(process.get(), kTokenRights, &token)) return nullptr;
    return token;
  }
  return nullptr;
}

// A REG_SZ of at most kDeviceNameMaxBytes with its terminator; anything
// longer is refused rather than cut.
bool queryName(HKEY key, const char16_t* value, base::string16* name) {
  wchar_t buffer[kDeviceNameMaxBytes / 2 + 1] = {};
  DWORD type = 0;
  DWORD bytes = kDeviceNameMaxBytes;
  const LONG result = ::RegQueryValueExW(key, base::wstr(value), nullptr, &type,
                                         reinterpret_cast<BYTE*>(buffer), &bytes);
  if (result == ERROR_MORE_DATA) {
    LOG(WARNING) << "The user's " << value << " is longer than the service takes; ignored";
    return false;
  }
  if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  const size_t units = std::wcslen(buffer);
  if ((units + 1) * 2 > kDeviceNameMaxBytes) {
    LOG(WARNING) << "The user's " << value << " has no terminator within the limit; ignored";
    return false;
  }
  *name = base::fromWide(buffer, units);
  return true;
}

class ShellUserDeviceNames : public UserDeviceNames {
 public:
  bool read(base::string16* input, base::string16* output) override {
    base::ScopedHandle token(GetShellUserToken());
    if (!token.valid()) return false;
    if (!::ImpersonateLoggedOnUser(token.get())) {
      const DWORD error = ::GetLastError();
      const unsigned long hr = error > 0 ? (0x80070000UL | (error & 0xFFFF)) : error;
      WTRACE(wave::kTraceError, "ImpersonateLoggedOnUser() Failed %d", static_cast<int>(hr));
      return false;
    }
    bool ok = false;
    base::string16 in, out;
    {
      ScopedKey hive, key;
      ok = ::RegOpenCurrentUser(KEY_READ, hive.receive()) == ERROR_SUCCESS &&
           ::RegOpenKeyExW(hive.get(), base::wstr(kWaveServiceKey), 0, KEY_READ, key.receive()) == ERROR_SUCCESS &&
           queryName(key.get(), kOutputDeviceValue, &out) && queryName(key.get(), kInputDeviceValue, &in);
    }
    ::RevertToSelf();
    if (!ok) {
      WTRACE(wave::kTraceError, "Fail");
      return false;
    }
    *input = in;
    *output = out;
    return true;
  }
};

}  // namespace

std::unique_ptr<UserDeviceNames> createUserDeviceNames() { return std::make_unique<ShellUserDeviceNames>(); }
