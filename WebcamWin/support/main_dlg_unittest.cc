#include "WebcamWin/support/main_dlg.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <tuple>

#include "WebcamWin/support/fake_job.h"

namespace support {
namespace {

class FakePage : public IPage {
 public:
  bool create() override { return true; }
  void setJob(CJob* job) override { job_ = job; }
  void setMessage(const string16& message) override { message_ = message; }
  void show() override { ++shows_; }
  void hide() override { ++hides_; }
  CJob* job_ = nullptr;
  string16 message_;
  int shows_ = 0, hides_ = 0;
};

// Queues posted messages; the test thread plays the dialog's thread.
class FakeHost : public CMainDlgHost {
 public:
  bool postMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) override {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.emplace_back(msg, wparam, lparam);
    cv_.notify_all();
    return true;
  }
  IPage* page(PageId id) override { return id == PageId::kError ? &error_ : &preparing_; }
  void setTitle(const string16& title) override { title_ = title; }
  void placePage(IPage* page, IPage* previous) override {
    if (previous) previous->hide();
    shown_ = page;
  }
  void close(int exitCode) override { exitCode_ = exitCode; }
  bool interactive() const override { return interactive_; }

  // Handles posted messages until the dialog closes or nothing arrives for
  // a while (the dialog then waits for the user).
  void pump(CMainDlg* dlg, int idleMs = 300) {
    while (!dlg->closed()) {
      std::tuple<uint32_t, uintptr_t, intptr_t> m;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!cv_.wait_for(lock, std::chrono::milliseconds(idleMs), [&] { return !queue_.empty(); }))
          return;
        m = queue_.front();
        queue_.pop_front();
      }
      dlg->handleMessage(std::get<0>(m), std::get<1>(m), std::get<2>(m));
    }
  }

  FakePage preparing_, error_;
  IPage* shown_ = nullptr;
  string16 title_;
  int exitCode_ = -1;
  bool interactive_ = true;

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::tuple<uint32_t, uintptr_t, intptr_t>> queue_;
};

const char* const kNames[] = {"CReadPipe", "CCompressLog", "CCheckInternet", "CSendLog",
                              "COpenSupportForm"};

class MainDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CMainDlg::Jobs jobs;
    for (const char* name : kNames) {
      auto job = std::make_unique<FakeJob>(name, nullptr);
      setResult(job.get(), kSOk);
      fakes_[name] = job.get();
      jobs.push_back(std::move(job));
    }
    dlg_ = std::make_unique<CMainDlg>(&host_, std::move(jobs));
  }
  // Workers still running record into ran_: stop them first.
  void TearDown() override { dlg_.reset(); }

  void setResult(FakeJob* job, HResult hr) {
    const std::string name = job->name();
    job->setWork([this, name, hr](const StopEvent&) {
      record(name);
      return hr;
    });
  }
  void setResult(const char* name, HResult hr) { setResult(fakes_[name], hr); }

  void record(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    ran_.push_back(name);
  }
  std::vector<std::string> ran() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ran_;
  }

  FakeHost host_;
  std::map<std::string, FakeJob*> fakes_;
  std::unique_ptr<CMainDlg> dlg_;
  std::mutex mutex_;
  std::vector<std::string> ran_;
};

TEST_F(MainDlgTest, AllJobsInOrderThenClosesWithOne) {
  dlg_->initDialog();
  host_.pump(dlg_.get());
  EXPECT_EQ(kDialogTitle, host_.title_);
  EXPECT_EQ((std::vector<std::string>{"CReadPipe", "CCompressLog", "CCheckInternet", "CSendLog",
                                      "COpenSupportForm"}),
            ran());
  EXPECT_TRUE(dlg_->closed());
  EXPECT_EQ(1, host_.exitCode_);
  EXPECT_EQ(&host_.preparing_, host_.shown_);
  EXPECT_EQ(0, host_.error_.shows_);
  // The page followed the jobs.
  EXPECT_EQ(fakes_["COpenSupportForm"], host_.preparing_.job_);
}

TEST_F(MainDlgTest, FailuresBeforeTheCheckGoStraightToTheForm) {
  setResult("CReadPipe", kEHandle);
  dlg_->initDialog();
  host_.pump(dlg_.get());
  EXPECT_EQ((std::vector<std::string>{"CReadPipe", "COpenSupportForm"}), ran());
  EXPECT_EQ(1, host_.exitCode_);
}

TEST_F(MainDlgTest, PackingFailureSkipsCheckAndUpload) {
  setResult("CCompressLog", kEInvalidArg);
  dlg_->initDialog();
  host_.pump(dlg_.get());
  EXPECT_EQ((std::vector<std::string>{"CReadPipe", "CCompressLog", "COpenSupportForm"}), ran());
  EXPECT_TRUE(dlg_->closed());
}

