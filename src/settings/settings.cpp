// The settings operations: the packed "Settings" value, the Run entry and restoring defaults.
#include "settings/settings.h"

#include <string.h>

#include "agpcfg/agpcfg.h"
#include "framework/app.h"
#include "settings/logon_task.h"
#include "settings/reg_key.h"

namespace {

const char kTitle[] = "Vantorel Tavrolin";
const char kRunEntryNotWritten[] =
    "Registry cannot be written to.\nTavrolin will not be able to run on bootup.";
const char kLogonTaskNotRegistered[] =
    "The Task Scheduler did not accept the log-on task.\nTavrolin will not be able to run at "
    "log-on.";
const char kStartupSwitch[] = " -startup";

// The Run value: the executable's path in quotes, so that Windows does not split a path with
// blanks and start another program, followed by the start-up switch. The whole zero-filled
// buffer is stored. False when the command does not fit.
bool buildRunCommand(char (&command)[MAX_PATH], const char* exePath) {
    size_t pathLength = strlen(exePath);
    size_t switchLength = sizeof kStartupSwitch - 1;
    if (1 + pathLength + 1 + switchLength + 1 > sizeof command)
        return false;
    memset(command, 0, sizeof command);
    command[0] = '"';
    memcpy(command + 1, exePath, pathLength);
    command[1 + pathLength] = '"';
    memcpy(command + 2 + pathLength, kStartupSwitch, switchLength);
    return true;
}

// Vista and later: the task, with the quoted path as its program and the switch as arguments. A
// Run value of an older version goes, since Windows would only block it at every log-on.
void registerStartupTask(const char* command) {
    removeStaleRunValue();
    size_t pathLength = strlen(command) - (sizeof kStartupSwitch - 1);
    char path[MAX_PATH];
    memcpy(path, command, pathLength);
    path[pathLength] = '\0';
    if (!registerLogonTask(path, kStartupSwitch + 1))
        AfxShowMessageBox(nullptr, kLogonTaskNotRegistered, kTitle, MB_ICONWARNING);
}

} // namespace

SettingsWord packSettings(int run, int fastWrite, int sideband, int rate) {
    // Each field is kept to its bits, so that nothing spills into its neighbour.
    return static_cast<SettingsWord>((run & 1) + (fastWrite & 3) * 2 + (sideband & 3) * 8 +
                                     (rate & 7) * 32);
}

void unpackSettings(SettingsWord word, StoredSettings* settings) {
    if (word == SETTINGS_NONE) {
        settings->rate = SETTINGS_NONE;
        settings->sideband = SETTINGS_NONE;
        settings->fastWrite = SETTINGS_NONE;
        settings->runAtStartup = 0;
        return;
    }
    settings->rate = static_cast<int>((word >> 5) & 7);
    settings->sideband = static_cast<int>((word >> 3) & 3);
    settings->fastWrite = static_cast<int>((word >> 1) & 3);
    settings->runAtStartup = static_cast<int>(word & 1);
}

bool loadSettings(StoredSettings* settings) {
    CRegKey key(HKEY_LOCAL_MACHINE);
    // Created rather than opened: the first run leaves an empty key, and only a registry that
    // cannot be written makes loading fail.
    if (!key.create(SETTINGS_KEY_PATH))
        return false;
    SettingsWord word;
    key.readDword(SETTINGS_VALUE_NAME, &word, SETTINGS_NONE);
    unpackSettings(word, settings);
    key.close();
    return true;
}

bool saveSettings(CAgpConfig* agp, HWND mainWindow) {
    if (!agp)
        return false;
    int rate = agp->getDataRate();
    int sideband = agp->getSideband();
    int fastWrite = agp->getFastWrite();
    // Without the dialog there is no check box to read, and the run bit is stored as 0. A
    // third check state counts as unchecked.
    int run = 0;
    if (mainWindow)
        run = SendDlgItemMessageA(mainWindow, IDC_RUN_AT_STARTUP_CHECK, BM_GETCHECK, 0, 0) ==
                      BST_CHECKED
                  ? 1
                  : 0;
    CRegKey key(HKEY_LOCAL_MACHINE);
    if (!key.create(SETTINGS_KEY_PATH))
        return false;
    bool written =
        key.writeDword(SETTINGS_VALUE_NAME, packSettings(run, fastWrite, sideband, rate));
    key.close();
    return written;
}

void addStartupEntry() {
    char exePath[MAX_PATH] = {0};
    DWORD length = GetModuleFileNameA(nullptr, exePath, sizeof exePath);
    if (length == 0)
        return;
    char command[MAX_PATH];
    // A path that filled the buffer may have been cut short: it is refused like one too long.
    if (length >= sizeof exePath || !buildRunCommand(command, exePath)) {
        AfxShowMessageBox(nullptr, kRunEntryNotWritten, kTitle, MB_ICONWARNING);
        return;
    }
    if (usesLogonTask()) {
        registerStartupTask(command);
        return;
    }
    CRegKey key(HKEY_LOCAL_MACHINE);
    key.create(RUN_KEY_PATH);
    if (!key.writeString(RUN_VALUE_NAME, command, sizeof command))
        AfxShowMessageBox(nullptr, kRunEntryNotWritten, kTitle, MB_ICONWARNING);
    key.close();
}

void removeStartupEntry() {
    if (usesLogonTask())
        deleteLogonTask();
    removeStaleRunValue();
}

bool removeStaleRunValue() {
    CRegKey key(HKEY_LOCAL_MACHINE);
    if (!key.open(RUN_KEY_PATH))
        return false;
    bool removed = key.deleteValue(RUN_VALUE_NAME);
    key.close();
    return removed;
}

bool deleteSettings() {
    // From Vista on, restoring the defaults also ends the log-on run: the task and any Run value
    // an older version left. Older Windows keep their Run value, which then finds nothing stored.
    if (usesLogonTask())
        removeStartupEntry();
    CRegKey key(HKEY_LOCAL_MACHINE);
    if (!key.open(SETTINGS_KEY_PATH))
        return true; // nothing stored, nothing to delete
    key.close();
    return key.deleteTree(SETTINGS_KEY_PATH);
}
