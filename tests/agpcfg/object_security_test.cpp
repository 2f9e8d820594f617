// Who may change a file or object, read from its security descriptor: one table of owners and
// access entries against the rule, and the descriptor of the driver's shared objects.
#include <gtest/gtest.h>

#include "agpcfg/object_security.h"
#include "sim/file_security.h"

namespace {

const uint32_t kFull = 0x001F01FF;
const uint32_t kReadExecute = 0x001200A9;
const uint32_t kModify = 0x001301BF;
const char kUser[] = "S-1-5-21-1004336348-1177238915-682003330-1001";

struct Case {
    const char* name;
    sim::FileSecurity security;
    bool dacl; // whether the descriptor carries its access list at all
    bool safe;
};

sim::FileSecurity adminsWith(std::vector<sim::AccessEntry> more, const char* owner = nullptr) {
    sim::FileSecurity s;
    s.owner = owner ? owner : sim::kSidAdministrators;
    s.dacl = {{sim::kSidSystem, kFull, 0, true}, {sim::kSidAdministrators, kFull, 0, true}};
    s.dacl.insert(s.dacl.end(), more.begin(), more.end());
    return s;
}

sim::FileSecurity nullDacl() {
    sim::FileSecurity s = adminsWith({});
    s.nullDacl = true;
    return s;
}

class ChangeRule : public testing::TestWithParam<Case> {};

TEST_P(ChangeRule, AllowsOnlyAdministrativeAccountsToChange) {
    const Case& c = GetParam();
    std::vector<uint8_t> bytes = sim::selfRelativeDescriptor(c.security, c.dacl);
    EXPECT_EQ(c.safe, onlyAdministratorsMayChange(bytes.data(), DWORD(bytes.size()), nullptr));
}

INSTANTIATE_TEST_SUITE_P(
    Descriptors, ChangeRule,
    testing::Values(
        Case{"ProgramFilesOfWindows7",
             adminsWith({{sim::kSidUsers, kReadExecute, 0, true},
                         {sim::kSidTrustedInstaller, kFull, 0, true},
                         {sim::kSidCreatorOwner, kFull, 0x0B, true}}),
             true, true},
        Case{"ProgramFilesOfXpWithPowerUsers",
             adminsWith({{"S-1-5-32-547", kModify, 0, true}}, "S-1-5-18"), true, true},
        Case{"FolderMadeInTheDrivesRoot",
             adminsWith({{sim::kSidAuthenticatedUsers, kModify, 0, true}}), true, false},
        Case{"OwnedByAUser", adminsWith({}, kUser), true, false},
        Case{"EveryoneMayAppend", adminsWith({{sim::kSidEveryone, 0x00000004, 0, true}}), true,
             false},
        Case{"UsersMayDeleteChildren", adminsWith({{sim::kSidUsers, 0x00000040, 0, true}}), true,
             false},
        Case{"UsersMayRewriteTheAccessList", adminsWith({{sim::kSidUsers, 0x00040000, 0, true}}),
             true, false},
        Case{"UsersMayTakeOwnership", adminsWith({{sim::kSidUsers, 0x00080000, 0, true}}), true,
             false},
        Case{"UsersHoldGenericWrite", adminsWith({{sim::kSidUsers, 0x40000000, 0, true}}), true,
             false},
        Case{"UsersMayOnlySetAttributes", adminsWith({{sim::kSidUsers, 0x00120189, 0, true}}), true,
             true},
        Case{"AUserDeniedWriteIsNoWriter", adminsWith({{kUser, kFull, 0, false}}), true, true},
        Case{"InheritOnlyUserEntry", adminsWith({{kUser, kFull, 0x0B, true}}), true, true},
        Case{"NullAccessList", nullDacl(), true, false},
        Case{"NoAccessListAtAll", adminsWith({}), false, false}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// A descriptor cut anywhere is refused, never read past its end.
TEST(ChangeRule, RefusesEveryShortenedDescriptor) {
    sim::FileSecurity s = adminsWith({{sim::kSidUsers, kReadExecute, 0, true}});
    std::vector<uint8_t> bytes = sim::selfRelativeDescriptor(s, true);
    ASSERT_TRUE(onlyAdministratorsMayChange(bytes.data(), DWORD(bytes.size()), nullptr));
    for (size_t size = 0; size < bytes.size(); ++size) {
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + long(size));
        EXPECT_FALSE(onlyAdministratorsMayChange(cut.data(), DWORD(size), nullptr)) << size;
    }
}

// Under Wine every file is its one user's; that user, and nobody else, may be trusted besides.
TEST(ChangeRule, TrustsTheExtraAccountItIsGiven) {
    sim::FileSecurity s = adminsWith({{kUser, kFull, 0, true}}, kUser);
    std::vector<uint8_t> bytes = sim::selfRelativeDescriptor(s, true);
    std::vector<uint8_t> user, other;
    ASSERT_TRUE(sim::sidFromString(kUser, &user));
    ASSERT_TRUE(sim::sidFromString("S-1-5-21-1-2-3-1002", &other));
    EXPECT_TRUE(onlyAdministratorsMayChange(bytes.data(), DWORD(bytes.size()), user.data()));
    EXPECT_FALSE(onlyAdministratorsMayChange(bytes.data(), DWORD(bytes.size()), other.data()));
}

TEST(AdminOnlyDescriptor, IsOwnedByAdministratorsAndLeftToThemAndSystem) {
    BYTE descriptor[ADMIN_ONLY_DESCRIPTOR_SIZE];
    buildAdminOnlyDescriptor(descriptor);
    EXPECT_EQ(sim::kSidAdministrators, sim::ownerOfDescriptor(descriptor));
    EXPECT_TRUE(ownedByAdministrators(descriptor, sizeof descriptor));
    EXPECT_TRUE(onlyAdministratorsMayChange(descriptor, sizeof descriptor, nullptr));
    // Exactly two entries, SYSTEM's and Administrators', in a protected list.
    EXPECT_EQ(0x9004, descriptor[2] | descriptor[3] << 8);
    EXPECT_EQ(2, descriptor[36 + 4]);
    EXPECT_EQ(sim::kSidSystem, sim::sidToString(descriptor + 36 + 8 + 8, 12));
    EXPECT_EQ(sim::kSidAdministrators, sim::sidToString(descriptor + 36 + 8 + 20 + 8, 16));
}

} // namespace
