// Helpers for tests only (linked into the test programs, never the product).
#ifndef BASE_TEST_UTIL_H_
#define BASE_TEST_UTIL_H_

#include <string>

#include "base/string_util.h"

namespace base {

// A new, empty folder below the temporary folder; its name starts with `tag`.
string16 makeTempDirectory(const string16& tag);
// Deletes a folder and everything below it.
bool removeTree(const string16& path);

#if !defined(_WIN32)
// What the shell command `command` writes to its standard output.
std::string commandOutput(const char* command);
#endif

// Sends the log to a fresh temporary file for as long as it lives; the
// folder named after `tag` goes with it.
class LogCapture {
 public:
  explicit LogCapture(const string16& tag = u"test-log");
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // False when the log file could not be opened.
  bool active() const { return active_; }
  std::string contents() const;
  bool contains(const std::string& text) const { return contents().find(text) != std::string::npos; }

 private:
  string16 dir_;
  string16 file_;
  bool active_ = false;
};

}  // namespace base

#endif  // BASE_TEST_UTIL_H_
