#include "WebcamWin/settings/settings.h"

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/platform/desktop.h"
#include "base/logging.h"
#include "base/reg_key.h"

namespace {

constexpr char16_t kLegacyFolder[] = u"LumoraFolder";
constexpr char16_t kPicturesFolder[] = u"PicturesFolder";
constexpr char16_t kMoviesFolder[] = u"MoviesFolder";
// Spelled as the first versions stored them.
constexpr char16_t kPromptIfConnected[] = u"PromtOnExitIfConnected";
constexpr char16_t kPromptIfRecording[] = u"PromtOnExitIfRecording";
constexpr char16_t kPromptOnExit[] = u"PromptOnExit";
constexpr char16_t kPort[] = u"Port";
constexpr char16_t kRunOnStartup[] = u"RunOnStartup";
constexpr char16_t kFirstRunTipShow[] = u"FirstRunTipShow";
constexpr char16_t kShowNotifications[] = u"ShowNotifications";
constexpr char16_t kMirrorImage[] = u"MirrorImage";
constexpr char16_t kLastUpdateCheckTime[] = u"LastUpdateCheckTime";
constexpr char16_t kVersion[] = u"Version";
constexpr char16_t kSendErrorReports[] = u"SendErrorReports";
constexpr char16_t kCameraSize[] = u"CameraSize";
constexpr char16_t kLinuxCamera[] = u"LinuxCamera";
constexpr char16_t kV4l2Device[] = u"V4l2Device";
constexpr char16_t kAcl[] = u"ACL";
constexpr char16_t kDeviceName[] = u"Name";
constexpr char16_t kDeviceStatus[] = u"Status";

constexpr size_t kMaxKeyNameChars = 255;

base::string16 defaultFolder(shell::Folder folder) {
  base::string16 path = shell::specialFolder(folder);
  if (path.empty()) path = shell::specialFolder(shell::Folder::kDocuments);
  return path;
}

base::string16 readString(const base::RegKey& key, const char16_t* name,
                          const base::string16& fallback) {
  base::string16 value;
  return key.readValue(name, &value) == base::kRegOk ? value : fallback;
}

uint32_t readDword(const base::RegKey& key, const char16_t* name, uint32_t fallback) {
  uint32_t value = 0;
  return key.readValueDW(name, &value) == base::kRegOk ? value : fallback;
}

bool openAppKey(base::RegKey* key) {
  if (key->create(base::RegRoot::kCurrentUser, kAppRegistryKey) == base::kRegOk) return true;
  LOG(ERROR) << "Can't open application registry key";
  return false;
}

}  // namespace

CSettings::CSettings() = default;

CSettings& CSettings::Instance() {
  static CSettings* settings = new CSettings();  // lives until the process ends
  return *settings;
}

bool CSettings::load() {
  base::RegKey key;
  if (!openAppKey(&key)) return false;
  legacyFolder_ = readString(key, kLegacyFolder, base::string16());
  if (key.readValue(kPicturesFolder, &picturesFolder_) != base::kRegOk)
    picturesFolder_ = defaultFolder(shell::Folder::kPictures);
  if (key.readValue(kMoviesFolder, &moviesFolder_) != base::kRegOk)
    moviesFolder_ = defaultFolder(shell::Folder::kVideos);
  promptOnExitIfConnected_ = readDword(key, kPromptIfConnected, 1);
  promptOnExitIfRecording_ = readDword(key, kPromptIfRecording, 1);
  promptOnExit_ = readDword(key, kPromptOnExit, 1);
  port_ = readDword(key, kPort, 0);
  runOnStartup_ = readDword(key, kRunOnStartup, 0);
  firstRunTipShow_ = readDword(key, kFirstRunTipShow, 1);
  showNotifications_ = readDword(key, kShowNotifications, 1);
  mirrorImage_ = readDword(key, kMirrorImage, 0);
  sendErrorReports_ = readDword(key, kSendErrorReports, 0);
  uint64_t time = 0;
  lastUpdateCheckTime_ = key.readValueQW(kLastUpdateCheckTime, &time) == base::kRegOk ? time : 0;
  version_ = readString(key, kVersion, base::string16());
  cameraSize_ = readString(key, kCameraSize, u"640x480");
  linuxCamera_ = readString(key, kLinuxCamera, u"both");
  v4l2Device_ = readString(key, kV4l2Device, base::string16());
  loadAccessList();
  return true;
}

void CSettings::loadAccessList() {
  accessList_.clear();
  base::RegKey app, acl;
  if (app.open(base::RegRoot::kCurrentUser, kAppRegistryKey) != base::kRegOk ||
      app.openSubkey(kAcl, &acl) != base::kRegOk) {
    return;
  }
  for (const base::string16& keyName : acl.subkeyNames()) {
    base::RegKey entry;
    Device device;
    base::string16 uid;
    if (!deviceIdFromKeyName(keyName, &uid)) {
      LOG(WARNING) << "Skipped the access list entry " << keyName << ": not a device id";
      continue;
    }
    if (acl.openSubkey(keyName, &entry) != base::kRegOk ||
        entry.readValue(kDeviceName, &device.name) != base::kRegOk ||
        entry.readValueDW(kDeviceStatus, &device.status) != base::kRegOk) {
      LOG(WARNING) << "Skipped the access list entry " << uid << ": its values can't be read";
      continue;
    }
    accessList_.emplace(uid, device);
  }
}

void CSettings::setCameraSize(const base::string16& size) {
  if (size == cameraSize_) return;
  cameraSize_ = size;
  cameraChanged_ = true;
}

