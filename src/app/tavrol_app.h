// CTavrolApp: the application object. Its start-up routine chooses the run mode, does the whole
// run and returns FALSE, so the process ends without a message loop of its own.
#pragma once

#include "framework/app.h"
#include "settings/settings.h"

class CAgpConfig;

// Fixed names of the program.
#define TAVROL_TITLE "Vantorel Tavrolin"
#define TAVROL_STARTUP_SWITCH "-startup"
#define TAVROL_MUTEX_NAME "Exists"
#define TAVROL_RESOURCE_LIBRARY "Tavrol.tvx"

class CTavrolApp : public CWinApp {
  public:
    CTavrolApp();
    ~CTavrolApp() override;

    BOOL InitInstance() override;

    // Boot-time apply: 1 when the stored modes were applied, 0 otherwise.
    int applyStoredSettings();
    void reportAgpError(int code);
    void showResourceMessage(UINT stringId, int code);
    HMODULE loadResourceLibrary(LPCSTR fileName);

    // Settings persistence (registry).
    bool loadSettings();
    bool saveSettings();
    void addStartupEntry();
    void removeStartupEntry();
    bool deleteSettings();

    CAgpConfig* m_pAgpConfig;
    int m_savedRate;
    int m_savedSideband;
    int m_savedFastWrite;
    int m_runAtStartup;

  private:
    // On 64-bit Windows: the message that the win64 release is needed, or for a log-on run the
    // end of the log-on entry that started it.
    void refuseOn64BitWindows(bool logOnRun);
    void createController();
    void tearDown();
    void runSafeMode();
    void runInteractive();
};

// True when this 32-bit process runs on 64-bit Windows (WOW64).
bool runsUnderWow64();

// The one application object of the process.
CTavrolApp* theTavrolApp();

// Whether the command line asks for the log-on run: "-startup" as an argument of its own after
// the program's path, never as part of the path (a folder named "tools-startup").
bool isStartupRun(const char* commandLine);

// "<text> (0x<code>)" bounded to `size` bytes; a long text is shortened, never the code.
void formatAgpMessage(char* out, size_t size, const char* text, int code);
