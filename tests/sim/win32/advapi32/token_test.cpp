// The process token and ExitWindowsEx of the simulated shell, on NT and on Windows 9x.
#include <gtest/gtest.h>

#include "shell_pc.h"

using shelltest::ShellPc;

namespace {

const DWORD kSentinel = 0xdeadbeef;

class Restart : public ShellPc {
  protected:
    // Enables the shutdown privilege the way the restore-defaults dialog does. Returns the last
    // error AdjustTokenPrivileges left.
    DWORD enableShutdownPrivilege() {
        SCOPED_TRACE("enableShutdownPrivilege");
        HANDLE token = nullptr;
        EXPECT_TRUE(
            OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
        LUID luid = {0, 0};
        EXPECT_TRUE(LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &luid));
        TOKEN_PRIVILEGES privileges;
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Luid = luid;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        SetLastError(kSentinel);
        EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr));
        DWORD error = GetLastError();
        EXPECT_TRUE(CloseHandle(token));
        return error;
    }
};

TEST_F(Restart, WithTheShutdownPrivilegeEnabledARestartIsRequested) {
    EXPECT_EQ(DWORD(ERROR_SUCCESS), enableShutdownPrivilege());
    EXPECT_TRUE(sim::shell().shutdownPrivilegeEnabled());
    EXPECT_FALSE(sim::shell().restartRequested());
    EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT, 0));
    EXPECT_TRUE(sim::shell().restartRequested());
    ASSERT_EQ(1u, sim::shell().exitWindowsCalls().size());
    const sim::ExitWindowsCall& call = sim::shell().exitWindowsCalls()[0];
    EXPECT_EQ(UINT(EWX_REBOOT), call.flags);
    EXPECT_EQ(0u, call.reason);
    EXPECT_TRUE(call.result);
    EXPECT_EQ(DWORD(ERROR_SUCCESS), call.error);
    sim::shell().clearRestartRequest();
    EXPECT_FALSE(sim::shell().restartRequested());
}

TEST_F(Restart, WithoutThePrivilegeNtRefuses) {
    SetLastError(kSentinel);
    EXPECT_FALSE(ExitWindowsEx(EWX_REBOOT, 0));
    EXPECT_EQ(DWORD(ERROR_PRIVILEGE_NOT_HELD), GetLastError());
    EXPECT_FALSE(sim::shell().restartRequested());
    ASSERT_EQ(1u, sim::shell().exitWindowsCalls().size());
    EXPECT_FALSE(sim::shell().exitWindowsCalls()[0].result);
    EXPECT_EQ(DWORD(ERROR_PRIVILEGE_NOT_HELD), sim::shell().exitWindowsCalls()[0].error);
    // Logging off needs no privilege and restarts nothing.
    EXPECT_TRUE(ExitWindowsEx(EWX_LOGOFF, 0));
    EXPECT_FALSE(sim::shell().restartRequested());
}

TEST_F(Restart, AUserWithoutThePrivilegeCannotEnableIt) {
    boot("#! no-shutdown-privilege\n");
    EXPECT_EQ(DWORD(ERROR_NOT_ALL_ASSIGNED), enableShutdownPrivilege());
    EXPECT_FALSE(sim::shell().shutdownPrivilegeEnabled());
    EXPECT_FALSE(ExitWindowsEx(EWX_REBOOT, 0));
    EXPECT_EQ(DWORD(ERROR_PRIVILEGE_NOT_HELD), GetLastError());
    EXPECT_FALSE(sim::shell().restartRequested());
}

TEST_F(Restart, DisablingThePrivilegeAgainStopsTheRestart) {
    enableShutdownPrivilege();
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
    EXPECT_TRUE(AdjustTokenPrivileges(token, TRUE, nullptr, 0, nullptr, nullptr));
    EXPECT_FALSE(sim::shell().shutdownPrivilegeEnabled());
    EXPECT_FALSE(ExitWindowsEx(EWX_REBOOT, 0));
    CloseHandle(token);
}

TEST_F(Restart, Windows9xHasNoTokensAndRestartsForAnyone) {
    boot("#! windows 9x\n");
    HANDLE token = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(kSentinel));
    EXPECT_FALSE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
    EXPECT_EQ(DWORD(ERROR_CALL_NOT_IMPLEMENTED), GetLastError());
    EXPECT_EQ(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(kSentinel)), token);
    LUID luid = {kSentinel, 0};
    EXPECT_FALSE(LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &luid));
    EXPECT_EQ(kSentinel, luid.LowPart);
    TOKEN_PRIVILEGES privileges = {1, {{{19, 0}, SE_PRIVILEGE_ENABLED}}};
    EXPECT_FALSE(AdjustTokenPrivileges(nullptr, FALSE, &privileges, 0, nullptr, nullptr));
    EXPECT_EQ(DWORD(ERROR_CALL_NOT_IMPLEMENTED), GetLastError());
    EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT, 0));
    EXPECT_TRUE(sim::shell().restartRequested());
}

TEST_F(Restart, TokenCallsCheckTheirArguments) {
    HANDLE token = nullptr;
    EXPECT_FALSE(OpenProcessToken(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x44)),
                                  TOKEN_QUERY, &token));
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_EQ(nullptr, token);

    LUID luid = {kSentinel, 0};
    EXPECT_FALSE(LookupPrivilegeValueA(nullptr, "SeNoSuchPrivilege", &luid));
    EXPECT_EQ(DWORD(ERROR_NO_SUCH_PRIVILEGE), GetLastError());
    EXPECT_EQ(kSentinel, luid.LowPart);
    EXPECT_TRUE(LookupPrivilegeValueA(nullptr, "seshutdownprivilege", &luid));
    EXPECT_EQ(19u, luid.LowPart);

    TOKEN_PRIVILEGES privileges = {1, {{luid, SE_PRIVILEGE_ENABLED}}};
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    EXPECT_FALSE(AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr));
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError()) << "opened without the adjust right";
    EXPECT_FALSE(sim::shell().shutdownPrivilegeEnabled());
    CloseHandle(token);

    HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    EXPECT_FALSE(AdjustTokenPrivileges(mutex, FALSE, &privileges, 0, nullptr, nullptr));
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError()) << "a mutex is no token";
    CloseHandle(mutex);
    EXPECT_EQ(0, sim::process().openHandleCount());
}

TEST_F(Restart, ThePreviousStateIsReportedWhenAskedFor) {
    HANDLE token = nullptr;
    ASSERT_TRUE(
        OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    TOKEN_PRIVILEGES enable = {1, {{{19, 0}, SE_PRIVILEGE_ENABLED}}};
    TOKEN_PRIVILEGES previous = {kSentinel, {{{kSentinel, 0}, kSentinel}}};
    DWORD length = kSentinel;
    EXPECT_FALSE(AdjustTokenPrivileges(token, FALSE, &enable, 4, &previous, &length));
    EXPECT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ(DWORD(sizeof(TOKEN_PRIVILEGES)), length);
    EXPECT_EQ(kSentinel, previous.PrivilegeCount);
    EXPECT_FALSE(sim::shell().shutdownPrivilegeEnabled()) << "a failed call changes nothing";

    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &enable, sizeof previous, &previous, &length));
    EXPECT_EQ(1u, previous.PrivilegeCount);
    EXPECT_EQ(19u, previous.Privileges[0].Luid.LowPart);
    EXPECT_EQ(0u, previous.Privileges[0].Attributes) << "it was disabled before";
    EXPECT_TRUE(sim::shell().shutdownPrivilegeEnabled());
    CloseHandle(token);
}

} // namespace
