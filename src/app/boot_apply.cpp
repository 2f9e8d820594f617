// The boot-time run: re-applies the stored AGP modes at log-on, without a window.
#include "app/tavrol_app.h"

#include "agpcfg/agpcfg.h"

namespace {
const char kSettingsNotWritten[] = "Tavrolin settings cannot be written to registry.";
}

int CTavrolApp::applyStoredSettings() {
    if (!m_pAgpConfig)
        return 0;
    int error = m_pAgpConfig->getInitError();
    bool loaded = loadSettings();

    if (error != 0) {
        reportAgpError(error);
        return 0;
    }
    if (!loaded) {
        // The settings key could not be opened: try to store the modes in force instead.
        if (!saveSettings())
            AfxShowMessageBox(nullptr, kSettingsNotWritten, TAVROL_TITLE, MB_ICONWARNING);
        return 0;
    }

    // Sideband after the rate: the rate change switches sideband addressing off and on itself.
    if (m_savedRate != SETTINGS_NONE)
        m_pAgpConfig->setDataRate(m_savedRate);
    if (m_savedSideband != SETTINGS_NONE)
        m_pAgpConfig->setSideband(m_savedSideband);
    if (m_savedFastWrite != SETTINGS_NONE)
        m_pAgpConfig->setFastWrite(m_savedFastWrite);
    return 1;
}
