// Wrappers of an exception that reached the main thread's last-chance guard:
// a copy of the exception record and of the processor context, and the text
// the log gets at FATAL. On Linux a fatal signal is described by the same
// record (an invalid access is code 0xC0000005 with the access kind and the
// address as its two parameters).
#ifndef WEBCAMWIN_SEH_EXCEPTION_H_
#define WEBCAMWIN_SEH_EXCEPTION_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// The fields of an EXCEPTION_RECORD that the texts use.
struct ExceptionInfo {
  static constexpr uint32_t kNonContinuable = 0x1;  // EXCEPTION_NONCONTINUABLE
  static constexpr size_t kMaxParameters = 15;

  uint32_t code = 0;
  uint32_t flags = 0;
  uintptr_t address = 0;  // the faulting instruction
  uint32_t parameterCount = 0;
  uintptr_t parameters[kMaxParameters] = {};
};

constexpr uint32_t kExceptionAccessViolation = 0xC0000005;

class CSEHException {
 public:
  // `context` is the processor context as raw bytes (kept for a later report).
  CSEHException(const ExceptionInfo& info, std::string context);
  virtual ~CSEHException();

  // "Exception with code = 0xc0000005 at address = 0x0040123A." (or
  // "Noncontinuable exception ..."). Writes at most size - 1 characters and a
  // NUL into `buffer` and returns the number written; with a null buffer,
  // returns the length of the whole text plus one.
  virtual size_t GetErrorMessage(char* buffer, size_t size) const;

  const ExceptionInfo& info() const { return info_; }
  const std::string& context() const { return context_; }

  // A CAccessViolationException for code 0xC0000005, else a CSEHException.
  static std::unique_ptr<CSEHException> wrap(const ExceptionInfo& info, std::string context);

  // The whole text (asks for the length, then formats).
  std::string message() const;

 protected:
  std::string baseText() const;
  static size_t copyOut(const std::string& text, char* buffer, size_t size);

 private:
  ExceptionInfo info_;
  std::string context_;
};

class CAccessViolationException : public CSEHException {
 public:
  using CSEHException::CSEHException;
  // The base text and " Attempt to read data at address 0x00000010" (or
  // "write" when the first parameter is non-zero).
  size_t GetErrorMessage(char* buffer, size_t size) const override;
};

#endif  // WEBCAMWIN_SEH_EXCEPTION_H_
