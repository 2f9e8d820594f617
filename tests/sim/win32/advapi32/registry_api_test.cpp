// The advapi32 registry functions of the simulated PC against Windows NT's behaviour.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim/boot.h"
#include "sim/machine.h"
#include "sim/registry.h"
#include "sim_win32.h"

namespace {

const HKEY kUnset = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0xdeadbeef));
const DWORD kSentinel = 0xdeadbeef;

class RegistryApi : public ::testing::Test {
  protected:
    void SetUp() override {
        pc = sim::bootForTest("");
        ASSERT_TRUE(pc.ok()) << pc.error();
    }
    void TearDown() override {
        EXPECT_EQ(0u, sim::registry().openHandleCount()) << "a test leaked a key handle";
    }

    HKEY create(HKEY root, const char* path) {
        SCOPED_TRACE(path);
        HKEY key = kUnset;
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyA(root, path, &key));
        return key;
    }
    void setDword(HKEY key, const char* name, DWORD value) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, REG_DWORD,
                                                reinterpret_cast<const BYTE*>(&value), 4));
    }

    sim::TestPc pc;
};

TEST_F(RegistryApi, CreateMakesEveryMissingKeyOnThePathAndOpenFindsThemIgnoringCase) {
    HKEY created = create(HKEY_LOCAL_MACHINE, "Software\\Vantorel Tech\\Tavrolin");
    EXPECT_TRUE(sim::registry().keyExists(HKEY_LOCAL_MACHINE, "Software\\Vantorel Tech"));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(created));

    HKEY opened = kUnset;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\vantorel TECH\\tavrolin", &opened));
    EXPECT_NE(kUnset, opened);
    // Creating an existing key opens it and keeps the spelling it was made with.
    HKEY again = create(HKEY_LOCAL_MACHINE, "software\\VANTOREL TECH");
    std::vector<std::string> names = sim::registry().subkeyNames(HKEY_LOCAL_MACHINE, "Software");
    EXPECT_EQ(1, std::count(names.begin(), names.end(), "Vantorel Tech"));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(again));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(opened));
}

TEST_F(RegistryApi, OpenOfAMissingKeyFailsAndLeavesTheResultAlone) {
    HKEY key = kUnset;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\Nowhere", &key));
    EXPECT_EQ(kUnset, key);
    EXPECT_FALSE(sim::registry().keyExists(HKEY_LOCAL_MACHINE, "Software\\Nowhere"));
}

TEST_F(RegistryApi, PathsAreChecked) {
    HKEY key = kUnset;
    EXPECT_EQ(ERROR_BAD_PATHNAME, RegCreateKeyA(HKEY_LOCAL_MACHINE, "\\Software", &key));
    EXPECT_EQ(ERROR_BAD_PATHNAME, RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\\\X", &key));
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegCreateKeyA(HKEY_LOCAL_MACHINE, std::string(256, 'k').c_str(), &key));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software", nullptr));
    // The state file holds one name per line, so line breaks in names are refused.
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegCreateKeyA(HKEY_LOCAL_MACHINE, "Soft\nware", &key));
    EXPECT_EQ(kUnset, key);
    EXPECT_EQ(std::vector<std::string>{"Microsoft"},
              sim::registry().subkeyNames(HKEY_LOCAL_MACHINE, "Software"));
}

TEST_F(RegistryApi, OpenWithAnEmptyPathGivesBackTheSameHandle) {
    HKEY key = create(HKEY_CURRENT_USER, "Software\\Test");
    HKEY same = kUnset;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyA(key, "", &same));
    EXPECT_EQ(key, same);
    HKEY root = kUnset;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, nullptr, &root));
    EXPECT_EQ(HKEY_LOCAL_MACHINE, root);
    HKEY second = kUnset;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyA(key, "", &second));
    EXPECT_NE(key, second) << "RegCreateKeyA opens a new handle to a key that is no root";
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(second));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

