// Windows side of the support tool's seam: the standard handles, Win32
// files and file mappings, GetTempFileNameW, InternetCheckConnectionW and
// ShellExecuteW.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <wininet.h>

#include <cstdio>
#include <vector>

#include "WebcamWin/support/hresult.h"
#include "WebcamWin/support/mapped_file.h"
#include "WebcamWin/support/support_platform.h"
#include "base/logging.h"
#include "base/sys_info.h"

namespace support {
namespace {

constexpr DWORD kBrowserWaitMs = 10000;
constexpr DWORD kTempPathChars = 1024;

const wchar_t* wide(const string16& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
string16 fromWide(const wchar_t* text) { return string16(reinterpret_cast<const char16_t*>(text)); }

bool validHandle(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

HANDLE g_stdin = nullptr;
HANDLE g_stdout = nullptr;
DWORD g_stdError = 0;
bool g_taken = false;

void lookUpStandardHandles() {
  SetLastError(0);
  g_stdout = GetStdHandle(STD_OUTPUT_HANDLE);
  g_stdin = GetStdHandle(STD_INPUT_HANDLE);
  g_stdError = (validHandle(g_stdout) && validHandle(g_stdin)) ? 0 : GetLastError();
  if (!g_stdError && !(validHandle(g_stdout) && validHandle(g_stdin))) g_stdError = ERROR_INVALID_HANDLE;
}

}  // namespace

void takeStandardHandles() {
  lookUpStandardHandles();
  g_taken = true;
  HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  if (validHandle(nul)) SetStdHandle(STD_ERROR_HANDLE, nul);
  std::freopen("NUL", "w", stderr);
}

bool standardHandlesValid(uint32_t* error) {
  if (!g_taken) lookUpStandardHandles();
  *error = g_stdError;
  return g_stdError == 0;
}

long readStandardInput(void* buffer, size_t length, uint32_t* error) {
  DWORD read = 0;
  if (!ReadFile(g_stdin, buffer, static_cast<DWORD>(length), &read, nullptr)) {
    *error = GetLastError();  // ERROR_BROKEN_PIPE: the writer closed its end
    return -1;
  }
  return static_cast<long>(read);
}

bool writeStandardOutput(const void* data, size_t length, uint32_t* error) {
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    DWORD written = 0;
    if (!WriteFile(g_stdout, p, static_cast<DWORD>(length), &written, nullptr)) {
      *error = GetLastError();
      return false;
    }
    p += written;
    length -= written;
  }
  *error = 0;
  return true;
}

SharedReadFile::SharedReadFile() : handle_(reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE)) {}

SharedReadFile::~SharedReadFile() {
  HANDLE h = reinterpret_cast<HANDLE>(handle_);
  if (validHandle(h)) CloseHandle(h);
}

bool SharedReadFile::open(const string16& path, uint32_t* error) {
  HANDLE h = CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  *error = 0;
  return true;
}

int64_t SharedReadFile::size() const {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(reinterpret_cast<HANDLE>(handle_), &size)) return -1;
  return size.QuadPart;
}

long SharedReadFile::read(void* buffer, size_t length, uint32_t* error) {
  DWORD read = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, static_cast<DWORD>(length), &read, nullptr)) {
    *error = GetLastError();
    return -1;
  }
  return static_cast<long>(read);
}

bool createUniqueTempFile(const string16& prefix, string16* path) {
  wchar_t folder[kTempPathChars + 1];
  const DWORD n = GetTempPathW(kTempPathChars, folder);
  if (n == 0 || n > kTempPathChars) {
    LOGF(ERROR, "Error GetTempPath %lu", GetLastError());
    lstrcpyW(folder, L".");
  }
  wchar_t name[MAX_PATH + 1];
  if (!GetTempFileNameW(folder, wide(prefix), 0, name)) {
    LOGF(ERROR, "Error GetTempFileName %lu", GetLastError());
    return false;
  }
  *path = fromWide(name);
  return true;
}

