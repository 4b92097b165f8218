// The six skinned dialogs of the Windows window, all inside the common
// frame CAuxiliaryDialog: a caption picture with the dialog's title and a
// close button, a white body, Tahoma, and the controls placed by a fixed
// table of pixel rectangles (the templates in the resource library only
// declare them).
//
//   CDlgAuthorization  1400  modeless, top-most: allow always / allow / deny
//   CDlgACLManage      1600  the access list; delete entries
//   CDlgSettings       1100  four pages, the access-list button, OK, Cancel
//   CAboutDlg          1200  version, update check, online help, support
//   CDlgFirstRunTip    1700  the tip at the first start
//   CDontAskAgainDlg   1500  the question before quitting
//
// Thread: the user-interface thread.
#ifndef WEBCAMWIN_UI_DIALOGS_WIN_H_
#define WEBCAMWIN_UI_DIALOGS_WIN_H_

#include <windows.h>

#include <functional>
#include <vector>

#include "WebcamWin/settings/settings_dialog.h"
#include "base/string_util.h"

class CMainFrame;

class CAuxiliaryDialog {
 public:
  struct Place {
    int id, x, y, width, height;
  };
  static constexpr int kCaptionHeight = 24;
  // The caption's close button.
  static constexpr int kIdCaptionClose = 1099;

  CAuxiliaryDialog(int templateId, int width, int height, std::vector<Place> layout);
  virtual ~CAuxiliaryDialog();
  CAuxiliaryDialog(const CAuxiliaryDialog&) = delete;
  CAuxiliaryDialog& operator=(const CAuxiliaryDialog&) = delete;

  // Modal; returns the result given to end() (-1 when it could not open).
  INT_PTR doModal(HWND owner);
  // Modeless; false when it could not open.
  bool create(HWND owner);
  void destroy();
  HWND hwnd() const { return hwnd_; }

  // The resource library that holds the templates (set at start-up).
  static void setResources(HINSTANCE resources);
  // A message box captioned with the product name; a text id without text
  // shows "Unexpected error".
  static int messageBox(HWND owner, uint32_t textId, UINT type);

 protected:
  virtual void onInit() {}
  // A button or control notification; true when handled.
  virtual bool onCommand(int id, int code) { return false; }
  // Anything else; true when handled (with `result`).
  virtual bool onMessage(UINT msg, WPARAM wparam, LPARAM lparam, INT_PTR* result) { return false; }
  // The caption's close button and Escape: by default end(IDCANCEL).
  virtual void onClose() { end(IDCANCEL); }

  // Ends a modal dialog with `result`; destroys a modeless one.
  void end(int result);
  HWND item(int id) const { return ::GetDlgItem(hwnd_, id); }
  void setText(int id, const base::string16& text);
  base::string16 text(int id) const;
  bool checked(int id) const;
  void setChecked(int id, bool on);
  // A skinned dialog button: pictures `stem` + free/over/pressed (the last
  // two words given) and a caption.
  void skinButton(int id, const base::string16& free, const base::string16& over, const base::string16& pressed,
                  const base::string16& caption);
  // The settings dialog's OK and Cancel pictures, which the other dialogs
  // share, with the caption of string `caption`.
  void skinOkButton(int id, uint32_t caption);
  void skinCancelButton(int id, uint32_t caption);
  // A static text that works as a link (blue, underlined, hand cursor).
  void makeLink(int id);
  // A text drawn larger or bold.
  void setFont(int id, HFONT font);

 private:
  static INT_PTR CALLBACK dialogProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  INT_PTR handle(UINT msg, WPARAM wparam, LPARAM lparam);
  void initFrame();
  void paintFrame(HDC dc);

  int templateId_;
  int width_;
  int height_;
  std::vector<Place> layout_;
  std::vector<int> links_;
  HWND hwnd_ = nullptr;
  bool modal_ = false;
  HBRUSH white_;
};

class CDlgAuthorization : public CAuxiliaryDialog {
 public:
  static constexpr int kIdAllowAlways = 1403;
  static constexpr int kIdAllow = 1404;
  static constexpr int kIdDeny = 1405;
  // Told which button was pressed (kId*); the receiver closes the dialog
  // afterwards, outside the dialog's own message handling.
  using Delegate = std::function<void(int buttonId)>;

  CDlgAuthorization(const base::string16& name, const base::string16& uid, Delegate delegate);

 private:
  void onInit() override;
  bool onCommand(int id, int code) override;
  void onClose() override;
  base::string16 name_;
  base::string16 uid_;
  Delegate delegate_;
};

class CDlgACLManage : public CAuxiliaryDialog {
 public:
  // Test drivers select rows with this (wparam: row, lparam: 1 adds to the
  // selection, 0 replaces it).
  static constexpr UINT kMsgSelectRow = WM_APP + 10;
  CDlgACLManage();

 private:
  void onInit() override;
  bool onCommand(int id, int code) override;
  bool onMessage(UINT msg, WPARAM wparam, LPARAM lparam, INT_PTR* result) override;
  void fill();
  void deleteSelected();
};

class CDlgSettings : public CAuxiliaryDialog {
 public:
  CDlgSettings(SettingsDialogState* state, CMainFrame* frame);

 private:
  void onInit() override;
  bool onCommand(int id, int code) override;
  bool onMessage(UINT msg, WPARAM wparam, LPARAM lparam, INT_PTR* result) override;
  void onClose() override;
  void showPage(int page);
  void fillFolder(int comboId, const base::string16& folder);
  void chooseFolder(int comboId);
  void fillDevices(int comboId, const std::vector<base::string16>& devices, const base::string16& stored);
  // OK or Cancel: the boxes are stored either way; OK also checks the port
  // and stores the sound devices. False keeps the dialog open.
  bool close(bool ok);

  SettingsDialogState* state_;
  CMainFrame* frame_;
};

class CAboutDlg : public CAuxiliaryDialog {
 public:
  explicit CAboutDlg(CMainFrame* frame);
  // "v%d.%d.%d" of the program's version resource.
  static base::string16 versionText();

 private:
  void onInit() override;
  bool onCommand(int id, int code) override;
  CMainFrame* frame_;
};

class CDlgFirstRunTip : public CAuxiliaryDialog {
 public:
  // Told when the tip closes whether to show it again.
  explicit CDlgFirstRunTip(std::function<void(bool showAgain)> closed);

 private:
  void onInit() override;
  bool onCommand(int id, int code) override;
  void onClose() override;
  std::function<void(bool)> closed_;
};

class CDontAskAgainDlg : public CAuxiliaryDialog {
 public:
  explicit CDontAskAgainDlg(const base::string16& question);
  // Yes: IDYES; anything else: IDNO or IDCANCEL.
  bool dontAskAgain() const { return dontAskAgain_; }

 private:
  void onInit() override;
  bool onCommand(int id, int code) override;
  base::string16 question_;
  bool dontAskAgain_ = false;
};

#endif  // WEBCAMWIN_UI_DIALOGS_WIN_H_
