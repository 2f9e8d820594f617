// The running program's view of the PC: version, DirectDraw, paths, current directory, the
// virtual drive, and the test boot itself.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/platform.h"
#include "sim/boot.h"
#include "sim/machine.h"
#include "sim/process.h"

namespace {

const char* const kProgramDir = "C:\\Program Files\\Vantorel Tech\\Tavrolin";
const char* const kExePath = "C:\\Program Files\\Vantorel Tech\\Tavrolin\\Tavrol.exe";

sim::TestPc bootDefaultWith(const std::string& directives) {
    sim::Profile profile;
    std::string error;
    EXPECT_TRUE(sim::loadProfileFile(sim::machinesDir() + "/default.lspci", &profile, &error));
    sim::TestPc pc = sim::bootForTest(directives + sim::formatProfile(profile));
    EXPECT_TRUE(pc.ok()) << pc.error();
    return pc;
}

OSVERSIONINFOA versionRecord(DWORD size) {
    OSVERSIONINFOA info;
    std::memset(&info, 0xbd, sizeof info);
    info.dwOSVersionInfoSize = size;
    return info;
}

TEST(Version, NtIsWindowsXpServicePack3) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    OSVERSIONINFOA info = versionRecord(sizeof(OSVERSIONINFOA));
    ASSERT_TRUE(GetVersionExA(&info)) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(VER_PLATFORM_WIN32_NT), info.dwPlatformId);
    EXPECT_EQ(5u, info.dwMajorVersion);
    EXPECT_EQ(1u, info.dwMinorVersion);
    EXPECT_EQ(2600u, info.dwBuildNumber);
    EXPECT_STREQ("Service Pack 3", info.szCSDVersion);
    EXPECT_EQ(0, info.szCSDVersion[127]) << "the rest of the text is cleared";
}

TEST(Version, NinexIsWindows98SecondEdition) {
    sim::TestPc pc = sim::bootMachineForTest("ninex");
    OSVERSIONINFOA info = versionRecord(sizeof(OSVERSIONINFOA));
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS), info.dwPlatformId);
    EXPECT_EQ(4u, info.dwMajorVersion);
    EXPECT_EQ(10u, info.dwMinorVersion);
    EXPECT_EQ(2222u, info.dwBuildNumber & 0xFFFF);
    EXPECT_STREQ(" A", info.szCSDVersion);
}

TEST(Version, WrongSizesAndInjectedFailure) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    for (DWORD size : {0u, 147u, 149u, 0xFFFFFFFFu}) {
        OSVERSIONINFOA info = versionRecord(size);
        SetLastError(0);
        EXPECT_FALSE(GetVersionExA(&info)) << size;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
        EXPECT_EQ(0xbdbdbdbdu, info.dwPlatformId) << "written on failure";
    }
    // The extended record (156 bytes) is known to NT but not to Windows 98.
    unsigned char ex[160];
    std::memset(ex, 0xbd, sizeof ex);
    DWORD size = 156;
    std::memcpy(ex, &size, 4);
    EXPECT_TRUE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(ex)));
    EXPECT_EQ(3, ex[148]) << "service pack major";
    EXPECT_EQ(0xbd, ex[156]) << "written past the record";
    sim::TestPc nine = sim::bootMachineForTest("ninex");
    EXPECT_FALSE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(ex)));

    sim::TestPc failing = bootDefaultWith("#! version-fails\n");
    OSVERSIONINFOA info = versionRecord(sizeof(OSVERSIONINFOA));
    EXPECT_FALSE(GetVersionExA(&info));
    EXPECT_NE(0u, GetLastError());
}

// A thread runs to its end inside CreateThread with a last error of its own; its handle is
// signalled. Windows 9x wants the identifier's place; `#! thread-fails` refuses every thread.
DWORD WINAPI countAndFail(LPVOID context) {
    ++*static_cast<int*>(context);
    SetLastError(ERROR_ACCESS_DENIED);
    return 7;
}

