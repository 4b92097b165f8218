#include "WebcamWin/support/jobs.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>

#include "WebcamWin/support/test_http_server.h"
#include "base/file_util.h"
#include "base/test_util.h"

namespace support {
namespace {

using support_test::HttpRequest;
using support_test::TestHttpServer;

constexpr uint8_t kWindowsOsCode = 10;  // zlib's OS byte on Windows
constexpr uint8_t kUnixOsCode = 3;

std::string inflateGzip(const std::string& packed) {
  z_stream z{};
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return "<init failed>";
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  z.avail_in = static_cast<uInt>(packed.size());
  std::string out;
  char buffer[16384];
  int rc;
  do {
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof(buffer);
    rc = inflate(&z, Z_NO_FLUSH);
    out.append(buffer, sizeof(buffer) - z.avail_out);
  } while (rc == Z_OK);
  inflateEnd(&z);
  return rc == Z_STREAM_END ? out : "<corrupt>";
}

// Points the user's temporary folder at `folder` while it lives.
class ScopedTempFolder {
 public:
  explicit ScopedTempFolder(const string16& folder) {
    const char* old = std::getenv(kVariable);
    if (old) saved_ = old;
    hadValue_ = old != nullptr;
    set(base::wideToUtf8(folder));
  }
  ~ScopedTempFolder() { set(hadValue_ ? saved_ : std::string()); }

 private:
#ifdef _WIN32
  static constexpr const char* kVariable = "TMP";
  // The C runtime passes it on to the system's environment block, where the
  // temporary-path call reads it; an empty value removes it.
  static void set(const std::string& value) { _putenv((std::string(kVariable) + "=" + value).c_str()); }
#else
  static constexpr const char* kVariable = "TMPDIR";
  static void set(const std::string& value) {
    if (value.empty()) ::unsetenv(kVariable);
    else ::setenv(kVariable, value.c_str(), 1);
  }
#endif
  std::string saved_;
  bool hadValue_ = false;
};

class JobsTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = base::makeTempDirectory(u"support_jobs"); }
  void TearDown() override {
    for (const string16& path : packed_) base::deleteFile(path);
    base::removeTree(folder_);
  }

  string16 writeLog(const std::string& contents) {
    const string16 path = base::joinPath(folder_, u"debug.log");
    EXPECT_TRUE(base::writeFileAtomic(path, contents));
    return path;
  }

  // Runs the compression and returns the packed bytes.
  HResult compress(const std::string& contents, std::string* packed, CCompressLog* job = nullptr) {
    store_.insert(kKeyLog, writeLog(contents));
    CCompressLog local(&store_);
    CCompressLog* j = job ? job : &local;
    StopEvent stop;
    const HResult hr = j->execute(stop);
    string16 path;
    if (store_.lookup(kKeyCompressedLog, &path)) {
      packed_.push_back(path);
      base::readFile(path, packed);
    }
    return hr;
  }

  string16 folder_;
  CParamStore store_;
  std::vector<string16> packed_;
};

TEST_F(JobsTest, CompressingAnEmptyLogGivesTheEmptyGzipStream) {
  std::string packed;
  CCompressLog job(&store_);
  ASSERT_EQ(kSOk, compress("", &packed, &job));
  EXPECT_EQ(0, job.progress());
  EXPECT_EQ(u"Compressing... 0% completed.", job.statusText());
  ASSERT_EQ(20u, packed.size());
  const std::string expectedStart("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00", 9);
  EXPECT_EQ(expectedStart, packed.substr(0, 9));
  const uint8_t os = static_cast<uint8_t>(packed[9]);
  EXPECT_TRUE(os == kUnixOsCode || os == kWindowsOsCode) << int(os);
  EXPECT_EQ(std::string("\x03\x00\x00\x00\x00\x00\x00\x00\x00\x00", 10), packed.substr(10));
  // A new file in the temporary folder, named by the platform from "zlib".
  const std::string name = base::wideToUtf8(base::baseName(packed_[0]));
  EXPECT_EQ("zli", name.substr(0, 3));
  EXPECT_EQ(".tmp", name.substr(name.size() - 4));
}

TEST_F(JobsTest, CompressedLogRoundTripsWithFullProgress) {
  std::string log;
  for (int i = 0; log.size() < 50000; ++i) log += "line " + std::to_string(i * 7919 % 1000) + "\r\n";
  std::string packed;
  CCompressLog job(&store_);
  ASSERT_EQ(kSOk, compress(log, &packed, &job));
  EXPECT_EQ(log, inflateGzip(packed));
  EXPECT_LT(packed.size(), log.size() / 2);
  EXPECT_EQ(100, job.progress());
}

