// CTavrolDlg: the main dialog. Shows the AGP modes both ends of the link support, applies a
// change with read-back and revert, and stores the choice with the run-at-log-on entry.
#pragma once

#include "framework/controls.h"
#include "framework/dialog.h"
#include "framework/gdi.h"

class CAgpConfig;

class CTavrolDlg : public CDialog {
  public:
    explicit CTavrolDlg(CWnd* parent = nullptr);
    ~CTavrolDlg() override;
    DECLARE_MESSAGE_MAP()
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

    CButton m_startupCheck;
    CComboBox m_rateCombo;
    CButton m_fastWriteCheck;
    CButton m_sidebandCheck;
    HICON m_hIcon;
    CFont m_bannerFont;
    CAgpConfig* m_pAgpConfig;

  protected:
    void OnSysCommand(UINT id, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnApply();
    HBRUSH OnCtlColor(CDC* dc, CWnd* control, UINT colorType);
    void OnRestoreDefaults();
    // The system menu's "Save machine report...": the common Save As dialog, then the report.
    void OnSaveReport();

  private:
    void addSystemMenuEntries();
    void createBannerFont();
    void initRateCombo();
    void initSidebandCheck();
    void initFastWriteCheck();
    // A box for a mode in `state`; `fixed` shows it as it is, ticked or not, and disabled.
    void initModeCheck(CButton& box, int companionId, int state, bool fixed);
    // The rate of the combo box; afterwards the box shows the rate in force. FALSE when its text
    // names no rate, which stops the apply.
    BOOL applyRate();
    // Sideband or fast writes from a check box; FALSE when the box is in a third state, which
    // stops the apply.
    BOOL applyModeCheck(CButton& box, int (CAgpConfig::*getter)(), int (CAgpConfig::*setter)(int));
    void enableControl(int id, BOOL enable);
};
