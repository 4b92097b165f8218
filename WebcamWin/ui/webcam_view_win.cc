#include "WebcamWin/ui/webcam_view_win.h"

#include <cstdio>
#include <cstring>

#include "WebcamWin/platform/resource_library.h"
#include "WebcamWin/app/startup.h"
#include "WebcamWin/controller/main_window_strings.h"
#include "WebcamWin/controller/ui_rules.h"
#include "base/logging.h"

using skin::w;

namespace {

constexpr UINT kMsgFrameReady = WM_APP + 41;

// Controls of template 1000 and where they sit (bottom-bar buttons relative
// to the bar).
constexpr int kIdCaption = 1001;
constexpr int kIdBottomBar = 1002;
constexpr int kIdSettings = 1013;
constexpr int kIdAbout = 1014;
constexpr int kIdMinimize = 1020;
constexpr int kIdClose = 1021;
constexpr int kIdPreview = 1028;
constexpr int kIdSnapshot = 1029;
constexpr int kIdRecord = 1030;
constexpr int kIdPicturesFolder = 1032;
constexpr int kIdVideosFolder = 1033;
constexpr int kBarTop = 390;
constexpr int kCaptionHeight = 60;

struct Place {
  int id, x, y, width, height;
};
constexpr Place kLayout[] = {
    {kIdCaption, 0, 0, 440, 60},
    {kIdMinimize, 404, 8, 14, 14},
    {kIdClose, 422, 8, 14, 14},
    {kIdAbout, 386, 8, 14, 14},
    {kIdPreview, 0, 60, 440, 330},
    {kIdBottomBar, 0, kBarTop, 440, 62},
    {kIdSettings, 12, kBarTop + 12, 38, 38},
    {kIdSnapshot, 148, kBarTop + 12, 70, 38},
    {kIdRecord, 222, kBarTop + 12, 70, 38},
    {kIdPicturesFolder, 348, kBarTop + 12, 38, 38},
    {kIdVideosFolder, 390, kBarTop + 12, 38, 38},
};

// Tooltips only this window has (the others: main_window_strings.h).
constexpr uint32_t kIdsMinimize = 50006;
constexpr uint32_t kIdsClose = 50007;
constexpr uint32_t kIdsSplash = 50075;

// The splash line's colour (0xFFD7D7D7 with its alpha dropped).
constexpr COLORREF kSplashTextColour = RGB(0xD7, 0xD7, 0xD7);

void drawText(HDC dc, const base::string16& text, RECT rect, HFONT font, COLORREF colour, UINT format) {
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, colour);
  HGDIOBJ old = ::SelectObject(dc, font);
  ::DrawTextW(dc, w(text), -1, &rect, format);
  ::SelectObject(dc, old);
}

}  // namespace

// --- CVideoPreviewView -----------------------------------------------------

void CVideoPreviewView::registerClass() {
  static bool registered = false;
  if (registered) return;
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.style = CS_GLOBALCLASS;  // template 1000 lives in the resource library
  wc.lpfnWndProc = windowProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kClassName;
  ::RegisterClassExW(&wc);
  registered = true;
}

CVideoPreviewView* CVideoPreviewView::from(HWND hwnd) {
  return reinterpret_cast<CVideoPreviewView*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

LRESULT CALLBACK CVideoPreviewView::windowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  CVideoPreviewView* self = from(hwnd);
  if (msg == WM_NCCREATE) {
    self = new CVideoPreviewView;
    self->hwnd_ = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (!self) return ::DefWindowProcW(hwnd, msg, wparam, lparam);
  switch (msg) {
    case WM_NCDESTROY:
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      delete self;
      break;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(hwnd, &ps);
      RECT area;
      ::GetClientRect(hwnd, &area);
      // Off screen first: the picture changes many times a second.
      HDC memory = ::CreateCompatibleDC(dc);
      HBITMAP bitmap = ::CreateCompatibleBitmap(dc, area.right, area.bottom);
      HGDIOBJ old = ::SelectObject(memory, bitmap);
      self->paint(memory, area);
      ::BitBlt(dc, 0, 0, area.right, area.bottom, memory, 0, 0, SRCCOPY);
      ::SelectObject(memory, old);
      ::DeleteObject(bitmap);
      ::DeleteDC(memory);
      ::EndPaint(hwnd, &ps);
      return 0;
    }
    default:
      break;
  }
  return ::DefWindowProcW(hwnd, msg, wparam, lparam);
}

