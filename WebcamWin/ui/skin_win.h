// The skinned look of the Windows window and dialogs: pictures loaded from
// the program's raw-data resources with GDI+, the fonts, and CButtonControl,
// the image button every view and dialog uses (four pictures: disabled,
// normal, mouse over, pressed; or three for a dialog button, with a caption
// drawn over them). A button can be latched (it stays pressed).
//
// Thread: the user-interface thread.
#ifndef WEBCAMWIN_UI_SKIN_WIN_H_
#define WEBCAMWIN_UI_SKIN_WIN_H_

#include <windows.h>

#include <memory>
#include <vector>

#include "base/string_util.h"

namespace skin {

inline const wchar_t* w(const base::string16& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
inline const wchar_t* w(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }

// Asked of a skinned control's parent: paint your background into the DC
// (wparam), whose origin is the parent's client origin, behind the child
// (lparam). The parent answers 1 when it painted.
constexpr UINT kMsgPaintBackground = WM_APP + 40;

// The object a dialog procedure serves: handed in with WM_INITDIALOG (its
// lparam, kept in DWLP_USER) and read back for every later message; null
// for the messages before it.
template <typename T>
T* dialogOwner(HWND hwnd, UINT msg, LPARAM lparam) {
  if (msg == WM_INITDIALOG) ::SetWindowLongPtrW(hwnd, DWLP_USER, lparam);
  return reinterpret_cast<T*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
}

// A picture of the program's resources, drawn with its alpha channel.
class Image {
 public:
  Image() = default;
  explicit Image(const base::string16& resourceName);
  ~Image();
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;

  bool valid() const { return bitmap_ != nullptr; }
  int width() const { return width_; }
  int height() const { return height_; }
  // Drawn at (x, y) with its own size, or stretched to w by h.
  void draw(HDC dc, int x, int y) const { draw(dc, x, y, width_, height_); }
  void draw(HDC dc, int x, int y, int w, int h) const;
  // Only the part (sx, sy, w, h) of the picture, at (x, y).
  void drawPart(HDC dc, int x, int y, int sx, int sy, int w, int h) const;
  // An icon made of the picture (the caller destroys it); null on failure.
  HICON makeIcon() const;

 private:
  void* bitmap_ = nullptr;  // GpBitmap
  int width_ = 0;
  int height_ = 0;
};

// Fonts by face, size in points and weight; kept for the whole run.
HFONT font(const wchar_t* face, int points, bool bold = false);
// The dialogs' face (Tahoma) at its usual size.
HFONT dialogFont();

// Paints the parent's background behind `child` into `dc` (in the child's
// coordinates).
void paintParentBackground(HWND child, HDC dc);

class CButtonControl {
 public:
  // The window class of skinned buttons ("QLSkinButton"); dialog templates
  // may name it. Registered by registerClasses().
  static constexpr wchar_t kClassName[] = L"QLSkinButton";
  static void registerClass();

  // The button of window `button` (made by this class), or null.
  static CButtonControl* from(HWND button);

  // disabled, normal, over, pressed (resource file names).
  void setImages(const base::string16& disabled, const base::string16& normal, const base::string16& over,
                 const base::string16& pressed);
  // free, over, pressed, and a caption drawn over them.
  void setDialogImages(const base::string16& free, const base::string16& over, const base::string16& pressed,
                       const base::string16& caption);
  // The tooltip (also the window's text, which tests read).
  void setTooltip(const base::string16& text);
  void setLatched(bool latched);
  bool latched() const { return latched_; }
  HWND hwnd() const { return hwnd_; }

 private:
  static LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  LRESULT handle(UINT msg, WPARAM wparam, LPARAM lparam);
  void paint(HDC dc);
  void click();

  HWND hwnd_ = nullptr;
  HWND tooltip_ = nullptr;
  std::unique_ptr<Image> images_[4];  // disabled, normal, over, pressed
  bool dialogButton_ = false;
  base::string16 caption_;
  bool hover_ = false;
  bool down_ = false;
  bool latched_ = false;
};

// Registers the skinned window classes of this file (once).
void registerClasses();

}  // namespace skin

#endif  // WEBCAMWIN_UI_SKIN_WIN_H_
