#include "PC_Audio_DRV/defprobe/defprobe.h"

#include <gtest/gtest.h>

#include "PC_Audio_DRV/wave_service.h"
#include "base/reg_key.h"

namespace {

class DefProbeTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(base::beginRegistryOverrideForTesting()); }
  void TearDown() override { base::endRegistryOverrideForTesting(); }

  static base::string16 value(base::RegRoot root, const char16_t* name, bool* present) {
    base::RegKey key;
    base::string16 text;
    *present = key.open(root, kWaveServiceKey) == base::kRegOk && key.readValue(name, &text) == base::kRegOk;
    return text;
  }
  static void seed(base::RegRoot root) {
    base::RegKey key;
    ASSERT_EQ(base::kRegOk, key.create(root, kWaveServiceKey));
    key.writeValue(kInputDeviceValue, u"Old Mic");
    key.writeValue(kOutputDeviceValue, u"Old Speakers");
  }
};

TEST_F(DefProbeTest, PrintsAndStoresBothNamesInBothHives) {
  std::string console;
  EXPECT_EQ(0, runDefProbe({true, u"Mic (USB)"}, {true, u"Speakers"}, &console));
  EXPECT_EQ("In Device Name: Mic (USB)\nOut Device Name: Speakers\n", console);
  for (auto root : {base::RegRoot::kLocalMachine, base::RegRoot::kCurrentUser}) {
    bool present = false;
    EXPECT_EQ(u"Mic (USB)", value(root, kInputDeviceValue, &present));
    EXPECT_TRUE(present);
    EXPECT_EQ(u"Speakers", value(root, kOutputDeviceValue, &present));
  }
}

TEST_F(DefProbeTest, TheVirtualDeviceAsDefaultLeavesItsValueAlone) {
  seed(base::RegRoot::kLocalMachine);
  seed(base::RegRoot::kCurrentUser);
  std::string console;
  EXPECT_EQ(0, runDefProbe({true, u"Mic"}, {true, u"Lumora Wave Audio Device (WDM)"}, &console));
  for (auto root : {base::RegRoot::kLocalMachine, base::RegRoot::kCurrentUser}) {
    bool present = false;
    EXPECT_EQ(u"Mic", value(root, kInputDeviceValue, &present));
    EXPECT_EQ(u"Old Speakers", value(root, kOutputDeviceValue, &present));
  }
  // The reverse.
  EXPECT_EQ(0, runDefProbe({true, u"Lumora Wave Audio Device (WDM)"}, {true, u"Speakers"}, &console));
  bool present = false;
  EXPECT_EQ(u"Mic", value(base::RegRoot::kCurrentUser, kInputDeviceValue, &present));
  EXPECT_EQ(u"Speakers", value(base::RegRoot::kCurrentUser, kOutputDeviceValue, &present));
  // The rule is case-sensitive, as the service's own refusal is.
  EXPECT_EQ(0, runDefProbe({true, u"lumora wave mic"}, {true, u"Speakers"}, &console));
  EXPECT_EQ(u"lumora wave mic", value(base::RegRoot::kCurrentUser, kInputDeviceValue, &present));
}

TEST_F(DefProbeTest, NoDevicesPrintsNothingAndStoresEmptyNames) {
  seed(base::RegRoot::kLocalMachine);
  std::string console;
  EXPECT_EQ(0, runDefProbe({}, {}, &console));
  EXPECT_EQ("", console);
  bool present = false;
  EXPECT_EQ(u"", value(base::RegRoot::kLocalMachine, kInputDeviceValue, &present));
  EXPECT_TRUE(present);
  EXPECT_EQ(u"", value(base::RegRoot::kCurrentUser, kOutputDeviceValue, &present));
  EXPECT_TRUE(present);
}

// No sound server (a session whose sound service is restarting): the user's
// stored choice stays, and the output says why instead of being empty.
TEST_F(DefProbeTest, NoSoundServerStoresNothingAndSaysSo) {
  seed(base::RegRoot::kLocalMachine);
  seed(base::RegRoot::kCurrentUser);
  DefaultDevice unanswered;
  unanswered.noAnswer = true;
  std::string console;
  EXPECT_EQ(1, runDefProbe(unanswered, unanswered, &console));
  EXPECT_EQ(kNoSoundServerMessage, console);
  for (auto root : {base::RegRoot::kLocalMachine, base::RegRoot::kCurrentUser}) {
    bool present = false;
    EXPECT_EQ(u"Old Mic", value(root, kInputDeviceValue, &present));
    EXPECT_EQ(u"Old Speakers", value(root, kOutputDeviceValue, &present));
  }
}

}  // namespace
