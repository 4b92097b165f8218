#include "WebcamWin/settings/settings_dialog.h"

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/settings/settings.h"
#include "base/file_util.h"
#include "base/logging.h"
#include "base/reg_key.h"

namespace {

constexpr size_t kPortFieldChars = 20;
constexpr uint32_t kPortLimit = 65536;

// The path of this program, as the system starts it.
base::string16 programPath() {
#ifdef _WIN32
  return base::joinPath(base::executableDirectory(), u"server.exe");
#else
  return base::joinPath(base::executableDirectory(), u"server");
#endif
}

}  // namespace

bool parsePortField(const base::string16& text, uint32_t* port) {
  const base::string16 field = text.substr(0, kPortFieldChars);
  if (field.empty()) {
    *port = 0;
    return true;
  }
  uint32_t value = 0;
  for (char16_t c : field) {
    if (c < u'0' || c > u'9') return false;
    value = value * 10 + static_cast<uint32_t>(c - u'0');
    if (value >= kPortLimit) return false;
  }
  *port = value;
  return true;
}

bool writeRunEntry(bool on, const base::string16& program) {
  base::RegKey key;
  if (key.open(base::RegRoot::kCurrentUser, kRunKey) != 0) {
    LOG(WARNING) << "Can't open the Run key; the start with Windows is left as it was";
    return false;
  }
  if (on) return key.writeValue(kProductName, program + u" -minimize") == 0;
  if (!key.hasValue(kProductName)) return true;
  return key.deleteValue(kProductName) == 0;
}

void storeSettingsBoxes(bool runOnStartup, bool showNotifications, bool mirrorImage) {
  CSettings& settings = CSettings::Instance();
  settings.setRunOnStartup(runOnStartup);
  writeRunEntry(runOnStartup, programPath());
  settings.setShowNotifications(showNotifications);
  settings.setMirrorImage(mirrorImage);
}
