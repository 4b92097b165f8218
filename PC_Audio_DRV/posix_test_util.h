// Test helpers (Linux): run a program and read its output, talk to the
// daemon's control socket, make a scratch folder.
#ifndef PC_AUDIO_DRV_POSIX_TEST_UTIL_H_
#define PC_AUDIO_DRV_POSIX_TEST_UTIL_H_

#include <string>

namespace wave_test {

std::string makeScratchFolder();
void removeFolder(const std::string& path);
// Runs `command` through the shell; its standard output and exit code.
int runCommand(const std::string& command, std::string* output);
// One request line to the control socket; the answer line, or "" when
// nobody answered.
std::string request(const std::string& socketPath, const std::string& line);
bool waitForFile(const std::string& path, int timeoutMs, bool present = true);
long fileSize(const std::string& path);

}  // namespace wave_test

#endif  // PC_AUDIO_DRV_POSIX_TEST_UTIL_H_
