#include "WebcamWin/console/console_window.h"

#include "WebcamWin/app_info.h"
#include "WebcamWin/main_frame.h"
#include "WebcamWin/shell.h"
#include "base/logging.h"

std::unique_ptr<FrameWindow> FrameWindow::make(CMainFrame* frame) {
  return std::make_unique<ConsoleWindow>(frame, stdout);
}

ConsoleWindow::ConsoleWindow(CMainFrame* frame, FILE* out) : frame_(frame), out_(out) {
  // Made at once so that other threads may post from the start.
  window_ = std::make_unique<base::MessageWindow>(
      kInstanceName, static_cast<base::MessageWindow::Handler*>(this));
}

ConsoleWindow::~ConsoleWindow() {
  if (input_) input_->stop();
}

bool ConsoleWindow::create(const base::string16& title) {
  if (created_ || !window_->valid()) return false;
  title_ = title;
  // Before anything can start threads: they must leave the signals to us.
  input_ = std::make_unique<TerminalInput>();
  TerminalInput::Callbacks callbacks;
  callbacks.onKey = [this](char key) { window_->post(kMsgKey, static_cast<unsigned char>(key)); };
  callbacks.onTerminate = [this] { postClose(0); };
  callbacks.onInterrupt = [this] { window_->post(kMsgInterrupt); };
  if (!input_->start(std::move(callbacks))) input_.reset();
  created_ = true;
  if (!frame_->onCreate()) {
    created_ = false;
    if (input_) input_->stop();
    return false;
  }
  return true;
}

void ConsoleWindow::show(int showCommand) {
  if (!created_) return;
  const bool wasVisible = visible_;
  visible_ = showCommand != kShowHide;
  if (!visible_) {
    print(base::wideToUtf8(title_) + " runs in the background");
    return;
  }
  if (wasVisible) return;
  print("== " + base::wideToUtf8(title_) + " ==");
  if (!status_.empty()) print(base::wideToUtf8(status_));
  if (TerminalInput::interactive()) printHelp();
}

void ConsoleWindow::bringToFront() {
  if (!created_) return;
  print("== " + base::wideToUtf8(title_) + " ==");
  if (!status_.empty()) print(base::wideToUtf8(status_));
}

void ConsoleWindow::destroy() {
  if (!created_) return;
  created_ = false;
  visible_ = false;
  if (input_) input_->stop();  // gives the terminal back
  frame_->onDestroy();
}

void ConsoleWindow::postClose(uintptr_t param) { window_->post(kMsgClose, param); }

void ConsoleWindow::postShow() { window_->post(kMsgShow); }

void ConsoleWindow::showStatus(const base::string16& text) {
  if (text == status_) return;
  status_ = text;
  if (visible_) print(base::wideToUtf8(text));
}

std::string ConsoleWindow::promptText(const base::string16& name, const base::string16& uid) {
  return "Phone '" + base::wideToUtf8(name) + "' (Unique ID: " + base::wideToUtf8(uid) +
         ") wants to connect. [a]lways allow, allow [o]nce, [d]eny?";
}

void ConsoleWindow::showAuthorizationPrompt(const base::string16& name, const base::string16& uid) {
  prompting_ = true;
  print(promptText(name, uid));
  const char* how = "Answer with 'server -allow', 'server -allow-once' or 'server -deny'";
  if (!TerminalInput::interactive()) print(how);
  LOG(INFO) << "Waiting for the user's answer about the phone. " << how
            << (TerminalInput::interactive() ? ", or with the keys a, o, d" : "");
}

void ConsoleWindow::closeAuthorizationPrompt() { prompting_ = false; }

bool ConsoleWindow::answerFromAnotherStart(uintptr_t answer) {
  auto pending = std::make_shared<PendingAnswer>();
  pending->answer = answer;
  std::unique_lock<std::mutex> lock(answersMu_);
  answers_.push_back(pending);
  if (!window_->post(kMsgAnswer)) return false;
  answersDone_.wait_for(lock, std::chrono::milliseconds(kAnswerWaitMs), [&] { return pending->done; });
  return pending->done && pending->answered;
}

void ConsoleWindow::answerWaitingRequests() {
  std::deque<std::shared_ptr<PendingAnswer>> waiting;
  {
    std::lock_guard<std::mutex> lock(answersMu_);
    waiting.swap(answers_);
  }
  for (const auto& pending : waiting) {
    CMainFrame::AuthAnswer answer = CMainFrame::AuthAnswer::kDeny;
    if (pending->answer == shell::kAnswerAllowAlways) answer = CMainFrame::AuthAnswer::kAllowAlways;
    else if (pending->answer == shell::kAnswerAllowOnce) answer = CMainFrame::AuthAnswer::kAllowOnce;
    const bool answered = frame_->answerAuthorization(answer);
    std::lock_guard<std::mutex> lock(answersMu_);
    pending->answered = answered;
    pending->done = true;
  }
  answersDone_.notify_all();
}

void ConsoleWindow::onInterrupt() {
  if (frame_->authorizationPending()) {
    print("Denied.");
    frame_->answerAuthorization(CMainFrame::AuthAnswer::kDeny);
    return;
  }
  frame_->onClose(0);
}

void ConsoleWindow::onKey(char key) {
  if (frame_->authorizationPending()) {
    switch (key) {
      case 'a':
      case 'A':
        print("Allowed always.");
        frame_->answerAuthorization(CMainFrame::AuthAnswer::kAllowAlways);
        return;
      case 'o':
      case 'O':
        print("Allowed once.");
        frame_->answerAuthorization(CMainFrame::AuthAnswer::kAllowOnce);
        return;
      case 'd':
      case 'D':
      case '\x1b':  // Esc
        print("Denied.");
        frame_->answerAuthorization(CMainFrame::AuthAnswer::kDeny);
        return;
      default:
        break;
    }
  }
  switch (key) {
    case 'q':
    case 'Q':
      // As the notification-area menu's Exit: the normal close.
      postClose(0);
      break;
    case 'h':
    case 'H':
      show(kShowHide);
      break;
    case 's':
    case 'S':
      raise();
      break;
    case 'p':
    case 'P':
      frame_->makeSnapshot();
      break;
    case '?':
      printHelp();
      break;
    default:
      break;
  }
}

void ConsoleWindow::onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  if (!created_) return;
  switch (msg) {
    case kMsgClose:
      frame_->onClose(wparam);
      break;
    case kMsgShow:
      raise();
      break;
    case kMsgKey:
      onKey(static_cast<char>(wparam));
      break;
    case kMsgInterrupt:
      onInterrupt();
      break;
    case kMsgAnswer:
      answerWaitingRequests();
      break;
    default:
      break;
  }
}

void ConsoleWindow::raise() {
  if (visible_) bringToFront();
  else show(kShowNormal);
}

void ConsoleWindow::print(const std::string& line) {
  std::fprintf(out_, "%s\n", line.c_str());
  std::fflush(out_);
}

void ConsoleWindow::printHelp() {
  print("Keys: q quit, h hide, s show, p snapshot, ? help");
}
