// kernel32's share of Windows security on the simulated PC: the owners of named mutexes,
// private namespaces, unique temporary files and renames over an existing file.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "sim/boot.h"
#include "sim/file_security.h"
#include "sim/machine.h"
#include "sim/process.h"

namespace {

std::string ownerOf(HANDLE object) {
    BYTE descriptor[256];
    DWORD needed = 0;
    if (!GetKernelObjectSecurity(object, OWNER_SECURITY_INFORMATION, descriptor, sizeof descriptor,
                                 &needed))
        return "<failed>";
    return sim::ownerOfDescriptor(descriptor);
}

// A mutex keeps the owner its creator gave it, or the elevated program's Administrators; a later
// open sees the creator's, whatever it asks for.
TEST(SimSecurity, MutexesKeepTheirCreatorsOwner) {
    sim::TestPc pc = sim::bootForTest("");
    sim::FileSecurity user;
    user.owner = "S-1-5-21-7-7-7-1001";
    std::vector<uint8_t> descriptor = sim::selfRelativeDescriptor(user, false);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.data(), FALSE};
    HANDLE made = CreateMutexA(&attributes, FALSE, "Global\\Made");
    HANDLE plain = CreateMutexA(nullptr, FALSE, "Plain");
    HANDLE again = CreateMutexA(nullptr, FALSE, "Global\\Made");
    EXPECT_EQ(user.owner, ownerOf(made));
    EXPECT_EQ(sim::kSidAdministrators, ownerOf(plain));
    EXPECT_EQ(user.owner, ownerOf(again));
    for (HANDLE h : {made, plain, again})
        CloseHandle(h);
}

TEST(SimSecurity, PrivateNamespacesExistOnceAndNameTheirObjects) {
    sim::TestPc pc = sim::bootMachineForTest("win7");
    const WCHAR alias[] = {'N', 's', 0};
    HANDLE boundary = CreateBoundaryDescriptorW(alias, 0);
    std::vector<uint8_t> administrators;
    ASSERT_TRUE(sim::sidFromString(sim::kSidAdministrators, &administrators));
    ASSERT_TRUE(AddSIDToBoundaryDescriptor(&boundary, administrators.data()));
    SetLastError(0);
    EXPECT_EQ(nullptr, OpenPrivateNamespaceW(boundary, alias)) << "opened before it exists";
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
    HANDLE space = CreatePrivateNamespaceW(nullptr, boundary, alias);
    ASSERT_NE(nullptr, space);
    EXPECT_EQ(nullptr, CreatePrivateNamespaceW(nullptr, boundary, alias));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    HANDLE inside = CreateMutexA(nullptr, FALSE, "Ns\\Lock");
    HANDLE global = CreateMutexA(nullptr, FALSE, "Global\\Lock");
    EXPECT_NE(nullptr, inside);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError()) << "the global one is another";
    EXPECT_TRUE(ClosePrivateNamespace(space, 0));
    EXPECT_EQ(nullptr, CreateMutexA(nullptr, FALSE, "Ns\\Other"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
    DeleteBoundaryDescriptor(boundary);
    for (HANDLE h : {inside, global})
        CloseHandle(h);
}

TEST(SimSecurity, TemporaryFilesAreUniqueAndRenamesReplaceOnlyWhenAsked) {
    sim::TestPc pc = sim::bootForTest("");
    char first[MAX_PATH], second[MAX_PATH];
    ASSERT_NE(0u, GetTempFileNameA("C:\\", "TVR", 0, first));
    ASSERT_NE(0u, GetTempFileNameA("C:\\", "TVR", 0, second));
    EXPECT_STRNE(first, second);
    EXPECT_TRUE(sim::drive().fileExists(first) && sim::drive().fileExists(second));
    ASSERT_TRUE(sim::drive().writeFile(first, "new"));
    EXPECT_FALSE(MoveFileExA(first, second, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    EXPECT_TRUE(MoveFileExA(first, second, MOVEFILE_REPLACE_EXISTING));
    EXPECT_FALSE(sim::drive().fileExists(first));
    EXPECT_EQ(0u, GetTempFileNameA("C:\\None", "TVR", 0, first)) << "a folder that is not there";
}

} // namespace
