// The job framework of the support tool. Each step of the report (read the
// pipe, pack the log, check the connection, upload, open the form) is a CJob
// whose work runs on its own worker thread and ends with a report to the
// CJobCallback: done, or failed with a negative HResult. Cancelling is
// cooperative: the work polls the stop event of its run.
#ifndef WEBCAMWIN_SUPPORT_JOB_H_
#define WEBCAMWIN_SUPPORT_JOB_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "WebcamWin/support/hresult.h"
#include "base/string_util.h"

namespace support {

using base::string16;

// A manual-reset event: set() stays set until reset(). Any thread.
class StopEvent {
 public:
  void set();
  void reset();
  bool isSet() const { return set_.load(std::memory_order_acquire); }
  // Waits up to `ms` for the event; true when it is set.
  bool waitFor(uint32_t ms) const;

 private:
  std::atomic<bool> set_{false};
  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
};

// Implemented by the main dialog. Called on the job's worker thread; the
// implementation only posts a message to the dialog's thread.
class CJobCallback {
 public:
  virtual ~CJobCallback() = default;
  virtual void jobDone() = 0;
  virtual void jobFailed(HResult hr) = 0;
};

class CJob;

// One worker thread per job and run. start() fails while a thread exists;
// stop() sets the stop event and waits up to 10 seconds. A worker that is
// still busy then is given up: it is detached, counted in abandonedCount()
// and its late report is swallowed. Dialog thread only.
class CWorkerThread {
 public:
  static constexpr uint32_t kStopWaitMs = 10000;

  CWorkerThread() = default;
  ~CWorkerThread();
  CWorkerThread(const CWorkerThread&) = delete;
  CWorkerThread& operator=(const CWorkerThread&) = delete;

  bool start(CJob* job, CJobCallback* callback);
  void stop();
  bool running() const { return static_cast<bool>(run_); }

  // Workers given up since the process started (the program then must not
  // destroy the jobs those workers still use).
  static int abandonedCount();
  // Shortens the 10-second wait (tests).
  void setStopWaitForTesting(uint32_t ms) { stopWaitMs_ = ms; }

 private:
  struct Run;
  std::shared_ptr<Run> run_;
  std::thread thread_;
  uint32_t stopWaitMs_ = kStopWaitMs;
};

class CJob {
 public:
  explicit CJob(CJobCallback* callback = nullptr) : callback_(callback) {}
  virtual ~CJob();
  CJob(const CJob&) = delete;
  CJob& operator=(const CJob&) = delete;

  void setCallback(CJobCallback* callback) { callback_ = callback; }

  // Nothing to prepare for any of the five jobs.
  virtual HResult prepare() { return kSOk; }
  // Starts the worker thread, which runs execute() and then reports.
  virtual bool start() { return worker_.start(this, callback_); }
  virtual void stop() { worker_.stop(); }
  // The class name, for traces.
  virtual const char* name() const = 0;
  // Texts of the preparing page.
  virtual string16 title() const = 0;
  virtual bool hasProgress() const { return false; }
  // Percent 0..100.
  virtual int progress() const { return 0; }
  virtual string16 statusText() const = 0;

  // The work, on the worker thread. `stop` is this run's stop event.
  virtual HResult execute(const StopEvent& stop) = 0;

  CWorkerThread& workerForTesting() { return worker_; }

 protected:
  // Stops the worker; every job's destructor calls it before its members go.
  void stopWorker() { worker_.stop(); }

 private:
  CJobCallback* callback_;
  CWorkerThread worker_;
};

// done * 100 / total, at most 100; 0 when the total is 0.
int percentOf(uint64_t done, uint64_t total);

// "Compressing... %d%% completed." and the like, in a 512-character buffer.
string16 formatPercent(const char* format, int percent);

}  // namespace support

#endif  // WEBCAMWIN_SUPPORT_JOB_H_
