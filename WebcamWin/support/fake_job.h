// Test helper: a job whose work is a function, for the job framework and
// dialog logic tests.
#ifndef WEBCAMWIN_SUPPORT_FAKE_JOB_H_
#define WEBCAMWIN_SUPPORT_FAKE_JOB_H_

#include <atomic>
#include <functional>
#include <string>

#include "WebcamWin/support/job.h"

namespace support {

class FakeJob : public CJob {
 public:
  using Work = std::function<HResult(const StopEvent&)>;

  FakeJob(std::string name, Work work) : name_(std::move(name)), work_(std::move(work)) {}
  ~FakeJob() override { stopWorker(); }

  const char* name() const override { return name_.c_str(); }
  string16 title() const override { return base::utf8ToWide(name_); }
  string16 statusText() const override { return u"status"; }
  HResult execute(const StopEvent& stop) override {
    ++runs_;
    return work_ ? work_(stop) : kSOk;
  }
  void setWork(Work work) { work_ = std::move(work); }
  int runs() const { return runs_.load(); }

 private:
  std::string name_;
  Work work_;
  std::atomic<int> runs_{0};
};

}  // namespace support

#endif  // WEBCAMWIN_SUPPORT_FAKE_JOB_H_
