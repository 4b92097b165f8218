// The operating-system calls of the support tool, behind one small seam:
// the standard handles, files, the temporary file, the connection check, the
// shell's "open" and the environment. support_platform_win.cc uses Win32,
// WinINet and the shell; support_platform_posix.cc uses POSIX, libcurl and
// xdg-open. Error codes are Win32 codes on both builds.
#ifndef WEBCAMWIN_SUPPORT_SUPPORT_PLATFORM_H_
#define WEBCAMWIN_SUPPORT_SUPPORT_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/string_util.h"

namespace support {

using base::string16;

// Called first thing in the program: notes whether standard input and
// output exist (so that files opened later can't be mistaken for them) and
// sends standard error to the null device: the main program reads our
// standard output and error as one pipe, and only the answer may go there.
void takeStandardHandles();

// Standard input and output. False (with the error) when either is missing.
bool standardHandlesValid(uint32_t* error);
// Bytes read (0 at end of input), or -1 with *error set.
long readStandardInput(void* buffer, size_t length, uint32_t* error);
bool writeStandardOutput(const void* data, size_t length, uint32_t* error);

// A file opened for reading while its writer may still have it open (shares
// reading and writing). Closed on destruction.
class SharedReadFile {
 public:
  SharedReadFile();
  ~SharedReadFile();
  SharedReadFile(const SharedReadFile&) = delete;
  SharedReadFile& operator=(const SharedReadFile&) = delete;

  bool open(const string16& path, uint32_t* error);
  // -1 when the size can't be had.
  int64_t size() const;
  // Bytes read (0 at the end), or -1 with *error set.
  long read(void* buffer, size_t length, uint32_t* error);

 private:
  intptr_t handle_;
};

// A new, empty file with a unique name in the user's temporary folder whose
// name starts with `prefix` (Windows keeps the first three letters of it and
// the extension .tmp). False when none could be made.
bool createUniqueTempFile(const string16& prefix, string16* path);
// Opens `path` truncated for reading and writing, not shared, and returns a
// C run-time file descriptor for zlib's gzdopen(); -1 with *error on failure.
int openFileDescriptorForGzip(const string16& path, uint32_t* error);

// True when a connection to the address's host and port can be made (a real
// connection attempt, no request).
bool checkInternetConnection(const string16& address);

// Opens the address in the user's browser with the shell's "open". When the
// environment names a browser command in LUMORA_SUPPORT_BROWSER, that
// command is run with the address as its one argument instead (and waited
// for), so that tests never start a real browser.
void openWithShell(const string16& address);

// The value of an environment variable, empty when unset.
string16 environmentVariable(const char* name);

// Bytes in the thread's 8-bit code page <-> text (Linux: UTF-8).
string16 ansiToWide(const std::string& bytes);
std::string wideToAnsi(const string16& text);

// The system's message text for an error code.
string16 errorMessage(uint32_t error);

}  // namespace support

#endif  // WEBCAMWIN_SUPPORT_SUPPORT_PLATFORM_H_
