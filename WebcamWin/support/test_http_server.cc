#include "WebcamWin/support/test_http_server.h"

#include <chrono>
#include <cstdlib>
#include <memory>

#include "base/socket.h"
#include "base/string_util.h"

namespace support_test {
namespace {

bool equalsAscii(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

const char* reasonOf(int status) {
  switch (status) {
    case 200: return "OK";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
  }
  return "Status";
}

}  // namespace

std::string HttpRequest::header(const std::string& name) const {
  for (const auto& h : headers)
    if (equalsAscii(h.first, name)) return h.second;
  return std::string();
}

size_t HttpRequest::headerCount(const std::string& name) const {
  size_t n = 0;
  for (const auto& h : headers)
    if (equalsAscii(h.first, name)) ++n;
  return n;
}

struct TestHttpServer::Connection {
  base::SocketHandle socket = base::kInvalidSocket;
  std::string data;
  bool answered = false;
};

bool TestHttpServer::start(uint16_t port) {
  base::initializeSockets();
  int32_t error = 0;
  listener_ = base::socketListen(port, true, &error);
  if (listener_ == base::kInvalidSocket) return false;
  std::string address;
  base::socketLocalAddress(listener_, &address, &port_);
  stopping_ = false;
  thread_ = std::thread([this] { serve(); });
  return true;
}

void TestHttpServer::stop() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ != base::kInvalidSocket) base::socketClose(listener_);
  listener_ = base::kInvalidSocket;
}

void TestHttpServer::setAnswer(int status, const std::string& body) {
  std::lock_guard<std::mutex> lock(mutex_);
  status_ = status;
  answer_ = body;
}

std::vector<HttpRequest> TestHttpServer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

bool TestHttpServer::waitForRequests(size_t count, int timeoutMs) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    if (requests().size() >= count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return requests().size() >= count;
}

void TestHttpServer::serve() {
  std::vector<std::unique_ptr<Connection>> open;
  while (!stopping_) {
    bool busy = false;
    const base::SocketHandle s = base::socketAccept(listener_);
    if (s != base::kInvalidSocket) {
      auto c = std::make_unique<Connection>();
      c->socket = s;
      open.push_back(std::move(c));
      ++connections_;
      busy = true;
    }
    for (size_t i = 0; i < open.size();) {
      if (handle(open[i].get())) {
        base::socketClose(open[i]->socket);
        open.erase(open.begin() + static_cast<long>(i));
      } else {
        ++i;
      }
    }
    if (!busy) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  for (auto& c : open) base::socketClose(c->socket);
}

bool TestHttpServer::handle(Connection* c) {
  char buffer[8192];
  for (;;) {
    const long n = base::socketRecv(c->socket, buffer, sizeof(buffer));
    if (n == 0) return true;  // the peer closed (a connection check does that)
    if (n < 0) {
      if (base::isWouldBlock(base::lastSocketError())) break;
      return true;
    }
    c->data.append(buffer, static_cast<size_t>(n));
  }
  if (c->answered || mode_.load() == Mode::kHold) return false;
  const size_t headEnd = c->data.find("\r\n\r\n");
  if (headEnd == std::string::npos) return false;

  HttpRequest request;
  const std::string head = c->data.substr(0, headEnd);
  size_t lineEnd = head.find("\r\n");
  const std::string first = head.substr(0, lineEnd);
  const size_t sp1 = first.find(' '), sp2 = first.rfind(' ');
  request.method = first.substr(0, sp1);
  request.target = first.substr(sp1 + 1, sp2 - sp1 - 1);
  request.version = first.substr(sp2 + 1);
  size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
  while (pos < head.size()) {
    size_t end = head.find("\r\n", pos);
    if (end == std::string::npos) end = head.size();
    const std::string line = head.substr(pos, end - pos);
    const size_t colon = line.find(':');
    if (colon != std::string::npos) {
      std::string value = line.substr(colon + 1);
      while (!value.empty() && value[0] == ' ') value.erase(0, 1);
      request.headers.emplace_back(line.substr(0, colon), value);
    }
    pos = end + 2;
  }
  const size_t length = static_cast<size_t>(std::atol(request.header("Content-Length").c_str()));
  if (c->data.size() < headEnd + 4 + length) return false;
  request.body = c->data.substr(headEnd + 4, length);

  std::string answer;
  int status;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    answer = answer_;
    status = status_;
  }
  const Mode mode = mode_.load();
  if (mode == Mode::kDrop) return true;
  c->answered = true;
  if (mode == Mode::kStall) return false;
  const std::string reply = base::stringPrintf("HTTP/1.1 %d %s\r\n", status, reasonOf(status)) +
                            "Content-Type: text/plain\r\nContent-Length: " +
                            std::to_string(answer.size()) + "\r\nConnection: close\r\n\r\n" + answer;
  size_t sent = 0;
  while (sent < reply.size()) {
    const long n = base::socketSend(c->socket, reply.data() + sent, reply.size() - sent);
    if (n < 0) {
      if (base::isWouldBlock(base::lastSocketError())) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      return true;
    }
    sent += static_cast<size_t>(n);
  }
  base::socketShutdownSend(c->socket);
  return false;  // closed when the client closes
}

uint16_t freeLoopbackPort() {
  base::initializeSockets();
  int32_t error = 0;
  const base::SocketHandle s = base::socketListen(0, true, &error);
  if (s == base::kInvalidSocket) return 0;
  std::string address;
  uint16_t port = 0;
  base::socketLocalAddress(s, &address, &port);
  base::socketClose(s);
  return port;
}

}  // namespace support_test