void CSettings::setLinuxCamera(const base::string16& outputs) {
  if (outputs == linuxCamera_) return;
  linuxCamera_ = outputs;
  cameraChanged_ = true;
}

bool CSettings::save() {
  // One rewrite of the Linux hive file for the whole save.
  base::RegWriteGroup group(base::RegRoot::kCurrentUser);
  base::RegKey key;
  if (!openAppKey(&key)) return false;
  bool ok = true;
  ok &= key.writeValue(kMoviesFolder, moviesFolder_) == base::kRegOk;
  ok &= key.writeValue(kPicturesFolder, picturesFolder_) == base::kRegOk;
  ok &= key.writeValueDW(kPromptIfConnected, promptOnExitIfConnected_) == base::kRegOk;
  ok &= key.writeValueDW(kPromptIfRecording, promptOnExitIfRecording_) == base::kRegOk;
  ok &= key.writeValueDW(kPromptOnExit, promptOnExit_) == base::kRegOk;
  ok &= key.writeValueDW(kPort, port_) == base::kRegOk;
  ok &= key.writeValueDW(kRunOnStartup, runOnStartup_) == base::kRegOk;
  ok &= key.writeValueDW(kFirstRunTipShow, firstRunTipShow_) == base::kRegOk;
  ok &= key.writeValueDW(kShowNotifications, showNotifications_) == base::kRegOk;
  ok &= key.writeValueDW(kMirrorImage, mirrorImage_) == base::kRegOk;
  ok &= key.writeValueQW(kLastUpdateCheckTime, lastUpdateCheckTime_) == base::kRegOk;
  if (cameraChanged_) {
    ok &= key.writeValue(kCameraSize, cameraSize_) == base::kRegOk;
    ok &= key.writeValue(kLinuxCamera, linuxCamera_) == base::kRegOk;
  }
  ok &= saveAccessList();
  ok &= key.writeValue(kVersion, version_) == base::kRegOk;
  ok &= group.commit();
  ok &= key.flush() == base::kRegOk;
  if (!ok) LOG(ERROR) << "Not every setting could be saved";
  return ok;
}

bool CSettings::saveAccessList() {
  base::RegKey app, acl;
  if (app.open(base::RegRoot::kCurrentUser, kAppRegistryKey) != base::kRegOk) return false;
  const int32_t deleted = app.deleteSubtree(kAcl);
  bool ok = deleted == base::kRegOk || deleted == base::kRegNotFound;
  if (app.createSubkey(kAcl, &acl) != base::kRegOk) return false;
  for (const auto& item : accessList_) {
    if (!storableDeviceId(item.first)) {
      LOG(WARNING) << "The device id \"" << item.first
                   << "\" is too long to name a registry key; it is kept for this run only";
      continue;
    }
    base::RegKey entry;
    // Escaped, the name holds no separator: the entry stays one key below
    // "ACL", whatever the phone sent.
    if (acl.createSubkey(deviceKeyName(item.first), &entry) != base::kRegOk) {
      ok = false;
      continue;
    }
    ok &= entry.writeValue(kDeviceName, item.second.name) == base::kRegOk;
    ok &= entry.writeValueDW(kDeviceStatus, item.second.status) == base::kRegOk;
  }
  return ok;
}

bool CSettings::findDevice(const base::string16& uid, uint32_t* status) const {
  const auto it = accessList_.find(uid);
  if (it == accessList_.end()) return false;
  if (status) *status = it->second.status;
  return true;
}

void CSettings::addDevice(const base::string16& uid, const base::string16& name,
                          uint32_t status) {
  accessList_.emplace(uid, Device{name, status});
}

void CSettings::removeDevice(const base::string16& uid) { accessList_.erase(uid); }

namespace {

constexpr char16_t kEscape = u'%';
constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";

// Characters that cannot stand in a key name as they are: the path
// separator, control characters, and the escape character itself.
bool needsEscape(char16_t c) { return c == u'\\' || c < 0x20 || c == 0x7F || c == kEscape; }

int hexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

}  // namespace

base::string16 CSettings::deviceKeyName(const base::string16& uid) {
  // Only a leading '%' marks an escaped name, so '%' elsewhere is plain.
  bool plain = !uid.empty() && uid[0] != kEscape;
  for (char16_t c : uid) plain = plain && (c == kEscape || !needsEscape(c));
  if (plain) return uid;
  base::string16 name(1, kEscape);
  for (char16_t c : uid) {
    if (!needsEscape(c)) {
      name += c;
      continue;
    }
    name += kEscape;
    for (int shift = 12; shift >= 0; shift -= 4) name += kHexDigits[(c >> shift) & 0xF];
  }
  return name;
}

bool CSettings::deviceIdFromKeyName(const base::string16& name, base::string16* uid) {
  if (name.empty()) return false;
  if (name[0] != kEscape) {
    *uid = name;
    return true;
  }
  base::string16 out;
  for (size_t i = 1; i < name.size(); ++i) {
    if (name[i] != kEscape) {
      out += name[i];
      continue;
    }
    if (name.size() - i < 5) return false;
    int value = 0;
    for (size_t k = i + 1; k <= i + 4; ++k) {
      const int digit = hexValue(name[k]);
      if (digit < 0) return false;
      value = value * 16 + digit;
    }
    out += static_cast<char16_t>(value);
    i += 4;
  }
  *uid = out;
  return true;
}

bool CSettings::storableDeviceId(const base::string16& uid) {
  return deviceKeyName(uid).size() <= kMaxKeyNameChars;
}
