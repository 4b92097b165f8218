#include "WebcamWin/ui/skin_win.h"

#include <objbase.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <commctrl.h>
#include <gdiplus.h>

#include <cstring>
#include <map>
#include <string>

#include "WebcamWin/platform/program_resource.h"
#include "base/logging.h"

namespace skin {

namespace gp = Gdiplus::DllExports;

namespace {

IStream* streamOver(const std::vector<uint8_t>& bytes) {
  HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  if (!block) return nullptr;
  void* target = ::GlobalLock(block);
  if (!target) {
    ::GlobalFree(block);
    return nullptr;
  }
  std::memcpy(target, bytes.data(), bytes.size());
  ::GlobalUnlock(block);
  IStream* stream = nullptr;
  if (FAILED(::CreateStreamOnHGlobal(block, TRUE, &stream))) {
    ::GlobalFree(block);
    return nullptr;
  }
  return stream;
}

}  // namespace

Image::Image(const base::string16& resourceName) {
  const std::vector<uint8_t> bytes = loadProgramResource(resourceName);
  if (bytes.empty()) {
    LOG(ERROR) << "No picture " << resourceName << " in the program";
    return;
  }
  IStream* stream = streamOver(bytes);
  if (!stream) return;
  Gdiplus::GpBitmap* loaded = nullptr;
  const Gdiplus::Status status = gp::GdipCreateBitmapFromStream(stream, &loaded);
  if (status == Gdiplus::Ok && loaded) {
    // A copy that no longer needs the stream.
    UINT w = 0, h = 0;
    gp::GdipGetImageWidth(loaded, &w);
    gp::GdipGetImageHeight(loaded, &h);
    Gdiplus::GpBitmap* copy = nullptr;
    if (gp::GdipCloneBitmapAreaI(0, 0, w, h, PixelFormat32bppPARGB, loaded, &copy) == Gdiplus::Ok) {
      bitmap_ = copy;
      width_ = static_cast<int>(w);
      height_ = static_cast<int>(h);
    }
    gp::GdipDisposeImage(loaded);
  } else {
    LOG(ERROR) << "The picture " << resourceName << " could not be decoded: " << status;
  }
  stream->Release();
}

Image::~Image() {
  if (bitmap_) gp::GdipDisposeImage(static_cast<Gdiplus::GpBitmap*>(bitmap_));
}

void Image::draw(HDC dc, int x, int y, int w, int h) const {
  if (!bitmap_) return;
  Gdiplus::GpGraphics* graphics = nullptr;
  if (gp::GdipCreateFromHDC(dc, &graphics) != Gdiplus::Ok) return;
  gp::GdipSetInterpolationMode(graphics, Gdiplus::InterpolationModeHighQualityBicubic);
  gp::GdipSetPixelOffsetMode(graphics, Gdiplus::PixelOffsetModeHalf);
  gp::GdipDrawImageRectI(graphics, static_cast<Gdiplus::GpBitmap*>(bitmap_), x, y, w, h);
  gp::GdipDeleteGraphics(graphics);
}

void Image::drawPart(HDC dc, int x, int y, int sx, int sy, int w, int h) const {
  if (!bitmap_) return;
  Gdiplus::GpGraphics* graphics = nullptr;
  if (gp::GdipCreateFromHDC(dc, &graphics) != Gdiplus::Ok) return;
  gp::GdipDrawImageRectRectI(graphics, static_cast<Gdiplus::GpBitmap*>(bitmap_), x, y, w, h, sx, sy, w, h,
                             Gdiplus::UnitPixel, nullptr, nullptr, nullptr);
  gp::GdipDeleteGraphics(graphics);
}

HICON Image::makeIcon() const {
  if (!bitmap_) return nullptr;
  HICON icon = nullptr;
  gp::GdipCreateHICONFromBitmap(static_cast<Gdiplus::GpBitmap*>(bitmap_), &icon);
  return icon;
}

HFONT font(const wchar_t* face, int points, bool bold) {
  static std::map<std::wstring, HFONT> fonts;
  const std::wstring key = std::wstring(face) + L"/" + std::to_wstring(points) + (bold ? L"b" : L"");
  auto it = fonts.find(key);
  if (it != fonts.end()) return it->second;
  HDC screen = ::GetDC(nullptr);
  const int height = -::MulDiv(points, ::GetDeviceCaps(screen, LOGPIXELSY), 72);
  ::ReleaseDC(nullptr, screen);
  HFONT made = ::CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, face);
  fonts[key] = made;
  return made;
}

