// What identifies this program: product name, version, the application id
// the phone must present, the instance name and the registry key.
#ifndef WEBCAMWIN_APP_INFO_H_
#define WEBCAMWIN_APP_INFO_H_

#include <cstdint>

#include "WebcamWin/app/version.h"

constexpr char16_t kProductName[] = u"Lumora ZuvIridar for iPhone";

// Written to the `Version` setting and announced in the handshake.
constexpr char kProgramVersion[] = QL_VERSION_TEXT;
constexpr int kVersionMajor = QL_VERSION_MAJOR;
constexpr int kVersionMinor = QL_VERSION_MINOR;
constexpr int kVersionPatch = QL_VERSION_PATCH;
constexpr uint32_t kApplicationId = 12000;

// The single-instance mutex and the window class of the main window.
constexpr char16_t kInstanceName[] = u"com.quillonlabs.zuviridar_iphone";

// Below HKEY_CURRENT_USER.
constexpr char16_t kAppRegistryKey[] = u"Software\\Quillon Labs\\Lumora ZuvIridar for iPhone";

// The first parameter of the close message sent by "server -exit": the main
// window closes without asking anything.
constexpr uintptr_t kCloseWithoutQuestion = 0x12345678;

// Show commands (the Windows SW_* numbers).
constexpr int kShowHide = 0;
constexpr int kShowNormal = 1;
constexpr int kShowMinimize = 6;

// String resources the shell uses.
constexpr uint32_t kIdsMainTitle = 128;

#endif  // WEBCAMWIN_APP_INFO_H_
