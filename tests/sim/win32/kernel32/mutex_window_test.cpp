// The named mutex and the top-level windows of the simulated shell, within one process and
// between two runs of the program on one virtual PC.
#include <gtest/gtest.h>

#include <dirent.h>
#include <time.h>

#include "shell_pc.h"

using shelltest::OtherProcess;
using shelltest::ShellPc;

namespace {

const HWND kMainDialog = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x3300));
const HWND kOtherDialog = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x3400));

HANDLE createExists(DWORD* lastError) {
    SECURITY_ATTRIBUTES attributes = {12, nullptr, FALSE};
    SetLastError(0xdeadbeef);
    HANDLE mutex = CreateMutexA(&attributes, TRUE, "Exists");
    *lastError = GetLastError();
    return mutex;
}

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.')
                names.push_back(entry->d_name);
        closedir(dir);
    }
    return names;
}

// The named mutex ------------------------------------------------------------------------------

class NamedMutex : public ShellPc {};

TEST_F(NamedMutex, TheSecondCreateInOneProcessFindsTheFirst) {
    DWORD error = 0;
    HANDLE first = createExists(&error);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(DWORD(ERROR_SUCCESS), error);
    SetLastError(0xdeadbeef);
    HANDLE second = CreateMutexA(nullptr, TRUE, "EXISTS");
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(DWORD(ERROR_ALREADY_EXISTS), GetLastError()) << "names ignore case";
    EXPECT_NE(first, second);

    // Created owned once: one release succeeds, through either handle; the next one fails.
    EXPECT_TRUE(ReleaseMutex(second));
    EXPECT_FALSE(ReleaseMutex(first));
    EXPECT_EQ(DWORD(ERROR_NOT_OWNER), GetLastError());
    EXPECT_TRUE(CloseHandle(first));
    EXPECT_TRUE(CloseHandle(second));

    // Once every handle is closed the mutex is gone.
    HANDLE again = createExists(&error);
    EXPECT_EQ(DWORD(ERROR_SUCCESS), error);
    EXPECT_TRUE(CloseHandle(again));
    EXPECT_EQ(0, sim::process().openHandleCount());
}

TEST_F(NamedMutex, ReleaseNeedsOwnershipAndAMutexHandle) {
    HANDLE notOwned = CreateMutexA(nullptr, FALSE, "Loose");
    EXPECT_FALSE(ReleaseMutex(notOwned));
    EXPECT_EQ(DWORD(ERROR_NOT_OWNER), GetLastError());
    EXPECT_FALSE(ReleaseMutex(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x777))));
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
    HANDLE unnamed = CreateMutexA(nullptr, TRUE, nullptr);
    EXPECT_TRUE(ReleaseMutex(unnamed));
    EXPECT_FALSE(ReleaseMutex(unnamed));
    CloseHandle(unnamed);
    CloseHandle(notOwned);
}

TEST_F(NamedMutex, TwoRunsOnOneStateDirectoryMeet) {
    attach();
    OtherProcess first;
    first.start(stateDir, [](OtherProcess& self) {
        DWORD error = 0;
        HANDLE mutex = createExists(&error);
        if (!mutex || error != ERROR_SUCCESS)
            return 1;
        self.signal();
        self.wait();
        return 0; // ends without closing the handle, like a crash
    });
    ASSERT_TRUE(first.wait()) << "the first run did not get going";
    DWORD error = 0;
    HANDLE second = createExists(&error);
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(DWORD(ERROR_ALREADY_EXISTS), error);
    EXPECT_FALSE(ReleaseMutex(second)) << "the first run owns it";
    EXPECT_TRUE(CloseHandle(second));
    first.signal();
    EXPECT_EQ(0, first.join());

    // The first run has ended, so its mutex went with it.
    HANDLE third = createExists(&error);
    EXPECT_EQ(DWORD(ERROR_SUCCESS), error);
    OtherProcess later;
    later.start(stateDir, [](OtherProcess&) {
        DWORD laterError = 0;
        createExists(&laterError);
        return laterError == ERROR_ALREADY_EXISTS ? 0 : 1;
    });
    EXPECT_EQ(0, later.join()) << "a run started while this one holds the mutex must see it";
    CloseHandle(third);
}

