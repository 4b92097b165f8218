#include "WebcamWin/platform/resource_library.h"

#include <gtest/gtest.h>

#include "base/file_util.h"

#ifdef _WIN32
#include <windows.h>

#include <vector>

#include "WebcamWin/ui/skin_win.h"
#endif

namespace {

// The test programs sit in tests/, the programs and the library in bin/.
base::string16 builtLibrary() {
  const base::string16 name = base::baseName(ResourceLibrary::defaultPath());
  return base::joinPath(base::joinPath(base::dirName(base::executableDirectory()), u"bin"), name);
}

TEST(ResourceLibraryTest, HoldsTheProgramsStringTable) {
  ResourceLibrary library;
  ASSERT_TRUE(library.load(builtLibrary()));
  EXPECT_EQ(u"Lumora ZuvIridar for iPhone", library.string(128));
  EXPECT_EQ(u"'%s' is now connected via WiFi.", library.string(50027));
  const base::string16 update = library.string(50033);
  EXPECT_EQ(0u, update.find(u"Lumora ZuvIridar version %s now available for download.\n\n"));
  EXPECT_NE(base::string16::npos, update.find(u"\n\nWould you like to download the latest version now?"));
  EXPECT_TRUE(library.string(1).empty());
  EXPECT_NE(nullptr, library.nativeHandle());
  // The effects dialog's hint.
  EXPECT_EQ(u"Use Add/Remove buttons to manage effects. Up/Down buttons to change effect order",
            library.string(50039));
  // Quotes inside a text come through both compilers whole.
  EXPECT_EQ(u"Unknown device is attempting to connect to \"Lumora ZuvIridar for iPhone\" on this computer.",
            library.string(50011));
}

#ifdef _WIN32
INT_PTR CALLBACK plainDialog(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG; }

// Every dialog the window opens, and the effects dialog only declared so
// far, is in the library and opens with the controls the program places.
TEST(ResourceLibraryTest, HoldsTheDialogsAndTheTrayMenu) {
  ResourceLibrary library;
  ASSERT_TRUE(library.load(builtLibrary()));
  HINSTANCE module = static_cast<HINSTANCE>(library.nativeHandle());
  skin::registerClasses();
  struct Template {
    int id;
    std::vector<int> controls;
  };
  const Template templates[] = {
      {1100, {1101, 1102, 1103, 1104, 1111, 1113, 1115, 1121, 1123, 1131, 1133, 1140, 1150, IDOK, IDCANCEL}},
      {1200, {1201, 1202, 1203, 1204, 1205, 1206, 1207}},
      {1400, {1402, 1403, 1404, 1405, 1406, 1023}},
      {1500, {1501, 1502, IDYES, IDNO}},
      {1600, {1601, 1602, 1603, IDOK}},
      {1700, {1701, 1702, 1703, IDOK}},
      // A tree of all effects, the list of chosen ones, add, remove, up,
      // down, the information box and the hint.
      {1800, {1801, 1802, 1803, 1804, 1805, 1806, 1807, 1808}},
  };
  for (const Template& t : templates) {
    HWND dialog = ::CreateDialogParamW(module, MAKEINTRESOURCEW(t.id), nullptr, plainDialog, 0);
    ASSERT_NE(nullptr, dialog) << t.id;
    for (int control : t.controls) EXPECT_NE(nullptr, ::GetDlgItem(dialog, control)) << t.id << " " << control;
    if (t.id == 1100) {
      wchar_t label[64] = {};
      ::GetDlgItemTextW(dialog, 1120, label, 64);
      EXPECT_STREQ(L"Pictures directory:", label);
      ::GetDlgItemTextW(dialog, 1122, label, 64);
      EXPECT_STREQ(L"Videos directory:", label);
    }
    ::DestroyWindow(dialog);
  }
  HMENU menu = ::LoadMenuW(module, MAKEINTRESOURCEW(20000));
  ASSERT_NE(nullptr, menu);
  HMENU tray = ::GetSubMenu(menu, 0);
  std::vector<UINT> ids;
  for (int i = 0; i < ::GetMenuItemCount(tray); ++i) {
    const UINT id = ::GetMenuItemID(tray, i);
    if (id != 0 && id != static_cast<UINT>(-1)) ids.push_back(id);
  }
  EXPECT_EQ((std::vector<UINT>{20001, 20007, 20004, 20005, 20006}), ids);
  ::DestroyMenu(menu);
}
#endif

TEST(ResourceLibraryTest, CurrentLibraryServesLoadString) {
  EXPECT_EQ(nullptr, ResourceLibrary::current());
  EXPECT_TRUE(loadString(128).empty());
  {
    ResourceLibrary library;
    ASSERT_TRUE(library.load(builtLibrary()));
    ResourceLibrary::setCurrent(&library);
    EXPECT_EQ(u"Lumora ZuvIridar is running", loadString(50029));
  }
  // A library going away stops being the current one.
  EXPECT_EQ(nullptr, ResourceLibrary::current());
}

TEST(ResourceLibraryTest, MissingOrForeignFilesAreRefused) {
  ResourceLibrary library;
  EXPECT_FALSE(library.load(base::joinPath(base::executableDirectory(), u"no-such-lang.lib")));
  EXPECT_FALSE(library.loaded());
  EXPECT_TRUE(library.string(128).empty());
}

}  // namespace
