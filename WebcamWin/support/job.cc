#include "WebcamWin/support/job.h"

#include <chrono>
#include <cstdio>

#include "base/logging.h"

namespace support {
namespace {
std::atomic<int> g_abandoned{0};
}  // namespace

void StopEvent::set() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    set_.store(true, std::memory_order_release);
  }
  cv_.notify_all();
}

void StopEvent::reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  set_.store(false, std::memory_order_release);
}

bool StopEvent::waitFor(uint32_t ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return isSet(); });
}

// What a run shares with its thread; outlives the CWorkerThread when the
// thread is given up.
struct CWorkerThread::Run {
  StopEvent stop;
  std::mutex mutex;
  std::condition_variable cv;
  bool finished = false;
  bool abandoned = false;
};

CWorkerThread::~CWorkerThread() { stop(); }

bool CWorkerThread::start(CJob* job, CJobCallback* callback) {
  if (run_) return false;
  auto run = std::make_shared<Run>();
  try {
    thread_ = std::thread([run, job, callback] {
      const HResult hr = job->execute(run->stop);
      std::lock_guard<std::mutex> lock(run->mutex);
      if (!run->abandoned && callback) {
        if (failed(hr)) callback->jobFailed(hr);
        else callback->jobDone();
      }
      run->finished = true;
      run->cv.notify_all();
    });
  } catch (const std::system_error& e) {
    LOG(ERROR) << "Can't start a worker thread: " << e.what();
    return false;
  }
  run_ = std::move(run);
  return true;
}

void CWorkerThread::stop() {
  if (!run_) return;
  run_->stop.set();
  bool finished;
  {
    std::unique_lock<std::mutex> lock(run_->mutex);
    finished = run_->cv.wait_for(lock, std::chrono::milliseconds(stopWaitMs_),
                                 [this] { return run_->finished; });
    if (!finished) run_->abandoned = true;
  }
  if (finished) {
    thread_.join();
  } else {
    LOG(WARNING) << "A worker did not stop within " << stopWaitMs_ << " ms; given up";
    thread_.detach();
    g_abandoned.fetch_add(1);
  }
  run_.reset();
}

int CWorkerThread::abandonedCount() { return g_abandoned.load(); }

CJob::~CJob() { worker_.stop(); }

int percentOf(uint64_t done, uint64_t total) {
  if (total == 0) return 0;
  const uint64_t percent = done * 100 / total;
  return static_cast<int>(percent > 100 ? 100 : percent);
}

string16 formatPercent(const char* format, int percent) {
  char buffer[512];
  std::snprintf(buffer, sizeof(buffer), format, percent);
  return base::utf8ToWide(buffer);
}

}  // namespace support