// Waiting on a named mutex: ownership is the process's, counted, and passes between processes.
TEST_F(NamedMutex, AnOwnerWaitsAgainAndReleasesAsOftenAsItTook) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "Lock");
    ASSERT_NE(nullptr, mutex);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex, 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex, INFINITE));
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_FALSE(ReleaseMutex(mutex));
    EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(reinterpret_cast<HANDLE>(0x777), 0));
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
    CloseHandle(mutex);
}

TEST_F(NamedMutex, AWaitEndsWhenTheOtherRunReleases) {
    attach();
    OtherProcess owner;
    owner.start(stateDir, [](OtherProcess& self) {
        HANDLE mutex = CreateMutexA(nullptr, TRUE, "Lock");
        self.signal();
        self.wait();
        return ReleaseMutex(mutex) ? 0 : 1;
    });
    ASSERT_TRUE(owner.wait()) << "the owner did not get going";
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "Lock");
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(mutex, 50)) << "the other run owns it";
    EXPECT_FALSE(ReleaseMutex(mutex));
    owner.signal();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex, 5000));
    EXPECT_EQ(0, owner.join());
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(mutex);
}

TEST_F(NamedMutex, AnOwnerThatEndsWithoutReleasingAbandonsIt) {
    attach();
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "Lock");
    OtherProcess owner;
    owner.start(stateDir, [](OtherProcess& self) {
        HANDLE own = CreateMutexA(nullptr, FALSE, "Lock");
        if (WaitForSingleObject(own, 0) != WAIT_OBJECT_0)
            return 1;
        self.signal();
        return 0; // ends owning it, like a crash
    });
    ASSERT_TRUE(owner.wait());
    EXPECT_EQ(0, owner.join());
    EXPECT_EQ(WAIT_ABANDONED, WaitForSingleObject(mutex, 5000));
    EXPECT_TRUE(ReleaseMutex(mutex)) << "an abandoned mutex is the waiter's";
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex, 0)) << "released properly this time";
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}

// Windows across processes --------------------------------------------------------------------

class TopLevelWindows : public ShellPc {};

TEST_F(TopLevelWindows, OwnWindowsAreFoundByTitleIgnoringCase) {
    sim::shell().registerWindow(kMainDialog, "Vantorel Tavrolin");
    EXPECT_EQ(kMainDialog, FindWindowA(nullptr, "vantorel TAVROLIN"));
    EXPECT_EQ(kMainDialog, FindWindowA("#32770", "Vantorel Tavrolin"));
    EXPECT_EQ(nullptr, FindWindowA("Button", "Vantorel Tavrolin"));
    EXPECT_EQ(nullptr, FindWindowA(nullptr, "Vantorel"));
    sim::shell().setWindowTitle(kMainDialog, "Renamed");
    EXPECT_EQ(kMainDialog, FindWindowA(nullptr, "Renamed"));
    sim::shell().unregisterWindow(kMainDialog);
    EXPECT_EQ(nullptr, FindWindowA(nullptr, "Renamed"));
    EXPECT_EQ("FindWindowA \"Renamed\" -> none", lastTrace());
}

std::vector<HWND> hookCalls;
void foregroundHook(HWND window) {
    hookCalls.push_back(window);
}

TEST_F(TopLevelWindows, BringingAnOwnWindowToTheFrontGoesToTheWindowManager) {
    sim::shell().registerWindow(kMainDialog, "Vantorel Tavrolin");
    EXPECT_TRUE(SetForegroundWindow(kMainDialog));
    EXPECT_EQ(std::vector<HWND>{kMainDialog}, sim::shell().takeForegroundRequests());
    EXPECT_TRUE(sim::shell().takeForegroundRequests().empty());

    hookCalls.clear();
    sim::shell().setForegroundHook(foregroundHook);
    EXPECT_TRUE(SetForegroundWindow(kMainDialog));
    EXPECT_EQ(std::vector<HWND>{kMainDialog}, hookCalls);
    EXPECT_TRUE(sim::shell().takeForegroundRequests().empty());
    EXPECT_FALSE(SetForegroundWindow(kOtherDialog)) << "an unknown window";
    sim::shell().setForegroundHook(nullptr);
}