void CVideoPreviewView::setLive(bool live) {
  live_ = live;
  updateText();
  ::InvalidateRect(hwnd_, nullptr, FALSE);
}

void CVideoPreviewView::setRecording(bool shown) {
  recording_ = shown;
  if (!shown) elapsedMs_ = 0;
  updateText();
  repaint();
}

void CVideoPreviewView::setRecordingTime(uint32_t elapsedMs) {
  elapsedMs_ = elapsedMs;
  updateText();
  repaint();
}

void CVideoPreviewView::setFrame(int width, int height, std::vector<uint8_t> pixels) {
  const bool resized = width != width_ || height != height_;
  width_ = width;
  height_ = height;
  pixels_ = std::move(pixels);
  if (resized) updateText();
  repaint();
}

void CVideoPreviewView::repaint() {
  // At once: WM_PAINT waits until the queue is empty, which a phone's
  // steady stream of socket messages may not let happen.
  ::InvalidateRect(hwnd_, nullptr, FALSE);
  ::UpdateWindow(hwnd_);
}

void CVideoPreviewView::clearFrame() {
  width_ = height_ = 0;
  pixels_.clear();
  elapsedMs_ = 0;
  updateText();
  ::InvalidateRect(hwnd_, nullptr, FALSE);
}

void CVideoPreviewView::updateText() {
  base::string16 text;
  if (live_ && width_ > 0) {
    text = frameSizeText(width_, height_);
  }
  if (recording_) text += (text.empty() ? u"" : u" ") + recordingTimeText(elapsedMs_);
  ::SetWindowTextW(hwnd_, w(text));
}

void CVideoPreviewView::paint(HDC dc, const RECT& area) {
  ::FillRect(dc, &area, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
  const bool picture = live_ && width_ > 0 && !pixels_.empty();
  if (picture) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width_;
    info.bmiHeader.biHeight = -height_;  // rows top to bottom
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    ::SetStretchBltMode(dc, HALFTONE);
    ::SetBrushOrgEx(dc, 0, 0, nullptr);
    ::StretchDIBits(dc, 0, 0, area.right, area.bottom, 0, 0, width_, height_, pixels_.data(), &info, DIB_RGB_COLORS,
                    SRCCOPY);
    // The size box.
    infoBack_.draw(dc, 10, 10);
    RECT box = {17, 10, 10 + infoBack_.width(), 10 + infoBack_.height()};
    drawText(dc, frameSizeText(width_, height_), box, skin::font(L"Arial", 11), RGB(255, 255, 255),
             DT_LEFT | DT_VCENTER | DT_SINGLELINE);
  } else {
    splash_.draw(dc, 0, 0, area.right, area.bottom);
    const int language = interfaceLanguage();
    HFONT font = skin::font(language == kLanguageChinese ? L"SimSun" : L"Arial", 18);
    RECT line = {0, 280, area.right, 280 + 25};
    drawText(dc, loadString(kIdsSplash), line, font, kSplashTextColour, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  }
  if (recording_) {
    const int x = 345, y = 10, boxWidth = 75, boxHeight = 21;
    infoBack_.draw(dc, x, y, boxWidth, boxHeight);
    indicator_.draw(dc, x + 7, y + (boxHeight - 9) / 2, 9, 9);
    RECT text = {x + 21, y, x + boxWidth, y + boxHeight};
    drawText(dc, recordingTimeText(elapsedMs_), text, skin::font(L"Arial", 11), RGB(255, 255, 255),
             DT_LEFT | DT_VCENTER | DT_SINGLELINE);
  }
}

// --- CWebcamView -----------------------------------------------------------

CWebcamView::CWebcamView(std::function<void(CMainFrame::UiEvent)> signal, std::function<void()> firstRunTip)
    : signal_(std::move(signal)), firstRunTip_(std::move(firstRunTip)) {}

CWebcamView::~CWebcamView() {
  if (hwnd_) ::DestroyWindow(hwnd_);
}

bool CWebcamView::create(HINSTANCE resources, HWND parent, int x, int y, bool firstRunTip) {
  skin::registerClasses();
  CVideoPreviewView::registerClass();
  wantTip_ = firstRunTip;
  hwnd_ = ::CreateDialogParamW(resources, MAKEINTRESOURCEW(kTemplateId), parent, dialogProc,
                               reinterpret_cast<LPARAM>(this));
  if (!hwnd_) {
    LOG(ERROR) << "The main view (template " << kTemplateId << ") could not be created: " << ::GetLastError();
    return false;
  }
  ::SetWindowPos(hwnd_, nullptr, x, y, kWidth, kHeight, SWP_NOZORDER | SWP_NOACTIVATE);
  ::ShowWindow(hwnd_, SW_SHOW);
  return true;
}

INT_PTR CALLBACK CWebcamView::dialogProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  auto* self = skin::dialogOwner<CWebcamView>(hwnd, msg, lparam);
  if (!self) return FALSE;
  if (msg == WM_INITDIALOG) self->hwnd_ = hwnd;
  return self->handle(msg, wparam, lparam);
}

