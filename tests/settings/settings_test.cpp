// The settings operations on the default PC: the packed word, loading, saving, the Run entry
// and restoring defaults.
#include <gtest/gtest.h>

#include <string.h>

#include "settings_pc.h"

using settingstest::SettingsPc;

namespace {

const int kUntouched = -7;

std::string runCommandFor(const std::string& exePath) {
    return "\"" + exePath + "\" -startup";
}

// The settings word --------------------------------------------------------------------------

TEST(SettingsWord, WorkedExamples) {
    StoredSettings s{kUntouched, kUntouched, kUntouched, kUntouched};
    unpackSettings(0x55, &s);
    EXPECT_EQ(2, s.rate);
    EXPECT_EQ(2, s.sideband);
    EXPECT_EQ(2, s.fastWrite);
    EXPECT_EQ(1, s.runAtStartup);
    EXPECT_EQ(137u, packSettings(1, 0, 1, 4));
}

TEST(SettingsWord, EveryStoredCombinationComesBackAndUsesOnlyTheLowByte) {
    for (int rate : {0, 1, 2, 4})
        for (int sideband : {0, 1, 2})
            for (int fastWrite : {0, 1, 2})
                for (int run : {0, 1}) {
                    DWORD word = packSettings(run, fastWrite, sideband, rate);
                    SCOPED_TRACE(word);
                    EXPECT_LT(word, 0x100u);
                    EXPECT_NE(DWORD(SETTINGS_NONE), word);
                    StoredSettings s;
                    unpackSettings(word, &s);
                    EXPECT_EQ(rate, s.rate);
                    EXPECT_EQ(sideband, s.sideband);
                    EXPECT_EQ(fastWrite, s.fastWrite);
                    EXPECT_EQ(run, s.runAtStartup);
                }
}

TEST(SettingsWord, AFieldOutOfRangeNeverReachesItsNeighbour) {
    EXPECT_EQ(0u, packSettings(BST_INDETERMINATE, 0, 0, 0)) << "a third check state is no run bit";
    EXPECT_EQ(packSettings(0, 0, 0, 4), packSettings(0, 4, 0, 4));
    EXPECT_EQ(packSettings(1, 2, 1, 0), packSettings(1, 2, 1, 8));
}

TEST(SettingsWord, NothingStoredUnpacksToTheDefaults) {
    StoredSettings s{kUntouched, kUntouched, kUntouched, kUntouched};
    unpackSettings(SETTINGS_NONE, &s);
    EXPECT_EQ(SETTINGS_NONE, s.rate);
    EXPECT_EQ(SETTINGS_NONE, s.sideband);
    EXPECT_EQ(SETTINGS_NONE, s.fastWrite);
    EXPECT_EQ(0, s.runAtStartup);
}

// loadSettings -------------------------------------------------------------------------------

class LoadSettings : public SettingsPc {};

TEST_F(LoadSettings, WithoutAValueGivesTheDefaultsAndLeavesAnEmptyKey) {
    ASSERT_FALSE(settingsKeyExists());
    StoredSettings s{kUntouched, kUntouched, kUntouched, kUntouched};
    ASSERT_TRUE(loadSettings(&s));
    EXPECT_EQ(SETTINGS_NONE, s.rate);
    EXPECT_EQ(SETTINGS_NONE, s.sideband);
    EXPECT_EQ(SETTINGS_NONE, s.fastWrite);
    EXPECT_EQ(0, s.runAtStartup);
    EXPECT_TRUE(settingsKeyExists());
    EXPECT_TRUE(sim::registry().values(HKEY_LOCAL_MACHINE, SETTINGS_KEY_PATH).empty());
}

TEST_F(LoadSettings, ReadsTheStoredWord) {
    storeWord(137);
    StoredSettings s{kUntouched, kUntouched, kUntouched, kUntouched};
    ASSERT_TRUE(loadSettings(&s));
    EXPECT_EQ(4, s.rate);
    EXPECT_EQ(1, s.sideband);
    EXPECT_EQ(0, s.fastWrite);
    EXPECT_EQ(1, s.runAtStartup);
}

// Four bytes are read as the word whatever type the value was stored with.
TEST_F(LoadSettings, TheValueTypeIsNotLookedAt) {
    ASSERT_TRUE(sim::registry().createKey(HKEY_LOCAL_MACHINE, SETTINGS_KEY_PATH));
    ASSERT_TRUE(
        sim::registry().setValue(HKEY_LOCAL_MACHINE, SETTINGS_KEY_PATH,
                                 sim::RegValue{SETTINGS_VALUE_NAME, REG_BINARY, {0x89, 0, 0, 0}}));
    StoredSettings s{kUntouched, kUntouched, kUntouched, kUntouched};
    ASSERT_TRUE(loadSettings(&s));
    EXPECT_EQ(4, s.rate);
    EXPECT_EQ(1, s.sideband);
    EXPECT_EQ(0, s.fastWrite);
    EXPECT_EQ(1, s.runAtStartup);
}

TEST_F(LoadSettings, AValueTooBigForADwordCountsAsNothingStored) {
    ASSERT_TRUE(sim::registry().createKey(HKEY_LOCAL_MACHINE, SETTINGS_KEY_PATH));
    ASSERT_TRUE(sim::registry().setValue(
        HKEY_LOCAL_MACHINE, SETTINGS_KEY_PATH,
        sim::RegValue{SETTINGS_VALUE_NAME, REG_SZ, std::vector<uint8_t>(8, '1')}));
    StoredSettings s{kUntouched, kUntouched, kUntouched, kUntouched};
    ASSERT_TRUE(loadSettings(&s));
    EXPECT_EQ(SETTINGS_NONE, s.rate);
    EXPECT_EQ(0, s.runAtStartup);
}

TEST_F(LoadSettings, FailsWithoutTouchingTheFieldsWhenTheKeyCannotBeCreated) {
    sim::registry().setHklmReadOnly(true);
    StoredSettings s{kUntouched, kUntouched, kUntouched, kUntouched};
    EXPECT_FALSE(loadSettings(&s));
    EXPECT_EQ(kUntouched, s.rate);
    EXPECT_EQ(kUntouched, s.sideband);
    EXPECT_EQ(kUntouched, s.fastWrite);
    EXPECT_EQ(kUntouched, s.runAtStartup);
    EXPECT_FALSE(settingsKeyExists());
}

TEST_F(LoadSettings, AUserWhoMayNotWriteHklmStillReadsStoredSettings) {
    storeWord(0x55);
    sim::registry().setHklmReadOnly(true);
    StoredSettings s{kUntouched, kUntouched, kUntouched, kUntouched};
    ASSERT_TRUE(loadSettings(&s));
    EXPECT_EQ(2, s.rate);
    EXPECT_EQ(2, s.sideband);
    EXPECT_EQ(2, s.fastWrite);
    EXPECT_EQ(1, s.runAtStartup);
}

// saveSettings -------------------------------------------------------------------------------

class SaveSettings : public SettingsPc {};

TEST_F(SaveSettings, WithoutAControllerStoresNothing) {
    EXPECT_FALSE(saveSettings(nullptr, nullptr));
    EXPECT_FALSE(settingsKeyExists());
}

TEST_F(SaveSettings, WithoutAMainWindowStoresTheModesInForceAndRunZero) {
    storeWord(packSettings(1, 1, 0, 2)); // an earlier save with the box checked
    CAgpConfig agp;
    settingstest::setModes(&agp, 4, 1, 0);
    ASSERT_TRUE(saveSettings(&agp, nullptr));
    DWORD word = 0xdeadbeef;
    ASSERT_TRUE(storedWord(&word));
    EXPECT_EQ(136u, word);
}

TEST_F(SaveSettings, TheModesAreReadFromTheHardwareNotFromACache) {
    CAgpConfig agp;
    settingstest::setModes(&agp, 4, 1, 1);
    // Another program changes the graphics card's command register behind the controller's back:
    // fast writes off.
    const sim::PciFunctionImage* graphics = sim::machine().function(1, 0, 0);
    ASSERT_NE(nullptr, graphics);
    int cap = sim::machine().agpCapability(1, 0, 0);
    ASSERT_NE(0, cap);
    uint32_t command = sim::machine().configDword(1, 0, 0, cap + 8);
    sim::machine().pokeConfigDword(1, 0, 0, cap + 8, command & ~AGP_FAST_WRITE);
    ASSERT_TRUE(saveSettings(&agp, nullptr));
    DWORD word = 0;
    ASSERT_TRUE(storedWord(&word));
    EXPECT_EQ(packSettings(0, 0, 1, 4), word);
}

struct CheckCase {
    UINT check;
    DWORD runBit;
};

void PrintTo(const CheckCase& value, std::ostream* out) {
    *out << "check state " << value.check;
}

class SaveWithMainWindow : public SettingsPc, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(SaveWithMainWindow, StoresTheRunBitOnlyForACheckedBox) {
    CAgpConfig agp;
    settingstest::setModes(&agp, 4, 1, 0);
    LRESULT seen = -1;
    ASSERT_TRUE(settingstest::saveWithMainWindow(&agp, GetParam().check, &seen));
    EXPECT_EQ(LRESULT(GetParam().check), seen) << "the box did not take the state";
    DWORD word = 0xdeadbeef;
    ASSERT_TRUE(storedWord(&word));
    EXPECT_EQ(136u + GetParam().runBit, word);
}

INSTANTIATE_TEST_SUITE_P(CheckStates, SaveWithMainWindow,
                         ::testing::Values(CheckCase{BST_CHECKED, 1}, CheckCase{BST_UNCHECKED, 0},
                                           CheckCase{BST_INDETERMINATE, 0}));

TEST_F(SaveSettings, FailsWhenTheRegistryCannotBeWritten) {
    for (const char* directive : {"#! hklm-readonly\n", "#! reg-write-fails\n"}) {
        SCOPED_TRACE(directive);
        boot(directive);
        CAgpConfig agp;
        ASSERT_EQ(0, agp.getInitError());
        EXPECT_FALSE(saveSettings(&agp, nullptr));
        DWORD word = 0xdeadbeef;
        EXPECT_FALSE(storedWord(&word));
        EXPECT_EQ(0xdeadbeefu, word);
    }
}

// The Run entry ------------------------------------------------------------------------------

class StartupEntry : public SettingsPc {};

TEST_F(StartupEntry, StoresTheQuotedPathAndSwitchInTheWholeBuffer) {
    addStartupEntry();
    EXPECT_TRUE(boxes().empty());
    sim::RegValue value;
    ASSERT_TRUE(runValue(&value));
    EXPECT_EQ(DWORD(REG_SZ), value.type);
    ASSERT_EQ(size_t(MAX_PATH), value.data.size()) << "the whole 260-byte buffer is stored";
    std::string expected = runCommandFor(sim::kProgramPath);
    EXPECT_EQ(expected, std::string(reinterpret_cast<const char*>(value.data.data())));
    for (size_t i = expected.size(); i < value.data.size(); ++i)
        ASSERT_EQ(0, value.data[i]) << "padding byte " << i;
}

TEST_F(StartupEntry, APathThatJustFitsIsStored) {
    // Quotes, blank, switch and terminator take 12 of the 260 bytes.
    std::string path = "C:\\" + std::string(239, 'p') + "\\T.exe";
    ASSERT_EQ(248u, path.size());
    sim::process().setModulePath(path);
    addStartupEntry();
    EXPECT_TRUE(boxes().empty());
    sim::RegValue value;
    ASSERT_TRUE(runValue(&value));
    ASSERT_EQ(size_t(MAX_PATH), value.data.size());
    EXPECT_EQ(runCommandFor(path), std::string(reinterpret_cast<const char*>(value.data.data())));
    EXPECT_EQ(0, value.data[MAX_PATH - 1]);
}

TEST_F(StartupEntry, APathTooLongIsRefusedWithTheWarningAndTheOldEntryKept) {
    storeRunValue("old");
    std::string path = "C:\\" + std::string(240, 'p') + "\\T.exe";
    ASSERT_EQ(249u, path.size());
    sim::process().setModulePath(path);
    addStartupEntry();
    ASSERT_EQ(1u, boxes().size());
    const sim::MessageBoxRecord& box = boxes()[0];
    EXPECT_EQ(nullptr, box.owner);
    EXPECT_EQ("Vantorel Tavrolin", box.title);
    EXPECT_EQ("Registry cannot be written to.\nTavrolin will not be able to run on bootup.",
              box.text);
    EXPECT_STREQ("warning", box.icon());
    EXPECT_STREQ("ok", box.buttons());
    sim::RegValue value;
    ASSERT_TRUE(runValue(&value));
    EXPECT_EQ(std::vector<uint8_t>({'o', 'l', 'd', 0}), value.data);
}

TEST_F(StartupEntry, WarnsWhenTheRegistryCannotBeWritten) {
    for (const char* directive : {"#! hklm-readonly\n", "#! reg-write-fails\n"}) {
        SCOPED_TRACE(directive);
        boot(directive);
        addStartupEntry();
        ASSERT_EQ(1u, boxes().size());
        EXPECT_EQ("Registry cannot be written to.\nTavrolin will not be able to run on bootup.",
                  boxes()[0].text);
        EXPECT_EQ(MB_ICONWARNING, boxes()[0].type);
        sim::RegValue value;
        EXPECT_FALSE(runValue(&value));
    }
}

TEST_F(StartupEntry, RemovingTakesOnlyOurValue) {
    storeRunValue(runCommandFor(sim::kProgramPath));
    ASSERT_TRUE(sim::registry().setValue(HKEY_LOCAL_MACHINE, RUN_KEY_PATH,
                                         sim::RegValue{"Other", REG_SZ, {'x', 0}}));
    removeStartupEntry();
    sim::RegValue value;
    EXPECT_FALSE(runValue(&value));
    EXPECT_TRUE(sim::registry().getValue(HKEY_LOCAL_MACHINE, RUN_KEY_PATH, "Other", &value));
    removeStartupEntry(); // nothing left to remove: still silent
    EXPECT_TRUE(boxes().empty());
}

TEST_F(StartupEntry, RemovingWithoutARunKeyIsSilentAndCreatesNothing) {
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, RUN_KEY_PATH));
    removeStartupEntry();
    EXPECT_FALSE(sim::registry().keyExists(HKEY_LOCAL_MACHINE, RUN_KEY_PATH));
    EXPECT_TRUE(boxes().empty());
}

