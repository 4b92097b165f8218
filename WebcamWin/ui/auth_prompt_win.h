// The modeless authorization prompt of the Windows build: the phone's name,
// "Unique ID: %s" and the buttons "Always allow" (1403), "Allow" (1404) and
// "Deny" (1405); closing it otherwise counts as "Deny". A plain dialog made
// from an in-memory template, until the skinned dialog exists.
//
// Thread: the user-interface thread.
#ifndef WEBCAMWIN_UI_AUTH_PROMPT_WIN_H_
#define WEBCAMWIN_UI_AUTH_PROMPT_WIN_H_

#include <windows.h>

#include <functional>

#include "base/string_util.h"

class AuthPromptWin {
 public:
  static constexpr int kIdAllowAlways = 1403;
  static constexpr int kIdAllow = 1404;
  static constexpr int kIdDeny = 1405;

  // Called with the button's control id when the user answers; the prompt
  // is still open then (the receiver closes it).
  using AnswerHandler = std::function<void(int controlId)>;

  explicit AuthPromptWin(AnswerHandler handler) : handler_(std::move(handler)) {}
  ~AuthPromptWin() { close(); }
  AuthPromptWin(const AuthPromptWin&) = delete;
  AuthPromptWin& operator=(const AuthPromptWin&) = delete;

  // Replaces an open prompt. Shown normally, centred, top-most, in front.
  bool show(HWND owner, const base::string16& name, const base::string16& uid);
  void close();
  HWND window() const { return dialog_; }

 private:
  static INT_PTR CALLBACK dialogProc(HWND dialog, UINT msg, WPARAM wparam, LPARAM lparam);

  AnswerHandler handler_;
  HWND dialog_ = nullptr;
};

#endif  // WEBCAMWIN_UI_AUTH_PROMPT_WIN_H_
