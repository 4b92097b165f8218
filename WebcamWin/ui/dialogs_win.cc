#include "WebcamWin/ui/dialogs_win.h"

#include <commctrl.h>
#include <iphlpapi.h>
#include <shlobj.h>
#include <winsock2.h>

#include <cstdio>
#include <memory>

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/controller/dialog_strings.h"
#include "WebcamWin/controller/main_frame.h"
#include "WebcamWin/platform/resource_library.h"
#include "WebcamWin/settings/settings.h"
#include "WebcamWin/platform/desktop.h"
#include "WebcamWin/ui/skin_win.h"
#include "WebcamWin/controller/ui_rules.h"
#include "WebcamWin/suite/wavehost.h"
#include "base/logging.h"

using skin::w;

namespace {

HINSTANCE g_resources = nullptr;

constexpr COLORREF kTextColour = RGB(0, 0, 0);
constexpr COLORREF kLinkColour = RGB(30, 96, 190);

base::string16 formatted(uint32_t format, const base::string16& value) {
  return withArgument(loadString(format), value);
}

base::string16 fromWide(const wchar_t* text) {
  return base::string16(reinterpret_cast<const char16_t*>(text));
}

}  // namespace

// --- CAuxiliaryDialog ----------------------------------------------------

CAuxiliaryDialog::CAuxiliaryDialog(int templateId, int width, int height, std::vector<Place> layout)
    : templateId_(templateId),
      width_(width),
      height_(height),
      layout_(std::move(layout)),
      white_(static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH))) {}

CAuxiliaryDialog::~CAuxiliaryDialog() { destroy(); }

void CAuxiliaryDialog::setResources(HINSTANCE resources) { g_resources = resources; }

int CAuxiliaryDialog::messageBox(HWND owner, uint32_t textId, UINT type) {
  base::string16 text = loadString(textId);
  if (text.empty()) text = u"Unexpected error";
  return ::MessageBoxW(owner, w(text), w(kProductName), type);
}

INT_PTR CAuxiliaryDialog::doModal(HWND owner) {
  skin::registerClasses();
  modal_ = true;
  const INT_PTR result = ::DialogBoxParamW(g_resources, MAKEINTRESOURCEW(templateId_), owner, dialogProc,
                                           reinterpret_cast<LPARAM>(this));
  if (result == -1) LOG(ERROR) << "The dialog " << templateId_ << " could not be opened: " << ::GetLastError();
  hwnd_ = nullptr;
  return result;
}

bool CAuxiliaryDialog::create(HWND owner) {
  skin::registerClasses();
  modal_ = false;
  HWND made = ::CreateDialogParamW(g_resources, MAKEINTRESOURCEW(templateId_), owner, dialogProc,
                                   reinterpret_cast<LPARAM>(this));
  if (!made) LOG(ERROR) << "The dialog " << templateId_ << " could not be opened: " << ::GetLastError();
  return made != nullptr;
}

void CAuxiliaryDialog::destroy() {
  if (hwnd_ && !modal_) {
    HWND gone = hwnd_;
    hwnd_ = nullptr;
    ::SetWindowLongPtrW(gone, DWLP_USER, 0);
    ::DestroyWindow(gone);
  }
}

void CAuxiliaryDialog::end(int result) {
  if (!hwnd_) return;
  if (modal_) ::EndDialog(hwnd_, result);
  else destroy();
}

INT_PTR CALLBACK CAuxiliaryDialog::dialogProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  auto* self = skin::dialogOwner<CAuxiliaryDialog>(hwnd, msg, lparam);
  if (!self) return FALSE;
  if (msg == WM_INITDIALOG) self->hwnd_ = hwnd;
  return self->handle(msg, wparam, lparam);
}

