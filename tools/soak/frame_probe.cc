#include "tools/soak/frame_probe.h"

#include "tools/vcamview/camera_view.h"

namespace soak {

CameraWatcher::CameraWatcher(const vcamview::CameraView* view, uint32_t pollUs)
    : view_(view), pollUs_(pollUs), initial_(view->fingerprint()), thread_([this] { run(); }) {}

CameraWatcher::~CameraWatcher() {
  stop_ = true;
  thread_.join();
}

void CameraWatcher::run() {
  uint64_t last = initial_;
  while (!stop_) {
    const uint64_t now = view_->fingerprint();
    if (now != last) {
      last = now;
      lastChange_ = Clock::now().time_since_epoch().count();
      ++changes_;
    }
    // Two cores here: leave room for the server and the phone.
    if (pollUs_ == 0)
      std::this_thread::yield();
    else
      std::this_thread::sleep_for(std::chrono::microseconds(pollUs_));
  }
}

bool measureFrame(const CameraWatcher& watcher, const std::function<void()>& send,
                  const std::function<void()>& turn, double* latencyMs, uint32_t giveUpMs) {
  const uint64_t before = watcher.changes();
  const Clock::time_point sent = Clock::now();
  send();
  // A large frame may need more than one write: the loop keeps turning.
  const Clock::time_point giveUp = sent + std::chrono::milliseconds(giveUpMs);
  while (watcher.changes() == before && Clock::now() < giveUp) turn();
  if (watcher.changes() == before) return false;
  while (Clock::now() - watcher.lastChange() < std::chrono::milliseconds(2)) turn();
  *latencyMs = std::chrono::duration<double, std::milli>(watcher.lastChange() - sent).count();
  return true;
}

}  // namespace soak
