// The upload on Windows: WinINet in asynchronous mode. The request is sent
// with HttpSendRequestExW; every INTERNET_STATUS_REQUEST_COMPLETE moves it
// on: write more of the body (head, file chunks from the mapping, tail),
// end the request, then read the answer block by block.
#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <string>
#include <vector>

#include "WebcamWin/support/uploader.h"
#include "base/logging.h"

namespace support {
namespace {

constexpr DWORD kOpenFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_KEEP_CONNECTION;  // 0x80400000
constexpr DWORD kAddHeaderFlags = HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE;  // 0xA0000000
constexpr DWORD kReadBlockBytes = 8192;

std::wstring toWide(const base::string16& text) {
  return std::wstring(text.begin(), text.end());
}

HResult lastInternetResult() {
  const DWORD error = GetLastError();
  return error ? hresultFromInternetError(error) : kEFail;
}

void CALLBACK statusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length);

}  // namespace

// The context value handed to every asynchronous call.
class CInetContext {
 public:
  virtual ~CInetContext() = default;
  DWORD_PTR contextValue() { return reinterpret_cast<DWORD_PTR>(this); }
  virtual void onStatus(DWORD status, void* info, DWORD length) = 0;
};

class CHttpRequestCallback {
 public:
  virtual ~CHttpRequestCallback() = default;
  // Writes more of the body: 0 when all is written, else the error of the
  // write that did not complete at once (normally ERROR_IO_PENDING).
  virtual DWORD beforeRequestEnd() = 0;
  virtual void requestEnd() = 0;
};

class CInetSession {
 public:
  ~CInetSession() {
    if (handle_) InternetCloseHandle(handle_);
  }
  bool open(const wchar_t* agent) {
    handle_ = InternetOpenW(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC);
    if (!handle_) return false;
    InternetSetStatusCallbackW(handle_, &statusCallback);
    return true;
  }
  HINTERNET handle() const { return handle_; }

 private:
  HINTERNET handle_ = nullptr;
};

class CHttpConnection {
 public:
  ~CHttpConnection() {
    if (handle_) InternetCloseHandle(handle_);
  }
  bool open(HINTERNET session, const std::wstring& host, INTERNET_PORT port) {
    handle_ = InternetConnectW(session, host.c_str(), port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    return handle_ != nullptr;
  }
  HINTERNET handle() const { return handle_; }

 private:
  HINTERNET handle_ = nullptr;
};

// The request and everything its notifications touch. WinINet may still
// call back after InternetCloseHandle() (until INTERNET_STATUS_HANDLE_CLOSING),
// so the object is shared between its owner and the open handle and goes
// away when both have let go; after close() no notification reaches the
// callback.
class CHttpRequest : public CInetContext {
 public:
  explicit CHttpRequest(CHttpRequestCallback* callback) : callback_(callback) {
    InitializeCriticalSection(&lock_);
    completion_ = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  }

  // The owner's last call: closes the handle and drops the owner's share.
  void close() {
    EnterCriticalSection(&lock_);
    closing_ = true;
    LeaveCriticalSection(&lock_);
    if (handle_) InternetCloseHandle(handle_);
    release();
  }

  bool open(HINTERNET connection, const std::wstring& path) {
    handle_ = HttpOpenRequestW(connection, L"POST", path.c_str(), nullptr, nullptr, nullptr, kOpenFlags,
                               contextValue());
    if (handle_) refs_.fetch_add(1);  // the handle's share, dropped on its closing
    return handle_ != nullptr;
  }
  bool addHeader(const std::string& header) {
    const std::wstring text(header.begin(), header.end());
    return HttpAddRequestHeadersW(handle_, text.c_str(), static_cast<DWORD>(-1), kAddHeaderFlags) != FALSE;
  }

  // kEPending once the request is on its way.
  HResult send(DWORD bodyLength) {
    EnterCriticalSection(&lock_);
    ResetEvent(completion_);
    INTERNET_BUFFERSW buffers = {};
    buffers.dwStructSize = sizeof(buffers);  // 40
    buffers.dwBufferTotal = bodyLength;
    HResult hr = kEPending;
    if (HttpSendRequestExW(handle_, &buffers, nullptr, 0, contextValue())) {
      // Sent at once: go on as on a completion without error.
      continueRequest();
    } else if (GetLastError() != ERROR_IO_PENDING) {
      hr = lastInternetResult();
      SetEvent(completion_);
    }
    LeaveCriticalSection(&lock_);
    return hr;
  }

  HINTERNET handle() const { return handle_; }
  DWORD statusCode() const { return statusCode_; }