void CAuxiliaryDialog::initFrame() {
  // The frame draws its own caption and edge: no system caption or border,
  // whatever the template asked for.
  const LONG_PTR style = ::GetWindowLongPtrW(hwnd_, GWL_STYLE);
  ::SetWindowLongPtrW(hwnd_, GWL_STYLE, (style & ~(WS_CAPTION | WS_THICKFRAME | WS_BORDER | DS_MODALFRAME)) | WS_POPUP);
  const LONG_PTR exStyle = ::GetWindowLongPtrW(hwnd_, GWL_EXSTYLE);
  ::SetWindowLongPtrW(hwnd_, GWL_EXSTYLE, exStyle & ~(WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE | WS_EX_CLIENTEDGE));
  // The size of the table, centred on the owner (or the screen).
  RECT around;
  HWND owner = ::GetWindow(hwnd_, GW_OWNER);
  if (!owner || !::IsWindowVisible(owner) || ::IsIconic(owner)) {
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &around, 0);
  } else {
    ::GetWindowRect(owner, &around);
  }
  ::SetWindowPos(hwnd_, nullptr, around.left + (around.right - around.left - width_) / 2,
                 around.top + (around.bottom - around.top - height_) / 2, width_, height_,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  for (HWND child = ::GetWindow(hwnd_, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(skin::dialogFont()), FALSE);
  }
  for (const Place& place : layout_) {
    if (HWND control = item(place.id)) {
      ::SetWindowPos(control, nullptr, place.x, place.y, place.width, place.height, SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  // Shown now: a modal dialog would otherwise wait for an empty queue,
  // which a phone's stream of socket messages may not leave.
  ::ShowWindow(hwnd_, SW_SHOW);
  // The caption's close button.
  HWND close = ::CreateWindowExW(0, skin::CButtonControl::kClassName, L"", WS_CHILD | WS_VISIBLE, width_ - 20,
                                 (kCaptionHeight - 14) / 2, 14, 14, hwnd_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdCaptionClose)),
                                 ::GetModuleHandleW(nullptr), nullptr);
  if (skin::CButtonControl* button = skin::CButtonControl::from(close)) {
    button->setImages(u"top_closebutton_free.png", u"top_closebutton_free.png", u"top_closebutton_over.png",
                      u"top_closebutton_pressed.png");
  }
}

void CAuxiliaryDialog::paintFrame(HDC dc) {
  RECT client;
  ::GetClientRect(hwnd_, &client);
  ::FillRect(dc, &client, white_);
  static skin::Image caption(u"auxiliary_caption.png");
  // The picture is wider than any dialog: its left part, and its last
  // pixels at the right end.
  const int body = client.right - 8;
  caption.drawPart(dc, 0, 0, 0, 0, body, kCaptionHeight);
  caption.drawPart(dc, body, 0, caption.width() - 8, 0, 8, kCaptionHeight);
  wchar_t title[128] = {};
  ::GetWindowTextW(hwnd_, title, 128);
  RECT text = {28, 0, client.right - 28, kCaptionHeight};
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, RGB(232, 236, 242));
  HGDIOBJ old = ::SelectObject(dc, skin::font(L"Tahoma", 9, true));
  ::DrawTextW(dc, title, -1, &text, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
  ::SelectObject(dc, old);
  // A thin frame around the whole dialog.
  HBRUSH edge = ::CreateSolidBrush(RGB(74, 82, 96));
  ::FrameRect(dc, &client, edge);
  ::DeleteObject(edge);
}

INT_PTR CAuxiliaryDialog::handle(UINT msg, WPARAM wparam, LPARAM lparam) {
  INT_PTR result = 0;
  switch (msg) {
    case WM_INITDIALOG:
      initFrame();
      onInit();
      // Painted whole now rather than when the queue is next empty.
      ::RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
      return TRUE;
    case WM_ERASEBKGND:
    case skin::kMsgPaintBackground:
      paintFrame(reinterpret_cast<HDC>(wparam));
      ::SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, 1);
      return TRUE;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG: {
      HDC dc = reinterpret_cast<HDC>(wparam);
      HWND control = reinterpret_cast<HWND>(lparam);
      ::SetBkMode(dc, TRANSPARENT);
      const int id = ::GetDlgCtrlID(control);
      bool link = false;
      for (int l : links_) link = link || l == id;
      ::SetTextColor(dc, link ? kLinkColour : kTextColour);
      // Read-only edits keep a white field too.
      ::SetBkColor(dc, RGB(255, 255, 255));
      return reinterpret_cast<INT_PTR>(white_);
    }
    case WM_NCHITTEST: {
      POINT at = {static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
      ::ScreenToClient(hwnd_, &at);
      if (at.y >= 0 && at.y < kCaptionHeight) {
        ::SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, HTCAPTION);
        return TRUE;
      }
      return FALSE;
    }
    case WM_SETCURSOR:
      for (int l : links_) {
        if (reinterpret_cast<HWND>(wparam) == item(l)) {
          ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
          ::SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, TRUE);
          return TRUE;
        }
      }
      return FALSE;
    case WM_COMMAND:
      if (LOWORD(wparam) == kIdCaptionClose || (LOWORD(wparam) == IDCANCEL && HIWORD(wparam) == BN_CLICKED &&
                                                !item(IDCANCEL))) {
        onClose();
        return TRUE;
      }
      return onCommand(LOWORD(wparam), HIWORD(wparam)) ? TRUE : FALSE;
    case WM_CLOSE:
      onClose();
      return TRUE;
    default:
      if (onMessage(msg, wparam, lparam, &result)) {
        ::SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
        return TRUE;
      }
      return FALSE;
  }
}

