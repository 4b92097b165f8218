// Linux side of the support tool's seam: file descriptors 0 and 1, POSIX
// files and mmap, libcurl for the connection check, xdg-open for the form.
#include <curl/curl.h>
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "WebcamWin/support/hresult.h"
#include "WebcamWin/support/mapped_file.h"
#include "WebcamWin/support/support_platform.h"
#include "base/file_util.h"
#include "base/logging.h"
#include "base/sys_info.h"

extern char** environ;

namespace support {
namespace {

// errno in Win32 terms, so both builds report the same codes.
uint32_t win32Error(int error) {
  switch (error) {
    case 0: return 0;
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG: return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return kErrorAccessDenied;
    case EMFILE:
    case ENFILE: return kErrorTooManyOpenFiles;
    case EBADF: return kErrorInvalidHandle;
    case ENOMEM: return kErrorNotEnoughMemory;
    case EIO: return kErrorReadFault;
    case ENOSPC: return 112;  // ERROR_DISK_FULL
    case EPIPE: return 232;   // ERROR_NO_DATA: the pipe is being closed
  }
  return kErrorGenFailure;
}

constexpr uint32_t kConnectTimeoutMs = 15000;
constexpr int kBrowserWaitMs = 10000;

// errno of a missing standard input or output, noted at start-up.
int g_standardHandleError = 0;
bool g_standardHandlesTaken = false;

}  // namespace

void takeStandardHandles() {
  g_standardHandlesTaken = true;
  for (int fd : {0, 1}) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    if (!g_standardHandleError) g_standardHandleError = errno;
    // Hold the number with the null device so no other file gets it.
    const int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
      ::dup2(null, fd);
      ::close(null);
    }
  }
  const int null = ::open("/dev/null", O_WRONLY);
  if (null >= 0) {
    ::dup2(null, 2);
    if (null != 2) ::close(null);
  }
}

bool standardHandlesValid(uint32_t* error) {
  if (g_standardHandlesTaken) {
    *error = win32Error(g_standardHandleError);
    return g_standardHandleError == 0;
  }
  for (int fd : {0, 1}) {
    if (::fcntl(fd, F_GETFD) == -1) {
      *error = win32Error(errno);
      return false;
    }
  }
  *error = 0;
  return true;
}

long readStandardInput(void* buffer, size_t length, uint32_t* error) {
  for (;;) {
    const ssize_t n = ::read(0, buffer, length);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    *error = win32Error(errno);
    return -1;
  }
}

bool writeStandardOutput(const void* data, size_t length, uint32_t* error) {
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    const ssize_t n = ::write(1, p, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = win32Error(errno);
      return false;
    }
    p += n;
    length -= static_cast<size_t>(n);
  }
  *error = 0;
  return true;
}

SharedReadFile::SharedReadFile() : handle_(-1) {}

SharedReadFile::~SharedReadFile() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

bool SharedReadFile::open(const string16& path, uint32_t* error) {
  const int fd = ::open(base::nativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = win32Error(errno);
    return false;
  }
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    *error = kErrorAccessDenied;  // what Windows says for a folder
    return false;
  }
  handle_ = fd;
  *error = 0;
  return true;
}

int64_t SharedReadFile::size() const {
  struct stat st;
  if (handle_ < 0 || ::fstat(static_cast<int>(handle_), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

long SharedReadFile::read(void* buffer, size_t length, uint32_t* error) {
  for (;;) {
    const ssize_t n = ::read(static_cast<int>(handle_), buffer, length);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    *error = win32Error(errno);
    return -1;
  }
}

bool createUniqueTempFile(const string16& prefix, string16* path) {
  string16 folder = base::tempDirectory();
  if (folder.empty()) folder = u".";
  std::string name = base::nativePath(base::joinPath(folder, prefix)) + "XXXXXX.tmp";
  const int fd = ::mkstemps(&name[0], 4);
  if (fd < 0) {
    LOG(ERROR) << "Can't create a temporary file in " << folder << ": "
               << std::strerror(errno);
    return false;
  }
  ::close(fd);
  *path = base::utf8ToWide(name);
  return true;
}

int openFileDescriptorForGzip(const string16& path, uint32_t* error) {
  const int fd = ::open(base::nativePath(path).c_str(),
                        O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) *error = win32Error(errno);
  return fd;
}

bool checkInternetConnection(const string16& address) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  CURL* curl = curl_easy_init();
  if (!curl) return false;
  const std::string url = base::wideToUtf8(address);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CONNECT_ONLY, 1L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(kConnectTimeoutMs));
  const CURLcode rc = curl_easy_perform(curl);
  if (rc != CURLE_OK)
    LOG(WARNING) << "Connection check of " << url << " failed: " << curl_easy_strerror(rc);
  curl_easy_cleanup(curl);
  return rc == CURLE_OK;
}

void openWithShell(const string16& address) {
  string16 command = environmentVariable("LUMORA_SUPPORT_BROWSER");
  if (command.empty()) command = u"xdg-open";
  const std::string program = base::wideToUtf8(command);
  const std::string url = base::wideToUtf8(address);

  // The browser must not inherit our standard output: it is the main
  // program's pipe, which would then stay open after we exit.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(url.c_str()), nullptr};
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    LOG(ERROR) << "Can't start " << program << ": " << std::strerror(rc);
    return;
  }
  // xdg-open hands the address to the browser and returns; wait a while so
  // that it is not left behind as a zombie.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBrowserWaitMs);
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      LOG(WARNING) << program << " still running; not waiting for it";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

string16 environmentVariable(const char* name) {
  const char* value = std::getenv(name);
  return value ? base::utf8ToWide(value) : string16();
}

string16 ansiToWide(const std::string& bytes) { return base::utf8ToWide(bytes); }
std::string wideToAnsi(const string16& text) { return base::wideToUtf8(text); }

string16 errorMessage(uint32_t error) {
  switch (error) {
    case kErrorFileNotFound: return u"The system cannot find the file specified.";
    case kErrorPathNotFound: return u"The system cannot find the path specified.";
    case kErrorAccessDenied: return u"Access is denied.";
  }
  return base::asciiToWide(base::stringPrintf("message number %u", error));
}

// CMappedFile -------------------------------------------------------------

CMappedFile::~CMappedFile() { close(); }

bool CMappedFile::open(const base::string16& path, Access access) {
  close();
  const int flags = access == kRead ? O_RDONLY : (access == kWrite ? O_WRONLY : O_RDWR);
  const int fd = ::open(base::nativePath(path).c_str(), flags | O_CLOEXEC);
  if (fd < 0) {
    LOG(ERROR) << "Can't open " << path << " to map it: " << std::strerror(errno);
    return false;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
    LOG(ERROR) << "Can't map " << path << ": not a regular file with data";
    ::close(fd);
    return false;
  }
  const int prot = access == kRead ? PROT_READ : PROT_READ | PROT_WRITE;
  void* view = ::mmap(nullptr, static_cast<size_t>(st.st_size), prot, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) {
    LOG(ERROR) << "Can't map " << path << ": " << std::strerror(errno);
    ::close(fd);
    return false;
  }
  ::madvise(view, static_cast<size_t>(st.st_size), MADV_RANDOM);
  file_ = fd;
  data_ = static_cast<uint8_t*>(view);
  size_ = static_cast<size_t>(st.st_size);
  writable_ = access != kRead;
  return true;
}

void CMappedFile::close() {
  if (data_) ::munmap(data_, size_);
  if (file_ >= 0) ::close(static_cast<int>(file_));
  data_ = nullptr;
  size_ = 0;
  file_ = -1;
  writable_ = false;
}

}  // namespace support
