// The process token and ExitWindowsEx of the simulated PC. NT checks the shutdown privilege;
// Windows 9x has no tokens and restarts for anyone who asks.
#include <string.h>
#include <strings.h>

#include <memory>

#include "shell_internal.h"
#include "sim/process.h"
#include "sim_advapi32.h"
#include "sim_kernel32.h"
#include "sim_user32.h"

namespace sim {
namespace {

const DWORD kShutdownPrivilege = 19; // SE_SHUTDOWN_PRIVILEGE's LUID on every NT

struct PrivilegeName {
    const char* name;
    DWORD luid;
};
const PrivilegeName kPrivileges[] = {
    {"SeLoadDriverPrivilege", 10},
    {"SeSystemtimePrivilege", 12},
    {"SeShutdownPrivilege", kShutdownPrivilege},
    {"SeDebugPrivilege", 20},
};

class TokenObject : public KernelObject {
  public:
    explicit TokenObject(DWORD access) : m_access(access) {}
    const char* kind() const override { return "token"; }
    DWORD access() const { return m_access; }

  private:
    DWORD m_access;
};

BOOL notOnWindows9x(const char* function) {
    shellTrace(std::string(function) + " -> not implemented on Windows 9x");
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

BOOL fail(const std::string& line, DWORD error) {
    shellTrace(line);
    SetLastError(error);
    return FALSE;
}

} // namespace
} // namespace sim

using namespace sim;

BOOL WINAPI OpenProcessToken(HANDLE processHandle, DWORD desiredAccess, PHANDLE tokenHandle) {
    if (!shellState().nt)
        return notOnWindows9x("OpenProcessToken");
    if (!tokenHandle)
        return fail("OpenProcessToken -> no place for the handle", ERROR_NOACCESS);
    if (processHandle != GetCurrentProcess())
        return fail("OpenProcessToken -> not the current process", ERROR_INVALID_HANDLE);
    *tokenHandle = process().addHandle(std::make_unique<TokenObject>(desiredAccess));
    shellTrace("OpenProcessToken access " + std::to_string(desiredAccess) + " -> ok");
    return TRUE;
}

BOOL WINAPI LookupPrivilegeValueA(LPCSTR, LPCSTR name, PLUID luid) {
    if (!shellState().nt)
        return notOnWindows9x("LookupPrivilegeValueA");
    if (!luid || !name)
        return fail("LookupPrivilegeValueA -> bad parameter", ERROR_NOACCESS);
    for (const PrivilegeName& privilege : kPrivileges) {
        if (strcasecmp(privilege.name, name) == 0) {
            luid->LowPart = privilege.luid;
            luid->HighPart = 0;
            shellTrace("LookupPrivilegeValueA " + traceQuoted(name) + " -> " +
                       std::to_string(privilege.luid));
            return TRUE;
        }
    }
    return fail("LookupPrivilegeValueA " + traceQuoted(name) + " -> no such privilege",
                ERROR_NO_SUCH_PRIVILEGE);
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE tokenHandle, BOOL disableAllPrivileges,
                                  PTOKEN_PRIVILEGES newState, DWORD bufferLength,
                                  PTOKEN_PRIVILEGES previousState, PDWORD returnLength) {
    ShellState& state = shellState();
    if (!state.nt)
        return notOnWindows9x("AdjustTokenPrivileges");
    KernelObject* object = process().object(tokenHandle);
    if (!object || strcmp(object->kind(), "token") != 0)
        return fail("AdjustTokenPrivileges -> not a token", ERROR_INVALID_HANDLE);
    DWORD access = static_cast<TokenObject*>(object)->access();
    if (!(access & TOKEN_ADJUST_PRIVILEGES) || (previousState && !(access & TOKEN_QUERY)))
        return fail("AdjustTokenPrivileges -> token opened without the access",
                    ERROR_ACCESS_DENIED);
    if (!disableAllPrivileges && !newState)
        return fail("AdjustTokenPrivileges -> no privileges given", ERROR_INVALID_PARAMETER);
    if (previousState) {
        // Only the shutdown privilege is ever changed here, so the previous state holds at most
        // that one.
        DWORD needed = sizeof(TOKEN_PRIVILEGES);
        if (!returnLength)
            return fail("AdjustTokenPrivileges -> no return length", ERROR_NOACCESS);
        *returnLength = needed;
        if (bufferLength < needed)
            return fail("AdjustTokenPrivileges -> previous-state buffer too small",
                        ERROR_INSUFFICIENT_BUFFER);
        previousState->PrivilegeCount = 1;
        previousState->Privileges[0].Luid.LowPart = kShutdownPrivilege;
        previousState->Privileges[0].Luid.HighPart = 0;
        previousState->Privileges[0].Attributes = state.privilegeEnabled ? SE_PRIVILEGE_ENABLED : 0;
    }
    if (disableAllPrivileges) {
        state.privilegeEnabled = false;
        shellTrace("AdjustTokenPrivileges disable all -> ok");
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    bool allAssigned = true;
    for (DWORD i = 0; i < newState->PrivilegeCount; ++i) {
        const LUID_AND_ATTRIBUTES& entry = newState->Privileges[i];
        bool shutdown = entry.Luid.LowPart == kShutdownPrivilege && entry.Luid.HighPart == 0;
        if (!shutdown || !state.privilegeHeld) {
            allAssigned = false; // the user does not hold it: nothing changes
            continue;
        }
        state.privilegeEnabled = (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
    // Success either way; whether everything was assigned is only in the last error.
    shellTrace(std::string("AdjustTokenPrivileges -> ") +
               (allAssigned ? "ok" : "not all assigned") +
               (state.privilegeEnabled ? ", shutdown privilege enabled" : ""));
    SetLastError(allAssigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
    return TRUE;
}

BOOL WINAPI ExitWindowsEx(UINT flags, DWORD reason) {
    ShellState& state = shellState();
    UINT action = flags & (EWX_SHUTDOWN | EWX_REBOOT | EWX_POWEROFF);
    bool needsPrivilege = action != EWX_LOGOFF && state.nt;
    ExitWindowsCall call{flags, reason, TRUE, ERROR_SUCCESS};
    if (needsPrivilege && !state.privilegeEnabled) {
        call.result = FALSE;
        call.error = ERROR_PRIVILEGE_NOT_HELD;
    }
    state.exitCalls.push_back(call);
    if (!call.result)
        return fail("ExitWindowsEx " + std::to_string(flags) + " -> privilege not held",
                    ERROR_PRIVILEGE_NOT_HELD);
    if (flags & EWX_REBOOT)
        state.restartRequested = true;
    shellTrace("ExitWindowsEx " + std::to_string(flags) +
               ((flags & EWX_REBOOT) ? " -> restart requested" : " -> ok"));
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
