#include "WebcamWin/settings/settings.h"

#include <gtest/gtest.h>

#include <iterator>

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/platform/desktop.h"
#include "base/reg_key.h"

namespace {

using base::RegKey;
using base::RegRoot;

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(base::beginRegistryOverrideForTesting()); }
  void TearDown() override { base::endRegistryOverrideForTesting(); }

  RegKey appKey() {
    RegKey key;
    EXPECT_EQ(base::kRegOk, key.create(RegRoot::kCurrentUser, kAppRegistryKey));
    return key;
  }
  uint32_t typeOf(const char16_t* name) {
    uint32_t type = base::kRegNone;
    std::string data;
    appKey().readRawValue(name, &type, &data);
    return type;
  }
};

base::string16 pictureDefault() {
  base::string16 path = shell::specialFolder(shell::Folder::kPictures);
  return path.empty() ? shell::specialFolder(shell::Folder::kDocuments) : path;
}

base::string16 videoDefault() {
  base::string16 path = shell::specialFolder(shell::Folder::kVideos);
  return path.empty() ? shell::specialFolder(shell::Folder::kDocuments) : path;
}

TEST_F(SettingsTest, EverythingIsZeroBeforeTheFirstLoad) {
  CSettings settings;
  EXPECT_FALSE(settings.promptOnExit());
  EXPECT_FALSE(settings.showNotifications());
  EXPECT_FALSE(settings.firstRunTipShow());
  EXPECT_EQ(0u, settings.port());
  EXPECT_TRUE(settings.picturesFolder().empty());
  EXPECT_TRUE(settings.version().empty());
}

TEST_F(SettingsTest, FreshUserGetsTheDefaultsAndTheKey) {
  CSettings settings;
  ASSERT_TRUE(settings.load());
  EXPECT_TRUE(settings.promptOnExitIfConnected());
  EXPECT_TRUE(settings.promptOnExitIfRecording());
  EXPECT_TRUE(settings.promptOnExit());
  EXPECT_TRUE(settings.showNotifications());
  EXPECT_TRUE(settings.firstRunTipShow());
  EXPECT_FALSE(settings.mirrorImage());
  EXPECT_FALSE(settings.runOnStartup());
  EXPECT_EQ(0u, settings.port());
  EXPECT_EQ(0u, settings.lastUpdateCheckTime());
  EXPECT_TRUE(settings.version().empty());
  EXPECT_TRUE(settings.legacyFolder().empty());
  EXPECT_TRUE(settings.accessList().empty());
  EXPECT_FALSE(settings.picturesFolder().empty());
  EXPECT_EQ(pictureDefault(), settings.picturesFolder());
  EXPECT_EQ(videoDefault(), settings.moviesFolder());

  // Loading made the application key.
  RegKey key;
  EXPECT_EQ(base::kRegOk, key.open(RegRoot::kCurrentUser, kAppRegistryKey));
}

TEST_F(SettingsTest, ValuesOfAnotherTypeReadAsTheirDefault) {
  RegKey key = appKey();
  ASSERT_EQ(base::kRegOk, key.writeValue(u"Port", u"8080"));
  ASSERT_EQ(base::kRegOk, key.writeValueQW(u"PromptOnExit", 0));
  ASSERT_EQ(base::kRegOk, key.writeValueDW(u"LastUpdateCheckTime", 5));
  ASSERT_EQ(base::kRegOk, key.writeValueDW(u"PicturesFolder", 5));
  ASSERT_EQ(base::kRegOk, key.writeValueDW(u"ShowNotifications", 0));
  ASSERT_EQ(base::kRegOk, key.writeRawValue(u"MoviesFolder", base::kRegExpandSz,
                                            std::string("%\0V\0%\0\0\0", 8)));
  CSettings settings;
  ASSERT_TRUE(settings.load());
  EXPECT_EQ(0u, settings.port());  // a port stored as text: the system picks one
  EXPECT_TRUE(settings.promptOnExit());
  EXPECT_EQ(0u, settings.lastUpdateCheckTime());
  EXPECT_EQ(pictureDefault(), settings.picturesFolder());
  EXPECT_FALSE(settings.showNotifications());
  EXPECT_EQ(u"%V%", settings.moviesFolder());  // not expanded

  // The next save stores each value with its proper type.
  ASSERT_TRUE(settings.save());
  EXPECT_EQ(base::kRegDword, typeOf(u"Port"));
  EXPECT_EQ(base::kRegDword, typeOf(u"PromptOnExit"));
  EXPECT_EQ(base::kRegQword, typeOf(u"LastUpdateCheckTime"));
  EXPECT_EQ(base::kRegSz, typeOf(u"PicturesFolder"));
  EXPECT_EQ(base::kRegSz, typeOf(u"MoviesFolder"));
}

