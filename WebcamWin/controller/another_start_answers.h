// Answers to the authorization prompt that come from another start of the
// program ("server -allow", "-allow-once", "-deny"): that start's request
// arrives on the single-instance thread, which waits here while the
// user-interface thread gives the answer to the controller. The first
// answer wins; later ones find no phone waiting.
//
// Thread: relay() on any thread; answerWaiting() on the user-interface thread.
#ifndef WEBCAMWIN_CONTROLLER_ANOTHER_START_ANSWERS_H_
#define WEBCAMWIN_CONTROLLER_ANOTHER_START_ANSWERS_H_

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class CMainFrame;

class AnotherStartAnswers {
 public:
  // How long an answer waits for the user-interface thread.
  static constexpr int kWaitMs = 4000;

  // Queues `answer` (a shell::kAnswer* code) for the prompt numbered
  // `promptId` (the one open when the request came), calls `wake` to have
  // the user-interface thread run answerWaiting(), and waits for it. False
  // when no phone was waiting, `wake` failed or the thread did not answer
  // in time; an answer that timed out is dropped, never applied later.
  bool relay(uintptr_t answer, uint64_t promptId, const std::function<bool()>& wake);
  // Hands every queued answer to `frame` in arrival order.
  void answerWaiting(CMainFrame* frame);

 private:
  struct Pending {
    uintptr_t answer = 0;
    uint64_t promptId = 0;
    bool abandoned = false;  // the asking start stopped waiting
    bool done = false;
    bool answered = false;
  };
  std::mutex mu_;
  std::condition_variable done_;
  std::deque<std::shared_ptr<Pending>> queue_;
};

#endif  // WEBCAMWIN_CONTROLLER_ANOTHER_START_ANSWERS_H_