HFONT dialogFont() { return font(L"Tahoma", 9); }

void paintParentBackground(HWND child, HDC dc) {
  HWND parent = ::GetParent(child);
  RECT rect;
  ::GetWindowRect(child, &rect);
  ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  POINT old;
  ::OffsetViewportOrgEx(dc, -rect.left, -rect.top, &old);
  const LRESULT painted = ::SendMessageW(parent, kMsgPaintBackground, reinterpret_cast<WPARAM>(dc),
                                         reinterpret_cast<LPARAM>(child));
  ::SetViewportOrgEx(dc, old.x, old.y, nullptr);
  if (!painted) {
    RECT client;
    ::GetClientRect(child, &client);
    ::FillRect(dc, &client, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  }
}

// --- CButtonControl --------------------------------------------------------

void CButtonControl::registerClass() {
  static bool registered = false;
  if (registered) return;
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  // Global: dialogs of the resource library create these controls with
  // the library as their instance.
  wc.style = CS_DBLCLKS | CS_GLOBALCLASS;
  wc.lpfnWndProc = windowProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hCursor = ::LoadCursorW(nullptr, IDC_HAND);
  wc.lpszClassName = kClassName;
  ::RegisterClassExW(&wc);
  registered = true;
}

CButtonControl* CButtonControl::from(HWND button) {
  return reinterpret_cast<CButtonControl*>(::GetWindowLongPtrW(button, GWLP_USERDATA));
}

void CButtonControl::setImages(const base::string16& disabled, const base::string16& normal,
                               const base::string16& over, const base::string16& pressed) {
  dialogButton_ = false;
  images_[0] = std::make_unique<Image>(disabled);
  images_[1] = std::make_unique<Image>(normal);
  images_[2] = std::make_unique<Image>(over);
  images_[3] = std::make_unique<Image>(pressed);
  ::InvalidateRect(hwnd_, nullptr, FALSE);
}

void CButtonControl::setDialogImages(const base::string16& free, const base::string16& over,
                                     const base::string16& pressed, const base::string16& caption) {
  dialogButton_ = true;
  images_[0].reset();
  images_[1] = std::make_unique<Image>(free);
  images_[2] = std::make_unique<Image>(over);
  images_[3] = std::make_unique<Image>(pressed);
  caption_ = caption;
  ::SetWindowTextW(hwnd_, w(caption));
  ::InvalidateRect(hwnd_, nullptr, FALSE);
}

void CButtonControl::setTooltip(const base::string16& text) {
  ::SetWindowTextW(hwnd_, w(text));
  if (!tooltip_) {
    tooltip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, ::GetParent(hwnd_), nullptr,
                                 ::GetModuleHandleW(nullptr), nullptr);
    TOOLINFOW info = {};
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = ::GetParent(hwnd_);
    info.uId = reinterpret_cast<UINT_PTR>(hwnd_);
    info.lpszText = const_cast<wchar_t*>(w(text));
    ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
    return;
  }
  TOOLINFOW info = {};
  info.cbSize = TTTOOLINFOW_V2_SIZE;
  info.hwnd = ::GetParent(hwnd_);
  info.uId = reinterpret_cast<UINT_PTR>(hwnd_);
  info.lpszText = const_cast<wchar_t*>(w(text));
  ::SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
}

void CButtonControl::setLatched(bool latched) {
  if (latched_ == latched) return;
  latched_ = latched;
  // Also a window property: other programs (test drivers) read it.
  if (latched) ::SetPropW(hwnd_, L"QLLatched", reinterpret_cast<HANDLE>(1));
  else ::RemovePropW(hwnd_, L"QLLatched");
  ::InvalidateRect(hwnd_, nullptr, FALSE);
  ::UpdateWindow(hwnd_);
}

