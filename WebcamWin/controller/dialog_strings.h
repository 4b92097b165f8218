// The string ids of the dialogs' texts, shared by the Windows dialogs and
// the desktop ones on Linux; the texts are in the resource library.
#ifndef WEBCAMWIN_CONTROLLER_DIALOG_STRINGS_H_
#define WEBCAMWIN_CONTROLLER_DIALOG_STRINGS_H_

#include <cstdint>

constexpr uint32_t kIdsOnlineHelpAddress = 50010;
constexpr uint32_t kIdsQuestion = 50011;
constexpr uint32_t kIdsUniqueId = 50012;
constexpr uint32_t kIdsDeviceName = 50015;
constexpr uint32_t kIdsAllowQuestion = 50016;
constexpr uint32_t kIdsColumnName = 50019;
constexpr uint32_t kIdsColumnUid = 50020;
constexpr uint32_t kIdsColumnStatus = 50021;
constexpr uint32_t kIdsAclHint = 50023;
constexpr uint32_t kIdsOnlineHelp = 50026;
constexpr uint32_t kIdsCheckForUpdates = 50034;
constexpr uint32_t kIdsLastCheck = 50035;
constexpr uint32_t kIdsYes = 50046;
constexpr uint32_t kIdsNo = 50047;
constexpr uint32_t kIdsOk = 50048;
constexpr uint32_t kIdsDontAskAgain = 50054;
constexpr uint32_t kIdsChooseFolder = 50059;
constexpr uint32_t kIdsDeny = 50060;
constexpr uint32_t kIdsAllow = 50061;
constexpr uint32_t kIdsAllowAlways = 50062;
constexpr uint32_t kIdsConfirmDelete = 50066;
constexpr uint32_t kIdsBadPort = 50067;
constexpr uint32_t kIdsMicrophone = 50068;
constexpr uint32_t kIdsSpeakers = 50069;
constexpr uint32_t kIdsSystemDefault = 50070;
constexpr uint32_t kIdsPageGeneral = 50071;
constexpr uint32_t kIdsPageNetwork = 50072;
constexpr uint32_t kIdsPageFolders = 50073;
constexpr uint32_t kIdsPageAudio = 50074;
constexpr uint32_t kIdsCancel = 50076;
constexpr uint32_t kIdsAccessList = 50077;
constexpr uint32_t kIdsDelete = 50078;
constexpr uint32_t kIdsHelpButton = 50079;
constexpr uint32_t kIdsSupport = 50080;
constexpr uint32_t kIdsNever = 50081;

#endif  // WEBCAMWIN_CONTROLLER_DIALOG_STRINGS_H_
