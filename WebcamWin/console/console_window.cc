#include "WebcamWin/console/console_window.h"

#include <cctype>
#include <chrono>

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/controller/main_frame.h"
#include "WebcamWin/platform/instance.h"
#include "WebcamWin/settings/settings.h"
#include "WebcamWin/controller/ui_rules.h"
#include "base/logging.h"
#include "base/peer_text.h"

ConsoleWindow::ConsoleWindow(CMainFrame* frame, FILE* out)
    : MessageFrameWindow(frame), out_(out), interactive_(TerminalInput::interactive()) {}

ConsoleWindow::~ConsoleWindow() {
  if (input_) input_->stop();
}

bool ConsoleWindow::create(const base::string16& title) {
  if (created_ || !window_->valid()) return false;
  title_ = title;
  // Before anything can start threads: they must leave the signals to us.
  input_ = std::make_unique<TerminalInput>();
  TerminalInput::Callbacks callbacks;
  // A key answers the prompt that was on the screen when it was pressed.
  callbacks.onKey = [this](char key) {
    window_->post(kMsgKey, static_cast<unsigned char>(key), static_cast<intptr_t>(frame_->promptId()));
  };
  callbacks.onTerminate = [this] { window_->post(kMsgTerminate); };
  callbacks.onInterrupt = [this] { window_->post(kMsgInterrupt); };
  if (!input_->start(std::move(callbacks))) input_.reset();
  created_ = true;
  window_->setTimer(kStatusTimerId, kStatusPeriodMs);
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
  if (interactive_) printHelp();
}

void ConsoleWindow::bringToFront() {
  if (!created_) return;
  print("== " + base::wideToUtf8(title_) + " ==");
  if (!status_.empty()) print(base::wideToUtf8(status_));
}

void ConsoleWindow::destroy() {
  if (!created_) return;
  clearStatusLine();
  window_->killTimer(kStatusTimerId);
  created_ = false;
  visible_ = false;
  if (input_) input_->stop();  // gives the terminal back
  frame_->onDestroy();
}

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
  if (!interactive_) print(how);
  LOG(INFO) << "Waiting for the user's answer about the phone. " << how
            << (interactive_ ? ", or with the keys a, o, d" : "");
}

void ConsoleWindow::closeAuthorizationPrompt() { prompting_ = false; }

void ConsoleWindow::onInterrupt() {
  if (asking_) {
    quitAnswer_ = kIdNo;  // Ctrl-C at the question keeps the program
    return;
  }
  if (frame_->authorizationPending()) {
    print("Denied.");
    frame_->answerAuthorization(CMainFrame::AuthAnswer::kDeny);
    return;
  }
  frame_->onClose(0);
}

void ConsoleWindow::postKey(char key) { window_->post(kMsgKey, static_cast<unsigned char>(key)); }

void ConsoleWindow::onKey(char key, uint64_t promptId) {
  // The open question or prompt takes the key first, then the access list,
  // then the commands.
  if (asking_) {
    onQuitQuestionKey(key);
    return;
  }
  if (frame_->authorizationPending() && onAuthorizationKey(key, promptId)) return;
  if (listing_ && onListKey(key)) return;
  onCommandKey(key);
}

namespace {

char lower(char key) { return static_cast<char>(std::tolower(static_cast<unsigned char>(key))); }

}  // namespace

void ConsoleWindow::onQuitQuestionKey(char key) {
  switch (lower(key)) {
    case 'y':
      quitAnswer_ = kIdOk;
      break;
    case 'd':
      quitAnswer_ = kIdOk;
      quitDontAsk_ = true;
      break;
    case 'n':
    case '\x1b':
      quitAnswer_ = kIdNo;
      break;
    default:
      break;  // the question stays open
  }
}

bool ConsoleWindow::onAuthorizationKey(char key, uint64_t promptId) {
  switch (lower(key)) {
    case 'a':
      print("Allowed always.");
      frame_->answerAuthorization(CMainFrame::AuthAnswer::kAllowAlways, promptId);
      return true;
    case 'o':
      print("Allowed once.");
      frame_->answerAuthorization(CMainFrame::AuthAnswer::kAllowOnce, promptId);
      return true;
    case 'd':
    case '\x1b':  // Esc
      print("Denied.");
      frame_->answerAuthorization(CMainFrame::AuthAnswer::kDeny, promptId);
      return true;
    default:
      return false;
  }
}