TEST_F(RegistryApi, HandlesAreChecked) {
    HKEY key = create(HKEY_CURRENT_USER, "Software\\Test");
    ASSERT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    BYTE data[4];
    DWORD size = sizeof data;
    char name[32];
    HKEY bogus = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234));
    for (HKEY handle : {key, bogus, HKEY_CLASSES_ROOT}) {
        SCOPED_TRACE(reinterpret_cast<uintptr_t>(handle));
        HKEY out = kUnset;
        EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(handle));
        EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyA(handle, "x", &out));
        EXPECT_EQ(ERROR_INVALID_HANDLE, RegCreateKeyA(handle, "x", &out));
        EXPECT_EQ(ERROR_INVALID_HANDLE,
                  RegQueryValueExA(handle, "v", nullptr, nullptr, data, &size));
        EXPECT_EQ(ERROR_INVALID_HANDLE, RegSetValueExA(handle, "v", 0, REG_DWORD, data, 4));
        EXPECT_EQ(ERROR_INVALID_HANDLE, RegDeleteValueA(handle, "v"));
        EXPECT_EQ(ERROR_INVALID_HANDLE, RegEnumKeyA(handle, 0, name, sizeof name));
        EXPECT_EQ(ERROR_INVALID_HANDLE, RegDeleteKeyA(handle, "x"));
        EXPECT_EQ(kUnset, out);
    }
    // The predefined roots are always open; closing them is harmless.
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE));
    EXPECT_TRUE(sim::registry().keyExists(HKEY_LOCAL_MACHINE, "Software\\Microsoft"));
}

TEST_F(RegistryApi, QueryReportsTypeAndSizeAndRefusesSmallBuffers) {
    HKEY key = create(HKEY_CURRENT_USER, "Software\\Test");
    setDword(key, "Settings", 0x89);

    DWORD type = kSentinel, size = 4, value = kSentinel;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "settings", nullptr, &type,
                                              reinterpret_cast<BYTE*>(&value), &size));
    EXPECT_EQ(DWORD(REG_DWORD), type);
    EXPECT_EQ(4u, size);
    EXPECT_EQ(0x89u, value);

    // No buffer: only the size.
    size = kSentinel;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Settings", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(4u, size);

    // Too small: ERROR_MORE_DATA, the size needed, and the buffer untouched.
    BYTE small[3];
    memset(small, 0xbd, sizeof small);
    size = sizeof small;
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(key, "Settings", nullptr, &type, small, &size));
    EXPECT_EQ(4u, size);
    for (BYTE b : small)
        EXPECT_EQ(0xbd, b);

    // A bigger buffer gets the 4 bytes and nothing past them.
    BYTE big[8];
    memset(big, 0xbd, sizeof big);
    size = sizeof big;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Settings", nullptr, nullptr, big, &size));
    EXPECT_EQ(4u, size);
    EXPECT_EQ(0x89, big[0]);
    EXPECT_EQ(0xbd, big[4]);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

TEST_F(RegistryApi, QueryOfAMissingValueOrWithBadParametersWritesNothing) {
    HKEY key = create(HKEY_CURRENT_USER, "Software\\Test");
    DWORD type = kSentinel, size = 4, value = kSentinel;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, "Missing", nullptr, &type,
                                                     reinterpret_cast<BYTE*>(&value), &size));
    DWORD reserved = 0;
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExA(key, "Missing", &reserved, &type,
                                                        reinterpret_cast<BYTE*>(&value), &size));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExA(key, "Missing", nullptr, &type,
                                                        reinterpret_cast<BYTE*>(&value), nullptr));
    EXPECT_EQ(kSentinel, type);
    EXPECT_EQ(kSentinel, value);
    EXPECT_EQ(4u, size);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

TEST_F(RegistryApi, StringsKeepExactlyTheBytesGiven) {
    HKEY key = create(HKEY_CURRENT_USER, "Software\\Test");
    char padded[260] = "\"C:\\Tavrol.exe\" -startup";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Run", 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(padded), sizeof padded));
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key, "Bare", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3));
    char back[300];
    memset(back, 0xbd, sizeof back);
    DWORD size = sizeof back, type = kSentinel;
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryValueExA(key, "Run", nullptr, &type, reinterpret_cast<BYTE*>(back), &size));
    EXPECT_EQ(260u, size);
    EXPECT_EQ(DWORD(REG_SZ), type);
    EXPECT_EQ(0, memcmp(padded, back, 260));
    EXPECT_EQ(static_cast<char>(0xbd), back[260]);

    size = sizeof back;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Bare", nullptr, nullptr,
                                              reinterpret_cast<BYTE*>(back), &size));
    EXPECT_EQ(3u, size) << "no terminator is added to what was stored";
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

TEST_F(RegistryApi, SettingAValueAgainReplacesTypeAndDataButKeepsItsName) {
    HKEY key = create(HKEY_CURRENT_USER, "Software\\Test");
    setDword(key, "Settings", 1);
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "SETTINGS", 0, REG_BINARY,
                                            reinterpret_cast<const BYTE*>("\x01\x02"), 2));
    std::vector<sim::RegValue> values = sim::registry().values(HKEY_CURRENT_USER, "Software\\Test");
    ASSERT_EQ(1u, values.size());
    EXPECT_EQ("Settings", values[0].name);
    EXPECT_EQ(DWORD(REG_BINARY), values[0].type);
    EXPECT_EQ((std::vector<uint8_t>{1, 2}), values[0].data);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

