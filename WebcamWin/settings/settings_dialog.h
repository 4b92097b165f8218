// What the settings dialog needs from the controller and the rules it
// applies when it closes, kept apart from the window so both builds share
// them: the port field's check, the run-at-logon entry and the three boxes
// that are stored whichever button closed the dialog.
//
// Thread: the user-interface thread.
#ifndef WEBCAMWIN_SETTINGS_DIALOG_H_
#define WEBCAMWIN_SETTINGS_DIALOG_H_

#include <cstdint>

#include "base/string_util.h"

struct SettingsDialogState {
  // In: the `Port` setting. Out (OK): the port the user typed (0: the
  // system picks one).
  uint32_t port = 0;
  // The port in use as text when `Port` is 0 (the field shows it then).
  base::string16 portInUse;
  // The DNS-SD name to show; empty until the publication is confirmed (the
  // dialog shows the host name then); "Not registered" without one.
  base::string16 pcName;
};

// The text of the "PC name" field when nothing was ever published.
constexpr char16_t kNotRegistered[] = u"Not registered";

// Below HKEY_CURRENT_USER: the programs started at logon.
constexpr char16_t kRunKey[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

// The port field: at most its first 20 characters count; empty is 0;
// otherwise a whole unsigned decimal number below 65536. False (and `port`
// untouched) for anything else.
bool parsePortField(const base::string16& text, uint32_t* port);

// Writes (on) or removes (off) the value "Lumora ZuvIridar for iPhone" under
// the Run key: `program` followed by " -minimize". Nothing when the key
// cannot be opened. False when the change failed.
bool writeRunEntry(bool on, const base::string16& program);

// Closing the dialog with OK or Cancel: "Start with Windows" (and with it the
// run entry for this program), notifications and mirror go to the settings.
void storeSettingsBoxes(bool runOnStartup, bool showNotifications, bool mirrorImage);

#endif  // WEBCAMWIN_SETTINGS_DIALOG_H_