void ConsoleWindow::onCommandKey(char key) {
  switch (lower(key)) {
    case 'q':
      // As the notification-area menu's Exit: the normal close.
      postClose(0);
      break;
    case 'h':
      show(kShowHide);
      break;
    case 'w':
      raise();
      break;
    case 's':
      print("Snapshot into " + base::wideToUtf8(CSettings::Instance().picturesFolder()));
      frame_->onUiEvent(CMainFrame::UiEvent::kMakeSnapshot);
      break;
    case 'r':
      toggleRecording();
      break;
    case 'p':
      frame_->onUiEvent(CMainFrame::UiEvent::kOpenSnapshotFolder);
      break;
    case 'v':
      frame_->onUiEvent(CMainFrame::UiEvent::kOpenVideoFolder);
      break;
    case 'l':
      listAccessList();
      break;
    case '?':
      printHelp();
      break;
    default:
      break;
  }
}

void ConsoleWindow::toggleRecording() {
  frame_->onUiEvent(frame_->recording() ? CMainFrame::UiEvent::kStopVideoRecording
                                        : CMainFrame::UiEvent::kStartVideoRecording);
}

void ConsoleWindow::listAccessList() {
  const CSettings::AccessList& list = CSettings::Instance().accessList();
  listed_.clear();
  listNumber_.clear();
  if (list.empty()) {
    listing_ = false;
    print("The access list is empty.");
    return;
  }
  print("Access list:");
  for (const auto& item : list) {
    listed_.push_back(item.first);
    // Entries stored before phone strings were cleaned may still hold
    // control characters.
    print(base::stringPrintf("  %zu. ", listed_.size()) + base::escapePeerText(base::wideToUtf8(item.second.name)) +
          " (" + base::escapePeerText(base::wideToUtf8(item.first)) + ")" +
          (item.second.status != 0 ? ", always allowed" : ", not answered"));
  }
  print("Type a number and Enter to remove that phone; Enter alone leaves the list.");
  listing_ = true;
}

bool ConsoleWindow::onListKey(char key) {
  // Bounded: no number on the list has more digits than this.
  constexpr size_t kMaxDigits = 6;
  if (key >= '0' && key <= '9') {
    if (listNumber_.size() < kMaxDigits) listNumber_ += key;
    return true;
  }
  if (key == '\x7f' || key == '\b') {
    if (!listNumber_.empty()) listNumber_.pop_back();
    return true;
  }
  listing_ = false;
  if (key == '\n' || key == '\r') {
    if (listNumber_.empty()) print("Left the access list.");
    else removeListedEntry(std::stoul(listNumber_));
    listNumber_.clear();
    return true;
  }
  if (key == '\x1b') {
    listNumber_.clear();
    print("Left the access list.");
    return true;
  }
  listNumber_.clear();
  return false;
}

void ConsoleWindow::removeListedEntry(size_t number) {
  CSettings& settings = CSettings::Instance();
  uint32_t status = 0;
  if (number == 0 || number > listed_.size() || !settings.findDevice(listed_[number - 1], &status)) {
    print(base::stringPrintf("No entry %zu on the access list.", number));
    return;
  }
  const base::string16 uid = listed_[number - 1];
  const base::string16 name = settings.accessList().at(uid).name;
  CMainFrame::removeFromAccessList({uid});
  print("Removed " + base::wideToUtf8(name) + " (" + base::wideToUtf8(uid) + ").");
}

int ConsoleWindow::askBeforeQuitting(const base::string16& text, bool* dontAskAgain) {
  *dontAskAgain = false;
  base::MessageLoop* loop = base::MessageLoop::current();
  if (!interactive_ || !loop || asking_ || terminating_) return kIdOk;  // nobody to ask
  print(base::wideToUtf8(text) + " [y]es, [n]o, [d]on't ask again and quit?");
  asking_ = true;
  quitAnswer_ = 0;
  quitDontAsk_ = false;
  // The loop runs on while the question is open, as under a modal box.
  while (quitAnswer_ == 0 && created_) {
    if (loop->runFor(50)) break;
  }
  asking_ = false;
  if (quitAnswer_ == 0) return kIdNo;
  *dontAskAgain = quitDontAsk_;
  print(quitAnswer_ == kIdOk ? "Quitting." : "Not quitting.");
  return quitAnswer_;
}