TEST(Threads, RunToTheirEndInCreateThread) {
    struct Case {
        const char* machine;
        const char* directives;
        bool withId;
        DWORD error; // 0: the thread runs
    };
    const Case cases[] = {{"default", "", true, 0},
                          {"default", "", false, 0},
                          {"ninex", "", true, 0},
                          {"ninex", "", false, ERROR_INVALID_PARAMETER},
                          {"default", "#! thread-fails\n", true, ERROR_NOT_ENOUGH_MEMORY}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.machine) + " " + c.directives + (c.withId ? "id" : "no id"));
        sim::TestPc pc =
            *c.directives ? bootDefaultWith(c.directives) : sim::bootMachineForTest(c.machine);
        int runs = 0;
        DWORD id = 0;
        SetLastError(ERROR_FILE_NOT_FOUND);
        HANDLE thread = CreateThread(nullptr, 0, countAndFail, &runs, 0, c.withId ? &id : nullptr);
        if (c.error != 0) {
            EXPECT_EQ(nullptr, thread);
            EXPECT_EQ(c.error, GetLastError());
            EXPECT_EQ(0, runs);
            continue;
        }
        ASSERT_NE(nullptr, thread);
        EXPECT_EQ(1, runs);
        EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError()) << "the thread's error leaked";
        EXPECT_EQ(c.withId, id != 0);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, INFINITE));
        EXPECT_TRUE(CloseHandle(thread));
    }
}

TEST(DirectDraw, DefaultHandsOutAnObjectThatCountsReleases) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    LPDIRECTDRAW dd = reinterpret_cast<LPDIRECTDRAW>(0x1);
    EXPECT_EQ(DD_OK, DirectDrawCreate(nullptr, &dd, nullptr));
    ASSERT_NE(nullptr, dd);
    EXPECT_EQ(1, sim::machine().directDrawCreated());
    EXPECT_EQ(0, sim::machine().directDrawReleased());
    EXPECT_EQ(0u, dd->Release());
    EXPECT_EQ(1, sim::machine().directDrawReleased());
    EXPECT_EQ(1u, sim::machine().traceOf(sim::TraceKind::DirectDrawCreate).size());
}

TEST(DirectDraw, ProfileChoosesTheResult) {
    struct Case {
        const char* directive;
        HRESULT result;
        bool object;
    };
    const Case cases[] = {
        {"#! ddraw 0x88760233\n", DDERR_NODIRECTDRAWHW, false},
        {"#! ddraw 0x8007000E\n", E_OUTOFMEMORY, false},
        {"#! ddraw 0x88760232\n", DDERR_DIRECTDRAWALREADYCREATED, false},
        {"#! ddraw 0x88760232 object\n", DDERR_DIRECTDRAWALREADYCREATED, true},
        {"#! ddraw 1\n", 1, false},
        {"#! ddraw 0 null\n", DD_OK, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.directive);
        sim::TestPc pc = bootDefaultWith(c.directive);
        LPDIRECTDRAW dd = reinterpret_cast<LPDIRECTDRAW>(0x1);
        EXPECT_EQ(c.result, DirectDrawCreate(nullptr, &dd, nullptr));
        EXPECT_EQ(c.object, dd != nullptr);
        EXPECT_EQ(c.object ? 1 : 0, sim::machine().directDrawCreated());
    }
}

TEST(DirectDraw, BadArguments) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    EXPECT_EQ(E_INVALIDARG, DirectDrawCreate(nullptr, nullptr, nullptr));
    LPDIRECTDRAW dd;
    GUID guid = {1, 2, 3, {4}};
    EXPECT_EQ(DDERR_INVALIDDIRECTDRAWGUID, DirectDrawCreate(&guid, &dd, nullptr));
    EXPECT_EQ(nullptr, dd);
    EXPECT_EQ(0, sim::machine().directDrawCreated());
}

TEST(ModulePath, FullPathWithSpaces) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    EXPECT_EQ(std::strlen(kExePath), length);
    EXPECT_STREQ(kExePath, path);
    EXPECT_STREQ("\"C:\\Program Files\\Vantorel Tech\\Tavrolin\\Tavrol.exe\"", GetCommandLineA());
    sim::process().setCommandLine("Tavrol.exe -startup");
    EXPECT_STREQ("Tavrol.exe -startup", GetCommandLineA());
}