TEST_F(SettingsTest, SaveAndLoadRoundTrip) {
  CSettings settings;
  ASSERT_TRUE(settings.load());
  settings.setPort(4567);
  settings.setMirrorImage(true);
  settings.setPromptOnExitIfConnected(false);
  settings.setRunOnStartup(true);
  settings.setLastUpdateCheckTime(0x01DA000012345678ull);
  settings.setPicturesFolder(u"P:\\Snaps \u00e9");
  settings.setVersion(u"2.2.0.0");
  ASSERT_TRUE(settings.save());

  CSettings again;
  ASSERT_TRUE(again.load());
  EXPECT_EQ(4567u, again.port());
  EXPECT_TRUE(again.mirrorImage());
  EXPECT_FALSE(again.promptOnExitIfConnected());
  EXPECT_TRUE(again.promptOnExitIfRecording());
  EXPECT_TRUE(again.runOnStartup());
  EXPECT_EQ(0x01DA000012345678ull, again.lastUpdateCheckTime());
  EXPECT_EQ(u"P:\\Snaps \u00e9", again.picturesFolder());
  EXPECT_EQ(u"2.2.0.0", again.version());
}

TEST_F(SettingsTest, LegacyFolderIsReadButNeverWritten) {
  CSettings fresh;
  ASSERT_TRUE(fresh.load());
  ASSERT_TRUE(fresh.save());
  EXPECT_FALSE(appKey().hasValue(u"LumoraFolder"));

  ASSERT_EQ(base::kRegOk, appKey().writeValue(u"LumoraFolder", u"C:\\Old"));
  CSettings settings;
  ASSERT_TRUE(settings.load());
  EXPECT_EQ(u"C:\\Old", settings.legacyFolder());
  ASSERT_TRUE(settings.save());
  base::string16 stored;
  EXPECT_EQ(base::kRegOk, appKey().readValue(u"LumoraFolder", &stored));
  EXPECT_EQ(u"C:\\Old", stored);
}

TEST_F(SettingsTest, AccessListRoundTripRewritesFromScratch) {
  // A leftover entry the list no longer has.
  RegKey stale;
  ASSERT_EQ(base::kRegOk, appKey().createSubkey(u"ACL\\gone", &stale));
  ASSERT_EQ(base::kRegOk, stale.writeValue(u"Name", u"old phone"));
  ASSERT_EQ(base::kRegOk, stale.writeValueDW(u"Status", 1));

  CSettings settings;
  ASSERT_TRUE(settings.load());
  EXPECT_TRUE(settings.findDevice(u"gone", nullptr));
  settings.removeDevice(u"gone");
  settings.addDevice(u"A1B2-C3", u"Ann\u2019s iPhone", 1);
  settings.addDevice(u"Z9", u"Denied", 0);
  settings.addDevice(u"A1B2-C3", u"Someone else", 0);  // listed already: kept as is
  ASSERT_TRUE(settings.save());

  CSettings again;
  ASSERT_TRUE(again.load());
  ASSERT_EQ(2u, again.accessList().size());
  uint32_t status = 99;
  EXPECT_TRUE(again.findDevice(u"A1B2-C3", &status));
  EXPECT_EQ(1u, status);
  EXPECT_EQ(u"Ann\u2019s iPhone", again.accessList().at(u"A1B2-C3").name);
  EXPECT_TRUE(again.findDevice(u"Z9", &status));
  EXPECT_EQ(0u, status);
  EXPECT_FALSE(again.findDevice(u"gone", &status));
  EXPECT_FALSE(again.findDevice(u"a1b2-c3", &status));  // in memory the case counts
}

TEST_F(SettingsTest, AccessListSkipsUnreadableEntriesAndMissingKey) {
  RegKey entry;
  ASSERT_EQ(base::kRegOk, appKey().createSubkey(u"ACL\\no-status", &entry));
  ASSERT_EQ(base::kRegOk, entry.writeValue(u"Name", u"x"));
  ASSERT_EQ(base::kRegOk, appKey().createSubkey(u"ACL\\text-status", &entry));
  ASSERT_EQ(base::kRegOk, entry.writeValue(u"Name", u"y"));
  ASSERT_EQ(base::kRegOk, entry.writeValue(u"Status", u"1"));
  ASSERT_EQ(base::kRegOk, appKey().createSubkey(u"ACL\\good", &entry));
  ASSERT_EQ(base::kRegOk, entry.writeValue(u"Name", u"z"));
  ASSERT_EQ(base::kRegOk, entry.writeValueDW(u"Status", 1));

  CSettings settings;
  ASSERT_TRUE(settings.load());
  ASSERT_EQ(1u, settings.accessList().size());
  EXPECT_TRUE(settings.findDevice(u"good", nullptr));

  // Without the ACL key the list is empty at the next load; saving makes it again.
  ASSERT_EQ(base::kRegOk, appKey().deleteSubtree(u"ACL"));
  ASSERT_TRUE(settings.load());
  EXPECT_TRUE(settings.accessList().empty());
  ASSERT_TRUE(settings.save());
  RegKey acl;
  EXPECT_EQ(base::kRegOk, appKey().openSubkey(u"ACL", &acl));
}