void CAuxiliaryDialog::setText(int id, const base::string16& text) { ::SetDlgItemTextW(hwnd_, id, w(text)); }

base::string16 CAuxiliaryDialog::text(int id) const {
  wchar_t buffer[512] = {};
  ::GetDlgItemTextW(hwnd_, id, buffer, 512);
  return fromWide(buffer);
}

bool CAuxiliaryDialog::checked(int id) const { return ::IsDlgButtonChecked(hwnd_, id) == BST_CHECKED; }

void CAuxiliaryDialog::setChecked(int id, bool on) { ::CheckDlgButton(hwnd_, id, on ? BST_CHECKED : BST_UNCHECKED); }

void CAuxiliaryDialog::skinButton(int id, const base::string16& free, const base::string16& over,
                                  const base::string16& pressed, const base::string16& caption) {
  HWND control = item(id);
  skin::CButtonControl* button = control ? skin::CButtonControl::from(control) : nullptr;
  if (!button) {
    LOG(ERROR) << "The dialog " << templateId_ << " lacks the button " << id;
    return;
  }
  button->setDialogImages(free, over, pressed, caption);
}

void CAuxiliaryDialog::skinOkButton(int id, uint32_t caption) {
  skinButton(id, u"settings_OkButton_free.png", u"settings_OkButton_over.png", u"settings_OkButton_press.png",
             loadString(caption));
}

void CAuxiliaryDialog::skinCancelButton(int id, uint32_t caption) {
  skinButton(id, u"settings_CancelButton_free.png", u"settings_CancelButton_over.png",
             u"settings_CancelButton_press.png", loadString(caption));
}

void CAuxiliaryDialog::makeLink(int id) {
  links_.push_back(id);
  LOGFONTW look = {};
  ::GetObjectW(skin::dialogFont(), sizeof(look), &look);
  look.lfUnderline = TRUE;
  static HFONT underlined = ::CreateFontIndirectW(&look);
  ::SendMessageW(item(id), WM_SETFONT, reinterpret_cast<WPARAM>(underlined), TRUE);
}