TEST_F(JobsTest, CompressionFailures) {
  StopEvent stop;
  CCompressLog job(&store_);
  EXPECT_EQ(kEInvalidArg, job.execute(stop));  // no "Log"
  store_.insert(kKeyLog, base::joinPath(folder_, u"missing.log"));
  EXPECT_EQ(hresultFromWin32(kErrorFileNotFound), job.execute(stop));
  EXPECT_FALSE(store_.lookup(kKeyCompressedLog, nullptr));
}

// The packing stopped before its first block is aborted, and its file stays
// in the temporary folder as every packed log does.
TEST_F(JobsTest, CompressionStoppedBeforeTheFirstBlockIsAborted) {
  const string16 temp = base::joinPath(folder_, u"temp");
  ASSERT_TRUE(base::createDirectories(temp));
  ScopedTempFolder scoped(temp);
  store_.insert(kKeyLog, writeLog(std::string(100000, 'x')));
  CCompressLog job(&store_);
  StopEvent stop;
  stop.set();
  EXPECT_EQ(kEAbort, job.execute(stop));
  EXPECT_FALSE(store_.lookup(kKeyCompressedLog, nullptr));
  const std::vector<string16> left = base::listDirectory(temp);
  ASSERT_EQ(1u, left.size());
  EXPECT_EQ(u"zli", left[0].substr(0, 3));
}

TEST_F(JobsTest, FormAddressFromTheStore) {
  std::vector<string16> opened;
  COpenSupportForm job(&store_, [&](const string16& a) { opened.push_back(a); });
  store_.insert(kKeySupportForm, u"http://h/en/support/support.php?form=zuviridar_iphone");
  store_.insert(kKeyVersion, u"2.2.0.0");
  store_.insert(kKeyDeviceModel, u"iPhone 12/Pro");
  store_.insert(kKeyDeviceSoftware, u"");
  store_.insert(kKeyShippedLog, u"saved as 42");
  StopEvent stop;
  EXPECT_EQ(kSOk, job.execute(stop));
  ASSERT_EQ(1u, opened.size());
  const string16 windows = operatingSystemDescription();
  EXPECT_EQ(u"http://h/en/support/support.php?form=zuviridar_iphone&version=2.2.0.0" +
                (windows.empty() ? string16() : u"&windows=" + escapeUrlSegment(windows)) +
                u"&device=iPhone%2012%2FPro&userfile=saved%20as%2042",
            opened[0]);
}

TEST_F(JobsTest, FormIsNotOpenedWithoutItsAddress) {
  std::vector<string16> opened;
  COpenSupportForm job(&store_, [&](const string16& a) { opened.push_back(a); });
  store_.insert(kKeyVersion, u"2.2.0.0");
  StopEvent stop;
  EXPECT_EQ(kSOk, job.execute(stop));
  EXPECT_TRUE(opened.empty());
}

TEST_F(JobsTest, ConnectionCheck) {
  TestHttpServer server;
  ASSERT_TRUE(server.start());
  StopEvent stop;
  CCheckInternet reachable(supportSite(base::utf8ToWide(server.hostAndPort())));
  EXPECT_EQ(kSOk, reachable.execute(stop));
  const uint16_t closedPort = support_test::freeLoopbackPort();
  CCheckInternet unreachable(supportSite(base::utf8ToWide("127.0.0.1:" + std::to_string(closedPort))));
  EXPECT_EQ(kEFail, unreachable.execute(stop));
}

class SendLogTest : public JobsTest {
 protected:
  void SetUp() override {
    JobsTest::SetUp();
    ASSERT_TRUE(server_.start());
    site_ = supportSite(base::utf8ToWide(server_.hostAndPort()));
  }
  TestHttpServer server_;
  SupportSite site_;
};

