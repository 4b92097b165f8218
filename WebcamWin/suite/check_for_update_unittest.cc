// The update check against a local HTTP server: what each answer posts,
// automatic and on demand, and the 12-hour rule.
#include "WebcamWin/suite/check_for_update.h"

#include <gtest/gtest.h>

#include "WebcamWin/settings/settings.h"
#include "WebcamWin/testing/shell_test_util.h"
#include "WebcamWin/support/test_http_server.h"

namespace {

using shell_test::MessageRecorder;
using support_test::TestHttpServer;
using Messages = std::vector<std::pair<uint32_t, uintptr_t>>;

constexpr uint32_t kResult = CCheckForUpdate::kMsgUpdateResult;
constexpr uint32_t kFailed = CCheckForUpdate::kMsgUpdateFailed;
constexpr int64_t kStart = 1700000000;  // some day in 2023

TEST(CheckForUpdateParseTest, ReadsTheVersionAtTheStartOfTheAnswer) {
  struct Case {
    const char* text;
    bool ok;
    CCheckForUpdate::Version version;
  };
  const Case cases[] = {
      {"2.3", true, {2, 3, 0, 0}},
      {"2.2.0.9", true, {2, 2, 0, 9}},
      {"2.2.1", true, {2, 2, 1, 0}},
      {"\xEF\xBB\xBF 2.4.1.7\r\n<html>", true, {2, 4, 1, 7}},
      {"3.0.2.1.9", true, {3, 0, 2, 1}},
      {"2.3.x", true, {2, 3, 0, 0}},
      {"", false, {}},
      {"2", false, {}},
      {"2.", false, {}},
      {"-2.3", false, {}},
      {"+2.3", false, {}},
      {"v2.3", false, {}},
      {"<html>2.3</html>", false, {}},
      {"2.1000", false, {}},
      {"4000.0", false, {}},
      {"1234567890.1", false, {}},
  };
  for (const Case& c : cases) {
    CCheckForUpdate::Version v{-1, -1, -1, -1};
    EXPECT_EQ(c.ok, CCheckForUpdate::parseVersion(c.text, &v)) << c.text;
    if (c.ok) {
      EXPECT_EQ(c.version.major, v.major) << c.text;
      EXPECT_EQ(c.version.minor, v.minor) << c.text;
      EXPECT_EQ(c.version.build, v.build) << c.text;
      EXPECT_EQ(c.version.revision, v.revision) << c.text;
    } else {
      EXPECT_EQ(-1, v.major) << "a failed parse leaves the version alone: " << c.text;
    }
  }
}

TEST(CheckForUpdateParseTest, ComparesMajorMinorBuildButNotRevision) {
  const CCheckForUpdate::Version current{2, 2, 0, 0};
  EXPECT_TRUE(CCheckForUpdate::isNewer({2, 3, 0, 0}, current));
  EXPECT_TRUE(CCheckForUpdate::isNewer({2, 2, 1, 0}, current));
  EXPECT_TRUE(CCheckForUpdate::isNewer({3, 0, 0, 0}, current));
  EXPECT_FALSE(CCheckForUpdate::isNewer({2, 2, 0, 9}, current));
  EXPECT_FALSE(CCheckForUpdate::isNewer({2, 1, 9, 0}, current));
  EXPECT_FALSE(CCheckForUpdate::isNewer({1, 9, 9, 9}, current));
  EXPECT_EQ(2003000u, CCheckForUpdate::encode({2, 3, 0, 0}));
  EXPECT_EQ(2002001u, CCheckForUpdate::encode({2, 2, 1, 7}));
  EXPECT_EQ(kStart, CCheckForUpdate::unixFromFileTime(CCheckForUpdate::fileTimeFromUnix(kStart)));
  // 1970-01-01 as a file time.
  EXPECT_EQ(116444736000000000ull, CCheckForUpdate::fileTimeFromUnix(0));
}

class CheckForUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.start());
    env_.set(CCheckForUpdate::kUrlVariable,
             "http://" + server_.hostAndPort() + "/server/webcam-win-latest.php");
    CSettings::Instance().setLastUpdateCheckTime(0);
    check_ = std::make_unique<CCheckForUpdate>();
    check_->setClockForTesting([this] { return now_; });
  }
  void TearDown() override {
    check_.reset();
    CSettings::Instance().setLastUpdateCheckTime(0);
  }

  // Runs one check to its end and returns what it posted.
  Messages run(bool userAsked) {
    recorder_.messages.clear();
    check_->check(recorder_.window(), userAsked);
    EXPECT_TRUE(shell_test::pumpUntil(&loop_, [this] { return !check_->running(); }));
    // The result comes back through the loop, then is posted to the window.
    loop_.runUntilIdle();
    loop_.runUntilIdle();
    return recorder_.messages;
  }

  Messages answer(int status, const std::string& body, bool userAsked) {
    server_.setAnswer(status, body);
    return run(userAsked);
  }

  base::MessageLoop loop_;
  TestHttpServer server_;
  shell_test::ScopedEnvironment env_;
  MessageRecorder recorder_;
  int64_t now_ = kStart;
  std::unique_ptr<CCheckForUpdate> check_;
};

