// The Linux console front end, driven through pipes in place of a terminal.
#include "WebcamWin/support/console_host.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "WebcamWin/support/fake_job.h"

namespace support {
namespace {

class ConsoleHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, ::pipe2(keys_, O_CLOEXEC));
    ASSERT_EQ(0, ::pipe2(screen_, O_CLOEXEC));
    const char* names[] = {"CReadPipe", "CCompressLog", "CCheckInternet", "CSendLog", "COpenSupportForm"};
    CMainDlg::Jobs jobs;
    for (const char* name : names) {
      auto job = std::make_unique<FakeJob>(name, nullptr);
      fakes_.push_back(job.get());
      jobs.push_back(std::move(job));
    }
    host_ = std::make_unique<ConsoleHost>(keys_[0], screen_[1]);
    dlg_ = std::make_unique<CMainDlg>(host_.get(), std::move(jobs));
  }
  void TearDown() override {
    if (runner_.joinable()) runner_.join();
    dlg_.reset();
    host_.reset();
    for (int fd : {keys_[0], keys_[1], screen_[0], screen_[1]}) ::close(fd);
  }

  void start() {
    runner_ = std::thread([this] { code_ = host_->run(dlg_.get()); });
  }
  void press(const std::string& keys) { ASSERT_EQ(ssize_t(keys.size()), ::write(keys_[1], keys.data(), keys.size())); }

  // Reads the screen until `text` shows up (or 10 s pass).
  bool waitFor(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (screenText_.find(text, seen_) == std::string::npos) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      pollfd p = {screen_[0], POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(screen_[0], buffer, sizeof(buffer));
      if (n > 0) screenText_.append(buffer, static_cast<size_t>(n));
    }
    seen_ = screenText_.find(text, seen_) + text.size();
    return true;
  }

  int keys_[2], screen_[2];
  std::vector<FakeJob*> fakes_;
  std::unique_ptr<ConsoleHost> host_;
  std::unique_ptr<CMainDlg> dlg_;
  std::thread runner_;
  int code_ = -1;
  std::string screenText_;
  size_t seen_ = 0;
};

TEST_F(ConsoleHostTest, CtrlCAsksAndOnlyYesSkipsToTheForm) {
  fakes_[1]->setWork([](const StopEvent& stop) {
    while (!stop.waitFor(1000)) {
    }
    return kEAbort;
  });
  start();
  ASSERT_TRUE(waitFor("== Application Error Reporting Tool =="));
  ASSERT_TRUE(waitFor("CCompressLog\n"));
  press("\x03");
  ASSERT_TRUE(waitFor("Are you sure? (y/n) "));
  press("n");
  ASSERT_TRUE(waitFor("no\n"));
  EXPECT_EQ(0, fakes_[4]->runs());
  press("a");
  ASSERT_TRUE(waitFor("Are you sure? (y/n) "));
  press("y");
  runner_.join();
  EXPECT_EQ(1, code_);
  // The stopped job's late report ends the dialog; the form job still
  // completes before its worker is released.
  fakes_[4]->stop();
  EXPECT_EQ(1, fakes_[4]->runs());
  EXPECT_EQ(0, fakes_[2]->runs());
}

TEST_F(ConsoleHostTest, ErrorPageRetriesOnR) {
  std::atomic<int> checks{0};
  fakes_[2]->setWork([&](const StopEvent&) { return ++checks == 1 ? kEFail : kSOk; });
  start();
  ASSERT_TRUE(waitFor("Please, check internet connection"));
  press("r");
  runner_.join();
  EXPECT_EQ(1, code_);
  EXPECT_EQ(2, checks.load());
  EXPECT_EQ(1, fakes_[3]->runs());
}

TEST_F(ConsoleHostTest, EscapeOnTheErrorPageGoesToTheForm) {
  fakes_[2]->setWork([](const StopEvent&) { return kEFail; });
  start();
  ASSERT_TRUE(waitFor("Please, check internet connection"));
  press("\x1b");
  runner_.join();
  EXPECT_EQ(1, code_);
  EXPECT_EQ(0, fakes_[3]->runs());
  EXPECT_EQ(1, fakes_[4]->runs());
}

}  // namespace
}  // namespace support