void CAuxiliaryDialog::setFont(int id, HFONT font) {
  ::SendMessageW(item(id), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

// --- CDlgAuthorization ----------------------------------------------------

namespace {
constexpr int kIdAuthText = 1406;
constexpr int kIdAuthName = 1402;
constexpr int kIdAuthQuestion = 1023;
constexpr int kIdAuthUid = 1407;
}  // namespace

CDlgAuthorization::CDlgAuthorization(const base::string16& name, const base::string16& uid, Delegate delegate)
    : CAuxiliaryDialog(1400, 397, 216,
                       {{kIdAuthText, 30, 30, 337, 50},
                        {kIdAuthName, 30, 90, 337, 15},
                        {kIdAuthQuestion, 30, 115, 337, 15},
                        {kIdAuthUid, 30, 131, 337, 14},
                        {kIdAllowAlways, 30, 150, 120, 36},
                        {kIdAllow, 160, 150, 109, 36},
                        {kIdDeny, 279, 150, 88, 36}}),
      name_(name),
      uid_(uid),
      delegate_(std::move(delegate)) {}

void CDlgAuthorization::onInit() {
  HFONT texts = skin::font(L"Tahoma", 9);
  for (int id : {kIdAuthText, kIdAuthName, kIdAuthQuestion}) setFont(id, texts);
  setFont(kIdAuthName, skin::font(L"Tahoma", 9, true));
  setFont(kIdAuthUid, skin::font(L"Tahoma", 7));
  setText(kIdAuthText, loadString(kIdsQuestion));
  setText(kIdAuthName, formatted(kIdsDeviceName, name_));
  setText(kIdAuthQuestion, loadString(kIdsAllowQuestion));
  setText(kIdAuthUid, formatted(kIdsUniqueId, uid_));
  skinButton(kIdAllowAlways, u"allowAlwaysButton_free.png", u"allowAlwaysButton_over.png",
             u"allowAlwaysButton_pressed.png", loadString(kIdsAllowAlways));
  skinButton(kIdAllow, u"allowButton_free.png", u"allowButton_over.png", u"allowButton_pressed.png",
             loadString(kIdsAllow));
  skinButton(kIdDeny, u"denyButton_free.png", u"denyButton_over.png", u"denyButton_pressed.png",
             loadString(kIdsDeny));
  // In front of everything, the main window included, until answered.
  ::ShowWindow(hwnd(), SW_SHOWNORMAL);
  ::SetWindowPos(hwnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  ::SetForegroundWindow(hwnd());
  ::BringWindowToTop(hwnd());
}

bool CDlgAuthorization::onCommand(int id, int code) {
  if (id != kIdAllowAlways && id != kIdAllow && id != kIdDeny) return false;
  if (delegate_) delegate_(id);
  return true;
}

void CDlgAuthorization::onClose() {
  // Closing the prompt without a button refuses the phone.
  if (delegate_) delegate_(kIdDeny);
}

// --- CDlgACLManage ---------------------------------------------------------

namespace {
constexpr int kIdAclList = 1601;
constexpr int kIdAclHint = 1602;
constexpr int kIdAclDelete = 1603;
}  // namespace

CDlgACLManage::CDlgACLManage()
    : CAuxiliaryDialog(1600, 520, 290,
                       {{kIdAclList, 30, 30, 460, 174},
                        {kIdAclHint, 30, 224, 210, 36},
                        {kIdAclDelete, 240, 224, 120, 36},
                        {IDOK, 370, 224, 120, 36}}) {}

void CDlgACLManage::onInit() {
  HWND list = item(kIdAclList);
  ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  const uint32_t titles[] = {kIdsColumnName, kIdsColumnUid, kIdsColumnStatus};
  const int widths[] = {128, 252, 76};
  for (int i = 0; i < 3; ++i) {
    base::string16 title = loadString(titles[i]);
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.cx = widths[i];
    column.pszText = const_cast<wchar_t*>(w(title));
    ListView_InsertColumn(list, i, &column);
  }
  setText(kIdAclHint, loadString(kIdsAclHint));
  skinButton(kIdAclDelete, u"acl_deletebutton_free.png", u"acl_deletebutton_over.png",
             u"acl_deletebutton_pressed.png", loadString(kIdsDelete));
  skinOkButton(IDOK, kIdsOk);
  fill();
}

void CDlgACLManage::fill() {
  HWND list = item(kIdAclList);
  ListView_DeleteAllItems(list);
  int row = 0;
  for (const auto& entry : CSettings::Instance().accessList()) {
    base::string16 name = entry.second.name;
    base::string16 uid = entry.first;
    base::string16 status = loadString(entry.second.status != 0 ? kIdsAllow : kIdsDeny);
    LVITEMW line = {};
    line.mask = LVIF_TEXT;
    line.iItem = row;
    line.pszText = const_cast<wchar_t*>(w(name));
    ListView_InsertItem(list, &line);
    ListView_SetItemText(list, row, 1, const_cast<wchar_t*>(w(uid)));
    ListView_SetItemText(list, row, 2, const_cast<wchar_t*>(w(status)));
    ++row;
  }
}

void CDlgACLManage::deleteSelected() {
  HWND list = item(kIdAclList);
  if (ListView_GetSelectedCount(list) == 0) return;
  if (messageBox(hwnd(), kIdsConfirmDelete, MB_YESNO | MB_ICONQUESTION) != IDYES) return;
  std::vector<base::string16> gone;
  for (int row = ListView_GetNextItem(list, -1, LVNI_SELECTED); row >= 0;
       row = ListView_GetNextItem(list, row, LVNI_SELECTED)) {
    wchar_t uid[512] = {};
    ListView_GetItemText(list, row, 1, uid, 512);
    gone.push_back(fromWide(uid));
  }
  CMainFrame::removeFromAccessList(gone);
  fill();
}

bool CDlgACLManage::onCommand(int id, int code) {
  if (id == kIdAclDelete) {
    deleteSelected();
    return true;
  }
  if (id == IDOK) {
    end(IDOK);
    return true;
  }
  return false;
}

bool CDlgACLManage::onMessage(UINT msg, WPARAM wparam, LPARAM lparam, INT_PTR* result) {
  if (msg == WM_NOTIFY) {
    auto* header = reinterpret_cast<NMHDR*>(lparam);
    if (header->idFrom == kIdAclList && header->code == LVN_KEYDOWN) {
      const WORD key = reinterpret_cast<NMLVKEYDOWN*>(lparam)->wVKey;
      if (key == VK_DELETE || key == VK_BACK) deleteSelected();
    }
    return false;
  }
  if (msg == kMsgSelectRow) {
    HWND list = item(kIdAclList);
    if (lparam == 0) ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
    ListView_SetItemState(list, static_cast<int>(wparam), LVIS_SELECTED, LVIS_SELECTED);
    *result = ListView_GetSelectedCount(list);
    return true;
  }
  return false;
}

// --- CDlgSettings ----------------------------------------------------------

namespace {
constexpr int kIdRunOnStartup = 1101;
constexpr int kIdNotifications = 1102;
constexpr int kIdMirror = 1103;
constexpr int kIdHelpLink = 1104;
constexpr int kIdPcNameLabel = 1110;
constexpr int kIdPcName = 1111;
constexpr int kIdIpLabel = 1112;
constexpr int kIdIpList = 1113;
constexpr int kIdPortLabel = 1114;
constexpr int kIdPort = 1115;
constexpr int kIdPicturesLabel = 1120;
constexpr int kIdPictures = 1121;
constexpr int kIdVideosLabel = 1122;
constexpr int kIdVideos = 1123;
constexpr int kIdSpeakersLabel = 1130;
constexpr int kIdSpeakers = 1131;
constexpr int kIdMicrophoneLabel = 1132;
constexpr int kIdMicrophone = 1133;
constexpr int kIdAclButton = 1140;
constexpr int kIdTabs = 1150;

// Which page each control belongs to.
struct PageOf {
  int id, page;
};
constexpr PageOf kPages[] = {
    {kIdRunOnStartup, 0}, {kIdNotifications, 0}, {kIdMirror, 0},         {kIdHelpLink, 0},
    {kIdPcNameLabel, 1},  {kIdPcName, 1},        {kIdIpLabel, 1},         {kIdIpList, 1},
    {kIdPortLabel, 1},    {kIdPort, 1},          {kIdPicturesLabel, 2},   {kIdPictures, 2},
    {kIdVideosLabel, 2},  {kIdVideos, 2},        {kIdSpeakersLabel, 3},   {kIdSpeakers, 3},
    {kIdMicrophoneLabel, 3}, {kIdMicrophone, 3},
};

std::vector<base::string16> addressesOfAdapters() {
  std::vector<base::string16> out;
  ULONG size = 0;
  if (::GetAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW || size == 0) return out;
  std::vector<uint8_t> buffer(size);
  auto* adapters = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
  if (::GetAdaptersInfo(adapters, &size) != NO_ERROR) return out;
  for (IP_ADAPTER_INFO* a = adapters; a; a = a->Next) {
    for (IP_ADDR_STRING* ip = &a->IpAddressList; ip; ip = ip->Next) {
      const std::string text = ip->IpAddress.String;
      if (!text.empty() && text != "0.0.0.0") out.push_back(base::utf8ToWide(text));
    }
  }
  return out;
}

// The folder browser opens at the folder handed in `start`.
int CALLBACK browseStartsAt(HWND dialog, UINT msg, LPARAM, LPARAM start) {
  if (msg == BFFM_INITIALIZED) ::SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, start);
  return 0;
}

base::string16 hostName() {
  WSADATA data;
  const bool started = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  char name[256] = {};
  const bool ok = ::gethostname(name, sizeof(name)) == 0;
  if (started) ::WSACleanup();
  return ok ? base::utf8ToWide(name) : base::string16();
}

}  // namespace

CDlgSettings::CDlgSettings(SettingsDialogState* state, CMainFrame* frame)
    : CAuxiliaryDialog(1100, 520, 334,
                       {{kIdTabs, 20, 36, 480, 234},
                        {kIdRunOnStartup, 44, 80, 420, 22},
                        {kIdNotifications, 44, 108, 420, 22},
                        {kIdMirror, 44, 136, 420, 22},
                        {kIdHelpLink, 44, 176, 200, 18},
                        {kIdPcNameLabel, 44, 82, 90, 18},
                        {kIdPcName, 140, 78, 340, 22},
                        {kIdIpLabel, 44, 112, 90, 18},
                        {kIdIpList, 140, 110, 340, 84},
                        {kIdPortLabel, 44, 210, 90, 18},
                        {kIdPort, 140, 206, 100, 22},
                        {kIdPicturesLabel, 44, 80, 420, 18},
                        {kIdPictures, 44, 100, 436, 200},
                        {kIdVideosLabel, 44, 144, 420, 18},
                        {kIdVideos, 44, 164, 436, 200},
                        {kIdSpeakersLabel, 44, 80, 420, 18},
                        {kIdSpeakers, 44, 100, 436, 200},
                        {kIdMicrophoneLabel, 44, 144, 420, 18},
                        {kIdMicrophone, 44, 164, 436, 200},
                        {kIdAclButton, 20, 282, 120, 36},
                        {IDOK, 250, 282, 120, 36},
                        {IDCANCEL, 380, 282, 120, 36}}),
      state_(state),
      frame_(frame) {}

void CDlgSettings::onInit() {
  const CSettings& settings = CSettings::Instance();
  HWND tabs = item(kIdTabs);
  const uint32_t pages[] = {kIdsPageGeneral, kIdsPageNetwork, kIdsPageFolders, kIdsPageAudio};
  for (int i = 0; i < 4; ++i) {
    base::string16 title = loadString(pages[i]);
    TCITEMW tab = {};
    tab.mask = TCIF_TEXT;
    tab.pszText = const_cast<wchar_t*>(w(title));
    TabCtrl_InsertItem(tabs, i, &tab);
  }
  // The tab control is drawn behind the pages' controls.
  ::SetWindowPos(tabs, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

  setChecked(kIdRunOnStartup, settings.runOnStartup());
  setChecked(kIdNotifications, settings.showNotifications());
  setChecked(kIdMirror, settings.mirrorImage());
  setText(kIdHelpLink, loadString(kIdsOnlineHelp));
  makeLink(kIdHelpLink);

  setText(kIdPcName, state_->pcName.empty() ? hostName() : state_->pcName);
  for (const base::string16& address : addressesOfAdapters()) {
    ::SendDlgItemMessageW(hwnd(), kIdIpList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(w(address)));
  }
  setText(kIdPort, state_->port != 0 ? base::utf8ToWide(std::to_string(state_->port)) : state_->portInUse);
  ::SendDlgItemMessageW(hwnd(), kIdPort, EM_LIMITTEXT, 20, 0);

  fillFolder(kIdPictures, settings.picturesFolder());
  fillFolder(kIdVideos, settings.moviesFolder());

  setText(kIdSpeakersLabel, loadString(kIdsSpeakers));
  setText(kIdMicrophoneLabel, loadString(kIdsMicrophone));
  fillDevices(kIdSpeakers, CWaveHost::outputDevices(), CWaveHost::outputDeviceName());
  fillDevices(kIdMicrophone, CWaveHost::inputDevices(), CWaveHost::inputDeviceName());

  skinButton(kIdAclButton, u"settings_aclbttn_free.png", u"settings_aclbttn_over.png", u"settings_aclbttn_pressed.png",
             loadString(kIdsAccessList));
  skinOkButton(IDOK, kIdsOk);
  skinCancelButton(IDCANCEL, kIdsCancel);
  showPage(0);
}

void CDlgSettings::showPage(int page) {
  TabCtrl_SetCurSel(item(kIdTabs), page);
  for (const PageOf& p : kPages) ::ShowWindow(item(p.id), p.page == page ? SW_SHOW : SW_HIDE);
}

void CDlgSettings::fillFolder(int comboId, const base::string16& folder) {
  HWND combo = item(comboId);
  ::SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(w(folder)));
  base::string16 choose = loadString(kIdsChooseFolder);
  ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(w(choose)));
  ::SendMessageW(combo, CB_SETCURSEL, 0, 0);
}

void CDlgSettings::chooseFolder(int comboId) {
  CSettings& settings = CSettings::Instance();
  const base::string16 current = comboId == kIdPictures ? settings.picturesFolder() : settings.moviesFolder();
  BROWSEINFOW browse = {};
  browse.hwndOwner = hwnd();
  browse.lpszTitle = L"Choose Directory";
  browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  browse.lpfn = browseStartsAt;
  browse.lParam = reinterpret_cast<LPARAM>(w(current));
  PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderW(&browse);
  if (chosen) {
    wchar_t path[MAX_PATH] = {};
    if (::SHGetPathFromIDListW(chosen, path)) {
      // Stored at once, whatever button closes the dialog.
      if (comboId == kIdPictures) settings.setPicturesFolder(fromWide(path));
      else settings.setMoviesFolder(fromWide(path));
    }
    ::CoTaskMemFree(chosen);
  }
  fillFolder(comboId, comboId == kIdPictures ? settings.picturesFolder() : settings.moviesFolder());
}

void CDlgSettings::fillDevices(int comboId, const std::vector<base::string16>& devices,
                               const base::string16& stored) {
  HWND combo = item(comboId);
  const DeviceChoice choice = chooseDevice(devices, stored, loadString(kIdsSystemDefault));
  for (const base::string16& name : choice.entries) {
    ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(w(name)));
  }
  if (choice.multipleMatches) LOG(INFO) << "Multiple match in input device list";
  ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(choice.selected), 0);
}

