// Runs the real support tool the way the main program does: the request on
// its standard input, the answer read from its standard output, against a
// local HTTP server, with the browser replaced by a recorder.
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <thread>

#include "WebcamWin/support/param_store.h"
#include "WebcamWin/support/support_site.h"
#include "WebcamWin/support/test_http_server.h"
#include "WebcamWin/support/test_process.h"
#include "base/file_util.h"
#include "base/test_util.h"

namespace support {
namespace {

using support_test::ChildProcess;
using support_test::HttpRequest;
using support_test::TestHttpServer;
using support_test::nativeTestPath;

constexpr int kRunTimeoutMs = 60000;
const std::string kReply("O\0K\0\0\0", 6);

std::string utf16le(const std::string& ascii) {
  std::string bytes;
  for (char c : ascii) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  return bytes;
}

std::string gunzip(const std::string& packed) {
  z_stream z{};
  inflateInit2(&z, 16 + MAX_WBITS);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  z.avail_in = static_cast<uInt>(packed.size());
  std::string out(1 << 20, '\0');
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = inflate(&z, Z_FINISH);
  out.resize(out.size() - z.avail_out);
  inflateEnd(&z);
  return rc == Z_STREAM_END ? out : "<corrupt>";
}

// The packed file inside an upload body.
std::string filePart(const std::string& body) {
  const size_t start = body.find("Content-Type: gzip\n\n");
  const size_t end = body.rfind("\n--");
  if (start == std::string::npos || end == std::string::npos || end < start + 20) return "";
  return body.substr(start + 20, end - start - 20);
}

class SupportToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = base::makeTempDirectory(u"support_tool");
    control_ = base::joinPath(folder_, u"control");
    ASSERT_TRUE(base::createDirectories(control_));
    log_ = base::joinPath(folder_, u"debug.log");
  }
  void TearDown() override { base::removeTree(folder_); }

  std::string path(const string16& p) const { return nativeTestPath(base::wideToUtf8(p)); }

  std::map<std::string, std::string> environment(const std::string& host) const {
    const std::string temp = path(folder_);
    return {
        {"LUMORA_SUPPORT_HOST", host},
        {"LUMORA_SUPPORT_BROWSER", nativeTestPath(SUPPORT_TEST_BROWSER_EXE)},
        {"SUPPORT_TEST_BROWSER_LOG", path(base::joinPath(folder_, u"opened.txt"))},
        {"LUMORA_SUPPORT_TEST_CONTROL", path(control_)},
        {"LUMORA_SUPPORT_LOG", path(base::joinPath(folder_, u"trace.log"))},
        {"TMPDIR", temp}, {"TMP", temp}, {"TEMP", temp},
    };
  }

  // The request the main program sends, with the form on the test server.
  std::string request(const std::string& host, bool withLog = true) const {
    std::string lines = "Product:Lumora ZuvIridar for iPhone\nCompany:Quillon Labs\nVersion:2.2.0.0\n";
    if (withLog) lines += "Log:" + path(log_) + "\n";
    lines += "SupportForm:http://" + host + "/en/support/support.php?form=zuviridar_iphone\n"
             "DeviceModel:iPhone 12 Pro/Max\nDeviceSoftware:iOS v17.2\n";
    return utf16le(lines);
  }

  std::string formAddress(const std::string& host, const std::string& userFile) const {
    SupportFormFacts facts;
    facts.supportForm = base::utf8ToWide("http://" + host + "/en/support/support.php?form=zuviridar_iphone");
    facts.version = u"2.2.0.0";
    facts.windows = operatingSystemDescription();
    facts.device = u"iPhone 12 Pro/Max";
    facts.deviceOs = u"iOS v17.2";
    facts.userFile = base::utf8ToWide(userFile);
    return base::wideToUtf8(buildSupportFormAddress(facts));
  }

  std::vector<std::string> opened() const {
    std::string text;
    base::readFile(base::joinPath(folder_, u"opened.txt"), &text);
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
      const size_t end = text.find('\n', pos);
      lines.push_back(text.substr(pos, end - pos));
      pos = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
  }

  std::string events() const {
    std::string text;
    base::readFile(base::joinPath(control_, u"events.txt"), &text);
    return text;
  }