TEST_F(MainDlgTest, UploadFailureAndFormFailureStillEndTheTool) {
  setResult("CSendLog", kEFail);
  setResult("COpenSupportForm", kEFail);
  dlg_->initDialog();
  host_.pump(dlg_.get());
  EXPECT_EQ((std::vector<std::string>{"CReadPipe", "CCompressLog", "CCheckInternet", "CSendLog",
                                      "COpenSupportForm"}),
            ran());
  EXPECT_EQ(1, host_.exitCode_);
}

TEST_F(MainDlgTest, FailedCheckWaitsOnTheErrorPageAndRetryGoesOnToTheUpload) {
  setResult("CCheckInternet", kEFail);
  dlg_->initDialog();
  host_.pump(dlg_.get());
  EXPECT_FALSE(dlg_->closed());
  EXPECT_EQ(PageId::kError, dlg_->currentPageId());
  EXPECT_EQ(&host_.error_, host_.shown_);
  EXPECT_EQ(kCheckInternetMessage, host_.error_.message_);
  EXPECT_EQ(1, host_.preparing_.hides_);

  // Retry: a second failure comes back to the error page.
  dlg_->handleMessage(kMsgRetryCheck, 0, 0);
  EXPECT_EQ(PageId::kPreparing, dlg_->currentPageId());
  host_.pump(dlg_.get());
  EXPECT_EQ(PageId::kError, dlg_->currentPageId());
  EXPECT_EQ(2, fakes_["CCheckInternet"]->runs());

  // A successful retry continues with the upload.
  setResult("CCheckInternet", kSOk);
  dlg_->handleMessage(kMsgRetryCheck, 0, 0);
  host_.pump(dlg_.get());
  EXPECT_EQ((std::vector<std::string>{"CReadPipe", "CCompressLog", "CCheckInternet",
                                      "CCheckInternet", "CCheckInternet", "CSendLog",
                                      "COpenSupportForm"}),
            ran());
  EXPECT_TRUE(dlg_->closed());
}

TEST_F(MainDlgTest, EscapeOnTheErrorPageOpensTheForm) {
  setResult("CCheckInternet", kEFail);
  dlg_->initDialog();
  host_.pump(dlg_.get());
  ASSERT_EQ(PageId::kError, dlg_->currentPageId());
  EXPECT_TRUE(dlg_->handleMessage(kMsgCommand, kIdCancel, 0));
  host_.pump(dlg_.get());
  EXPECT_EQ("COpenSupportForm", ran().back());
  EXPECT_EQ(0, fakes_["CSendLog"]->runs());
  EXPECT_TRUE(dlg_->closed());
}

TEST_F(MainDlgTest, AbortedCheckGoesToTheForm) {
  setResult("CCheckInternet", kEAbort);
  dlg_->initDialog();
  host_.pump(dlg_.get());
  EXPECT_EQ(0, host_.error_.shows_);
  EXPECT_EQ("COpenSupportForm", ran().back());
  EXPECT_TRUE(dlg_->closed());
}

TEST_F(MainDlgTest, AbortStopsTheRunningJobAndOpensTheForm) {
  std::promise<void> packing;
  fakes_["CCompressLog"]->setWork([&](const StopEvent& stop) {
    packing.set_value();
    while (!stop.waitFor(1000)) {
    }
    return kEAbort;
  });
  dlg_->initDialog();
  auto started = packing.get_future();
  while (started.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
    host_.pump(dlg_.get(), 10);
  EXPECT_TRUE(dlg_->handleMessage(kMsgSkipToForm, 0, 0));
  EXPECT_EQ(fakes_["COpenSupportForm"], dlg_->currentJob());
  host_.pump(dlg_.get());
  // The stopped job's late report closes the dialog; the form job still runs
  // to its end.
  fakes_["COpenSupportForm"]->stop();
  EXPECT_EQ((std::vector<std::string>{"CReadPipe", "COpenSupportForm"}), ran());
  EXPECT_EQ(0, fakes_["CCheckInternet"]->runs());
  EXPECT_EQ(1, fakes_["COpenSupportForm"]->runs());
  EXPECT_TRUE(dlg_->closed());
}

TEST_F(MainDlgTest, OkClosesAtOnceAndLaterMessagesAreIgnored) {
  dlg_->initDialog();
  EXPECT_TRUE(dlg_->handleMessage(kMsgCommand, kIdOk, 0));
  EXPECT_TRUE(dlg_->closed());
  EXPECT_EQ(1, host_.exitCode_);
  EXPECT_FALSE(dlg_->handleMessage(kMsgJobDone, 0, 0));
  EXPECT_FALSE(dlg_->handleMessage(0x9999, 0, 0));
}

TEST_F(MainDlgTest, WithoutAnyoneToAskTheErrorPageGoesOnToTheForm) {
  host_.interactive_ = false;
  setResult("CCheckInternet", kEFail);
  dlg_->initDialog();
  host_.pump(dlg_.get());
  EXPECT_EQ(&host_.error_, host_.shown_);
  EXPECT_EQ("COpenSupportForm", ran().back());
  EXPECT_EQ(0, fakes_["CSendLog"]->runs());
  EXPECT_TRUE(dlg_->closed());
}

}  // namespace
}  // namespace support
