// The start-up routine: working directory, then one of the four run modes, then tear-down.
#include "app/tavrol_app.h"

#include <new>
#include <string.h>

#include "agpcfg/agpcfg.h"
#include "app/machine_report.h"
#include "ui/tavrol_dlg.h"

namespace {

const char kSafeModeQuestion[] =
    "Tavrolin cannot run in safe mode.\nDo you want to restore the default AGP settings?";
const char kSafeModeRestored[] = "The default AGP settings have been successfully restored.";
const char kSafeModeFailed[] =
    "Tavrolin failed to restore default AGP settings.\nPlease reinstall Tavrolin.";

// Length of the executable's base name: the last path component without its extension.
size_t baseNameLength(const char* path) {
    const char* name = strrchr(path, '\\');
    name = name ? name + 1 : path;
    const char* dot = strrchr(name, '.');
    return dot ? static_cast<size_t>(dot - name) : strlen(name);
}

// Puts the directory that holds the executable into `directory` (MAX_PATH bytes, zero-filled):
// the path less the base name and five more characters, the backslash, the dot and a
// three-letter extension. False when the path is missing, truncated or too short for that.
bool executableDirectory(HINSTANCE instance, char* directory) {
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    size_t cut = baseNameLength(path) + 5;
    if (cut >= length)
        return false;
    size_t directoryLength = length - cut;
    memcpy(directory, path, directoryLength);
    // An executable in a drive's root leaves "C:", which Windows reads as the current folder of
    // drive C (system32 when the Run key starts us), not its root: put the backslash back.
    if (directoryLength == 2 && directory[1] == ':')
        directory[2] = '\\';
    return true;
}

// The full path of a file beside the executable; false when it does not fit.
bool besideExecutable(HINSTANCE instance, const char* fileName, char (&path)[MAX_PATH]) {
    DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
    char* name = length > 0 && length < MAX_PATH ? strrchr(path, '\\') : nullptr;
    if (!name || static_cast<size_t>(name + 1 - path) + strlen(fileName) >= MAX_PATH)
        return false;
    strcpy(name + 1, fileName);
    return true;
}

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD);

// Every DLL loaded later comes from the system folder alone, never from the program's folder or
// the current one. Windows 7 with update KB2533623 and later have the function; older ones load
// nothing by a bare name that they would look for there (ddraw.dll and Tavrol.tvx are loaded by
// their full paths).
void keepProgramFolderOutOfDllSearch() {
    const DWORD kLoadLibrarySearchSystem32 = 0x00000800;
    SetDefaultDllDirectoriesFunction setDefault = lookUpProc<SetDefaultDllDirectoriesFunction>(
        GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    if (setDefault)
        setDefault(kLoadLibrarySearchSystem32);
}

} // namespace

CTavrolApp::CTavrolApp()
    : m_pAgpConfig(nullptr), m_savedRate(SETTINGS_NONE), m_savedSideband(SETTINGS_NONE),
      m_savedFastWrite(SETTINGS_NONE), m_runAtStartup(0), m_exitCode(0) {}

CTavrolApp::~CTavrolApp() {
    tearDown();
}

CTavrolApp* theTavrolApp() {
    return static_cast<CTavrolApp*>(AfxGetApp());
}

BOOL CTavrolApp::InitInstance() {
    AfxEnableControlContainer();
    Enable3dControls();
    m_pMainWnd = nullptr;
    m_pAgpConfig = nullptr;
    keepProgramFolderOutOfDllSearch();

    const char* commandLine = GetCommandLineA();
    // A report's file named relative to where the user started the program.
    char startDirectory[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, startDirectory);
    char directory[MAX_PATH] = {};
    if (!executableDirectory(m_hInstance, directory) || !SetCurrentDirectoryA(directory))
        return FALSE;

    // The boot-time switch is tested first, so log-on applies the modes even in safe mode.
    if (isStartupRun(commandLine)) {
        if (runsUnderWow64()) {
            refuseOn64BitWindows(true);
            return FALSE;
        }
        if (!startupRunIsSafe())
            return FALSE;
        createController();
        applyStoredSettings();
        tearDown();
        return FALSE;
    }
    char reportFile[MAX_PATH] = {};
    int report = reportRunFile(commandLine, reportFile, sizeof reportFile);
    if (runsUnderWow64()) {
        refuseOn64BitWindows(false);
        m_exitCode = report != REPORT_SWITCH_ABSENT ? 1 : 0;
        return FALSE;
    }
    if (report != REPORT_SWITCH_ABSENT) {
        char path[MAX_PATH] = {};
        bool named = report == REPORT_SWITCH_WITH_FILE &&
                     reportPathIn(startDirectory, reportFile, path, sizeof path);
        runReport(named ? path : nullptr);
        return FALSE;
    }
    if (GetSystemMetrics(SM_CLEANBOOT) != 0) {
        runSafeMode();
        return FALSE;
    }
    runInteractive();
    return FALSE;
}

void CTavrolApp::runSafeMode() {
    if (AfxShowMessageBox(nullptr, kSafeModeQuestion, TAVROL_TITLE, MB_ICONQUESTION | MB_YESNO) !=
        IDYES)
        return;
    createController();
    if (deleteSettings())
        AfxShowMessageBox(nullptr, kSafeModeRestored, TAVROL_TITLE, MB_ICONINFORMATION);
    else
        AfxShowMessageBox(nullptr, kSafeModeFailed, TAVROL_TITLE, MB_ICONWARNING);
    tearDown();
}

void CTavrolApp::runInteractive() {
    SECURITY_ATTRIBUTES attributes = {sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    HANDLE mutex = CreateMutexA(&attributes, TRUE, TAVROL_MUTEX_NAME);
    if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
        ReleaseMutex(mutex);
        HWND first = FindWindowA(nullptr, TAVROL_TITLE);
        if (first)
            SetForegroundWindow(first);
        CloseHandle(mutex);
        return;
    }

    HMODULE resources = loadResourceLibrary(TAVROL_RESOURCE_LIBRARY);
    if (!resources) {
        AfxShowMessageBox(nullptr, TAVROL_RESOURCE_LIBRARY_MISSING, TAVROL_TITLE, MB_ICONERROR);
        if (mutex)
            CloseHandle(mutex);
        return;
    }

    if (loadSettings()) {
        createController();
        {
            CTavrolDlg dialog(nullptr);
            m_pMainWnd = &dialog;
            dialog.DoModal();
            m_pMainWnd = nullptr;
            tearDown();
        }
    }

    // Lookups must not reach into the library once it is gone.
    AfxSetResourceHandle(m_hInstance);
    FreeLibrary(resources);
    if (mutex)
        CloseHandle(mutex);
}

HMODULE CTavrolApp::loadResourceLibrary(LPCSTR fileName) {
    // The library beside the executable and no other: a bare name would also be looked for in
    // folders others may write, and not beside the program once its folder is out of the search.
    char path[MAX_PATH];
    if (!besideExecutable(m_hInstance, fileName, path))
        return nullptr;
    // On NT the library is mapped as data: its resources are all the program uses, and no code
    // in a replaced file can run with the administrator's rights. Windows 9x loads it as before.
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    bool windows9x = GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
    HMODULE library =
        windows9x ? LoadLibraryA(path) : LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (library)
        AfxSetResourceHandle(library);
    return library;
}

void CTavrolApp::createController() {
    m_pAgpConfig = new (std::nothrow) CAgpConfig();
}

void CTavrolApp::tearDown() {
    // The controller's destructor removes the driver service on the NT platform.
    delete m_pAgpConfig;
    m_pAgpConfig = nullptr;
}
