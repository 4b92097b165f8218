// The upload on Windows: WinINet in asynchronous mode (the shared CHttpRequest).
// The request is sent with HttpSendRequestExW; every completion writes more
// of the body (head, file chunks from the mapping, tail), then the request
// is ended and the answer read block by block.
#include <windows.h>
#include <wininet.h>

#include "WebcamWin/http/inet_win.h"
#include "WebcamWin/support/uploader.h"
#include "base/logging.h"

namespace support {
namespace {

constexpr DWORD kOpenFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_KEEP_CONNECTION;  // 0x80400000

HResult lastInternetResult() {
  const DWORD error = GetLastError();
  return error ? hresultFromInternetError(error) : kEFail;
}

}  // namespace

struct CUploader::Transfer : public http::CHttpRequestCallback {
  explicit Transfer(CUploader* uploader)
      : owner(uploader), request(new http::CHttpRequest(this, kMaxResponseBytes)) {}
  // Handles close in reverse: request, connection, session.
  ~Transfer() override { request->close(); }

  DWORD OnBeforeRequestEnd() override {
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

  void OnRequestEnd(DWORD) override {
    const std::vector<char>& answer = request->response();
    owner->appendResponse(answer.data(), answer.size(), request->responseCut());
    owner->setStatusCode(static_cast<int>(request->statusCode()));
    owner->requestEnd();
  }

  CUploader* owner;
  http::CInetSession session;
  http::CHttpConnection connection;
  http::CHttpRequest* request;  // shared with its handle
};

void CUploader::TransferDeleter::operator()(Transfer* transfer) const { delete transfer; }

HResult CUploader::start(const base::string16& address, const base::string16& filePath) {
  transfer_.reset();
  if (!prepareBody(filePath)) return kEFail;

  std::wstring host, path;
  INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
  http::crackUrl(address, INTERNET_DEFAULT_HTTP_PORT, &host, &port, &path);

  std::unique_ptr<Transfer, TransferDeleter> transfer(new Transfer(this));
  if (!transfer->session.open(L"WC BB")) return lastInternetResult();
  if (!transfer->connection.open(transfer->session.handle(), host, port)) return lastInternetResult();
  if (!transfer->request->open(transfer->connection.handle(), L"POST", path, kOpenFlags))
    return lastInternetResult();
  for (const std::string& header : uploadHeaders(body_.length(), boundary_)) {
    if (!transfer->request->addHeader(header)) return lastInternetResult();
  }
  Transfer* raw = transfer.get();
  transfer_ = std::move(transfer);
  DWORD error = 0;
  if (!raw->request->send(static_cast<DWORD>(body_.length()), &error)) {
    transfer_.reset();
    return error ? hresultFromInternetError(error) : kEFail;
  }
  return kEPending;
}

}  // namespace support