TEST_F(SettingsTest, IdsDifferingOnlyInCaseShareOneKey) {
  CSettings settings;
  ASSERT_TRUE(settings.load());
  settings.addDevice(u"phone-abc", u"first", 1);
  settings.addDevice(u"PHONE-ABC", u"second", 1);
  EXPECT_EQ(2u, settings.accessList().size());
  ASSERT_TRUE(settings.save());

  CSettings again;
  ASSERT_TRUE(again.load());
  EXPECT_EQ(1u, again.accessList().size());
}

TEST_F(SettingsTest, OddIdsAreStoredEscapedAndReadBackUnchanged) {
  // Plain ids name their key as they are; the rest is escaped.
  EXPECT_EQ(u"A1B2-C3.x y", CSettings::deviceKeyName(u"A1B2-C3.x y"));
  EXPECT_EQ(u"50%", CSettings::deviceKeyName(u"50%"));
  EXPECT_EQ(u"%", CSettings::deviceKeyName(u""));
  EXPECT_EQ(u"%a%005Cb", CSettings::deviceKeyName(u"a\\b"));
  EXPECT_EQ(u"%%0025x", CSettings::deviceKeyName(u"%x"));
  EXPECT_EQ(u"%..%005C..%005CSoftware", CSettings::deviceKeyName(u"..\\..\\Software"));
  EXPECT_EQ(u"%line%000Abreak", CSettings::deviceKeyName(u"line\nbreak"));
  base::string16 uid;
  EXPECT_FALSE(CSettings::deviceIdFromKeyName(u"%bad%00", &uid));
  EXPECT_FALSE(CSettings::deviceIdFromKeyName(u"%bad%00G1", &uid));
  EXPECT_TRUE(CSettings::deviceIdFromKeyName(u"%a%005cb", &uid));  // the registry ignores case
  EXPECT_EQ(u"a\\b", uid);
  EXPECT_FALSE(CSettings::storableDeviceId(base::string16(256, u'x')));
  EXPECT_TRUE(CSettings::storableDeviceId(base::string16(255, u'x')));
  EXPECT_FALSE(CSettings::storableDeviceId(base::string16(100, u'\\')));

  const base::string16 odd[] = {u"a\\b", u"", u"\\", u"%41", u"tab\there", u"..\\..\\Run",
                                u"%", u"fine", base::string16(1, u'\x7F')};
  CSettings settings;
  ASSERT_TRUE(settings.load());
  for (const auto& id : odd) settings.addDevice(id, u"name of " + id, 1);
  settings.addDevice(base::string16(300, u'x'), u"too long", 1);
  EXPECT_TRUE(settings.save());

  CSettings again;
  ASSERT_TRUE(again.load());
  EXPECT_EQ(std::size(odd), again.accessList().size());
  for (const auto& id : odd) {
    uint32_t status = 0;
    EXPECT_TRUE(again.findDevice(id, &status)) << base::wideToUtf8(id);
    EXPECT_EQ(1u, status);
    EXPECT_EQ(u"name of " + id, again.accessList().at(id).name);
  }
  // No entry escaped from "ACL": every key below it is one level deep.
  RegKey acl, nested;
  ASSERT_EQ(base::kRegOk, appKey().openSubkey(u"ACL", &acl));
  EXPECT_EQ(std::size(odd), acl.subkeyNames().size());
  EXPECT_EQ(base::kRegNotFound, appKey().openSubkey(u"ACL\\a", &nested));
  EXPECT_EQ(base::kRegNotFound, appKey().openSubkey(u"Run", &nested));

  // A damaged escape written by hand is skipped, the rest is read.
  ASSERT_EQ(base::kRegOk, appKey().createSubkey(u"ACL\\%broken%00", &nested));
  ASSERT_EQ(base::kRegOk, nested.writeValue(u"Name", u"x"));
  ASSERT_EQ(base::kRegOk, nested.writeValueDW(u"Status", 1));
  CSettings third;
  ASSERT_TRUE(third.load());
  EXPECT_EQ(std::size(odd), third.accessList().size());
}

}  // namespace
