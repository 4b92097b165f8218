#include "transport/async_socket_base.h"

#include <cerrno>
#include <cstring>

#include "base/string_util.h"
#include "base/sys_info.h"

namespace transport {
namespace {

std::unique_ptr<Error> socketError(int32_t code, const char* text) {
  return std::make_unique<Error>(Error::kSocket, code, text);
}

}  // namespace

std::unique_ptr<Error> AsyncSocketBase::createRuntimeError() const {
  const int code = errno;
  return std::make_unique<Error>(Error::kRuntime, code, std::strerror(code));
}

std::unique_ptr<Error> AsyncSocketBase::createConnectError(int32_t code) const {
  return socketError(code, "General CFSocket error while connect");
}

std::unique_ptr<Error> AsyncSocketBase::createCanceledError() const {
  return socketError(kConnectCanceledError, "Connection canceled");
}

std::unique_ptr<Error> AsyncSocketBase::createGeneralSocketError() const {
  return socketError(kGeneralSocketError, "General socket error");
}

std::unique_ptr<Error> AsyncSocketBase::createConnectTimeoutError() const {
  return socketError(kConnectTimeoutError, "Attempt to connect to host timed out");
}

std::unique_ptr<Error> AsyncSocketBase::createReadMaxLengthError() const {
  return socketError(kReadMaxLengthError, "Read operation reached set maximum length");
}

std::unique_ptr<Error> AsyncSocketBase::createReadTimeoutError() const {
  return socketError(kReadTimeoutError, "Read operation timed out");
}

std::unique_ptr<Error> AsyncSocketBase::createWriteTimeoutError() const {
  return socketError(kWriteTimeoutError, "Write operation timed out");
}

std::unique_ptr<Error> AsyncSocketBase::createWriteQueueFullError() const {
  return socketError(kWriteQueueFullError, "Too many bytes waiting to be sent");
}

std::unique_ptr<Error> AsyncSocketBase::createSystemError(int32_t code) {
  return std::make_unique<Error>(Error::kSystem, code, base::wideToUtf8(base::systemErrorText(code)));
}

}  // namespace transport