bool CDlgSettings::close(bool ok) {
  storeSettingsBoxes(checked(kIdRunOnStartup), checked(kIdNotifications), checked(kIdMirror));
  if (!ok) return true;
  uint32_t port = 0;
  if (!parsePortField(text(kIdPort), &port)) {
    messageBox(hwnd(), kIdsBadPort, MB_OK | MB_ICONERROR);
    showPage(1);
    return false;
  }
  state_->port = port;
  // The sound devices the bridge uses while no phone is there; the last
  // entry ("System default device") is stored as no name.
  auto chosenName = [this](int comboId) {
    HWND combo = item(comboId);
    const LRESULT row = ::SendMessageW(combo, CB_GETCURSEL, 0, 0);
    const LRESULT rows = ::SendMessageW(combo, CB_GETCOUNT, 0, 0);
    wchar_t name[256] = {};
    if (row >= 0 && ::SendMessageW(combo, CB_GETLBTEXTLEN, row, 0) < 256) {
      ::SendMessageW(combo, CB_GETLBTEXT, row, reinterpret_cast<LPARAM>(name));
    }
    return deviceNameToStore(row, rows, fromWide(name));
  };
  CWaveHost::setInputDeviceName(chosenName(kIdMicrophone));
  CWaveHost::setOutputDeviceName(chosenName(kIdSpeakers));
  if (frame_) frame_->applyAudioDevices();
  return true;
}

