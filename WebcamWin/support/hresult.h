// Result codes of the support tool. Every job reports an HRESULT-style
// 32-bit code: negative means failure. Win32 error codes are carried as
// 0x80070000 | code, WinINet's own error range as 0x800C0000 | code.
#ifndef WEBCAMWIN_SUPPORT_HRESULT_H_
#define WEBCAMWIN_SUPPORT_HRESULT_H_

#include <cstdint>

namespace support {

using HResult = int32_t;

constexpr HResult kSOk = 0;
constexpr HResult kEAbort = static_cast<HResult>(0x80004004u);
constexpr HResult kEFail = static_cast<HResult>(0x80004005u);
constexpr HResult kEPending = static_cast<HResult>(0x8000000Au);
constexpr HResult kEInvalidArg = static_cast<HResult>(0x80070057u);
constexpr HResult kEHandle = static_cast<HResult>(0x80070006u);  // ERROR_INVALID_HANDLE

// Win32 error codes the tool itself produces (the Linux build maps errno to
// these so that both builds report the same results).
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorTooManyOpenFiles = 4;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorReadFault = 30;
constexpr uint32_t kErrorWriteFault = 29;
constexpr uint32_t kErrorGenFailure = 31;
constexpr uint32_t kErrorIoPending = 997;

constexpr bool failed(HResult hr) { return hr < 0; }

// 0 stays 0 (success), like HRESULT_FROM_WIN32.
constexpr HResult hresultFromWin32(uint32_t error) {
  return error == 0 ? kSOk : static_cast<HResult>(0x80070000u | (error & 0xFFFFu));
}

// Errors of the internet library (12001..12175) keep their own facility.
constexpr HResult hresultFromInternetError(uint32_t error) {
  return (error >= 12001 && error <= 12175)
             ? static_cast<HResult>(0x800C0000u | error)
             : hresultFromWin32(error);
}

}  // namespace support

#endif  // WEBCAMWIN_SUPPORT_HRESULT_H_
