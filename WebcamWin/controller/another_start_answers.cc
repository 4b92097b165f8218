#include "WebcamWin/controller/another_start_answers.h"

#include <chrono>

#include "WebcamWin/controller/main_frame.h"
#include "WebcamWin/platform/instance.h"
#include "base/logging.h"

bool AnotherStartAnswers::relay(uintptr_t answer, uint64_t promptId, const std::function<bool()>& wake) {
  auto pending = std::make_shared<Pending>();
  pending->answer = answer;
  pending->promptId = promptId;
  std::unique_lock<std::mutex> lock(mu_);
  queue_.push_back(pending);
  if (!wake()) return false;
  done_.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] { return pending->done; });
  // The asking start reports failure now; the answer must not land later.
  if (!pending->done) pending->abandoned = true;
  return pending->done && pending->answered;
}

void AnotherStartAnswers::answerWaiting(CMainFrame* frame) {
  std::deque<std::shared_ptr<Pending>> waiting;
  {
    std::lock_guard<std::mutex> lock(mu_);
    waiting.swap(queue_);
  }
  for (const auto& pending : waiting) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (pending->abandoned) {
        LOG(WARNING) << "An answer from another start came too late and was dropped";
        continue;
      }
    }
    CMainFrame::AuthAnswer answer = CMainFrame::AuthAnswer::kDeny;
    if (pending->answer == shell::kAnswerAllowAlways) answer = CMainFrame::AuthAnswer::kAllowAlways;
    else if (pending->answer == shell::kAnswerAllowOnce) answer = CMainFrame::AuthAnswer::kAllowOnce;
    const bool answered = frame->answerAuthorization(answer, pending->promptId);
    std::lock_guard<std::mutex> lock(mu_);
    pending->answered = answered;
    pending->done = true;
  }
  done_.notify_all();
}
