#include "WebcamWin/http/inet_win.h"

#include <algorithm>

#include "base/logging.h"

namespace http {
namespace {

void CALLBACK statusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
  if (context) reinterpret_cast<CInetContext*>(context)->onStatus(status, info, length);
}

}  // namespace

CInetSession::~CInetSession() {
  if (handle_) InternetCloseHandle(handle_);
}

bool CInetSession::open(const wchar_t* agent) {
  handle_ = InternetOpenW(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC);
  if (!handle_) return false;
  InternetSetStatusCallbackW(handle_, &statusCallback);
  return true;
}

CHttpConnection::~CHttpConnection() {
  if (handle_) InternetCloseHandle(handle_);
}

bool CHttpConnection::open(HINTERNET session, const std::wstring& host, INTERNET_PORT port) {
  handle_ = InternetConnectW(session, host.c_str(), port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  return handle_ != nullptr;
}

CHttpRequest::CHttpRequest(CHttpRequestCallback* callback, size_t maxResponseBytes)
    : callback_(callback), maxResponseBytes_(maxResponseBytes) {
  InitializeCriticalSection(&lock_);
}

CHttpRequest::~CHttpRequest() { DeleteCriticalSection(&lock_); }

void CHttpRequest::release() {
  if (refs_.fetch_sub(1) == 1) delete this;
}

void CHttpRequest::close() {
  EnterCriticalSection(&lock_);
  closing_ = true;
  LeaveCriticalSection(&lock_);
  if (handle_) InternetCloseHandle(handle_);
  release();
}

bool CHttpRequest::open(HINTERNET connection, const wchar_t* verb, const std::wstring& path, DWORD flags) {
  handle_ = HttpOpenRequestW(connection, verb, path.c_str(), nullptr, nullptr, nullptr, flags, contextValue());
  if (handle_) refs_.fetch_add(1);  // the handle's share, dropped on its closing
  return handle_ != nullptr;
}

bool CHttpRequest::addHeader(const std::string& header) {
  constexpr DWORD kAddFlags = HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE;  // 0xA0000000
  const std::wstring text(header.begin(), header.end());
  return HttpAddRequestHeadersW(handle_, text.c_str(), static_cast<DWORD>(-1), kAddFlags) != FALSE;
}

bool CHttpRequest::send(DWORD bodyLength, DWORD* error) {
  EnterCriticalSection(&lock_);
  INTERNET_BUFFERSW buffers = {};
  buffers.dwStructSize = sizeof(buffers);  // 40
  buffers.dwBufferTotal = bodyLength;
  bool started = true;
  if (HttpSendRequestExW(handle_, &buffers, nullptr, 0, contextValue())) {
    // Sent at once: go on as on a completion without error.
    continueRequest();
  } else if (GetLastError() != ERROR_IO_PENDING) {
    *error = GetLastError();
    started = false;
  }
  LeaveCriticalSection(&lock_);
  return started;
}

void CHttpRequest::onStatus(DWORD status, void* info, DWORD) {
  if (status == INTERNET_STATUS_HANDLE_CLOSING) {
    release();
    return;
  }
  if (status != INTERNET_STATUS_REQUEST_COMPLETE) return;
  const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
  EnterCriticalSection(&lock_);
  if (!closing_ && !done_) {
    if (result && result->dwError != ERROR_SUCCESS) {
      LOGF(ERROR, "Request failed: %lu", result->dwError);
      finish(result->dwError);
    } else {
      continueRequest();
    }
  }
  LeaveCriticalSection(&lock_);
}

void CHttpRequest::continueRequest() {
  if (ending_) {
    readResponse();
    return;
  }
  const DWORD rc = callback_->OnBeforeRequestEnd();
  if (rc == ERROR_IO_PENDING) return;
  if (rc != 0) {
    LOGF(INFO, "OnBeforeRequestEnd return %lu", rc);
    finish(rc);
    return;
  }
  ending_ = true;
  if (!HttpEndRequestW(handle_, nullptr, 0, contextValue())) {
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) finish(error);
    return;
  }
  readResponse();
}

void CHttpRequest::readResponse() {
  if (!headersRead_) {
    headersRead_ = true;
    DWORD value = 0, size = sizeof(value);
    if (HttpQueryInfoW(handle_, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value, &size, nullptr))
      statusCode_ = value;
    size = sizeof(value);
    if (HttpQueryInfoW(handle_, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &value, &size, nullptr))
      contentLength_ = value;
  }
  for (;;) {
    if (readPending_) {
      // The block a pending read has filled.
      readPending_ = false;
      const size_t got = readBuffers_.dwBufferLength;
      if (got == 0) {
        finish(0);
        return;
      }
      const size_t room = maxResponseBytes_ - response_.size();
      response_.insert(response_.end(), buffer_, buffer_ + std::min(got, room));
      if (got > room) {
        // Nothing we talk to answers this much; stop reading here.
        responseCut_ = true;
        finish(0);
        return;
      }
    }
    readBuffers_ = {};
    readBuffers_.dwStructSize = sizeof(readBuffers_);
    readBuffers_.lpvBuffer = buffer_;
    readBuffers_.dwBufferLength = kReadBlockBytes;
    readPending_ = true;
    if (!InternetReadFileExA(handle_, &readBuffers_, 0, contextValue())) {
      const DWORD error = GetLastError();
      if (error == ERROR_IO_PENDING) return;  // the next notification brings the block
      readPending_ = false;
      finish(error);
      return;
    }
  }
}

void CHttpRequest::finish(DWORD error) {
  done_ = true;
  callback_->OnRequestEnd(error);
}

void crackUrl(const base::string16& address, INTERNET_PORT defaultPort, std::wstring* host,
              INTERNET_PORT* port, std::wstring* path) {
  const std::wstring url(address.begin(), address.end());
  *host = url;
  *path = url;
  *port = defaultPort;
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = 1;
  parts.dwUrlPathLength = 1;
  parts.dwExtraInfoLength = 1;
  if (!InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) return;
  if (parts.lpszHostName && parts.dwHostNameLength) host->assign(parts.lpszHostName, parts.dwHostNameLength);
  if (parts.lpszUrlPath && parts.dwUrlPathLength) {
    path->assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo && parts.dwExtraInfoLength)
      path->append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  }
  if (parts.nPort) *port = parts.nPort;
}

}  // namespace http
