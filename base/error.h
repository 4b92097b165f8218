// The transport's error record: a domain, a code and a text. It lives in
// base so that the log can render it; the transport creates and owns them.
#ifndef BASE_ERROR_H_
#define BASE_ERROR_H_

#include <cstdint>
#include <string>

namespace transport {

struct Error {
  enum Domain : int32_t {
    kRuntime = 0,  // C run-time error number
    kSocket = 1,   // the socket's own codes
    kSystem = 2,   // Winsock / operating-system error code
  };
  Error() = default;
  Error(int32_t d, int32_t c, std::string text)
      : domain(d), code(c), description(std::move(text)) {}

  int32_t domain = 0;
  int32_t code = 0;
  std::string description;
};

// "<Error: 0x<address>> Code: <code>. Domain: <domain>. Description: <text>",
// or "<Error: (null)>".
std::string describeError(const Error* error);

}  // namespace transport

#endif  // BASE_ERROR_H_