TEST_F(RegistryApi, DeleteValueRemovesOnlyThatValue) {
    HKEY key = create(HKEY_CURRENT_USER, "Software\\Test");
    setDword(key, "A", 1);
    setDword(key, "B", 2);
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(key, "a"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(key, "A"));
    std::vector<sim::RegValue> values = sim::registry().values(HKEY_CURRENT_USER, "Software\\Test");
    ASSERT_EQ(1u, values.size());
    EXPECT_EQ("B", values[0].name);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

TEST_F(RegistryApi, EnumerationIsSortedIgnoringCaseAndChecksTheNameBuffer) {
    HKEY key = create(HKEY_CURRENT_USER, "Software\\Test");
    for (const char* child : {"beta", "Alpha", "gamma"})
        EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(create(key, child)));
    const char* expected[] = {"Alpha", "beta", "gamma"};
    for (DWORD i = 0; i < 3; ++i) {
        char name[32];
        ASSERT_EQ(ERROR_SUCCESS, RegEnumKeyA(key, i, name, sizeof name)) << "index " << i;
        EXPECT_STREQ(expected[i], name);
    }
    char name[32];
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyA(key, 3, name, sizeof name));

    // "Alpha" needs 6 bytes with its terminator: 6 fits, 5 does not and writes nothing.
    memset(name, 0xbd, sizeof name);
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyA(key, 0, name, 5));
    EXPECT_EQ(static_cast<char>(0xbd), name[0]);
    EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyA(key, 0, name, 6));
    EXPECT_STREQ("Alpha", name);
    EXPECT_EQ(static_cast<char>(0xbd), name[6]);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

TEST_F(RegistryApi, AKeyWithSubkeysCannotBeDeletedAsOnNt) {
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(create(HKEY_CURRENT_USER, "Software\\Test\\Child")));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Test"));
    EXPECT_TRUE(sim::registry().keyExists(HKEY_CURRENT_USER, "Software\\Test\\Child"));

    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CURRENT_USER, "software\\test\\CHILD"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Test"));
    EXPECT_FALSE(sim::registry().keyExists(HKEY_CURRENT_USER, "Software\\Test"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Test"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CURRENT_USER, ""));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegDeleteKeyA(HKEY_CURRENT_USER, nullptr));
}

TEST_F(RegistryApi, DeleteBelowAnOpenKeyAndAProtectedKey) {
    HKEY key = create(HKEY_CURRENT_USER, "Software\\Test");
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(create(key, "A")));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(create(key, "B")));
    sim::registry().protectKey(HKEY_CURRENT_USER, "Software\\Test\\B");
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(key, "A"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(key, "B"));
    EXPECT_EQ(std::vector<std::string>{"B"},
              sim::registry().subkeyNames(HKEY_CURRENT_USER, "Software\\Test"));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