TEST_F(TopLevelWindows, ASecondRunFindsTheFirstRunsWindowAndBringsItToTheFront) {
    attach();
    OtherProcess first;
    first.start(stateDir, [](OtherProcess& self) {
        sim::shell().registerWindow(kMainDialog, "Vantorel Tavrolin");
        self.signal();
        // Poll like the window manager's loop does, for at most five seconds.
        for (int i = 0; i < 500; ++i) {
            std::vector<HWND> requests = sim::shell().takeForegroundRequests();
            if (!requests.empty())
                return requests == std::vector<HWND>{kMainDialog} ? 0 : 2;
            timespec pause = {0, 10 * 1000 * 1000};
            nanosleep(&pause, nullptr);
        }
        return 1;
    });
    ASSERT_TRUE(first.wait()) << "the first run did not get going";
    EXPECT_EQ(nullptr, FindWindowA(nullptr, "Another title"));
    HWND found = FindWindowA(nullptr, "Vantorel Tavrolin");
    ASSERT_NE(nullptr, found);
    EXPECT_EQ("FindWindowA \"Vantorel Tavrolin\" -> window of pid " + std::to_string(first.pid()),
              lastTrace());
    EXPECT_TRUE(SetForegroundWindow(found));
    EXPECT_EQ("SetForegroundWindow \"Vantorel Tavrolin\" of pid " + std::to_string(first.pid()) +
                  " -> requested",
              lastTrace());
    EXPECT_EQ(0, first.join()) << "1: the request never arrived, 2: it named another window";
    EXPECT_FALSE(SetForegroundWindow(found)) << "the window's process has ended";
}

TEST_F(TopLevelWindows, WindowsOfEndedRunsAreIgnoredAndCleanedUp) {
    attach();
    OtherProcess crashed;
    crashed.start(stateDir, [](OtherProcess&) {
        sim::shell().registerWindow(kMainDialog, "Vantorel Tavrolin");
        return 0; // ends without unregistering
    });
    ASSERT_EQ(0, crashed.join());
    std::string windows = stateDir + "/objects/windows";
    ASSERT_EQ(1u, filesIn(windows).size()) << "the ended run left its window file";
    EXPECT_EQ(nullptr, FindWindowA(nullptr, "Vantorel Tavrolin"));
    EXPECT_TRUE(filesIn(windows).empty());
}

TEST_F(TopLevelWindows, AnotherProcessStartingAfreshLeavesOurWindowsAlone) {
    attach();
    sim::shell().registerWindow(kMainDialog, "Vantorel Tavrolin");
    OtherProcess child; // inherits our window list, then starts its shell afresh
    child.start(stateDir, [](OtherProcess&) { return 0; });
    ASSERT_EQ(0, child.join());
    EXPECT_EQ(1u, filesIn(stateDir + "/objects/windows").size());
    sim::shell().unregisterWindow(kMainDialog);
}

TEST_F(TopLevelWindows, AWindowFileLivesAsLongAsTheWindow) {
    attach();
    std::string windows = stateDir + "/objects/windows";
    sim::shell().registerWindow(kMainDialog, "Vantorel Tavrolin");
    EXPECT_EQ(1u, filesIn(windows).size());
    sim::shell().unregisterWindow(kMainDialog);
    EXPECT_TRUE(filesIn(windows).empty());
    sim::shell().registerWindow(kMainDialog, "Vantorel Tavrolin");
    boot("");
    EXPECT_TRUE(filesIn(windows).empty()) << "a new boot of this process takes its windows away";
}

} // namespace
