// The download on Windows: WinINet in asynchronous mode through the shared
// CInetSession / CHttpConnection / CHttpRequest; their completions arrive
// on WinINet's callback thread.
#include <windows.h>
#include <wininet.h>

#include "WebcamWin/suite/downloader.h"
#include "WebcamWin/http/inet_win.h"
#include "base/logging.h"

namespace {

constexpr DWORD kOpenFlags = INTERNET_FLAG_RELOAD;

int32_t resultFromError(DWORD error) {
  if (error == 0) return static_cast<int32_t>(0x80004005u);  // E_FAIL
  if (error >= 12001 && error <= 12175) return static_cast<int32_t>(0x800C0000u | error);
  return static_cast<int32_t>(0x80070000u | (error & 0xFFFF));
}

}  // namespace

struct CDownloader::Transfer : public http::CHttpRequestCallback {
  explicit Transfer(CDownloader* downloader)
      : owner(downloader), request(new http::CHttpRequest(this, kMaxAnswerBytes)) {}
  ~Transfer() override { request->close(); }

  void OnRequestEnd(DWORD error) override {
    if (error == 0) LOG(INFO) << "Request success";
    if (request->responseCut()) LOG(WARNING) << "Answer longer than " << kMaxAnswerBytes << " bytes";
    const std::vector<char>& body = request->response();
    owner->finish(static_cast<int>(request->statusCode()), body.data(), body.size(),
                  error == 0 && !request->responseCut());
  }

  CDownloader* owner;
  http::CInetSession session;
  http::CHttpConnection connection;
  http::CHttpRequest* request;  // shared with its handle
};

void CDownloader::TransferDeleter::operator()(Transfer* transfer) const { delete transfer; }

int32_t CDownloader::start(const base::string16& url) {
  transfer_.reset();
  state_.store(kIdle);
  std::wstring host, path;
  INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
  http::crackUrl(url, INTERNET_DEFAULT_HTTP_PORT, &host, &port, &path);

  std::unique_ptr<Transfer, TransferDeleter> transfer(new Transfer(this));
  if (!transfer->session.open(L"Tavrix")) return resultFromError(GetLastError());
  if (!transfer->connection.open(transfer->session.handle(), host, port))
    return resultFromError(GetLastError());
  if (!transfer->request->open(transfer->connection.handle(), L"GET", path, kOpenFlags))
    return resultFromError(GetLastError());
  Transfer* raw = transfer.get();
  transfer_ = std::move(transfer);
  state_.store(kRunning);
  DWORD error = 0;
  if (!raw->request->send(0, &error)) {
    state_.store(kIdle);
    transfer_.reset();
    return resultFromError(error);
  }
  return kPending;
}
