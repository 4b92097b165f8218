// What the Linux front ends (console and Qt) share: a hidden message window,
// made at once so that other threads may post from the start, that brings
// close, show and another start's answers to the user-interface thread.
// The front end handles them in its onWindowMessage().
//
// Thread: postClose, postShow and answerFromAnotherStart on any thread; the
// rest on the user-interface thread.
#ifndef WEBCAMWIN_CONTROLLER_MESSAGE_FRAME_WINDOW_H_
#define WEBCAMWIN_CONTROLLER_MESSAGE_FRAME_WINDOW_H_

#include <cstdint>
#include <memory>

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/controller/another_start_answers.h"
#include "WebcamWin/controller/frame_window.h"
#include "WebcamWin/controller/main_frame.h"
#include "base/message_loop.h"

class MessageFrameWindow : public FrameWindow, private base::MessageWindow::Handler {
 public:
  // Messages of the hidden window; the front ends number theirs around these.
  static constexpr uint32_t kMsgClose = 0x0010;  // WM_CLOSE
  static constexpr uint32_t kMsgShow = base::kMsgUser + 1;
  static constexpr uint32_t kMsgAnswer = base::kMsgUser + 4;

  void postClose(uintptr_t param) override { window_->post(kMsgClose, param); }
  void postShow() override { window_->post(kMsgShow); }
  bool answerFromAnotherStart(uintptr_t answer) override {
    return answers_.relay(answer, frame_->promptId(), [this] { return window_->post(kMsgAnswer); });
  }

 protected:
  explicit MessageFrameWindow(CMainFrame* frame)
      : frame_(frame),
        window_(std::make_unique<base::MessageWindow>(kInstanceName,
                                                      static_cast<base::MessageWindow::Handler*>(this))) {}

  CMainFrame* frame_;
  std::unique_ptr<base::MessageWindow> window_;
  AnotherStartAnswers answers_;
};

#endif  // WEBCAMWIN_CONTROLLER_MESSAGE_FRAME_WINDOW_H_
