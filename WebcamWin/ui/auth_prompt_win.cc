#include "WebcamWin/ui/auth_prompt_win.h"

#include <cstdio>
#include <vector>

#include "WebcamWin/app_info.h"
#include "WebcamWin/resource_library.h"
#include "base/logging.h"

namespace {

constexpr uint32_t kIdsQuestion = 50011;
constexpr uint32_t kIdsUniqueId = 50012;
constexpr uint32_t kIdsExplanation = 50016;
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kStaticClass = 0x0082;
constexpr int kIdName = 1401;
constexpr int kIdUid = 1402;
constexpr int kIdText = 1406;

// A text of the resource library, or ours when the library lacks it.
base::string16 text(uint32_t id, const char16_t* fallback) {
  const base::string16 loaded = loadString(id);
  return loaded.empty() ? base::string16(fallback) : loaded;
}

// DLGTEMPLATE and its items, built word by word.
class TemplateWriter {
 public:
  void word(WORD w) { words_.push_back(w); }
  void dword(DWORD d) {
    word(LOWORD(d));
    word(HIWORD(d));
  }
  void string(const base::string16& s) {
    for (char16_t c : s) word(static_cast<WORD>(c));
    word(0);
  }
  void alignDword() {
    if (words_.size() % 2) word(0);
  }
  void header(DWORD style, WORD items, short cx, short cy, const base::string16& title) {
    dword(style);
    dword(0);  // extended style
    word(items);
    word(0);
    word(0);
    word(static_cast<WORD>(cx));
    word(static_cast<WORD>(cy));
    word(0);  // no menu
    word(0);  // the dialog class
    string(title);
    word(9);  // DS_SETFONT: point size and face
    string(u"MS Shell Dlg");
  }
  void item(WORD klass, DWORD style, short x, short y, short cx, short cy, int id, const base::string16& title) {
    alignDword();
    dword(style | WS_CHILD | WS_VISIBLE);
    dword(0);
    word(static_cast<WORD>(x));
    word(static_cast<WORD>(y));
    word(static_cast<WORD>(cx));
    word(static_cast<WORD>(cy));
    word(static_cast<WORD>(id));
    word(0xFFFF);
    word(klass);
    string(title);
    word(0);  // no creation data
  }
  const DLGTEMPLATE* data() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  std::vector<WORD> words_;
};

}  // namespace

bool AuthPromptWin::show(HWND owner, const base::string16& name, const base::string16& uid) {
  close();
  base::string16 uidLine = text(kIdsUniqueId, u"Unique ID: %s");
  const size_t at = uidLine.find(u"%s");
  if (at != base::string16::npos) uidLine.replace(at, 2, uid);

  TemplateWriter t;
  t.header(DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU, 7, 250, 110,
           base::string16(kProductName));
  t.item(kStaticClass, SS_LEFT, 10, 8, 230, 20, kIdText,
         text(kIdsQuestion, u"A device wants to connect to this computer:"));
  t.item(kStaticClass, SS_LEFT | SS_NOPREFIX, 10, 32, 230, 12, kIdName, name);
  t.item(kStaticClass, SS_LEFT | SS_NOPREFIX, 10, 46, 230, 12, kIdUid, uidLine);
  t.item(kStaticClass, SS_LEFT, 10, 60, 230, 20, kIdText + 1,
         text(kIdsExplanation, u"Allow it to use this computer as its webcam?"));
  t.item(kButtonClass, BS_PUSHBUTTON | WS_TABSTOP, 10, 88, 74, 14, kIdAllowAlways, u"Always allow");
  t.item(kButtonClass, BS_DEFPUSHBUTTON | WS_TABSTOP, 88, 88, 74, 14, kIdAllow, u"Allow");
  t.item(kButtonClass, BS_PUSHBUTTON | WS_TABSTOP, 166, 88, 74, 14, kIdDeny, u"Deny");

  dialog_ = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), t.data(), owner, dialogProc,
                                         reinterpret_cast<LPARAM>(this));
  if (!dialog_) {
    LOG(ERROR) << "The authorization prompt could not be created: " << ::GetLastError();
    return false;
  }
  ::ShowWindow(dialog_, SW_SHOWNORMAL);
  ::SetWindowPos(dialog_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  ::SetForegroundWindow(dialog_);
  ::BringWindowToTop(dialog_);
  return true;
}

void AuthPromptWin::close() {
  HWND dialog = dialog_;
  dialog_ = nullptr;
  if (dialog) ::DestroyWindow(dialog);
}

INT_PTR CALLBACK AuthPromptWin::dialogProc(HWND dialog, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_INITDIALOG) {
    ::SetWindowLongPtrW(dialog, DWLP_USER, lparam);
    return TRUE;
  }
  auto* self = reinterpret_cast<AuthPromptWin*>(::GetWindowLongPtrW(dialog, DWLP_USER));
  if (!self || self->dialog_ != dialog) return FALSE;
  if (msg == WM_COMMAND) {
    const int id = LOWORD(wparam);
    // Esc and the close box come as IDCANCEL: a deny.
    const int answer = id == IDCANCEL ? kIdDeny : id;
    if (answer == kIdAllowAlways || answer == kIdAllow || answer == kIdDeny) {
      self->handler_(answer);
      return TRUE;
    }
  } else if (msg == WM_CLOSE) {
    self->handler_(kIdDeny);
    return TRUE;
  }
  return FALSE;
}
