#include "base/file_util.h"

#include <windows.h>

#include <vector>

#include "base/win_util.h"

namespace base {

const char16_t kPathSeparator = u'\\';

std::string nativePath(const string16& path) { return wideToUtf8(path); }

bool pathExists(const string16& path) {
  return ::GetFileAttributesW(wstr(path)) != INVALID_FILE_ATTRIBUTES;
}

bool isDirectory(const string16& path) {
  const DWORD attrs = ::GetFileAttributesW(wstr(path));
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

bool deleteFile(const string16& path) {
  if (isDirectory(path)) return false;
  return ::DeleteFileW(wstr(path)) != 0;
}

bool removeEmptyDirectory(const string16& path) { return ::RemoveDirectoryW(wstr(path)) != 0; }

bool createDirectories(const string16& path) {
  if (path.empty()) return false;
  if (isDirectory(path)) return true;
  const string16 parent = dirName(path);
  // Stop at a drive root ("C:") or the top.
  if (!parent.empty() && parent != path && !(parent.size() == 2 && parent[1] == u':'))
    createDirectories(parent);
  return ::CreateDirectoryW(wstr(path), nullptr) != 0 || isDirectory(path);
}

bool restrictToOwner(const string16&) { return true; }

std::vector<string16> listDirectory(const string16& folder) {
  std::vector<string16> names;
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW(wstr(joinPath(folder, u"*")), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const string16 name = fromWide(data.cFileName);
    if (name != u"." && name != u"..") names.push_back(name);
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  return names;
}

bool readFile(const string16& path, std::string* contents) {
  ScopedHandle file(::CreateFileW(wstr(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  std::string data;
  char buf[65536];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(file.get(), buf, sizeof(buf), &n, nullptr)) return false;
    if (n == 0) break;
    data.append(buf, n);
  }
  contents->swap(data);
  return true;
}

bool writeFileAtomic(const string16& path, const std::string& contents) {
  const string16 tmp = path + u".tmp" + asciiToWide(std::to_string(::GetCurrentProcessId()));
  {
    ScopedHandle file(::CreateFileW(wstr(tmp), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    size_t done = 0;
    while (done < contents.size()) {
      DWORD n = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(contents.size() - done, 1 << 20));
      if (!::WriteFile(file.get(), contents.data() + done, chunk, &n, nullptr) || n == 0) {
        file.reset();
        ::DeleteFileW(wstr(tmp));
        return false;
      }
      done += n;
    }
    ::FlushFileBuffers(file.get());
  }
  if (!::MoveFileExW(wstr(tmp), wstr(path), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ::DeleteFileW(wstr(tmp));
    return false;
  }
  return true;
}

string16 executableDirectory() {
  wchar_t buf[MAX_PATH * 2];
  const DWORD n = ::GetModuleFileNameW(nullptr, buf, MAX_PATH * 2);
  if (n == 0) return currentDirectory();
  return dirName(fromWide(buf, n));
}

string16 currentDirectory() {
  wchar_t buf[MAX_PATH * 2];
  const DWORD n = ::GetCurrentDirectoryW(MAX_PATH * 2, buf);
  return n ? fromWide(buf, n) : string16(u".");
}

string16 tempDirectory() {
  wchar_t buf[MAX_PATH + 2];
  DWORD n = ::GetTempPathW(MAX_PATH + 2, buf);
  if (n == 0) return currentDirectory();
  while (n > 3 && (buf[n - 1] == L'\\' || buf[n - 1] == L'/')) --n;
  return fromWide(buf, n);
}

}  // namespace base