bool CDlgSettings::onCommand(int id, int code) {
  switch (id) {
    case IDOK:
      if (close(true)) end(IDOK);
      return true;
    case IDCANCEL:
      onClose();
      return true;
    case kIdAclButton: {
      CDlgACLManage list;
      list.doModal(hwnd());
      return true;
    }
    case kIdHelpLink:
      if (code == STN_CLICKED) shell::openWithShell(loadString(kIdsOnlineHelpAddress));
      return true;
    case kIdPictures:
    case kIdVideos:
      if (code == CBN_SELCHANGE) {
        HWND combo = item(id);
        const LRESULT row = ::SendMessageW(combo, CB_GETCURSEL, 0, 0);
        if (row == ::SendMessageW(combo, CB_GETCOUNT, 0, 0) - 1) chooseFolder(id);
      }
      return true;
    case kIdPcName:
      // The name takes no input.
      if (code == EN_SETFOCUS) ::SetFocus(hwnd());
      return true;
    default:
      return false;
  }
}

bool CDlgSettings::onMessage(UINT msg, WPARAM wparam, LPARAM lparam, INT_PTR* result) {
  if (msg == WM_NOTIFY) {
    auto* header = reinterpret_cast<NMHDR*>(lparam);
    if (header->idFrom == kIdTabs && header->code == TCN_SELCHANGE) showPage(TabCtrl_GetCurSel(item(kIdTabs)));
  }
  return false;
}