  void onStatus(DWORD status, void* info, DWORD) override {
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

  const std::vector<char>& response() const { return response_; }

 private:
  ~CHttpRequest() override {
    CloseHandle(completion_);
    DeleteCriticalSection(&lock_);
  }
  void release() {
    if (refs_.fetch_sub(1) == 1) delete this;
  }

  // Under lock_.
  void continueRequest() {
    if (ending_) {
      readResponse();
      return;
    }
    const DWORD rc = callback_->beforeRequestEnd();
    if (rc == ERROR_IO_PENDING) return;
    if (rc != 0) {
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

  void readResponse() {
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
        if (readBuffers_.dwBufferLength == 0) {
          finish(0);
          return;
        }
        response_.insert(response_.end(), buffer_, buffer_ + readBuffers_.dwBufferLength);
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

  void finish(DWORD error) {
    done_ = true;
    finalError_ = error;
    SetEvent(completion_);
    callback_->requestEnd();
  }

  CHttpRequestCallback* callback_;
  CRITICAL_SECTION lock_;
  HINTERNET handle_ = nullptr;
  HANDLE completion_ = nullptr;
  std::atomic<int> refs_{1};
  bool ending_ = false;
  bool headersRead_ = false;
  bool readPending_ = false;
  bool done_ = false;
  bool closing_ = false;
  DWORD statusCode_ = 200;
  DWORD contentLength_ = static_cast<DWORD>(-1);
  DWORD finalError_ = 0;
  INTERNET_BUFFERSA readBuffers_ = {};
  std::vector<char> response_;
  char buffer_[kReadBlockBytes];
};

namespace {

void CALLBACK statusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
  if (context) reinterpret_cast<CInetContext*>(context)->onStatus(status, info, length);
}

}  // namespace

struct CUploader::Transfer : public CHttpRequestCallback {
  explicit Transfer(CUploader* uploader) : owner(uploader), request(new CHttpRequest(this)) {}
  // Handles close in reverse: request, connection, session.
  ~Transfer() override { request->close(); }

  DWORD beforeRequestEnd() override {
    CUploadBody& body = owner->body_;
    for (;;) {
      if (body.sent() >= body.length()) return 0;
      if (body.phase() == CUploadBody::kWritten) {
        LOG(WARNING) << " Not all data sended";
        return 0;
      }
      const uint8_t* data = nullptr;
      const size_t n = body.next(&data, kUploadChunkBytes);
      DWORD written = 0;
      if (!InternetWriteFile(request->handle(), data, static_cast<DWORD>(n), &written)) {
        const DWORD error = GetLastError();
        // A pending write goes on in the background with these bytes.
        if (error == ERROR_IO_PENDING) body.advance(n);
        return error;
      }
      body.advance(n);
    }
  }

  void requestEnd() override {
    const std::vector<char>& answer = request->response();
    owner->appendResponse(answer.data(), answer.size());
    owner->setStatusCode(static_cast<int>(request->statusCode()));
    owner->requestEnd();
  }

  CUploader* owner;
  CInetSession session;
  CHttpConnection connection;
  CHttpRequest* request;  // shared with its handle
};

void CUploader::TransferDeleter::operator()(Transfer* transfer) const { delete transfer; }

HResult CUploader::start(const base::string16& address, const base::string16& filePath) {
  transfer_.reset();
  if (!prepareBody(filePath)) return kEFail;

  // Host, port and path of the address; what can't be had is the whole address.
  std::wstring url = toWide(address);
  std::wstring host = url, path = url;
  INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = 1;
  parts.dwUrlPathLength = 1;
  if (InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
    if (parts.lpszHostName && parts.dwHostNameLength)
      host.assign(parts.lpszHostName, parts.dwHostNameLength);
    if (parts.lpszUrlPath && parts.dwUrlPathLength) path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.nPort) port = parts.nPort;
  }

  std::unique_ptr<Transfer, TransferDeleter> transfer(new Transfer(this));
  if (!transfer->session.open(L"WC BB")) return lastInternetResult();
  if (!transfer->connection.open(transfer->session.handle(), host, port)) return lastInternetResult();
  if (!transfer->request->open(transfer->connection.handle(), path)) return lastInternetResult();
  for (const std::string& header : uploadHeaders(body_.length(), boundary_)) {
    if (!transfer->request->addHeader(header)) return lastInternetResult();
  }
  Transfer* raw = transfer.get();
  transfer_ = std::move(transfer);
  const HResult hr = raw->request->send(static_cast<DWORD>(body_.length()));
  if (hr != kEPending) transfer_.reset();
  return hr;
}

}  // namespace support
