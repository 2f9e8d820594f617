// CTavrolApp: the application object. Its start-up routine chooses the run mode, does the whole
// run and returns FALSE, so the process ends without a message loop of its own.
#pragma once

#include "framework/app.h"

class CAgpConfig;

// Fixed names of the program.
#define TAVROL_TITLE "Vantorel Tavrolin"
#define TAVROL_STARTUP_SWITCH "-startup"
#define TAVROL_MUTEX_NAME "Exists"
#define TAVROL_RESOURCE_LIBRARY "Tavrol.tvx"

// Stored settings fields hold this when nothing is stored.
enum : int { SETTINGS_NOT_STORED = 999 };

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
    void createController();
    void tearDown();
    void runSafeMode();
    void runInteractive();
};

// The one application object of the process.
CTavrolApp* theTavrolApp();