void CDlgSettings::onClose() {
  close(false);
  end(IDCANCEL);
}

// --- CAboutDlg -------------------------------------------------------------

namespace {
constexpr int kIdAboutProduct = 1201;
constexpr int kIdAboutVersion = 1202;
constexpr int kIdAboutRights = 1203;
constexpr int kIdAboutCheck = 1204;
constexpr int kIdAboutLastCheck = 1205;
constexpr int kIdAboutHelp = 1206;
constexpr int kIdAboutSupport = 1207;
constexpr uint64_t kFileTimeUnitsPerSecond = 10000000;
}  // namespace

CAboutDlg::CAboutDlg(CMainFrame* frame)
    : CAuxiliaryDialog(1200, 380, 262,
                       {{kIdAboutProduct, 30, 44, 320, 26},
                        {kIdAboutVersion, 30, 74, 320, 18},
                        {kIdAboutRights, 30, 96, 320, 18},
                        {kIdAboutCheck, 30, 134, 200, 18},
                        {kIdAboutLastCheck, 30, 156, 320, 18},
                        {kIdAboutHelp, 60, 200, 120, 36},
                        {kIdAboutSupport, 200, 200, 120, 36}}),
      frame_(frame) {}

base::string16 CAboutDlg::versionText() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path, &ignored);
  std::vector<uint8_t> info(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (size == 0 || !::GetFileVersionInfoW(path, 0, size, info.data()) ||
      !::VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed) {
    return u"v?";
  }
  char text[48];
  std::snprintf(text, sizeof(text), "v%d.%d.%d", static_cast<int>(HIWORD(fixed->dwFileVersionMS)),
                static_cast<int>(LOWORD(fixed->dwFileVersionMS)), static_cast<int>(HIWORD(fixed->dwFileVersionLS)));
  return base::utf8ToWide(text);
}

