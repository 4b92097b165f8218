#include "WebcamWin/support/upload_body.h"

#include <gtest/gtest.h>

#include <vector>

namespace support {
namespace {

TEST(UploadNamesTest, CalendarFromSeconds) {
  const UtcTime epoch = utcFromUnixSeconds(0);
  EXPECT_EQ(1970, epoch.year);
  EXPECT_EQ(1, epoch.month);
  EXPECT_EQ(1, epoch.day);
  // 2024-02-29T23:59:59Z, a leap day.
  const UtcTime leap = utcFromUnixSeconds(1709251199);
  EXPECT_EQ(2024, leap.year);
  EXPECT_EQ(2, leap.month);
  EXPECT_EQ(29, leap.day);
  EXPECT_EQ(23, leap.hour);
  EXPECT_EQ(59, leap.minute);
  EXPECT_EQ(59, leap.second);
  // 2000-03-01T00:00:00Z follows the century's leap day.
  const UtcTime march = utcFromUnixSeconds(951868800);
  EXPECT_EQ(2000, march.year);
  EXPECT_EQ(3, march.month);
  EXPECT_EQ(1, march.day);
}

TEST(UploadNamesTest, BoundaryFileNameHeadTailAndHeaders) {
  EXPECT_EQ("----LumoraDesktop65e1a3ff", uploadBoundary(0x65e1a3ff));
  // Only the lowest 32 bits of the time count.
  EXPECT_EQ("----LumoraDesktop1", uploadBoundary(0x100000001LL));
  UtcTime t;
  t.year = 2024; t.month = 3; t.day = 5; t.hour = 7; t.minute = 8; t.second = 9;
  EXPECT_EQ("Log-2024-03-05T07-08-09.tar.gz", uploadFileName(t, "tar"));
  EXPECT_EQ("--B\nContent-Disposition: form-data; name=\"userfile\"; filename=\"F\"\n"
            "Content-Type: gzip\n\n",
            uploadHead("B", "F"));
  EXPECT_EQ("\n--B--\n", uploadTail("B"));
  const std::vector<std::string> headers = uploadHeaders(1234, "----LumoraDesktopa");
  ASSERT_EQ(2u, headers.size());
  EXPECT_EQ("Content-Length: 1234", headers[0]);
  EXPECT_EQ("Content-Type: multipart/form-data; boundary=\"----LumoraDesktopa\"", headers[1]);
}

// Writes the whole body with writes of at most `limit` bytes; returns the
// bytes and the sizes of the writes.
std::string drain(CUploadBody* body, size_t limit, std::vector<size_t>* sizes,
                  std::vector<int>* phases) {
  std::string out;
  for (;;) {
    const uint8_t* data = nullptr;
    const size_t n = body->next(&data, limit);
    if (n == 0) break;
    out.append(reinterpret_cast<const char*>(data), n);
    body->advance(n);
    sizes->push_back(n);
    phases->push_back(body->phase());
  }
  return out;
}

TEST(UploadBodyTest, FileGoesOutInChunksOfAtMost4096Bytes) {
  std::vector<uint8_t> file(10000);
  for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 7);
  CUploadBody body;
  body.reset("HEAD", file.data(), file.size(), "TAIL");
  EXPECT_EQ(10008u, body.length());
  std::vector<size_t> sizes;
  std::vector<int> phases;
  const std::string out = drain(&body, 1 << 20, &sizes, &phases);
  EXPECT_EQ((std::vector<size_t>{4, 4096, 4096, 1808, 4}), sizes);
  EXPECT_EQ((std::vector<int>{1, 1, 1, 2, 3}), phases);
  EXPECT_EQ("HEAD" + std::string(file.begin(), file.end()) + "TAIL", out);
  EXPECT_EQ(body.length(), body.sent());
  EXPECT_FALSE(body.finished());
  body.setFinished();
  EXPECT_TRUE(body.finished());
}

TEST(UploadBodyTest, EmptyFileGoesFromHeadStraightToTail) {
  CUploadBody body;
  body.reset("HEAD", nullptr, 0, "TAIL");
  std::vector<size_t> sizes;
  std::vector<int> phases;
  EXPECT_EQ("HEADTAIL", drain(&body, 1 << 20, &sizes, &phases));
  EXPECT_EQ((std::vector<int>{2, 3}), phases);
}

TEST(UploadBodyTest, SmallWritesStillProduceTheSameBytes) {
  const std::string file = "0123456789";
  CUploadBody body;
  body.reset("head-", reinterpret_cast<const uint8_t*>(file.data()), file.size(), "-tail");
  std::vector<size_t> sizes;
  std::vector<int> phases;
  EXPECT_EQ("head-0123456789-tail", drain(&body, 3, &sizes, &phases));
  for (size_t n : sizes) EXPECT_LE(n, 3u);
  EXPECT_EQ(CUploadBody::kWritten, body.phase());
}

}  // namespace
}  // namespace support
