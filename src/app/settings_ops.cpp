// The application object's settings operations: its stored-settings fields and main window
// around the registry functions.
#include "app/tavrol_app.h"

#include "framework/wnd.h"

bool CTavrolApp::loadSettings() {
    StoredSettings settings;
    if (!::loadSettings(&settings))
        return false;
    m_savedRate = settings.rate;
    m_savedSideband = settings.sideband;
    m_savedFastWrite = settings.fastWrite;
    m_runAtStartup = settings.runAtStartup;
    return true;
}

bool CTavrolApp::saveSettings() {
    return ::saveSettings(m_pAgpConfig, m_pMainWnd ? m_pMainWnd->GetSafeHwnd() : nullptr);
}

void CTavrolApp::addStartupEntry() {
    ::addStartupEntry();
}

void CTavrolApp::removeStartupEntry() {
    ::removeStartupEntry();
}

bool CTavrolApp::deleteSettings() {
    return ::deleteSettings();
}