void CAboutDlg::onInit() {
  setFont(kIdAboutProduct, skin::font(L"Tahoma", 14, true));
  setText(kIdAboutProduct, kProductName);
  setText(kIdAboutVersion, versionText());
  setText(kIdAboutCheck, loadString(kIdsCheckForUpdates));
  makeLink(kIdAboutCheck);
  base::string16 when = loadString(kIdsNever);
  const uint64_t last = CSettings::Instance().lastUpdateCheckTime();
  FILETIME utc = {static_cast<DWORD>(last), static_cast<DWORD>(last >> 32)};
  FILETIME local;
  SYSTEMTIME time;
  if (last >= kFileTimeUnitsPerSecond && ::FileTimeToLocalFileTime(&utc, &local) &&
      ::FileTimeToSystemTime(&local, &time)) {
    char text[40];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d", time.wYear, time.wMonth, time.wDay, time.wHour,
                  time.wMinute);
    when = base::utf8ToWide(text);
  }
  setText(kIdAboutLastCheck, formatted(kIdsLastCheck, when));
  skinButton(kIdAboutHelp, u"about_HelpButton_free.png", u"about_HelpButton_over.png", u"about_HelpButton_press.png",
             loadString(kIdsHelpButton));
  skinButton(kIdAboutSupport, u"about_SupportButton_free.png", u"about_SupportButton_over.png",
             u"about_SupportButton_press.png", loadString(kIdsSupport));
}

bool CAboutDlg::onCommand(int id, int code) {
  switch (id) {
    case kIdAboutCheck:
      if (code == STN_CLICKED && frame_) frame_->checkForUpdatesNow();
      return true;
    case kIdAboutHelp:
      shell::openWithShell(loadString(kIdsOnlineHelpAddress));
      return true;
    case kIdAboutSupport:
      if (frame_) frame_->openSupport();
      return true;
    case IDOK:
    case IDCANCEL:
      end(id);
      return true;
    default:
      return false;
  }
}

// --- CDlgFirstRunTip -------------------------------------------------------

namespace {
constexpr int kIdTipText = 1701;
constexpr int kIdTipLink = 1702;
constexpr int kIdTipCheck = 1703;
}  // namespace

CDlgFirstRunTip::CDlgFirstRunTip(std::function<void(bool)> closed)
    : CAuxiliaryDialog(1700, 420, 250,
                       {{kIdTipText, 30, 40, 360, 96},
                        {kIdTipLink, 30, 142, 200, 18},
                        {kIdTipCheck, 30, 170, 360, 20},
                        {IDOK, 270, 200, 120, 36}}),
      closed_(std::move(closed)) {}

void CDlgFirstRunTip::onInit() {
  setText(kIdTipLink, loadString(kIdsOnlineHelp));
  makeLink(kIdTipLink);
  setText(kIdTipCheck, loadString(kIdsDontAskAgain));
  skinOkButton(IDOK, kIdsOk);
}

bool CDlgFirstRunTip::onCommand(int id, int code) {
  if (id == kIdTipLink) {
    if (code == STN_CLICKED) shell::openWithShell(loadString(kIdsOnlineHelpAddress));
    return true;
  }
  if (id == IDOK || id == IDCANCEL) {
    if (closed_) closed_(!checked(kIdTipCheck));
    end(id);
    return true;
  }
  return false;
}

void CDlgFirstRunTip::onClose() { onCommand(IDCANCEL, BN_CLICKED); }

// --- CDontAskAgainDlg ------------------------------------------------------

namespace {
constexpr int kIdAskText = 1501;
constexpr int kIdAskCheck = 1502;
}  // namespace

CDontAskAgainDlg::CDontAskAgainDlg(const base::string16& question)
    : CAuxiliaryDialog(1500, 420, 184,
                       {{kIdAskText, 30, 40, 360, 48},
                        {kIdAskCheck, 30, 94, 360, 20},
                        {IDYES, 140, 130, 120, 36},
                        {IDNO, 270, 130, 120, 36}}),
      question_(question) {}

void CDontAskAgainDlg::onInit() {
  setText(kIdAskText, question_);
  setText(kIdAskCheck, loadString(kIdsDontAskAgain));
  skinOkButton(IDYES, kIdsYes);
  skinCancelButton(IDNO, kIdsNo);
  ::SetForegroundWindow(hwnd());
}

bool CDontAskAgainDlg::onCommand(int id, int code) {
  if (id != IDYES && id != IDNO && id != IDCANCEL) return false;
  dontAskAgain_ = checked(kIdAskCheck);
  end(id);
  return true;
}
