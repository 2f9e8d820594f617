// CTavrolApp: the application object. Its start-up routine chooses the run mode, does the whole
// run and returns FALSE, so the process ends without a message loop of its own.
#pragma once

#include "framework/app.h"
#include "settings/settings.h"

class CAgpConfig;

// Fixed names of the program.
#define TAVROL_TITLE "Vantorel Tavrolin"
#define TAVROL_STARTUP_SWITCH "-startup"
#define TAVROL_REPORT_SWITCH "-report"
// The single-instance mutex: a name no other program is likely to use. The installers read it
// from this line to find a running copy.
#define TAVROL_MUTEX_NAME "Vantorel Tavrolin Exists"
#define TAVROL_RESOURCE_LIBRARY "Tavrol.tvx"
#define TAVROL_RESOURCE_LIBRARY_MISSING                                                            \
    "Failed to load Tavrol.tvx.\nPlease ensure that it's located in the same folder as "           \
    "Tavrol.exe."

class CTavrolApp : public CWinApp {
  public:
    CTavrolApp();
    ~CTavrolApp() override;

    BOOL InitInstance() override;
    // The process's exit status: 0, or 1 after a machine report that could not be written.
    int ExitInstance() override { return m_exitCode; }

    // Boot-time apply: 1 when the stored modes were applied, 0 otherwise.
    int applyStoredSettings();
    void reportAgpError(int code);
    void showResourceMessage(UINT stringId, int code);
    // The message box of a machine report that was saved (REPORT_SAVED) or could not be;
    // `error` is the Windows error of a failed write.
    void showReportOutcome(const char* path, int result, DWORD error);
    // The resource library of that name beside the executable, made the resource handle.
    HMODULE loadResourceLibrary(LPCSTR fileName);

    // Settings persistence (registry).
    bool loadSettings();
    bool saveSettings();
    void addStartupEntry();
    void removeStartupEntry();
    bool deleteSettings();

    // Whether the program may be run at log-on from where it is (install_safety.cpp); when not,
    // the message saying why and where to put it has been shown.
    bool mayRunAtLogOn();

    CAgpConfig* m_pAgpConfig;
    int m_savedRate;
    int m_savedSideband;
    int m_savedFastWrite;
    int m_runAtStartup;
    int m_exitCode;

  private:
    // On 64-bit Windows: the message that the win64 release is needed, or for a log-on run the
    // end of the log-on entry that started it.
    void refuseOn64BitWindows(bool logOnRun);
    void createController();
    void tearDown();
    void runSafeMode();
    void runInteractive();
    // The same check at the start of a log-on run, with that run's message.
    bool startupRunIsSafe();
    // `-report FILE`: no window, no mutex; the controller's channel, as for discovery, reads
    // every PCI function into the report.
    void runReport(const char* file);
};

// True when this 32-bit process runs on 64-bit Windows (WOW64).
bool runsUnderWow64();

// The one application object of the process.
CTavrolApp* theTavrolApp();

// Whether the command line asks for the log-on run: "-startup" as an argument of its own after
// the program's path, never as part of the path (a folder named "tools-startup").
bool isStartupRun(const char* commandLine);

// On NT: whether only SYSTEM, Administrators and their like may change the executable's folder
// and the program's files in it (Tavrol.exe, Tavrol.tvx, TAVROL.sys); always true on Windows 9x.
// When not, `where` holds the first path that others may change.
bool installedSafely(char (&where)[MAX_PATH]);
// Whether the command line asks for a machine report: "-report" as an argument of its own,
// with the report's file as the argument after it, which goes into `file`.
enum ReportSwitch {
    REPORT_SWITCH_ABSENT = 0,
    REPORT_SWITCH_WITH_FILE = 1,
    REPORT_SWITCH_WITHOUT_FILE = 2, // no file after it, or one longer than a path can be
};
int reportRunFile(const char* commandLine, char* file, size_t size);

// "<text> (0x<code>)" bounded to `size` bytes; a long text is shortened, never the code.
void formatAgpMessage(char* out, size_t size, const char* text, int code);