  bool waitForEvent(const std::string& line, int timeoutMs = kRunTimeoutMs) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      if (events().find(line + "\n") != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  // The tool may be reading the folder just then; Windows then refuses the
  // replacement for a moment.
  void command(const std::string& text) {
    for (int attempt = 0; attempt < 100; ++attempt) {
      if (base::writeFileAtomic(base::joinPath(control_, u"command.txt"), text)) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    FAIL() << "can't write the command";
  }

  bool startTool(ChildProcess* tool, const std::string& host, bool withInput = true) {
    return tool->start(nativeTestPath(SUPPORT_EXE), environment(host), withInput);
  }

  // Starts the tool, feeds the whole request and waits for the exit.
  int run(const std::string& host, const std::string& input, std::string* output) {
    ChildProcess tool;
    if (!startTool(&tool, host)) return -1;
    tool.writeInput(input);
    tool.closeInput();
    int code = -1;
    if (!tool.wait(kRunTimeoutMs, &code)) return -2;
    *output = tool.output();
    return code;
  }

  string16 folder_, control_, log_;
};

TEST_F(SupportToolTest, FullReportUploadsTheLogAndOpensTheFormWithTheAnswer) {
  std::string log;
  for (int i = 0; i < 3000; ++i) log += "INFO:server.cc(" + std::to_string(i) + "): frame\r\n";
  ASSERT_TRUE(base::writeFileAtomic(log_, log));
  TestHttpServer server;
  ASSERT_TRUE(server.start());
  server.setAnswer(200, "Log 17/42 stored");
  const std::string host = server.hostAndPort();

  std::string output;
  EXPECT_EQ(1, run(host, request(host), &output));
  EXPECT_EQ(kReply, output);

  const std::vector<HttpRequest> requests = server.requests();
  ASSERT_EQ(1u, requests.size());
  const HttpRequest& r = requests[0];
  EXPECT_EQ("POST /en/support_device/logs_uploader.php HTTP/1.1",
            r.method + " " + r.target + " " + r.version);
  EXPECT_EQ(host, r.header("Host"));
  EXPECT_EQ("WC BB", r.header("User-Agent"));
  EXPECT_EQ(std::to_string(r.body.size()), r.header("Content-Length"));
  EXPECT_EQ(0u, r.header("Content-Type").find("multipart/form-data; boundary=\"----LumoraDesktop"));
  EXPECT_EQ(log, gunzip(filePart(r.body)));
  EXPECT_NE(std::string::npos, r.body.find(".txt.gz\"\nContent-Type: gzip\n\n"));

  EXPECT_EQ((std::vector<std::string>{formAddress(host, "Log 17/42 stored")}), opened());
  EXPECT_NE(std::string::npos, opened()[0].find("&device=iPhone%2012%20Pro%2FMax&device_os=iOS%20v17.2"
                                                "&userfile=Log%2017%2F42%20stored"));
  EXPECT_EQ("page preparing\njob CReadPipe\njob CCompressLog\njob CCheckInternet\njob CSendLog\n"
            "job COpenSupportForm\nclosed\n",
            events());
}

TEST_F(SupportToolTest, RequestCannotNameTheFileThatIsUploaded) {
  ASSERT_TRUE(base::writeFileAtomic(log_, "INFO: the real log\r\n"));
  const string16 secret = base::joinPath(folder_, u"id_rsa");
  ASSERT_TRUE(base::writeFileAtomic(secret, "PRIVATE KEY"));
  TestHttpServer server;
  ASSERT_TRUE(server.start());
  server.setAnswer(200, "stored");
  const std::string host = server.hostAndPort();

  // Lines a phone's model once carried into the request, ahead of the rest.
  const std::string injected = utf16le("DeviceModel:X\nCompressedLog:" + path(secret) +
                                       "\nTarFile:TRUE\nShippedLog:evil\n");
  std::string output;
  EXPECT_EQ(1, run(host, injected + request(host), &output));
  const std::vector<HttpRequest> requests = server.requests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ(std::string::npos, requests[0].body.find("PRIVATE KEY"));
  EXPECT_EQ("INFO: the real log\r\n", gunzip(filePart(requests[0].body)));
  EXPECT_NE(std::string::npos, requests[0].body.find(".txt.gz\""));
  ASSERT_EQ(1u, opened().size());
  EXPECT_NE(std::string::npos, opened()[0].find("&userfile=stored"));
}

TEST_F(SupportToolTest, AnswerOnlyAfterTheRequestEndsAndNoLogGoesStraightToTheForm) {
  TestHttpServer server;
  ASSERT_TRUE(server.start());
  const std::string host = server.hostAndPort();
  ChildProcess tool;
  ASSERT_TRUE(startTool(&tool, host));
  ASSERT_TRUE(tool.writeInput(request(host, /*withLog=*/false)));
  ASSERT_TRUE(waitForEvent("job CReadPipe"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ("", tool.output());  // the pipe is still open
  tool.closeInput();
  int code = -1;
  ASSERT_TRUE(tool.wait(kRunTimeoutMs, &code));
  EXPECT_EQ(1, code);
  EXPECT_EQ(kReply, tool.output());
  EXPECT_EQ("page preparing\njob CReadPipe\njob CCompressLog\njob COpenSupportForm\nclosed\n",
            events());
  EXPECT_EQ(0, server.connections());
  EXPECT_EQ((std::vector<std::string>{formAddress(host, "")}), opened());
}

TEST_F(SupportToolTest, UploadThatFailsOpensTheFormWithoutUserFile) {
  ASSERT_TRUE(base::writeFileAtomic(log_, "some log\n"));
  TestHttpServer server;
  ASSERT_TRUE(server.start());
  server.setMode(TestHttpServer::Mode::kDrop);
  const std::string host = server.hostAndPort();
  std::string output;
  EXPECT_EQ(1, run(host, request(host), &output));
  EXPECT_EQ(1u, server.requests().size());
  const std::vector<std::string> addresses = opened();
  ASSERT_EQ(1u, addresses.size());
  EXPECT_EQ(formAddress(host, ""), addresses[0]);
  EXPECT_EQ(std::string::npos, addresses[0].find("&userfile="));
}

TEST_F(SupportToolTest, FailedCheckWaitsOnTheErrorPageAndRetryUploads) {
  ASSERT_TRUE(base::writeFileAtomic(log_, ""));
  const uint16_t port = support_test::freeLoopbackPort();
  ASSERT_NE(0, port);
  const std::string host = "127.0.0.1:" + std::to_string(port);
  ChildProcess tool;
  ASSERT_TRUE(startTool(&tool, host));
  tool.writeInput(request(host));
  tool.closeInput();
  ASSERT_TRUE(waitForEvent("page error")) << events();

  TestHttpServer server;
  ASSERT_TRUE(server.start(port));
  server.setAnswer(200, "empty-log-ok");
  command("retry");
  int code = -1;
  ASSERT_TRUE(tool.wait(kRunTimeoutMs, &code));
  EXPECT_EQ(1, code);
  EXPECT_EQ("page preparing\njob CReadPipe\njob CCompressLog\njob CCheckInternet\npage error\n"
            "page preparing\njob CCheckInternet\njob CSendLog\njob COpenSupportForm\nclosed\n",
            events());
  // A 0-byte log travels as the 20-byte gzip file of an empty stream.
  ASSERT_EQ(1u, server.requests().size());
  const std::string packed = filePart(server.requests()[0].body);
  EXPECT_EQ(20u, packed.size());
  EXPECT_EQ("", gunzip(packed));
  EXPECT_EQ((std::vector<std::string>{formAddress(host, "empty-log-ok")}), opened());
}

TEST_F(SupportToolTest, AbortDuringTheUploadOpensTheFormWithoutUserFile) {
  ASSERT_TRUE(base::writeFileAtomic(log_, "log\n"));
  TestHttpServer server;
  ASSERT_TRUE(server.start());
  server.setMode(TestHttpServer::Mode::kStall);
  const std::string host = server.hostAndPort();
  ChildProcess tool;
  ASSERT_TRUE(startTool(&tool, host));
  tool.writeInput(request(host));
  tool.closeInput();
  ASSERT_TRUE(server.waitForRequests(1, kRunTimeoutMs));
  command("abort");
  int code = -1;
  ASSERT_TRUE(tool.wait(kRunTimeoutMs, &code));
  EXPECT_EQ(1, code);
  EXPECT_EQ((std::vector<std::string>{formAddress(host, "")}), opened());
}

TEST_F(SupportToolTest, WithoutStandardInputTheToolStillEnds) {
  TestHttpServer server;
  ASSERT_TRUE(server.start());
  ChildProcess tool;
  ASSERT_TRUE(startTool(&tool, server.hostAndPort(), /*withInput=*/false));
  int code = -1;
  ASSERT_TRUE(tool.wait(kRunTimeoutMs, &code));
  EXPECT_EQ(1, code);
  EXPECT_EQ("page preparing\njob CReadPipe\njob COpenSupportForm\nclosed\n", events());
  // No form address was given, so nothing is opened.
  EXPECT_TRUE(opened().empty());
  EXPECT_EQ(0, server.connections());
}

}  // namespace
}  // namespace support
