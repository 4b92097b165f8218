// The persistent preferences of `server` and the access list of devices,
// kept under HKEY_CURRENT_USER\Software\Quillon Labs\Lumora ZuvIridar for
// iPhone. One object per process (Instance()), loaded at start-up, changed
// in memory by the controller and the dialogs and saved at fixed moments.
// User-interface thread only; no locking.
#ifndef WEBCAMWIN_SETTINGS_H_
#define WEBCAMWIN_SETTINGS_H_

#include <cstdint>
#include <map>

#include "base/string_util.h"

class CSettings {
 public:
  // One device of the access list: its name and status (1 = always allowed;
  // a listed device with 0 gets no answer at all).
  struct Device {
    base::string16 name;
    uint32_t status = 0;
  };
  // Ordered by unique id, compared case-sensitively.
  using AccessList = std::map<base::string16, Device>;

  // Before the first load every number is 0 and every string empty.
  CSettings();

  // The process-wide object, created on first use.
  static CSettings& Instance();

  // Opens (creating if needed) the application key and reads every value;
  // a value that is missing or of another type takes its default. False,
  // with nothing changed, when the key can't be opened.
  bool load();
  // Writes every value but the legacy folder, the access list from scratch,
  // and `Version`. Every write is tried; true only when all succeeded.
  bool save();

  // Media folders of versions up to 1.0.5 (read, never written).
  const base::string16& legacyFolder() const { return legacyFolder_; }
  const base::string16& picturesFolder() const { return picturesFolder_; }
  void setPicturesFolder(const base::string16& folder) { picturesFolder_ = folder; }
  const base::string16& moviesFolder() const { return moviesFolder_; }
  void setMoviesFolder(const base::string16& folder) { moviesFolder_ = folder; }

  bool promptOnExitIfConnected() const { return promptOnExitIfConnected_ != 0; }
  void setPromptOnExitIfConnected(bool on) { promptOnExitIfConnected_ = on ? 1 : 0; }
  bool promptOnExitIfRecording() const { return promptOnExitIfRecording_ != 0; }
  void setPromptOnExitIfRecording(bool on) { promptOnExitIfRecording_ = on ? 1 : 0; }
  bool promptOnExit() const { return promptOnExit_ != 0; }
  void setPromptOnExit(bool on) { promptOnExit_ = on ? 1 : 0; }

  // TCP port to listen on; 0 lets the system choose.
  uint32_t port() const { return port_; }
  void setPort(uint32_t port) { port_ = port; }

  bool runOnStartup() const { return runOnStartup_ != 0; }
  void setRunOnStartup(bool on) { runOnStartup_ = on ? 1 : 0; }
  bool firstRunTipShow() const { return firstRunTipShow_ != 0; }
  void setFirstRunTipShow(bool on) { firstRunTipShow_ = on ? 1 : 0; }
  bool showNotifications() const { return showNotifications_ != 0; }
  void setShowNotifications(bool on) { showNotifications_ = on ? 1 : 0; }
  bool mirrorImage() const { return mirrorImage_ != 0; }
  void setMirrorImage(bool on) { mirrorImage_ = on ? 1 : 0; }

  // Linux: whether an internal error sends its report without asking when
  // no terminal is there to ask. Set by hand (read, never written).
  bool sendErrorReports() const { return sendErrorReports_ != 0; }
  void setSendErrorReports(bool on) { sendErrorReports_ = on ? 1 : 0; }

  // Linux: the camera other programs open: its size ("640x480"), which
  // outputs run (pipewire, v4l2, both, off) and the v4l2loopback device
  // (empty: the first one found). Set by hand or by the desktop settings
  // dialog; saved only once a setter changed them, so a hand-written value
  // stays as it was written. Read at start.
  const base::string16& cameraSize() const { return cameraSize_; }
  const base::string16& linuxCamera() const { return linuxCamera_; }
  void setCameraSize(const base::string16& size);
  void setLinuxCamera(const base::string16& outputs);
  const base::string16& v4l2Device() const { return v4l2Device_; }

  // A Windows file time.
  uint64_t lastUpdateCheckTime() const { return lastUpdateCheckTime_; }
  void setLastUpdateCheckTime(uint64_t time) { lastUpdateCheckTime_ = time; }

  // The program version that last saved the settings.
  const base::string16& version() const { return version_; }
  void setVersion(const base::string16& version) { version_ = version; }

  // The access list.
  bool findDevice(const base::string16& uid, uint32_t* status) const;
  // Inserts the entry unless `uid` is listed already (that one is kept).
  void addDevice(const base::string16& uid, const base::string16& name, uint32_t status);
  void removeDevice(const base::string16& uid);
  const AccessList& accessList() const { return accessList_; }

  // The subkey name of a device below "ACL". An id that is not empty, holds
  // no backslash and no control character, and does not start with '%'
  // names its key as it is. Any other id is escaped: the name is '%'
  // followed by the id in which each backslash, control character and '%'
  // is written as '%' and four hexadecimal digits of the UTF-16 unit
  // ("a\b" -> "%a%005Cb", "" -> "%"). Reading a name that starts with '%'
  // undoes it; a malformed escape makes the entry unreadable.
  static base::string16 deviceKeyName(const base::string16& uid);
  static bool deviceIdFromKeyName(const base::string16& name, base::string16* uid);
  // Whether `uid`'s key name fits a registry key (at most 255 characters).
  // Other ids live in memory only and are asked about again after a restart.
  static bool storableDeviceId(const base::string16& uid);

 private:
  void loadAccessList();
  bool saveAccessList();

  base::string16 legacyFolder_;
  base::string16 moviesFolder_;
  base::string16 picturesFolder_;
  base::string16 version_;
  uint32_t promptOnExitIfConnected_ = 0;
  uint32_t promptOnExitIfRecording_ = 0;
  uint32_t promptOnExit_ = 0;
  uint32_t port_ = 0;
  uint32_t runOnStartup_ = 0;
  uint32_t firstRunTipShow_ = 0;
  uint32_t showNotifications_ = 0;
  uint32_t mirrorImage_ = 0;
  uint32_t sendErrorReports_ = 0;
  uint64_t lastUpdateCheckTime_ = 0;
  base::string16 cameraSize_;
  base::string16 linuxCamera_;
  bool cameraChanged_ = false;
  base::string16 v4l2Device_;
  AccessList accessList_;
};

#endif  // WEBCAMWIN_SETTINGS_H_
