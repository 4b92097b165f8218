#include "WebcamWin/testing/shell_test_util.h"

#include <chrono>
#include <cstdlib>

#include "base/file_util.h"
#include "base/logging.h"
#include "base/test_util.h"

namespace shell_test {
namespace {

void putVariable(const std::string& name, const std::string* value) {
#if defined(_WIN32)
  _putenv_s(name.c_str(), value ? value->c_str() : "");
#else
  if (value) ::setenv(name.c_str(), value->c_str(), 1);
  else ::unsetenv(name.c_str());
#endif
}

#if defined(_WIN32)
constexpr char16_t kExeSuffix[] = u".exe";
#else
constexpr char16_t kExeSuffix[] = u"";
#endif

}  // namespace

ScopedEnvironment::~ScopedEnvironment() {
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) putVariable(it->name, it->had ? &it->value : nullptr);
}

void ScopedEnvironment::set(const std::string& name, const std::string& value) {
  remember(name);
  putVariable(name, &value);
}

void ScopedEnvironment::unset(const std::string& name) {
  remember(name);
  putVariable(name, nullptr);
}

void ScopedEnvironment::remember(const std::string& name) {
  Saved saved;
  saved.name = name;
  const char* old = std::getenv(name.c_str());
  saved.had = old != nullptr;
  if (old) saved.value = old;
  saved_.push_back(saved);
}

bool pumpUntil(base::MessageLoop* loop, const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return done();
    loop->runFor(10);
  }
  return true;
}

MessageRecorder::MessageRecorder()
    : window_(std::make_unique<base::MessageWindow>(u"com.quillonlabs.test_recorder", this)) {}

MessageRecorder::~MessageRecorder() = default;

void MessageRecorder::onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t) {
  if (msg != base::kMsgTimer) messages.emplace_back(msg, wparam);
}

base::string16 builtProgram(const base::string16& name) {
  return base::joinPath(base::joinPath(base::dirName(base::executableDirectory()), u"bin"), name + kExeSuffix);
}

base::string16 testProgram(const base::string16& name) {
  return base::joinPath(base::executableDirectory(), name + kExeSuffix);
}

LogCapture::LogCapture()
    : folder_(base::makeTempDirectory(u"log_capture")), file_(base::joinPath(folder_, u"test.log")) {
  base::initLogging(file_, base::kLogToFile, base::kLockInProcess, 0);
}

LogCapture::~LogCapture() {
  base::resetLoggingForTesting();
  base::removeTree(folder_);
}

std::string LogCapture::text() const { return fileText(file_); }

std::string fileText(const base::string16& path) {
  std::string text;
  base::readFile(path, &text);
  return text;
}

}  // namespace shell_test
