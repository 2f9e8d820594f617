// CTavrolDlg::OnApply: rate, sideband, fast writes, then the run-at-log-on choice and the
// stored settings. Every mode is read back after it is set and set back if it did not hold.
#include "ui/tavrol_dlg.h"
#include "app/tavrol_app.h"
#include "agpcfg/agpcfg.h"
#include "ui/rate_texts.h"

BOOL CTavrolDlg::applyModeCheck(CButton& box, int (CAgpConfig::*getter)(),
                                int (CAgpConfig::*setter)(int)) {
    int state = box.GetCheck();
    if (state != BST_UNCHECKED && state != BST_CHECKED)
        return FALSE;
    if (!m_pAgpConfig)
        return TRUE;
    int old = (m_pAgpConfig->*getter)();
    if (old != state) {
        (m_pAgpConfig->*setter)(state);
        if ((m_pAgpConfig->*getter)() != state) {
            (m_pAgpConfig->*setter)(old);
            box.SetCheck(state == BST_UNCHECKED ? BST_CHECKED : BST_UNCHECKED);
        }
    }
    return TRUE;
}

// A rate that is refused or does not hold is set back, and the box then shows the rate in force;
// the other modes and the log-on choice are applied all the same.
BOOL CTavrolDlg::applyRate() {
    // Longer than any rate text, so a truncated text never looks like one.
    char text[64] = "";
    m_rateCombo.GetWindowText(text, sizeof text);
    // The texts mean other rate values on an AGP 3.0 link: "4X" is 1 there.
    int agp3 = m_pAgpConfig->isAgp3();
    int wanted = rateFromText(text, agp3);
    if (wanted < 0)
        return FALSE;
    int old = m_pAgpConfig->getDataRate();
    if (old == wanted)
        return TRUE;
    m_pAgpConfig->setDataRate(wanted);
    if (m_pAgpConfig->getDataRate() == wanted)
        return TRUE;
    m_pAgpConfig->setDataRate(old);
    LPCSTR inForce = rateText(m_pAgpConfig->getDataRate(), agp3);
    if (!inForce || m_rateCombo.SelectString(-1, inForce) == CB_ERR)
        m_rateCombo.SetCurSel(-1);
    return TRUE;
}

void CTavrolDlg::OnApply() {
    if (m_rateCombo.IsWindowEnabled() && m_pAgpConfig && !applyRate())
        return;
    if (m_sidebandCheck.IsWindowEnabled() &&
        !applyModeCheck(m_sidebandCheck, &CAgpConfig::getSideband, &CAgpConfig::setSideband))
        return;
    if (m_fastWriteCheck.IsWindowEnabled() &&
        !applyModeCheck(m_fastWriteCheck, &CAgpConfig::getFastWrite, &CAgpConfig::setFastWrite))
        return;

    CTavrolApp* app = theTavrolApp();
    int runAtStartup = m_startupCheck.GetCheck();
    if (runAtStartup != 0 && !app->mayRunAtLogOn()) {
        // Refused where others may change the program: the box alone goes back.
        m_startupCheck.SetCheck(BST_UNCHECKED);
        app->m_runAtStartup = 0;
    } else {
        app->m_runAtStartup = runAtStartup;
        if (runAtStartup != 0)
            app->addStartupEntry();
        else
            app->removeStartupEntry();
    }
    if (!app->saveSettings())
        MessageBox("Tavrolin settings cannot be written to registry.", "Tavrolin",
                   MB_ICONWARNING | MB_OK);
}