int openFileDescriptorForGzip(const string16& path, uint32_t* error) {
  HANDLE h = CreateFileW(wide(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return -1;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY);
  if (fd < 0) {
    *error = ERROR_TOO_MANY_OPEN_FILES;
    CloseHandle(h);
  }
  return fd;
}

bool checkInternetConnection(const string16& address) {
  if (InternetCheckConnectionW(wide(address), FLAG_ICC_FORCE_CONNECTION, 0)) return true;
  LOGF(WARNING, "InternetCheckConnection failed: %lu", GetLastError());
  return false;
}

void openWithShell(const string16& address) {
  const string16 browser = environmentVariable("LUMORA_SUPPORT_BROWSER");
  if (browser.empty()) {
    const HINSTANCE rc = ShellExecuteW(nullptr, L"open", wide(address), nullptr, nullptr, SW_SHOWNORMAL);
    if (reinterpret_cast<intptr_t>(rc) <= 32)
      LOGF(ERROR, "ShellExecute failed: %d", static_cast<int>(reinterpret_cast<intptr_t>(rc)));
    return;
  }
  // The command and the address, each quoted; the escaped address holds no
  // quotes. Our pipes are not handed on.
  string16 line = u"\"" + browser + u"\" \"" + address + u"\"";
  std::vector<wchar_t> command(line.begin(), line.end());
  command.push_back(L'\0');
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  // Not even as copied values: the main program waits for our output pipe
  // to close, so nothing we start may hold it.
  si.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                      &si, &pi)) {
    LOGF(ERROR, "Can't start the browser command: %lu", GetLastError());
    return;
  }
  WaitForSingleObject(pi.hProcess, kBrowserWaitMs);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
}

string16 environmentVariable(const char* name) {
  const string16 wideName = base::utf8ToWide(name);
  wchar_t buffer[1024];
  const DWORD n = GetEnvironmentVariableW(wide(wideName), buffer, 1024);
  if (n == 0) return string16();
  if (n < 1024) return fromWide(buffer);
  std::vector<wchar_t> big(n);
  if (GetEnvironmentVariableW(wide(wideName), big.data(), n) != n - 1) return string16();
  return fromWide(big.data());
}

string16 ansiToWide(const std::string& bytes) {
  if (bytes.empty()) return string16();
  const int n = MultiByteToWideChar(CP_THREAD_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::vector<wchar_t> out(n > 0 ? n : 0);
  if (n > 0) MultiByteToWideChar(CP_THREAD_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
  return string16(reinterpret_cast<const char16_t*>(out.data()), out.size());
}

std::string wideToAnsi(const string16& text) {
  if (text.empty()) return std::string();
  const wchar_t* w = wide(text);
  const int n = WideCharToMultiByte(CP_THREAD_ACP, 0, w, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n : 0, '\0');
  if (n > 0) WideCharToMultiByte(CP_THREAD_ACP, 0, w, static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

string16 errorMessage(uint32_t error) { return base::systemErrorText(static_cast<int32_t>(error)); }

// CMappedFile -------------------------------------------------------------

CMappedFile::~CMappedFile() { close(); }

bool CMappedFile::open(const base::string16& path, Access access) {
  close();
  DWORD desired = 0;
  if (access & kRead) desired |= GENERIC_READ;
  if (access & kWrite) desired |= GENERIC_WRITE;
  HANDLE file = CreateFileW(wide(path), desired, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_RANDOM_ACCESS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    LOGF(ERROR, "Can't open the file to map: %lu", GetLastError());
    return false;
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size) || size.QuadPart <= 0 || size.QuadPart > 0x7FFFFFFF) {
    LOG(ERROR) << "Can't map " << path << ": empty or too large";
    CloseHandle(file);
    return false;
  }
  const bool readOnly = access == kRead;
  HANDLE mapping = CreateFileMappingW(file, nullptr, readOnly ? PAGE_READONLY : PAGE_READWRITE, 0, 0, nullptr);
  void* view = mapping ? MapViewOfFile(mapping, readOnly ? FILE_MAP_READ : FILE_MAP_WRITE, 0, 0, 0) : nullptr;
  if (!view) {
    LOGF(ERROR, "Can't map the file: %lu", GetLastError());
    if (mapping) CloseHandle(mapping);
    CloseHandle(file);
    return false;
  }
  file_ = reinterpret_cast<intptr_t>(file);
  mapping_ = reinterpret_cast<intptr_t>(mapping);
  data_ = static_cast<uint8_t*>(view);
  size_ = static_cast<size_t>(size.QuadPart);
  writable_ = !readOnly;
  return true;
}

void CMappedFile::close() {
  if (data_) UnmapViewOfFile(data_);
  if (mapping_) CloseHandle(reinterpret_cast<HANDLE>(mapping_));
  if (file_ != -1) CloseHandle(reinterpret_cast<HANDLE>(file_));
  data_ = nullptr;
  size_ = 0;
  mapping_ = 0;
  file_ = -1;
  writable_ = false;
}

}  // namespace support
