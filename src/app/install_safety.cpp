// Whether the program sits where only administrators can change it. The log-on run starts with
// administrator rights, so whoever may change the folder or a file of the program in it would
// run their own code with those rights at the next log-on.
#include "app/tavrol_app.h"

#include <string.h>

#include "agpcfg/object_security.h"

namespace {

const char kLogOnRefused[] =
    "Tavrolin cannot run at log-on from where it is now: accounts other than administrators "
    "may change\n";
const char kStartupRefused[] =
    "Tavrolin did not apply the AGP settings at log-on: accounts other than administrators may "
    "change\n";
const char kWhereToInstall[] =
    "\nWhatever runs at log-on gets administrator rights. Install Tavrolin in a folder only "
    "administrators may change, such as C:\\Program Files\\Vantorel Tech\\Tavrolin, and start "
    "it from there.";

// The files of the program beside the executable, besides the executable itself.
const char* const kProgramFiles[] = {TAVROL_RESOURCE_LIBRARY, "TAVROL.sys"};

enum : DWORD { SECURITY_BUFFER_SIZE = 4096 };

typedef BOOL(WINAPI* GetFileSecurityFunction)(LPCSTR, DWORD, LPVOID, DWORD, LPDWORD);
typedef BOOL(WINAPI* GetTokenInformationFunction)(HANDLE, DWORD, LPVOID, DWORD, LPDWORD);

bool isWindows9x() {
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

// Wine runs every program as the one Unix user, who owns every file of the prefix and is the
// only account besides SYSTEM that may change them; Windows has no such account. Under Wine that
// user, whom this process runs as, counts as an administrator. Null on Windows.
bool wineUser(BYTE (&sid)[MAX_SID_SIZE]) {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (!ntdll || !lookUpProc<FARPROC>(ntdll, "wine_get_version"))
        return false;
    GetTokenInformationFunction getInformation = lookUpProc<GetTokenInformationFunction>(
        GetModuleHandleA("advapi32.dll"), "GetTokenInformation");
    HANDLE token = NULL;
    if (!getInformation || !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    // TOKEN_USER: a pointer to the SID, its attributes, then the SID itself.
    void* buffer[SECURITY_BUFFER_SIZE / sizeof(void*)];
    DWORD needed = 0;
    bool got = getInformation(token, 1 /* TokenUser */, buffer, sizeof buffer, &needed) &&
               sidLength(static_cast<const BYTE*>(buffer[0]), MAX_SID_SIZE) != 0;
    CloseHandle(token);
    if (got)
        memcpy(sid, buffer[0], sidLength(static_cast<const BYTE*>(buffer[0]), MAX_SID_SIZE));
    return got;
}

// Whether only administrators may change the file or folder. One that does not exist is safe
// when its folder is: nobody else could put it there. Any other failure to read it is not.
bool onlyAdministratorsMayChangeFile(const char* path, const BYTE* alsoTrusted) {
    GetFileSecurityFunction getSecurity =
        lookUpProc<GetFileSecurityFunction>(GetModuleHandleA("advapi32.dll"), "GetFileSecurityA");
    if (!getSecurity)
        return false;
    BYTE descriptor[SECURITY_BUFFER_SIZE];
    DWORD needed = 0;
    if (!getSecurity(path, OWNER_INFORMATION | DACL_INFORMATION, descriptor, sizeof descriptor,
                     &needed))
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    return onlyAdministratorsMayChange(descriptor, sizeof descriptor, alsoTrusted);
}

// Appends as much of `text` as fits.
void append(char* out, size_t size, const char* text) {
    size_t used = strlen(out);
    if (used + 1 >= size)
        return;
    size_t length = strlen(text);
    if (length > size - used - 1)
        length = size - used - 1;
    memcpy(out + used, text, length);
    out[used + length] = '\0';
}

void showRefusal(const char* opening, const char* where) {
    char message[3 * MAX_PATH] = "";
    append(message, sizeof message, opening);
    append(message, sizeof message, where);
    append(message, sizeof message, kWhereToInstall);
    MessageBoxA(nullptr, message, TAVROL_TITLE, MB_ICONWARNING);
}

} // namespace

bool installedSafely(char (&where)[MAX_PATH]) {
    where[0] = '\0';
    if (isWindows9x())
        return true; // Windows 9x keeps no owners or access lists
    BYTE wine[MAX_SID_SIZE];
    const BYTE* alsoTrusted = wineUser(wine) ? wine : nullptr;

    DWORD length = GetModuleFileNameA(nullptr, where, MAX_PATH);
    char* name = length > 0 && length < MAX_PATH ? strrchr(where, '\\') : nullptr;
    if (!name)
        return false;
    *name = '\0'; // the folder first: whoever may change it may replace any file in it
    if (!onlyAdministratorsMayChangeFile(where, alsoTrusted))
        return false;
    *name = '\\';
    if (!onlyAdministratorsMayChangeFile(where, alsoTrusted))
        return false;
    for (const char* file : kProgramFiles) {
        size_t folderLength = static_cast<size_t>(name - where) + 1;
        if (folderLength + strlen(file) >= MAX_PATH)
            return false;
        strcpy(name + 1, file);
        if (!onlyAdministratorsMayChangeFile(where, alsoTrusted))
            return false;
    }
    where[0] = '\0';
    return true;
}

namespace {

// True when the program is installed safely; otherwise the refusal that begins with `opening`
// has been shown.
bool installedSafelyOrSaid(const char* opening) {
    char where[MAX_PATH];
    if (installedSafely(where))
        return true;
    showRefusal(opening, where);
    return false;
}

} // namespace

bool CTavrolApp::mayRunAtLogOn() {
    return installedSafelyOrSaid(kLogOnRefused);
}

bool CTavrolApp::startupRunIsSafe() {
    return installedSafelyOrSaid(kStartupRefused);
}
