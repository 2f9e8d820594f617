// CTavrolDlg::OnRestoreDefaults: deletes the stored settings after the user confirms and, on
// Yes, asks Windows to restart so that the modes come up at their defaults.
#include "ui/tavrol_dlg.h"
#include "ui/restore_dlg.h"
#include "app/tavrol_app.h"

// The restart needs the shutdown privilege, which a process holds but has not enabled. No
// result is examined: a refused restart leaves the settings deleted all the same.
static void requestRestart() {
    HANDLE token = nullptr;
    ::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token);
    LUID shutdownPrivilege;
    shutdownPrivilege.LowPart = 0;
    shutdownPrivilege.HighPart = 0;
    ::LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &shutdownPrivilege);
    TOKEN_PRIVILEGES privileges;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid = shutdownPrivilege;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    ::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    if (token)
        ::CloseHandle(token);
    ::ExitWindowsEx(EWX_REBOOT, 0);
}

void CTavrolDlg::OnRestoreDefaults() {
    CRestoreDlg restore(nullptr);
    INT_PTR answer = restore.DoModal();
    // Cancel, or a restore dialog that could not be shown, leaves everything as it is.
    if (answer != IDYES && answer != IDNO)
        return;
    theTavrolApp()->deleteSettings();
    if (answer == IDYES)
        requestRestart();
    EndDialog(IDOK);
}