TEST_F(RegistryApi, AHandleToADeletedKeyReportsItGone) {
    HKEY key = create(HKEY_CURRENT_USER, "Software\\Test");
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Test"));
    DWORD value = 1;
    EXPECT_EQ(ERROR_KEY_DELETED,
              RegSetValueExA(key, "v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4));
    // Even once a key of that name exists again, the old handle stays dead, as on NT.
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(create(HKEY_CURRENT_USER, "Software\\Test")));
    DWORD size = 4;
    EXPECT_EQ(ERROR_KEY_DELETED,
              RegQueryValueExA(key, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

TEST_F(RegistryApi, SetValueRejectsMissingData) {
    HKEY key = create(HKEY_CURRENT_USER, "Software\\Test");
    EXPECT_EQ(ERROR_NOACCESS, RegSetValueExA(key, "v", 0, REG_BINARY, nullptr, 4));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegSetValueExA(key, "two\nlines", 0, REG_BINARY,
                                                      reinterpret_cast<const BYTE*>("x"), 1));
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegSetValueExA(key, "v", 1, REG_BINARY, reinterpret_cast<const BYTE*>("x"), 1));
    EXPECT_TRUE(sim::registry().values(HKEY_CURRENT_USER, "Software\\Test").empty());
    // An empty value is fine.
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "", 0, REG_BINARY, nullptr, 0));
    sim::RegValue stored;
    EXPECT_TRUE(sim::registry().getValue(HKEY_CURRENT_USER, "Software\\Test", "", &stored));
    EXPECT_TRUE(stored.data.empty());
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

// Faults from the profile ---------------------------------------------------------------------

struct FaultCase {
    const char* profile;
    LONG createExistingHklm, createMissingHklm, setHklm, deleteValueHklm, deleteKeyHklm, setHkcu;
};

class RegistryFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(RegistryFaults, FollowTheDirective) {
    const FaultCase& c = GetParam();
    sim::TestPc pc = sim::bootForTest(c.profile);
    ASSERT_TRUE(pc.ok()) << pc.error();
    ASSERT_TRUE(sim::registry().createKey(HKEY_LOCAL_MACHINE, "Software\\Test\\Child"));
    ASSERT_TRUE(sim::registry().setValue(HKEY_LOCAL_MACHINE, "Software\\Test",
                                         sim::RegValue{"Old", REG_DWORD, {1, 0, 0, 0}}));
    DWORD value = 7;
    const BYTE* data = reinterpret_cast<const BYTE*>(&value);

    HKEY created = kUnset;
    EXPECT_EQ(c.createExistingHklm, RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\Test", &created));
    if (created != kUnset)
        RegCloseKey(created);
    created = kUnset;
    EXPECT_EQ(c.createMissingHklm,
              RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\New\\Key", &created));
    if (created != kUnset)
        RegCloseKey(created);
    EXPECT_EQ(c.createMissingHklm == ERROR_SUCCESS,
              sim::registry().keyExists(HKEY_LOCAL_MACHINE, "Software\\New"));

    HKEY opened = kUnset;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\Test", &opened))
        << "opening for reading always works";
    DWORD read = 0, size = 4;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(opened, "Old", nullptr, nullptr,
                                              reinterpret_cast<BYTE*>(&read), &size));
    EXPECT_EQ(1u, read);
    EXPECT_EQ(c.setHklm, RegSetValueExA(opened, "New", 0, REG_DWORD, data, 4));
    EXPECT_EQ(c.deleteValueHklm, RegDeleteValueA(opened, "Old"));
    EXPECT_EQ(c.deleteKeyHklm, RegDeleteKeyA(opened, "Child"));
    RegCloseKey(opened);

    HKEY user = kUnset;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Test", &user));
    EXPECT_EQ(c.setHkcu, RegSetValueExA(user, "New", 0, REG_DWORD, data, 4));
    RegCloseKey(user);
}

INSTANTIATE_TEST_SUITE_P(
    Directives, RegistryFaults,
    ::testing::Values(
        FaultCase{"", ERROR_SUCCESS, ERROR_SUCCESS, ERROR_SUCCESS, ERROR_SUCCESS, ERROR_SUCCESS,
                  ERROR_SUCCESS},
        // The user may still open an existing key with RegCreateKeyA, but not create one.
        FaultCase{"#! hklm-readonly\n", ERROR_SUCCESS, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED,
                  ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, ERROR_SUCCESS},
        FaultCase{"#! reg-write-fails\n", ERROR_SUCCESS, ERROR_SUCCESS, ERROR_CANTWRITE,
                  ERROR_SUCCESS, ERROR_SUCCESS, ERROR_CANTWRITE}));

TEST(RegistryBoot, EveryBootStartsFreshWithTheNewProfilesFaults) {
    {
        sim::TestPc pc = sim::bootForTest("#! hklm-readonly\n");
        ASSERT_TRUE(pc.ok()) << pc.error();
        ASSERT_TRUE(sim::registry().createKey(HKEY_CURRENT_USER, "Software\\Left"));
        EXPECT_TRUE(sim::registry().hklmReadOnly());
    }
    sim::TestPc pc = sim::bootForTest("");
    ASSERT_TRUE(pc.ok()) << pc.error();
    EXPECT_FALSE(sim::registry().hklmReadOnly());
    EXPECT_FALSE(sim::registry().keyExists(HKEY_CURRENT_USER, "Software\\Left"));
    EXPECT_TRUE(sim::registry().keyExists(HKEY_LOCAL_MACHINE,
                                          "Software\\Microsoft\\Windows\\CurrentVersion\\Run"));
}

} // namespace

TEST(RegistryOnWindows9x, DeletingAKeyTakesItsSubkeysAlong) {
    sim::TestPc pc = sim::bootForTest("#! windows 9x\n");
    ASSERT_TRUE(pc.ok()) << pc.error();
    ASSERT_TRUE(sim::registry().createKey(HKEY_CURRENT_USER, "Software\\Test\\A\\B"));
    HKEY below = kUnset;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_CURRENT_USER, "Software\\Test\\A", &below));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Test"));
    EXPECT_FALSE(sim::registry().keyExists(HKEY_CURRENT_USER, "Software\\Test"));
    char name[32];
    EXPECT_EQ(ERROR_KEY_DELETED, RegEnumKeyA(below, 0, name, sizeof name))
        << "a handle below the deleted key is dead too";
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(below));
}