// deleteSettings -----------------------------------------------------------------------------

class DeleteSettings : public SettingsPc {
  protected:
    void makeKey(const std::string& below) {
        SCOPED_TRACE(below);
        std::string path = std::string(SETTINGS_KEY_PATH) + (below.empty() ? "" : "\\" + below);
        ASSERT_TRUE(sim::registry().createKey(HKEY_LOCAL_MACHINE, path));
        ASSERT_TRUE(sim::registry().setValue(HKEY_LOCAL_MACHINE, path,
                                             sim::RegValue{"v", REG_DWORD, {1, 0, 0, 0}}));
    }
    bool keyBelow(const std::string& below) {
        return sim::registry().keyExists(HKEY_LOCAL_MACHINE,
                                         std::string(SETTINGS_KEY_PATH) + "\\" + below);
    }
};

TEST_F(DeleteSettings, AMissingKeyCountsAsRemoved) {
    ASSERT_TRUE(sim::registry().createKey(HKEY_LOCAL_MACHINE, "Software\\Vantorel Tech\\Other"));
    EXPECT_TRUE(deleteSettings());
    EXPECT_TRUE(sim::registry().keyExists(HKEY_LOCAL_MACHINE, "Software\\Vantorel Tech\\Other"));
}

TEST_F(DeleteSettings, RemovesNestedKeysAndNothingElse) {
    storeWord(137);
    storeRunValue(runCommandFor(sim::kProgramPath));
    for (const char* below : {"A", "A\\B", "A\\B\\C", "D", "d2"})
        makeKey(below);
    EXPECT_TRUE(deleteSettings());
    EXPECT_FALSE(settingsKeyExists());
    EXPECT_TRUE(sim::registry().keyExists(HKEY_LOCAL_MACHINE, "Software\\Vantorel Tech"));
    sim::RegValue value;
    EXPECT_TRUE(runValue(&value)) << "restoring defaults keeps the Run entry";
}