TEST_F(CheckForUpdateTest, NewerVersionIsPostedWithItsNumber) {
  EXPECT_EQ((Messages{{kResult, 2003000}}), answer(200, "2.3", /*userAsked=*/true));
  const support_test::HttpRequest request = server_.requests().back();
  EXPECT_EQ("GET /server/webcam-win-latest.php HTTP/1.1",
            request.method + " " + request.target + " " + request.version);
  EXPECT_EQ("Tavrix", request.header("User-Agent"));
  // A success is remembered as a file time for the next start.
  EXPECT_EQ(CCheckForUpdate::fileTimeFromUnix(kStart), CSettings::Instance().lastUpdateCheckTime());

  now_ += CCheckForUpdate::kAutomaticIntervalSeconds;
  EXPECT_EQ((Messages{{kResult, 2002001}}), answer(200, "2.2.1", /*userAsked=*/false));
}

TEST_F(CheckForUpdateTest, SameOrOlderVersionIsAnsweredOnlyWhenAsked) {
  EXPECT_EQ((Messages{{kResult, 0}}), answer(200, "2.2.0.9", /*userAsked=*/true));
  now_ += CCheckForUpdate::kAutomaticIntervalSeconds;
  EXPECT_EQ(Messages{}, answer(200, "2.2.0.9", /*userAsked=*/false));
  EXPECT_EQ(2u, server_.requests().size());
}

TEST_F(CheckForUpdateTest, FailuresAreReportedOnlyWhenAskedAndNotRemembered) {
  struct Case {
    int status;
    std::string body;
  };
  const Case cases[] = {
      {200, ""},
      {404, "2.3"},
      {500, "2.3"},
      {200, "garbage"},
      {200, "<html><body>Welcome to the hotel network</body></html>"},
      // Far beyond what the endpoint answers: refused, even though it starts well.
      {200, "2.3\n" + std::string(10 * 1024 * 1024, 'x')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.status) + " " + c.body.substr(0, 40));
    EXPECT_EQ((Messages{{kFailed, 0}}), answer(c.status, c.body, /*userAsked=*/true));
    EXPECT_EQ(Messages{}, answer(c.status, c.body, /*userAsked=*/false));
    EXPECT_EQ(0u, CSettings::Instance().lastUpdateCheckTime());
  }
  // Every automatic check went out: a failure does not start the 12 hours.
  EXPECT_EQ(2 * (sizeof(cases) / sizeof(cases[0])), server_.requests().size());
}

TEST_F(CheckForUpdateTest, NoServerIsAFailure) {
  server_.stop();
  EXPECT_EQ((Messages{{kFailed, 0}}), run(/*userAsked=*/true));
}

