// The native side of the main window: the Win32 frame window on Windows,
// the console front end on Linux. It turns the system's events into the
// controller's window messages (create, close, destroy) and shows what the
// controller tells it. User-interface thread only, except where noted.
#ifndef WEBCAMWIN_FRAME_WINDOW_H_
#define WEBCAMWIN_FRAME_WINDOW_H_

#include <cstdint>
#include <memory>

#include "base/string_util.h"

class CMainFrame;
struct SettingsDialogState;
namespace component {
class VideoComponent;
}

// Message box types and answers (the Windows MB_* and ID* numbers).
constexpr uint32_t kMbOk = 0x00;
constexpr uint32_t kMbYesNo = 0x04;
constexpr uint32_t kMbIconError = 0x10;
constexpr uint32_t kMbIconInformation = 0x40;
constexpr int kIdOk = 1;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

class FrameWindow {
 public:
  // Made by the front end of this build (ui/ or console/).
  static std::unique_ptr<FrameWindow> make(CMainFrame* frame);

  virtual ~FrameWindow() = default;

  // Creates the window (class "com.quillonlabs.zuviridar_iphone") with
  // `title`; the frame's onCreate runs inside. False when creation failed.
  virtual bool create(const base::string16& title) = 0;
  // Centres the window on the screen.
  virtual void centre() = 0;
  // `showCommand`: kShowHide, kShowNormal (the Windows SW_* numbers).
  virtual void show(int showCommand) = 0;
  virtual void bringToFront() = 0;
  virtual bool visible() const = 0;
  // Destroys the window; the frame's onDestroy runs inside.
  virtual void destroy() = 0;

  // Any thread: ask the window to close with `param` as WM_CLOSE would.
  virtual void postClose(uintptr_t param) = 0;
  // Any thread: show normally and bring to the front.
  virtual void postShow() = 0;

  // The connection state for the user ("Listen on 0.0.0.0:4567", ...).
  virtual void showStatus(const base::string16& text) = 0;

  // The modeless authorization prompt for the phone `name` with `uid`. The
  // user's answer goes to CMainFrame::answerAuthorization(). Showing it
  // again replaces an open one.
  virtual void showAuthorizationPrompt(const base::string16& name, const base::string16& uid) {}
  // Closes an open prompt without an answer.
  virtual void closeAuthorizationPrompt() {}
  // Any thread: answers the open prompt with one of the shell::kAnswer*
  // codes on behalf of another start of the program ("server -allow").
  // Waits for the user-interface thread; false when no phone was waiting
  // for an answer (or the window did not answer in time).
  virtual bool answerFromAnotherStart(uintptr_t answer) { return false; }
  // A modal message box owned by the window, captioned with the product
  // name; `type`: kMbOk or kMbYesNo with an icon. Returns the button
  // pressed. A front end without boxes shows the text and answers no.
  virtual int messageBox(const base::string16& text, uint32_t type) {
    showStatus(text);
    return (type & kMbYesNo) ? kIdNo : kIdOk;
  }
  // An accepted phone (its name from the authorization data) is streaming,
  // or that phone has gone.
  virtual void showPhoneConnected(const base::string16& name) {}
  virtual void showPhoneDisconnected(const base::string16& name) {}
  // Recording started (true) or stopped (false): the indicator and the
  // latched record button. Told before the recorder starts, and told again
  // when it could not.
  virtual void showRecording(bool recording) {}
  // Every 100 ms while recording: the recorder's elapsed time.
  virtual void showRecordingTime(uint32_t elapsedMs) {}

  // The question before quitting, with a "don't ask me again" box that starts
  // unticked: `text` is the question. Returns kIdOk when the user agrees to
  // quit (anything else cancels) and sets `dontAskAgain` to the box's state.
  // A front end that cannot ask quits without asking.
  virtual int askBeforeQuitting(const base::string16& text, bool* dontAskAgain) {
    *dontAskAgain = false;
    return kIdOk;
  }

  // The notification-area icon: added with `tooltip`, then switched between
  // the connected and the disconnected picture; a balloon over it.
  virtual void addTrayIcon(const base::string16& tooltip) {}
  virtual void setTrayIconConnected(bool connected) {}
  virtual void showBalloon(const base::string16& title, const base::string16& text) {}
  // The main view's preview watches the phone's pictures (it may be handed
  // frames until unwatchVideo() returns).
  virtual void watchVideo(component::VideoComponent* video) {}
  virtual void unwatchVideo(component::VideoComponent* video) {}
  // The modal About box; nothing when one is open already.
  virtual void showAbout() {}
  // The modal settings dialog, filled from `state` and the settings; true
  // when it was closed with OK (state->port then holds the port typed).
  virtual bool showSettings(SettingsDialogState* state) { return false; }
};

#endif  // WEBCAMWIN_FRAME_WINDOW_H_
