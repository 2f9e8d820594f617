// The stored settings: the packed "Settings" value, the Run entry and their removal. The
// application object's settings operations delegate to these functions.
#pragma once

#include "platform/platform.h"

class CAgpConfig;

#define SETTINGS_KEY_PATH "Software\\Vantorel Tech\\Tavrolin"
#define SETTINGS_VALUE_NAME "Settings"
#define RUN_KEY_PATH "Software\\Microsoft\\Windows\\CurrentVersion\\Run"
#define RUN_VALUE_NAME "Vantorel Tavrolin"

// Stored settings fields hold this when nothing is stored.
enum : int { SETTINGS_NONE = 999 };

// Control ID of the main dialog's run-at-log-on check box.
enum : int { IDC_RUN_AT_STARTUP_CHECK = 1005 };

// The application object's m_savedRate, m_savedSideband, m_savedFastWrite and m_runAtStartup.
struct StoredSettings {
    int rate;
    int sideband;
    int fastWrite;
    int runAtStartup;
};

// The packed "Settings" value: bit 0 run at log-on, bits 2..1 fast writes, bits 4..3 sideband,
// bits 7..5 data rate; SETTINGS_NONE when nothing is stored.
typedef DWORD SettingsWord;

// run + fastWrite * 2 + sideband * 8 + rate * 32.
SettingsWord packSettings(int run, int fastWrite, int sideband, int rate);
void unpackSettings(SettingsWord word, StoredSettings* settings);

// Reads "Settings", creating the settings key if needed. False, with `settings` untouched, only
// when the key cannot be created.
bool loadSettings(StoredSettings* settings);
// Stores the modes in force on `agp` and the run-at-log-on box of `mainWindow` (run 0 when there
// is no main window). False without a controller or when the registry cannot be written.
bool saveSettings(CAgpConfig* agp, HWND mainWindow);
// Makes Windows start this executable with "-startup" at every log-on, and warns when it cannot:
// the Run value, or from Vista on the log-on task (logon_task.h).
void addStartupEntry();
// Removes the Run value and, from Vista on, the log-on task. Silent.
void removeStartupEntry();
// Removes the Run value alone; true when there was one and it is gone.
bool removeStaleRunValue();
// Deletes the settings key and everything below it; true when nothing of it is left. From Vista
// on it removes the start-up entry too (its result does not count).
bool deleteSettings();
