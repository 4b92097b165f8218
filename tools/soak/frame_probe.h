// Time from a frame leaving the phone to its picture standing complete in
// the camera's shared memory. A watcher thread notes when the picture last
// changed; a measurement sends one frame, keeps the caller's message loop
// turning until the picture changed and then held still for 2 ms, and
// takes the time of the last change.
//
// Thread: the watcher polls on its own thread; measure() runs on the
// phone's thread.
#ifndef TOOLS_SOAK_FRAME_PROBE_H_
#define TOOLS_SOAK_FRAME_PROBE_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

namespace vcamview {
class CameraView;
}

namespace soak {

using Clock = std::chrono::steady_clock;

class CameraWatcher {
 public:
  // `pollUs` 0: poll as fast as the scheduler allows (yielding between
  // looks); otherwise sleep that long between looks.
  CameraWatcher(const vcamview::CameraView* view, uint32_t pollUs);
  ~CameraWatcher();
  CameraWatcher(const CameraWatcher&) = delete;
  CameraWatcher& operator=(const CameraWatcher&) = delete;

  uint64_t changes() const { return changes_.load(); }
  Clock::time_point lastChange() const { return Clock::time_point(Clock::duration(lastChange_.load())); }

 private:
  void run();

  const vcamview::CameraView* view_;
  uint32_t pollUs_;
  // The picture when the watcher was made: a change that comes before its
  // thread has looked still counts.
  uint64_t initial_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> changes_{0};
  std::atomic<Clock::rep> lastChange_{0};
  std::thread thread_;
};

// Sends a frame with `send` and turns the loop with `turn` (one short turn
// per call) until the picture changed and held still. False when nothing
// changed within `giveUpMs`.
bool measureFrame(const CameraWatcher& watcher, const std::function<void()>& send,
                  const std::function<void()>& turn, double* latencyMs, uint32_t giveUpMs = 500);

}  // namespace soak

#endif  // TOOLS_SOAK_FRAME_PROBE_H_