TEST(ModulePath, TruncationAsWindowsXpDoesIt) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    const DWORD full = static_cast<DWORD>(std::strlen(kExePath));
    char buffer[80];

    std::memset(buffer, 0xbd, sizeof buffer);
    EXPECT_EQ(full, GetModuleFileNameA(nullptr, buffer, full + 1));
    EXPECT_STREQ(kExePath, buffer);
    EXPECT_EQ('\xbd', buffer[full + 1]);

    std::memset(buffer, 0xbd, sizeof buffer);
    SetLastError(1234);
    EXPECT_EQ(full, GetModuleFileNameA(nullptr, buffer, full)) << "no room for the terminator";
    EXPECT_EQ(0, std::memcmp(buffer, kExePath, full));
    EXPECT_EQ('\xbd', buffer[full]) << "XP leaves the name unterminated";
    EXPECT_EQ(1234u, GetLastError());

    std::memset(buffer, 0xbd, sizeof buffer);
    EXPECT_EQ(10u, GetModuleFileNameA(nullptr, buffer, 10));
    EXPECT_EQ(0, std::memcmp(buffer, kExePath, 10));
    EXPECT_EQ('\xbd', buffer[10]);
    EXPECT_EQ(0u, GetModuleFileNameA(nullptr, buffer, 0));

    SetLastError(0);
    EXPECT_EQ(0u, GetModuleFileNameA(reinterpret_cast<HMODULE>(0x7770), buffer, sizeof buffer));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
    sim::process().registerModule(reinterpret_cast<HMODULE>(0x7770), "C:\\X\\Tavrol.tvx");
    EXPECT_EQ(15u, GetModuleFileNameA(reinterpret_cast<HMODULE>(0x7770), buffer, sizeof buffer));
    EXPECT_STREQ("C:\\X\\Tavrol.tvx", buffer);
    EXPECT_STREQ(kExePath, sim::process().modulePathOf(sim::process().exeModule())->c_str());
}

TEST(CurrentDirectory, StartsInTheProgramDirectory) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    char buffer[MAX_PATH];
    const DWORD length = static_cast<DWORD>(std::strlen(kProgramDir));
    EXPECT_EQ(length, GetCurrentDirectoryA(sizeof buffer, buffer));
    EXPECT_STREQ(kProgramDir, buffer);

    // Too small: the size needed, terminator included, and nothing written.
    std::memset(buffer, 0xbd, sizeof buffer);
    EXPECT_EQ(length + 1, GetCurrentDirectoryA(length, buffer));
    EXPECT_EQ('\xbd', buffer[0]);
    EXPECT_EQ(length + 1, GetCurrentDirectoryA(0, nullptr));
    EXPECT_EQ(length, GetCurrentDirectoryA(length + 1, buffer));
}

TEST(CurrentDirectory, ChangesLikeWindows) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    char buffer[MAX_PATH];
    ASSERT_TRUE(SetCurrentDirectoryA("c:/program files/VANTOREL TECH/"));
    GetCurrentDirectoryA(sizeof buffer, buffer);
    EXPECT_STREQ("C:\\program files\\VANTOREL TECH", buffer);
    ASSERT_TRUE(SetCurrentDirectoryA("Tavrolin\\.\\..\\Tavrolin"));
    GetCurrentDirectoryA(sizeof buffer, buffer);
    EXPECT_STREQ("C:\\program files\\VANTOREL TECH\\Tavrolin", buffer);
    ASSERT_TRUE(SetCurrentDirectoryA("\\"));
    GetCurrentDirectoryA(sizeof buffer, buffer);
    EXPECT_STREQ("C:\\", buffer);

    struct Case {
        const char* path;
        DWORD error;
    };
    const Case refused[] = {
        {"C:\\Nowhere", ERROR_FILE_NOT_FOUND},
        {"C:\\Nowhere\\Deeper", ERROR_PATH_NOT_FOUND},
        {"D:\\", ERROR_PATH_NOT_FOUND},
        {"C:\\Program Files\\Vantorel Tech\\Tavrolin\\TAVROL.sys", ERROR_DIRECTORY},
        {"", ERROR_INVALID_NAME},
    };
    for (const Case& c : refused) {
        SetLastError(0);
        EXPECT_FALSE(SetCurrentDirectoryA(c.path)) << c.path;
        EXPECT_EQ(c.error, GetLastError()) << c.path;
    }
    std::string longPath = "C:\\" + std::string(260, 'a');
    EXPECT_FALSE(SetCurrentDirectoryA(longPath.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), GetLastError());
    GetCurrentDirectoryA(sizeof buffer, buffer);
    EXPECT_STREQ("C:\\", buffer) << "a refused change kept the directory";
}