skin::CButtonControl* CWebcamView::button(int id) const {
  HWND control = ::GetDlgItem(hwnd_, id);
  return control ? skin::CButtonControl::from(control) : nullptr;
}

CVideoPreviewView* CWebcamView::preview() const {
  HWND control = ::GetDlgItem(hwnd_, kIdPreview);
  return control ? CVideoPreviewView::from(control) : nullptr;
}

void CWebcamView::layout() {
  for (const Place& place : kLayout) {
    if (HWND control = ::GetDlgItem(hwnd_, place.id)) {
      ::SetWindowPos(control, nullptr, place.x, place.y, place.width, place.height, SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  // The strips are painted by the view itself; their controls only hold
  // the places.
  for (int id : {kIdCaption, kIdBottomBar}) {
    if (HWND control = ::GetDlgItem(hwnd_, id)) ::ShowWindow(control, SW_HIDE);
  }
  struct Skin {
    int id;
    const char16_t* stem;
    const char16_t* suffix;
    uint32_t tip;
  };
  const Skin skins[] = {
      {kIdSnapshot, u"SnapshotButton", u"", kIdsSnapshot},
      {kIdRecord, u"VideoButton", u"", kIdsStartRecording},
      {kIdSettings, u"SettingsButton", u"R", kIdsSettings},
      {kIdPicturesFolder, u"SnapshotFolderButton", u"", kIdsPicturesFolder},
      {kIdVideosFolder, u"VideoFolderButton", u"", kIdsVideosFolder},
      {kIdMinimize, u"AppMinimizeButton", u"", kIdsMinimize},
      {kIdAbout, u"AppInfoButton", u"", kIdsAbout},
      {kIdClose, u"AppCloseButton", u"", kIdsClose},
  };
  for (const Skin& s : skins) {
    skin::CButtonControl* b = button(s.id);
    if (!b) {
      LOG(ERROR) << "The main view lacks the button " << s.id;
      continue;
    }
    const base::string16 stem = s.stem;
    b->setImages(stem + u"Disabled.png", stem + u"Normal" + s.suffix + u".png", stem + u"Over" + s.suffix + u".png",
                 stem + u"Pressed" + s.suffix + u".png");
    b->setTooltip(loadString(s.tip));
  }
}

INT_PTR CWebcamView::handle(UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_INITDIALOG:
      layout();
      setConnected(false);
      if (wantTip_) ::PostMessageW(hwnd_, kMsgFirstRunTip, 0, 0);
      return FALSE;
    case WM_COMMAND:
      if (HIWORD(wparam) == BN_CLICKED) onCommand(LOWORD(wparam));
      return TRUE;
    case WM_ERASEBKGND:
    case skin::kMsgPaintBackground:
      paintBackground(reinterpret_cast<HDC>(wparam));
      ::SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, 1);
      return TRUE;
    case WM_LBUTTONDOWN:
      // The caption strip moves the window.
      if (static_cast<short>(HIWORD(lparam)) < kCaptionHeight) {
        ::ReleaseCapture();
        ::SendMessageW(::GetParent(hwnd_), WM_NCLBUTTONDOWN, HTCAPTION, 0);
      }
      return TRUE;
    case kMsgFrameReady:
      takeFrame();
      return TRUE;
    case kMsgFirstRunTip:
      if (firstRunTip_) firstRunTip_();
      return TRUE;
    case WM_NCDESTROY:
      hwnd_ = nullptr;
      return FALSE;
    default:
      break;
  }
  return FALSE;
}

void CWebcamView::paintBackground(HDC dc) {
  RECT client;
  ::GetClientRect(hwnd_, &client);
  HBRUSH dark = ::CreateSolidBrush(RGB(26, 30, 37));
  ::FillRect(dc, &client, dark);
  ::DeleteObject(dark);
  caption_.draw(dc, 0, 0);
  bottomBar_.draw(dc, 0, kBarTop);
}

void CWebcamView::onCommand(int id) {
  using E = CMainFrame::UiEvent;
  switch (id) {
    case kIdSnapshot:
      signal_(E::kMakeSnapshot);
      break;
    case kIdRecord: {
      // The button latches at once; the controller confirms or undoes it.
      skin::CButtonControl* record = button(kIdRecord);
      const bool wasLatched = record && record->latched();
      if (record) {
        record->setLatched(!wasLatched);
        record->setTooltip(loadString(wasLatched ? kIdsStartRecording : kIdsStopRecording));
      }
      signal_(wasLatched ? E::kStopVideoRecording : E::kStartVideoRecording);
      break;
    }
    case kIdSettings:
      signal_(E::kOpenSettings);
      break;
    case kIdPicturesFolder:
      signal_(E::kOpenSnapshotFolder);
      break;
    case kIdVideosFolder:
      signal_(E::kOpenVideoFolder);
      break;
    case kIdMinimize:
      signal_(E::kMinimizeWindow);
      break;
    case kIdClose:
      signal_(E::kCloseWindow);
      break;
    case kIdAbout:
      signal_(E::kOpenAbout);
      break;
    default:
      break;
  }
}

void CWebcamView::setConnected(bool connected) {
  connected_ = connected;
  for (int id : {kIdSnapshot, kIdRecord}) {
    if (HWND control = ::GetDlgItem(hwnd_, id)) ::EnableWindow(control, connected ? TRUE : FALSE);
  }
  CVideoPreviewView* view = preview();
  if (!view) return;
  if (!connected) {
    view->clearFrame();
    setRecording(false);
  }
  view->setLive(connected);
}

void CWebcamView::setRecording(bool recording) {
  if (skin::CButtonControl* record = button(kIdRecord)) {
    record->setLatched(recording);
    record->setTooltip(loadString(recording ? kIdsStopRecording : kIdsStartRecording));
  }
  if (CVideoPreviewView* view = preview()) view->setRecording(recording);
}

void CWebcamView::setRecordingTime(uint32_t elapsedMs) {
  if (CVideoPreviewView* view = preview()) view->setRecordingTime(elapsedMs);
}

void CWebcamView::OnVideoFrame(component::VideoComponent* component, const component::VideoFrame& frame) {
  bool post = false;
  {
    std::lock_guard<std::mutex> hold(frameLock_);
    if (!previewRows(frame, &pendingPixels_)) return;
    pendingWidth_ = frame.width;
    pendingHeight_ = frame.height;
    // One message at a time: a frame that comes before the last was shown
    // replaces it.
    post = !framePending_;
    framePending_ = true;
  }
  HWND view = hwnd_;
  if (post && view) ::PostMessageW(view, kMsgFrameReady, 0, 0);
}

void CWebcamView::takeFrame() {
  int width, height;
  std::vector<uint8_t> pixels;
  {
    std::lock_guard<std::mutex> hold(frameLock_);
    framePending_ = false;
    width = pendingWidth_;
    height = pendingHeight_;
    pixels.swap(pendingPixels_);
  }
  // A frame that overtook the phone's departure is not shown.
  if (!connected_ || pixels.empty()) return;
  if (CVideoPreviewView* view = preview()) view->setFrame(width, height, std::move(pixels));
}
