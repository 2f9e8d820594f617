// The 32-bit program on 64-bit Windows: its driver cannot load there, so it says which release
// is needed and installs nothing.
#include "app/tavrol_app.h"

namespace {

const char kWin64Needed[] =
    "This is Tavrolin for 32-bit Windows, and this Windows is 64-bit: its driver cannot load "
    "here.\nPlease use the win64 release of Tavrolin instead. Nothing has been installed.";
const char kWin64LogOnEnded[] =
    "Tavrolin for 32-bit Windows cannot apply AGP settings on this 64-bit Windows, so it no "
    "longer runs at log-on.\nPlease install the win64 release of Tavrolin and choose the "
    "settings again.";

typedef BOOL(WINAPI* IsWow64ProcessFunction)(HANDLE, BOOL*);

} // namespace

bool runsUnderWow64() {
    // Exported from XP SP2 on; Windows without it has no 64-bit edition the program could meet.
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    IsWow64ProcessFunction isWow64Process =
        kernel32 ? lookUpProc<IsWow64ProcessFunction>(kernel32, "IsWow64Process") : nullptr;
    BOOL wow64 = FALSE;
    return isWow64Process && isWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

void CTavrolApp::refuseOn64BitWindows(bool logOnRun) {
    if (!logOnRun) {
        AfxShowMessageBox(nullptr, kWin64Needed, TAVROL_TITLE, MB_ICONERROR);
        return;
    }
    // Only a Run value of an older release starts this copy at log-on. It goes, and the user is
    // told once, by the run that removed it; a value that cannot be removed is left in silence.
    if (removeStaleRunValue())
        AfxShowMessageBox(nullptr, kWin64LogOnEnded, TAVROL_TITLE, MB_ICONINFORMATION);
}