TEST_F(CheckForUpdateTest, AutomaticChecksKeepTwelveHoursApartOnDemandAlwaysRuns) {
  server_.setAnswer(200, "2.3");
  EXPECT_EQ((Messages{{kResult, 2003000}}), run(/*userAsked=*/false));
  EXPECT_EQ(1u, server_.requests().size());

  now_ += 60;  // the next tick of timer 1
  EXPECT_EQ(Messages{}, run(/*userAsked=*/false));
  now_ += CCheckForUpdate::kAutomaticIntervalSeconds - 61;
  EXPECT_EQ(Messages{}, run(/*userAsked=*/false));
  EXPECT_EQ(1u, server_.requests().size());

  EXPECT_EQ((Messages{{kResult, 2003000}}), run(/*userAsked=*/true));
  EXPECT_EQ(2u, server_.requests().size());

  now_ += CCheckForUpdate::kAutomaticIntervalSeconds;
  EXPECT_EQ((Messages{{kResult, 2003000}}), run(/*userAsked=*/false));
  EXPECT_EQ(3u, server_.requests().size());

  // A clock set back does not hold the checks off.
  now_ -= 3 * CCheckForUpdate::kAutomaticIntervalSeconds;
  EXPECT_EQ((Messages{{kResult, 2003000}}), run(/*userAsked=*/false));
  EXPECT_EQ(4u, server_.requests().size());
}

TEST_F(CheckForUpdateTest, TheLastCheckOfAnEarlierRunCounts) {
  CSettings::Instance().setLastUpdateCheckTime(CCheckForUpdate::fileTimeFromUnix(kStart - 3600));
  CCheckForUpdate check;
  check.setClockForTesting([this] { return now_; });
  check.check(recorder_.window(), /*userAsked=*/false);
  EXPECT_FALSE(check.running());
  EXPECT_EQ(0, server_.connections());
}

TEST_F(CheckForUpdateTest, AskingDuringAnAutomaticCheckGetsItsAnswer) {
  server_.setAnswer(200, "2.2.0.0");
  server_.setMode(TestHttpServer::Mode::kHold);
  check_->check(recorder_.window(), /*userAsked=*/false);
  ASSERT_TRUE(check_->running());
  ASSERT_TRUE(shell_test::pumpUntil(&loop_, [this] { return server_.connections() > 0; }));
  check_->check(recorder_.window(), /*userAsked=*/true);  // joins the running one
  server_.setMode(TestHttpServer::Mode::kAnswer);
  ASSERT_TRUE(shell_test::pumpUntil(&loop_, [this] { return !check_->running(); }));
  loop_.runUntilIdle();
  loop_.runUntilIdle();
  EXPECT_EQ((Messages{{kResult, 0}}), recorder_.messages);
  EXPECT_EQ(1u, server_.requests().size());
}

TEST_F(CheckForUpdateTest, AServerThatNeverFinishesIsAbandonedAfterTheOverallTimeOut) {
  // Connected and asked, but the answer never ends: only the overall time-out
  // ends the check (the connect time-out has long passed).
  server_.setMode(TestHttpServer::Mode::kStall);
  check_->setTimeoutForTesting(300);
  EXPECT_EQ((Messages{{kFailed, 0}}), run(/*userAsked=*/true));
  EXPECT_EQ(0u, CSettings::Instance().lastUpdateCheckTime());
  // The next check runs normally.
  server_.setMode(TestHttpServer::Mode::kAnswer);
  EXPECT_EQ((Messages{{kResult, 0}}), answer(200, "2.2.0.0", /*userAsked=*/true));
}

TEST_F(CheckForUpdateTest, EndingDuringADownloadPostsNothing) {
  server_.setMode(TestHttpServer::Mode::kStall);
  check_->check(recorder_.window(), /*userAsked=*/true);
  ASSERT_TRUE(server_.waitForRequests(1, 30000));
  check_.reset();
  loop_.runUntilIdle();
  EXPECT_TRUE(recorder_.messages.empty());
}

}  // namespace