TEST_F(SendLogTest, UploadsTheExactMultipartBodyAndStoresTheAnswer) {
  std::string packed;
  ASSERT_EQ(kSOk, compress(std::string(9000, 'a') + "end", &packed));
  server_.setAnswer(200, "Log-2024.txt.gz uploaded");
  CSendLog job(&store_, site_);
  StopEvent stop;
  ASSERT_EQ(kSOk, job.execute(stop));
  EXPECT_EQ(u"Log-2024.txt.gz uploaded", store_.get(kKeyShippedLog));
  EXPECT_EQ(100, job.progress());

  const std::vector<HttpRequest> requests = server_.requests();
  ASSERT_EQ(1u, requests.size());
  const HttpRequest& r = requests[0];
  EXPECT_EQ("POST", r.method);
  EXPECT_EQ("/en/support_device/logs_uploader.php", r.target);
  EXPECT_EQ("HTTP/1.1", r.version);
  EXPECT_EQ("WC BB", r.header("User-Agent"));
  EXPECT_EQ(1u, r.headerCount("Content-Length"));
  EXPECT_EQ(1u, r.headerCount("Content-Type"));
  const std::string contentType = r.header("Content-Type");
  const std::string lead = "multipart/form-data; boundary=\"";
  ASSERT_EQ(0u, contentType.find(lead + "----LumoraDesktop"));
  ASSERT_EQ('"', contentType.back());
  const std::string boundary = contentType.substr(lead.size(), contentType.size() - lead.size() - 1);
  const std::string namePrefix = "--" + boundary +
      "\nContent-Disposition: form-data; name=\"userfile\"; filename=\"";
  ASSERT_EQ(namePrefix, r.body.substr(0, namePrefix.size()));
  const size_t nameEnd = r.body.find("\"\nContent-Type: gzip\n\n");
  ASSERT_NE(std::string::npos, nameEnd);
  const std::string fileName = r.body.substr(namePrefix.size(), nameEnd - namePrefix.size());
  EXPECT_EQ("Log-", fileName.substr(0, 4));
  EXPECT_EQ(30u, fileName.size()) << fileName;
  EXPECT_EQ(".txt.gz", fileName.substr(fileName.size() - 7));
  const size_t fileStart = nameEnd + 22;
  const std::string tail = "\n--" + boundary + "--\n";
  EXPECT_EQ(packed, r.body.substr(fileStart, packed.size()));
  EXPECT_EQ(tail, r.body.substr(fileStart + packed.size()));
  EXPECT_EQ(std::to_string(r.body.size()), r.header("Content-Length"));
}

TEST_F(SendLogTest, OnlyExactlyTrueNamesATarFile) {
  std::string packed;
  ASSERT_EQ(kSOk, compress("log", &packed));
  store_.insert(kKeyTarFile, u"true");
  CSendLog job(&store_, site_);
  StopEvent stop;
  ASSERT_EQ(kSOk, job.execute(stop));
  ASSERT_EQ(1u, server_.requests().size());
  EXPECT_NE(std::string::npos, server_.requests()[0].body.find(".txt.gz\"\n"));

  CParamStore tarStore;
  tarStore.insert(kKeyCompressedLog, store_.get(kKeyCompressedLog));
  tarStore.insert(kKeyTarFile, u"TRUE");
  CSendLog tarJob(&tarStore, site_);
  ASSERT_EQ(kSOk, tarJob.execute(stop));
  ASSERT_EQ(2u, server_.requests().size());
  EXPECT_NE(std::string::npos, server_.requests()[1].body.find(".tar.gz\"\n"));
}

TEST_F(SendLogTest, ErrorPageAnswerIsStillTheResult) {
  std::string packed;
  ASSERT_EQ(kSOk, compress("log", &packed));
  server_.setAnswer(500, "<html>broken</html>");
  CSendLog job(&store_, site_);
  StopEvent stop;
  ASSERT_EQ(kSOk, job.execute(stop));
  EXPECT_EQ(u"<html>broken</html>", store_.get(kKeyShippedLog));
}

TEST_F(SendLogTest, DroppedRequestFinishesWithAnEmptyAnswer) {
  std::string packed;
  ASSERT_EQ(kSOk, compress("log", &packed));
  server_.setMode(TestHttpServer::Mode::kDrop);
  CSendLog job(&store_, site_);
  StopEvent stop;
  ASSERT_EQ(kSOk, job.execute(stop));
  string16 shipped = u"x";
  EXPECT_TRUE(store_.lookup(kKeyShippedLog, &shipped));
  EXPECT_EQ(u"", shipped);
}

TEST_F(SendLogTest, NoPackedFileFailsToStart) {
  CSendLog job(&store_, site_);
  StopEvent stop;
  EXPECT_EQ(kEFail, job.execute(stop));
  EXPECT_EQ(0, server_.connections());
}

TEST_F(SendLogTest, StopWhileTheServerKeepsSilentAborts) {
  std::string packed;
  ASSERT_EQ(kSOk, compress("log", &packed));
  server_.setMode(TestHttpServer::Mode::kStall);
  CSendLog job(&store_, site_);
  StopEvent stop;
  std::thread stopper([&] {
    server_.waitForRequests(1, 10000);
    stop.set();
  });
  EXPECT_EQ(kEAbort, job.execute(stop));
  stopper.join();
  EXPECT_FALSE(store_.lookup(kKeyShippedLog, nullptr));
}

}  // namespace
}  // namespace support
