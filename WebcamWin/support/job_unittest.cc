#include "WebcamWin/support/job.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <vector>

#include "WebcamWin/support/fake_job.h"

namespace support {
namespace {

// Collects reports; they arrive on worker threads.
class RecordingCallback : public CJobCallback {
 public:
  void jobDone() override { add(0); }
  void jobFailed(HResult hr) override { add(hr); }
  bool waitFor(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return reports_.size() >= count; });
  }
  std::vector<HResult> reports() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
  }

 private:
  void add(HResult hr) {
    std::lock_guard<std::mutex> lock(mutex_);
    reports_.push_back(hr);
    cv_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<HResult> reports_;
};

TEST(JobTest, ResultCodes) {
  EXPECT_EQ(0, hresultFromWin32(0));
  EXPECT_EQ(static_cast<HResult>(0x80070002u), hresultFromWin32(2));
  EXPECT_EQ(static_cast<HResult>(0x80072EFDu), hresultFromWin32(12029));
  EXPECT_EQ(static_cast<HResult>(0x800C2EFDu), hresultFromInternetError(12029));
  EXPECT_EQ(static_cast<HResult>(0x80070005u), hresultFromInternetError(5));
  EXPECT_EQ(u"Uploading... 42% completed.", formatPercent("Uploading... %d%% completed.", 42));
  EXPECT_EQ(0, percentOf(5, 0));
  EXPECT_EQ(33, percentOf(1, 3));
  EXPECT_EQ(100, percentOf(7, 5));
}

TEST(JobTest, WorkerReportsDoneOrFailedAndCanRunAgain) {
  RecordingCallback callback;
  HResult result = kSOk;
  FakeJob job("job", [&](const StopEvent&) { return result; });
  job.setCallback(&callback);
  ASSERT_TRUE(job.start());
  ASSERT_TRUE(callback.waitFor(1));
  // The finished thread is still held until stopped: no second start yet.
  EXPECT_FALSE(job.start());
  job.stop();
  result = kEAbort;
  ASSERT_TRUE(job.start());
  ASSERT_TRUE(callback.waitFor(2));
  job.stop();
  EXPECT_EQ((std::vector<HResult>{kSOk, kEAbort}), callback.reports());
}

TEST(JobTest, StopSetsTheEventOfTheRunningWork) {
  RecordingCallback callback;
  std::promise<void> started;
  FakeJob job("cooperative", [&](const StopEvent& stop) {
    started.set_value();
    while (!stop.waitFor(1000)) {
    }
    return kEAbort;
  });
  job.setCallback(&callback);
  ASSERT_TRUE(job.start());
  started.get_future().wait();
  job.stop();
  // The report of the stopped run still came (the dialog judges it).
  EXPECT_EQ((std::vector<HResult>{kEAbort}), callback.reports());
  // A new run starts with a clear event.
  std::atomic<bool> sawStop{true};
  job.setWork([&](const StopEvent& stop) {
    sawStop = stop.isSet();
    return kSOk;
  });
  ASSERT_TRUE(job.start());
  ASSERT_TRUE(callback.waitFor(2));
  job.stop();
  EXPECT_FALSE(sawStop);
}

TEST(JobTest, WorkerThatIgnoresStopIsGivenUpAndItsReportSwallowed) {
  // The job outlives the test: a given-up worker may still use it.
  static RecordingCallback callback;
  static std::promise<void> release;
  static std::shared_future<void> released = release.get_future().share();
  static std::atomic<bool> workEnded{false};
  static FakeJob job("stubborn", [](const StopEvent&) {
    released.wait();
    workEnded = true;
    return kSOk;
  });
  job.setCallback(&callback);
  const int abandonedBefore = CWorkerThread::abandonedCount();
  job.workerForTesting().setStopWaitForTesting(50);
  ASSERT_TRUE(job.start());
  job.stop();
  EXPECT_EQ(abandonedBefore + 1, CWorkerThread::abandonedCount());
  EXPECT_FALSE(job.workerForTesting().running());
  release.set_value();
  while (!workEnded) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(callback.reports().empty());
}

}  // namespace
}  // namespace support