LRESULT CALLBACK CButtonControl::windowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  CButtonControl* self = from(hwnd);
  if (msg == WM_NCCREATE) {
    self = new CButtonControl;
    self->hwnd_ = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (!self) return ::DefWindowProcW(hwnd, msg, wparam, lparam);
  if (msg == WM_NCDESTROY) {
    if (self->tooltip_) ::DestroyWindow(self->tooltip_);
    ::RemovePropW(hwnd, L"QLLatched");
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    delete self;
    return ::DefWindowProcW(hwnd, msg, wparam, lparam);
  }
  return self->handle(msg, wparam, lparam);
}

LRESULT CButtonControl::handle(UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(hwnd_, &ps);
      RECT client;
      ::GetClientRect(hwnd_, &client);
      // Drawn off screen: the parent's background, then the picture.
      HDC memory = ::CreateCompatibleDC(dc);
      HBITMAP bitmap = ::CreateCompatibleBitmap(dc, client.right, client.bottom);
      HGDIOBJ old = ::SelectObject(memory, bitmap);
      paintParentBackground(hwnd_, memory);
      paint(memory);
      ::BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
      ::SelectObject(memory, old);
      ::DeleteObject(bitmap);
      ::DeleteDC(memory);
      ::EndPaint(hwnd_, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_ENABLE:
      // Repainted at once, like the latch: the picture must follow the
      // state even while the queue is busy.
      ::InvalidateRect(hwnd_, nullptr, FALSE);
      ::UpdateWindow(hwnd_);
      return 0;
    case WM_MOUSEMOVE:
      if (!hover_) {
        hover_ = true;
        TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, hwnd_, 0};
        ::TrackMouseEvent(&track);
        ::InvalidateRect(hwnd_, nullptr, FALSE);
      }
      return 0;
    case WM_MOUSELEAVE:
      hover_ = false;
      ::InvalidateRect(hwnd_, nullptr, FALSE);
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      down_ = true;
      ::SetCapture(hwnd_);
      ::InvalidateRect(hwnd_, nullptr, FALSE);
      return 0;
    case WM_LBUTTONUP: {
      const bool wasDown = down_;
      down_ = false;
      ::ReleaseCapture();
      ::InvalidateRect(hwnd_, nullptr, FALSE);
      RECT client;
      ::GetClientRect(hwnd_, &client);
      POINT at = {static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
      if (wasDown && ::PtInRect(&client, at)) click();
      return 0;
    }
    case BM_CLICK:
      click();
      return 0;
    case BM_GETSTATE:
      return latched_ ? BST_PUSHED : 0;
    case BM_SETSTATE:
      setLatched(wparam != 0);
      return 0;
    case WM_GETDLGCODE:
      return DLGC_BUTTON;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd_, msg, wparam, lparam);
}

void CButtonControl::click() {
  if (!::IsWindowEnabled(hwnd_)) return;
  ::SendMessageW(::GetParent(hwnd_), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(hwnd_), BN_CLICKED),
                 reinterpret_cast<LPARAM>(hwnd_));
}

void CButtonControl::paint(HDC dc) {
  RECT client;
  ::GetClientRect(hwnd_, &client);
  const bool enabled = ::IsWindowEnabled(hwnd_);
  int which = 1;
  if (!enabled) which = 0;
  else if (latched_ || (down_ && hover_)) which = 3;
  else if (hover_) which = 2;
  const Image* image = images_[which].get();
  if (!image || !image->valid()) image = images_[1].get();
  if (image) image->draw(dc, 0, 0, client.right, client.bottom);
  if (dialogButton_ && !caption_.empty()) {
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, enabled ? RGB(255, 255, 255) : RGB(200, 200, 200));
    HGDIOBJ old = ::SelectObject(dc, font(L"Tahoma", 9, true));
    RECT text = client;
    if (which == 3) ::OffsetRect(&text, 0, 1);
    ::DrawTextW(dc, w(caption_), -1, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    ::SelectObject(dc, old);
  }
}

void registerClasses() {
  CButtonControl::registerClass();
  // The dialogs' tabs and lists.
  static bool common = false;
  if (!common) {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    common = true;
  }
}

}  // namespace skin