void ConsoleWindow::showPhoneConnected(const base::string16& name) {
  phone_ = name;
  phoneConnected_ = true;
  drawStatusLine();
}

void ConsoleWindow::showPhoneDisconnected(const base::string16& name) {
  phoneConnected_ = false;
  framesPerSecond_ = 0;
  // Nothing of a recording outlives the phone, as in the window.
  recording_ = false;
  recordingMs_ = 0;
  drawStatusLine();
}

void ConsoleWindow::showRecording(bool recording) {
  if (recording != recording_) print(recording ? "Recording started." : "Recording stopped.");
  recording_ = recording;
  recordingMs_ = 0;
  drawStatusLine();
}

void ConsoleWindow::showRecordingTime(uint32_t elapsedMs) {
  recordingMs_ = elapsedMs;
  // Redrawn with the next second of the timer; the line shows whole seconds.
}

std::string ConsoleWindow::statusLine(bool live) const {
  std::string line = "Phone: ";
  if (!phoneConnected_) {
    line += "none";
  } else {
    line += base::wideToUtf8(phone_);
    if (frame_->lastFrameWidth() > 0) {
      line += " | " + base::wideToUtf8(frameSizeText(frame_->lastFrameWidth(), frame_->lastFrameHeight()));
      if (live) line += base::stringPrintf(" at %.0f fps", framesPerSecond_);
    }
  }
  if (recording_ && !live) line += " | Recording";
  if (recording_ && live) {
    line += " | Recording " + base::wideToUtf8(recordingTimeText(recordingMs_));
  }
  return line;
}

void ConsoleWindow::updateStatus(uint64_t nowMs) {
  const uint64_t frames = frame_->frameCount();
  if (countedAtMs_ != 0 && nowMs > countedAtMs_ && phoneConnected_)
    framesPerSecond_ = static_cast<double>(frames - countedFrames_) * 1000.0 / static_cast<double>(nowMs - countedAtMs_);
  countedFrames_ = frames;
  countedAtMs_ = nowMs;
  drawStatusLine();
}

void ConsoleWindow::drawStatusLine() {
  if (!created_) return;
  if (interactive_) {
    // In place on the last line of the terminal.
    const std::string line = statusLine(true);
    if (line == drawnStatus_) return;
    std::fprintf(out_, "\r\x1b[K%s", line.c_str());
    std::fflush(out_);
    drawnStatus_ = line;
    return;
  }
  // Without a terminal only changes of the phone, the size and the
  // recording make a line, not every new rate or second.
  const std::string line = statusLine(false);
  if (line == printedStatus_) return;
  printedStatus_ = line;
  print(line);
}

void ConsoleWindow::clearStatusLine() {
  if (!interactive_ || drawnStatus_.empty()) return;
  std::fprintf(out_, "\r\x1b[K");
  drawnStatus_.clear();
}

void ConsoleWindow::onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  if (!created_) return;
  switch (msg) {
    case kMsgClose:
      // Asked to close while the question is open: that is the answer.
      if (asking_) quitAnswer_ = kIdOk;
      else frame_->onClose(wparam);
      break;
    case kMsgShow:
      raise();
      break;
    case kMsgKey:
      onKey(static_cast<char>(wparam), static_cast<uint64_t>(lparam));
      break;
    case kMsgInterrupt:
      onInterrupt();
      break;
    case kMsgTerminate:
      terminating_ = true;
      if (asking_) quitAnswer_ = kIdOk;
      else frame_->onClose(0);
      break;
    case kMsgAnswer:
      answers_.answerWaiting(frame_);
      break;
    case base::kMsgTimer:
      if (wparam == kStatusTimerId) updateStatus(static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now().time_since_epoch())
                                       .count()));
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
  // Above the status line, which is drawn again below.
  const bool redraw = interactive_ && !drawnStatus_.empty();
  clearStatusLine();
  std::fprintf(out_, "%s\n", line.c_str());
  if (redraw) drawStatusLine();
  std::fflush(out_);
}

void ConsoleWindow::printHelp() {
  print("Keys: s snapshot, r record, p pictures, v videos, l access list, q quit, h hide, w show, ? help");
}
