// Test helper: a small HTTP/1.1 server on 127.0.0.1, on a thread of its
// own. It records every request (head and body as received) and answers
// each with the configured status and body, or (by mode) drops the
// connection without an answer, keeps it open without answering, or holds
// requests unread until the mode changes.
#ifndef WEBCAMWIN_SUPPORT_TEST_HTTP_SERVER_H_
#define WEBCAMWIN_SUPPORT_TEST_HTTP_SERVER_H_

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace support_test {

struct HttpRequest {
  std::string method, target, version;
  std::vector<std::pair<std::string, std::string>> headers;  // in order
  std::string body;
  // The value of the first header of that name (case-insensitive); "" if none.
  std::string header(const std::string& name) const;
  size_t headerCount(const std::string& name) const;
};

class TestHttpServer {
 public:
  enum class Mode { kAnswer, kDrop, kStall, kHold };

  TestHttpServer() = default;
  ~TestHttpServer() { stop(); }

  // Listens on 127.0.0.1:port (0: any free port).
  bool start(uint16_t port = 0);
  void stop();
  uint16_t port() const { return port_; }
  std::string hostAndPort() const { return "127.0.0.1:" + std::to_string(port_); }

  void setMode(Mode mode) { mode_ = mode; }
  void setAnswer(int status, const std::string& body);

  std::vector<HttpRequest> requests() const;
  // Connections accepted so far (a connection check opens one too).
  int connections() const { return connections_.load(); }
  bool waitForRequests(size_t count, int timeoutMs) const;

 private:
  struct Connection;
  void serve();
  // True when the connection is finished with.
  bool handle(Connection* c);

  std::atomic<Mode> mode_{Mode::kAnswer};
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  uintptr_t listener_ = ~static_cast<uintptr_t>(0);
  uint16_t port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  int status_ = 200;
  std::string answer_ = "OK";
  std::vector<HttpRequest> requests_;
};

// Whether nothing listens on 127.0.0.1:port right now is not checked; this
// just hands out a port that was free a moment ago.
uint16_t freeLoopbackPort();

}  // namespace support_test

#endif  // WEBCAMWIN_SUPPORT_TEST_HTTP_SERVER_H_
