#include "WebcamWin/app/seh_exception.h"

#include <cstring>
#include <vector>

#include "base/string_util.h"

namespace {

// An address as Windows' %p shows it: all digits of a pointer, upper case.
std::string pointerText(uintptr_t value) {
  return base::stringPrintf("%0*llX", static_cast<int>(sizeof(void*) * 2),
                            static_cast<unsigned long long>(value));
}

}  // namespace

CSEHException::CSEHException(const ExceptionInfo& info, std::string context)
    : info_(info), context_(std::move(context)) {
  if (info_.parameterCount > ExceptionInfo::kMaxParameters)
    info_.parameterCount = ExceptionInfo::kMaxParameters;
}

CSEHException::~CSEHException() = default;

std::unique_ptr<CSEHException> CSEHException::wrap(const ExceptionInfo& info, std::string context) {
  if (info.code == kExceptionAccessViolation)
    return std::make_unique<CAccessViolationException>(info, std::move(context));
  return std::make_unique<CSEHException>(info, std::move(context));
}

std::string CSEHException::baseText() const {
  const char* kind =
      (info_.flags & ExceptionInfo::kNonContinuable) ? "Noncontinuable exception" : "Exception";
  return base::stringPrintf("%s with code = %#x at address = 0x%s.", kind, info_.code,
                            pointerText(info_.address).c_str());
}

size_t CSEHException::copyOut(const std::string& text, char* buffer, size_t size) {
  if (!buffer) return text.size() + 1;
  if (size == 0) return 0;
  const size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return n;
}

size_t CSEHException::GetErrorMessage(char* buffer, size_t size) const {
  return copyOut(baseText(), buffer, size);
}

std::string CSEHException::message() const {
  const size_t length = GetErrorMessage(nullptr, 0);
  std::vector<char> buffer(length);
  const size_t written = GetErrorMessage(buffer.data(), buffer.size());
  return std::string(buffer.data(), written);
}

size_t CAccessViolationException::GetErrorMessage(char* buffer, size_t size) const {
  const ExceptionInfo& record = info();
  const bool write = record.parameterCount > 0 && record.parameters[0] != 0;
  const uintptr_t target = record.parameterCount > 1 ? record.parameters[1] : 0;
  const std::string text = baseText() + " Attempt to " + (write ? "write" : "read") +
                           " data at address 0x" + pointerText(target);
  return copyOut(text, buffer, size);
}
