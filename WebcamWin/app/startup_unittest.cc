#include "WebcamWin/app/startup.h"

#include <gtest/gtest.h>

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/settings/settings.h"
#include "base/reg_key.h"

namespace {

using Switches = std::set<base::string16>;

TEST(SwitchParserTest, SeparatorsAndCase) {
  EXPECT_EQ(Switches{u"minimize"}, parseSwitches(u"minimize"));
  EXPECT_EQ(Switches{u"minimize"}, parseSwitches(u"-minimize"));
  EXPECT_EQ(Switches{u"minimize"}, parseSwitches(u"/minimize"));
  EXPECT_EQ(Switches({u"minimize", u"exit"}), parseSwitches(u"  --minimize /-/ exit-- "));
  EXPECT_EQ(Switches{u"Minimize"}, parseSwitches(u"-Minimize"));
  EXPECT_EQ(0u, parseSwitches(u"-Minimize").count(u"minimize"));
  EXPECT_TRUE(parseSwitches(u"").empty());
  EXPECT_TRUE(parseSwitches(u" -/ /").empty());
  // Each separator cuts: a dash inside a word makes two tokens.
  EXPECT_EQ(Switches({u"no", u"exit"}), parseSwitches(u"no-exit"));
  EXPECT_EQ(Switches{u"exit"}, parseSwitches(u"exit exit"));
}

TEST(LanguageTest, CodesIgnoreCase) {
  EXPECT_EQ(9, languageFromCode(u"en"));
  EXPECT_EQ(19, languageFromCode(u"nl"));
  EXPECT_EQ(12, languageFromCode(u"fr"));
  EXPECT_EQ(7, languageFromCode(u"DE"));
  EXPECT_EQ(16, languageFromCode(u"It"));
  EXPECT_EQ(10, languageFromCode(u"sp"));
  EXPECT_EQ(4, languageFromCode(u"CN"));
  EXPECT_EQ(9, languageFromCode(u"zh"));
  EXPECT_EQ(9, languageFromCode(u"es"));
  EXPECT_EQ(9, languageFromCode(u""));
  EXPECT_EQ(9, languageFromCode(u"cn "));
}

class RegistryStartupTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(base::beginRegistryOverrideForTesting()); }
  void TearDown() override { base::endRegistryOverrideForTesting(); }
  base::RegKey appKey() {
    base::RegKey key;
    EXPECT_EQ(base::kRegOk, key.create(base::RegRoot::kCurrentUser, kAppRegistryKey));
    return key;
  }
};

TEST_F(RegistryStartupTest, LanguageFromTheRegistry) {
  EXPECT_EQ(kLanguageEnglish, readInterfaceLanguage());  // no key at all
  ASSERT_EQ(base::kRegOk, appKey().writeValue(u"Language", u"CN"));
  EXPECT_EQ(kLanguageChinese, readInterfaceLanguage());
  ASSERT_EQ(base::kRegOk, appKey().writeValueDW(u"Language", 4));
  EXPECT_EQ(kLanguageEnglish, readInterfaceLanguage());
}

TEST(VersionTest, ParseAndCompare) {
  std::array<uint32_t, 4> parts;
  ASSERT_TRUE(parseVersion(u"2.2.0.0", &parts));
  EXPECT_EQ((std::array<uint32_t, 4>{2, 2, 0, 0}), parts);
  ASSERT_TRUE(parseVersion(u"1.0.5", &parts));
  EXPECT_EQ((std::array<uint32_t, 4>{1, 0, 5, 0}), parts);
  EXPECT_FALSE(parseVersion(u"", &parts));
  EXPECT_FALSE(parseVersion(u"1..2", &parts));
  EXPECT_FALSE(parseVersion(u"1.2.3.4.5", &parts));
  EXPECT_FALSE(parseVersion(u"1.2.", &parts));
  EXPECT_FALSE(parseVersion(u"v1.2", &parts));
  EXPECT_FALSE(parseVersion(u"1.99999999999", &parts));

  EXPECT_TRUE(isLegacyVersion(u"1.0.5.65535"));
  EXPECT_TRUE(isLegacyVersion(u"1.0.5.3"));
  EXPECT_TRUE(isLegacyVersion(u"0.9"));
  EXPECT_TRUE(isLegacyVersion(u""));
  EXPECT_TRUE(isLegacyVersion(u"garbage"));
  EXPECT_FALSE(isLegacyVersion(u"1.0.6.0"));
  EXPECT_FALSE(isLegacyVersion(u"1.0.5.65536"));
  EXPECT_FALSE(isLegacyVersion(u"1.1"));
  EXPECT_FALSE(isLegacyVersion(u"2.2.0.0"));
}

TEST_F(RegistryStartupTest, LegacyFolderUpgrade) {
  struct Case {
    const char16_t* version;  // null: no Version value
    bool upgraded;
  } cases[] = {{u"1.0.5.65535", true}, {nullptr, true}, {u"x.y", true},
               {u"1.0.6.0", false}, {u"2.2.0.0", false}};
  for (const Case& c : cases) {
    base::RegKey key = appKey();
    ASSERT_EQ(base::kRegOk, key.writeValue(u"LumoraFolder", u"D:\\Lumora"));
    ASSERT_EQ(base::kRegOk, key.writeValue(u"PicturesFolder", u"P"));
    ASSERT_EQ(base::kRegOk, key.writeValue(u"MoviesFolder", u"M"));
    if (c.version) ASSERT_EQ(base::kRegOk, key.writeValue(u"Version", c.version));
    else key.deleteValue(u"Version");
    CSettings settings;
    ASSERT_TRUE(settings.load());
    EXPECT_EQ(c.upgraded, upgradeLegacySettings(&settings)) << (c.version ? "versioned" : "none");
    EXPECT_EQ(c.upgraded ? u"D:\\Lumora" : u"P", settings.picturesFolder());
    EXPECT_EQ(c.upgraded ? u"D:\\Lumora" : u"M", settings.moviesFolder());
  }
  // Without a legacy folder there is nothing to take over.
  ASSERT_EQ(base::kRegOk, appKey().deleteValue(u"LumoraFolder"));
  ASSERT_EQ(base::kRegOk, appKey().writeValue(u"Version", u"1.0.0.0"));
  CSettings settings;
  ASSERT_TRUE(settings.load());
  EXPECT_FALSE(upgradeLegacySettings(&settings));
  EXPECT_EQ(u"P", settings.picturesFolder());
}

}  // namespace