TEST_F(DeleteSettings, RemovesNestedKeysOnWindows9xToo) {
    boot("#! windows 9x\n");
    for (const char* below : {"A", "A\\B", "C"})
        makeKey(below);
    EXPECT_TRUE(deleteSettings());
    EXPECT_FALSE(settingsKeyExists());
}

TEST_F(DeleteSettings, AChildThatCannotBeDeletedStopsTheWalk) {
    for (const char* below : {"A", "B", "C"})
        makeKey(below);
    sim::registry().protectKey(HKEY_LOCAL_MACHINE, std::string(SETTINGS_KEY_PATH) + "\\B");
    EXPECT_FALSE(deleteSettings());
    EXPECT_FALSE(keyBelow("A"));
    EXPECT_TRUE(keyBelow("B"));
    EXPECT_TRUE(keyBelow("C")) << "the walk went on past the child it could not delete";
    EXPECT_TRUE(settingsKeyExists());
}

TEST_F(DeleteSettings, AChildNameLongerThanTheNameBufferStopsTheWalk) {
    std::string longName(32, 'n');
    makeKey(longName);
    EXPECT_FALSE(deleteSettings());
    EXPECT_TRUE(keyBelow(longName));
}

TEST_F(DeleteSettings, ChildPathsUpTo127CharactersAreDeletedLongerOnesRefused) {
    // "Software\Vantorel Tech\Tavrolin" has 31 characters; each level adds 32.
    std::string name(31, 'k');
    std::string three = name + "\\" + name + "\\" + name;
    ASSERT_EQ(127u, strlen(SETTINGS_KEY_PATH) + 1 + three.size());
    makeKey(three);
    EXPECT_TRUE(deleteSettings());
    EXPECT_FALSE(settingsKeyExists());

    std::string four = three + "\\" + name;
    makeKey(four);
    EXPECT_FALSE(deleteSettings());
    EXPECT_TRUE(keyBelow(four)) << "nothing is deleted through a path that does not fit";
    EXPECT_TRUE(keyBelow(three));
}

TEST_F(DeleteSettings, FailsWhenHklmIsReadOnly) {
    makeKey("A");
    sim::registry().setHklmReadOnly(true);
    EXPECT_FALSE(deleteSettings());
    EXPECT_TRUE(keyBelow("A"));
}

} // namespace
