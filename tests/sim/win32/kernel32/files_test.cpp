// Files on the simulated PC's C: drive: CreateFileA's dispositions and errors, reading and
// writing, deleting, the system directory, and a running driver's image kept from change.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "sim/boot.h"
#include "sim/machine.h"
#include "sim/process.h"

namespace {

const char kFile[] = "C:\\Data\\file.bin";

HANDLE open(const char* name, DWORD access, DWORD disposition) {
    return CreateFileA(name, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string readAll(const char* name) {
    HANDLE file = open(name, GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE)
        return "<cannot open>";
    char buffer[256];
    DWORD got = 0;
    BOOL ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr);
    CloseHandle(file);
    return ok ? std::string(buffer, got) : "<cannot read>";
}

struct OpenCase {
    const char* name;
    const char* path;
    DWORD access;
    DWORD disposition;
    DWORD error; // the last error after the call; ERROR_SUCCESS or ERROR_ALREADY_EXISTS on success
    bool opens;
};

class FileOpening : public testing::TestWithParam<OpenCase> {};

TEST_P(FileOpening, FollowsTheDispositionAndTheFolders) {
    const OpenCase& c = GetParam();
    sim::TestPc pc = sim::bootMachineForTest("default");
    ASSERT_TRUE(sim::drive().writeFile(kFile, "old"));
    SetLastError(0xdeadbeef);
    HANDLE file = open(c.path, c.access, c.disposition);
    EXPECT_EQ(c.error, GetLastError());
    EXPECT_EQ(c.opens, file != INVALID_HANDLE_VALUE);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

INSTANTIATE_TEST_SUITE_P(
    Dispositions, FileOpening,
    testing::Values(
        OpenCase{"ExistingForReading", kFile, GENERIC_READ, OPEN_EXISTING, ERROR_SUCCESS, true},
        OpenCase{"MissingFile", "C:\\Data\\none.bin", GENERIC_READ, OPEN_EXISTING,
                 ERROR_FILE_NOT_FOUND, false},
        OpenCase{"MissingFolder", "C:\\None\\file.bin", GENERIC_WRITE, CREATE_ALWAYS,
                 ERROR_PATH_NOT_FOUND, false},
        OpenCase{"AFolder", "C:\\Data", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED, false},
        OpenCase{"AnotherDrive", "D:\\file.bin", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND,
                 false},
        OpenCase{"CreateOverExisting", kFile, GENERIC_WRITE, CREATE_ALWAYS, ERROR_ALREADY_EXISTS,
                 true},
        OpenCase{"CreateNew", "C:\\Data\\new.bin", GENERIC_WRITE, CREATE_NEW, ERROR_SUCCESS, true},
        OpenCase{"CreateNewOverExisting", kFile, GENERIC_WRITE, CREATE_NEW, ERROR_FILE_EXISTS,
                 false},
        OpenCase{"BadDisposition", kFile, GENERIC_READ, 0, ERROR_INVALID_PARAMETER, false}),
    [](const testing::TestParamInfo<OpenCase>& info) { return std::string(info.param.name); });

TEST(Files, WrittenBytesAreReadBackAndCreateAlwaysTruncates) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    ASSERT_TRUE(sim::drive().writeFile(kFile, "a much longer old content"));
    HANDLE file = open(kFile, GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0xdeadbeef;
    ASSERT_TRUE(WriteFile(file, "new", 3, &written, nullptr));
    EXPECT_EQ(3u, written);
    char byte;
    DWORD got = 0xdeadbeef;
    EXPECT_FALSE(ReadFile(file, &byte, 1, &got, nullptr)) << "opened for writing only";
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
    DWORD high = 0xdeadbeef;
    EXPECT_EQ(3u, GetFileSize(file, &high));
    EXPECT_EQ(0u, high);
    CloseHandle(file);
    EXPECT_EQ("new", readAll(kFile));

    HANDLE reader = open(kFile, GENERIC_READ, OPEN_EXISTING);
    EXPECT_FALSE(WriteFile(reader, "x", 1, &written, nullptr)) << "opened for reading only";
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
    CloseHandle(reader);
    EXPECT_EQ(INVALID_FILE_SIZE, GetFileSize(reader, nullptr)) << "a closed handle";
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
}

TEST(Files, DeleteRemovesFilesOnly) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    ASSERT_TRUE(sim::drive().writeFile(kFile, "x"));
    EXPECT_TRUE(DeleteFileA(kFile));
    EXPECT_FALSE(sim::drive().fileExists(kFile));
    struct Case {
        const char* path;
        DWORD error;
    } cases[] = {{kFile, ERROR_FILE_NOT_FOUND},
                 {"C:\\Data", ERROR_ACCESS_DENIED},
                 {"C:\\None\\x", ERROR_PATH_NOT_FOUND}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_FALSE(DeleteFileA(c.path));
        EXPECT_EQ(c.error, GetLastError());
    }
}

// The kernel maps a running driver's image: it can be read, but not rewritten or deleted, until
// the driver stops.
TEST(Files, ARunningDriversImageIsKept) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    std::string image = std::string(sim::kProgramDirectory) + "\\TAVROL.sys";
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service =
        CreateServiceA(manager, "TAVROL", "TAVROL", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, image.c_str(), nullptr, nullptr,
                       nullptr, nullptr, nullptr);
    ASSERT_TRUE(StartServiceA(service, 0, nullptr)) << GetLastError();
    EXPECT_NE("<cannot open>", readAll(image.c_str()));
    EXPECT_EQ(INVALID_HANDLE_VALUE, open(image.c_str(), GENERIC_WRITE, CREATE_ALWAYS));
    EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), GetLastError());
    EXPECT_FALSE(DeleteFileA(image.c_str()));
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());

    SERVICE_STATUS status;
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_TRUE(DeleteFileA(image.c_str()));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

TEST(SystemDirectory, IsTheWindowsFamilysAndHoldsTheDriverFolderOnNt) {
    struct Case {
        const char* machine;
        const char* directory;
        bool driverFolder;
    } cases[] = {{"default", "C:\\WINDOWS\\system32", true},
                 {"ninex", "C:\\WINDOWS\\SYSTEM", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.machine);
        sim::TestPc pc = sim::bootMachineForTest(c.machine);
        char buffer[MAX_PATH];
        UINT length = GetSystemDirectoryA(buffer, sizeof buffer);
        EXPECT_EQ(std::string(c.directory), std::string(buffer, length));
        EXPECT_EQ(length + 1, GetSystemDirectoryA(buffer, length)) << "the size it needs";
        EXPECT_TRUE(sim::drive().directoryExists(c.directory));
        EXPECT_EQ(c.driverFolder,
                  sim::drive().directoryExists(std::string(c.directory) + "\\drivers"));
    }
}

} // namespace
