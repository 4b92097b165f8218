// WinINet in asynchronous mode, shared by the support tool's upload and the
// main program's update check: the session with its status callback, the
// connection, and the request that every INTERNET_STATUS_REQUEST_COMPLETE
// moves on (write the body through the callback, end the request, read the
// answer block by block). Included by *_win.cc files only.
#ifndef WEBCAMWIN_HTTP_INET_WIN_H_
#define WEBCAMWIN_HTTP_INET_WIN_H_

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <string>
#include <vector>

#include "base/string_util.h"

namespace http {

// The context value handed to every asynchronous call.
class CInetContext {
 public:
  virtual ~CInetContext() = default;
  DWORD_PTR contextValue() { return reinterpret_cast<DWORD_PTR>(this); }
  virtual void onStatus(DWORD status, void* info, DWORD length) = 0;
};

// What the request asks of its owner, on WinINet's callback thread (or on
// the thread that called send(), when the system finished at once).
class CHttpRequestCallback {
 public:
  virtual ~CHttpRequestCallback() = default;
  // Writes more of the body: 0 when all is written, else the error of the
  // write that did not complete at once (normally ERROR_IO_PENDING).
  // Requests without a body answer 0.
  virtual DWORD OnBeforeRequestEnd() { return 0; }
  // The request is over; `error` 0 when an answer was read.
  virtual void OnRequestEnd(DWORD error) = 0;
};

class CInetSession {
 public:
  ~CInetSession();
  // Asynchronous session with `agent` as the user agent.
  bool open(const wchar_t* agent);
  HINTERNET handle() const { return handle_; }

 private:
  HINTERNET handle_ = nullptr;
};

class CHttpConnection {
 public:
  ~CHttpConnection();
  bool open(HINTERNET session, const std::wstring& host, INTERNET_PORT port);
  HINTERNET handle() const { return handle_; }

 private:
  HINTERNET handle_ = nullptr;
};

// The request and everything its notifications touch. WinINet may still
// call back after InternetCloseHandle() (until INTERNET_STATUS_HANDLE_CLOSING),
// so the object is shared between its owner and the open handle and goes
// away when both have let go; after close() no notification reaches the
// callback. Create it with new; the owner ends its share with close().
class CHttpRequest : public CInetContext {
 public:
  // At most `maxResponseBytes` of the answer are kept; a longer answer ends
  // the request at that point with responseCut() set.
  CHttpRequest(CHttpRequestCallback* callback, size_t maxResponseBytes);

  // The owner's last call: closes the handle and drops the owner's share.
  void close();

  bool open(HINTERNET connection, const wchar_t* verb, const std::wstring& path, DWORD flags);
  bool addHeader(const std::string& header);

  // Sends the request announcing `bodyLength` bytes of body. True once it is
  // on its way (the end is reported through OnRequestEnd); false with the
  // error when it could not be sent.
  bool send(DWORD bodyLength, DWORD* error);

  HINTERNET handle() const { return handle_; }
  // Valid in OnRequestEnd and after it.
  DWORD statusCode() const { return statusCode_; }
  DWORD contentLength() const { return contentLength_; }
  const std::vector<char>& response() const { return response_; }
  bool responseCut() const { return responseCut_; }

  void onStatus(DWORD status, void* info, DWORD length) override;

 private:
  static constexpr DWORD kReadBlockBytes = 8192;

  ~CHttpRequest() override;
  void release();
  // Under lock_.
  void continueRequest();
  void readResponse();
  void finish(DWORD error);

  CHttpRequestCallback* callback_;
  const size_t maxResponseBytes_;
  CRITICAL_SECTION lock_;
  HINTERNET handle_ = nullptr;
  std::atomic<int> refs_{1};
  bool ending_ = false;
  bool headersRead_ = false;
  bool readPending_ = false;
  bool done_ = false;
  bool closing_ = false;
  bool responseCut_ = false;
  DWORD statusCode_ = 200;
  DWORD contentLength_ = static_cast<DWORD>(-1);
  INTERNET_BUFFERSA readBuffers_ = {};
  std::vector<char> response_;
  char buffer_[kReadBlockBytes];
};

// Host, port and path of an address. What can't be had is the whole
// address; the port is `defaultPort` unless the address names one.
void crackUrl(const base::string16& address, INTERNET_PORT defaultPort, std::wstring* host,
              INTERNET_PORT* port, std::wstring* path);

}  // namespace http

#endif  // WEBCAMWIN_HTTP_INET_WIN_H_
