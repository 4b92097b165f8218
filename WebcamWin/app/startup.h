// The rules of start-up that do not depend on the system: the command-line
// switches, the interface language, and the upgrade of settings written by
// versions up to 1.0.5. The start-up sequence itself is in server_main.h.
#ifndef WEBCAMWIN_STARTUP_H_
#define WEBCAMWIN_STARTUP_H_

#include <array>
#include <cstdint>
#include <set>

#include "base/string_util.h"

class CSettings;

// The command line cut at every ' ', '-' and '/' (runs of them count as one
// separator); every non-empty token once. A switch is present when its
// exact, case-sensitive text is in the set ("minimize", "-minimize" and
// "/minimize" all count; "Minimize" does not).
std::set<base::string16> parseSwitches(const base::string16& commandLine);

// Windows primary language identifiers.
constexpr int kLanguageEnglish = 9;
constexpr int kLanguageChinese = 4;

// The identifier for a `Language` value ("en", "nl", "fr", "de", "it", "sp",
// "cn", in any letter case); English for every other text.
int languageFromCode(const base::string16& code);
// Reads `Language` from the application key; logs "Can't open application
// registry key" and answers English when the key can't be opened.
int readInterfaceLanguage();
// The process-wide interface language (English until start-up sets it).
int interfaceLanguage();
void setInterfaceLanguage(int language);

// "a.b.c.d" (one to four decimal parts, missing ones 0). False for anything
// else.
bool parseVersion(const base::string16& text, std::array<uint32_t, 4>* parts);
// Settings of a version that is missing, unparsable or not greater than
// 1.0.5.65535 keep their media in the legacy folder.
bool isLegacyVersion(const base::string16& version);
// Copies a non-empty legacy folder into the picture and the video folder
// when the stored version is a legacy one. True when it did.
bool upgradeLegacySettings(CSettings* settings);

#endif  // WEBCAMWIN_STARTUP_H_