TEST(VirtualDrive, PathsMapCaseInsensitivelyIntoTheRoot) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    sim::VirtualDrive& c = sim::drive();
    EXPECT_TRUE(c.fileExists("c:\\PROGRAM FILES\\vantorel tech\\tavrolin\\tavrol.SYS"));
    EXPECT_TRUE(c.fileExists("C:/Program Files/Vantorel Tech/Tavrolin/TAVROL.VXD"));
    EXPECT_TRUE(c.fileExists("TAVROL.sys")) << "relative to the current directory";
    EXPECT_TRUE(c.directoryExists("C:\\Program Files"));
    EXPECT_FALSE(c.fileExists("C:\\Program Files"));
    std::string host = c.hostPathOf("c:\\program files\\vantorel tech\\tavrolin\\tavrol.sys");
    EXPECT_EQ(pc.root() + "/drive_c/Program Files/Vantorel Tech/Tavrolin/TAVROL.sys", host);
    EXPECT_EQ(pc.root() + "/drive_c/New/file.txt", c.hostPathOf("C:\\New\\file.txt"));
    EXPECT_EQ("", c.hostPathOf("D:\\x"));
    EXPECT_EQ("", c.hostPathOf("\\\\server\\share"));
    EXPECT_EQ("C:\\", c.fullPath("C:\\..\\.."));
    EXPECT_EQ("C:\\A", c.fullPath("\\??\\C:\\A\\B\\.."));

    std::string source = pc.root() + "/Tavrol.tvx";
    std::ofstream(source) << "MZ resource library";
    EXPECT_TRUE(c.installFile(std::string(kProgramDir) + "\\Tavrol.tvx", source));
    EXPECT_TRUE(c.fileExists("C:\\PROGRAM FILES\\Vantorel Tech\\Tavrolin\\tavrol.tvx"));
    EXPECT_FALSE(c.installFile("C:\\x.tvx", pc.root() + "/missing"));
}

TEST(TestBoot, FreshInstallFollowsTheProfileAndRootIsRemoved) {
    std::string root;
    {
        sim::TestPc pc = bootDefaultWith("#! driver-file absent\n");
        root = pc.root();
        EXPECT_TRUE(std::filesystem::is_directory(root + "/drive_c"));
        EXPECT_FALSE(sim::drive().fileExists(std::string(kProgramDir) + "\\TAVROL.sys"));
        EXPECT_TRUE(sim::drive().fileExists(std::string(kProgramDir) + "\\TAVROL.VXD"));
    }
    EXPECT_FALSE(std::filesystem::exists(root)) << root;

    sim::TestPc empty = sim::bootForTest("");
    ASSERT_TRUE(empty.ok()) << empty.error();
    EXPECT_TRUE(sim::machine().isNt());
    EXPECT_TRUE(sim::machine().functions().empty());

    sim::TestPc bad = sim::bootForTest("#! nonsense\n");
    EXPECT_FALSE(bad.ok());
    EXPECT_EQ("test profile:1: unknown directive 'nonsense'", bad.error());
}

TEST(TestBoot, AssigningAnotherPcRemovesTheOldRoot) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    std::string first = pc.root();
    pc = sim::bootMachineForTest("ninex");
    EXPECT_FALSE(std::filesystem::exists(first)) << first;
    EXPECT_NE(first, pc.root());
    EXPECT_TRUE(std::filesystem::is_directory(pc.root() + "/drive_c"));
    EXPECT_FALSE(sim::machine().isNt());
}

TEST(VirtualDrive, AnExactSpellingWinsOverAnotherCase) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    std::filesystem::create_directories(pc.root() + "/drive_c/Data");
    std::filesystem::create_directories(pc.root() + "/drive_c/data");
    EXPECT_EQ(pc.root() + "/drive_c/data/x", sim::drive().hostPathOf("C:\\data\\x"));
    EXPECT_EQ(pc.root() + "/drive_c/Data/x", sim::drive().hostPathOf("C:\\Data\\x"));
}

int resets = 0;
void countReset() {
    ++resets;
}

TEST(TestBoot, EachBootStartsClean) {
    sim::addResetHook(countReset);
    sim::addResetHook(countReset);
    int before = resets;
    unsigned generation = sim::bootGeneration();
    sim::TestPc first = sim::bootMachineForTest("default");
    EXPECT_EQ(before + 1, resets) << "the hook ran once per boot";
    SetLastError(77);
    SetCurrentDirectoryA("C:\\");
    sim::machine().pokePhysWord(0x1000, 5);
    sim::TestPc second = sim::bootMachineForTest("default");
    EXPECT_EQ(before + 2, resets);
    EXPECT_EQ(generation + 2, sim::bootGeneration());
    EXPECT_EQ(0u, GetLastError());
    char buffer[MAX_PATH];
    GetCurrentDirectoryA(sizeof buffer, buffer);
    EXPECT_STREQ(kProgramDir, buffer);
    EXPECT_EQ(0u, sim::machine().physWord(0x1000));
    EXPECT_TRUE(sim::machine().trace().empty());
}

} // namespace
