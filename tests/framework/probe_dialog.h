// A dialog for the framework's tests: a handler of every kind the message maps know, each
// recording what it received, over a template built in memory.
#pragma once

#include "framework/controls.h"
#include "framework/dialog.h"
#include "framework/gdi.h"
#include "test_template.h"

#include <vector>

namespace fwtest {

enum : int {
    kCheckId = 10,
    kComboId = 11,
    kColouredStaticId = 12,
    kPlainStaticId = 13,
    kCountButtonId = 20,
    kUnmappedButtonId = 21,
    kStopButtonId = 22,
};

// The probe's own entry of the system menu.
const UINT kProbeCommand = 0x0010;

// What the dialog hands out for WM_QUERYDRAGICON: a value no real icon has.
inline HICON dragIconSentinel() {
    return reinterpret_cast<HICON>(static_cast<uintptr_t>(0xdeadbeef));
}

const COLORREF kProbeText = 0x00123456;
const COLORREF kProbeBack = 0x00654321;
// The rectangle and colour the probe's paint handler fills.
const RECT kProbeFill = {3, 4, 50, 60};
const COLORREF kProbeFillColour = 0x00800000;

class ProbeDialog : public CDialog {
  public:
    ProbeDialog();
    ~ProbeDialog() override;
    DECLARE_MESSAGE_MAP()
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;

    // Recorded by the handlers.
    int initCount = 0;
    HWND hwndAtInit = nullptr;
    std::vector<BOOL> exchanges; // m_bSaveAndValidate of each data exchange
    int countClicks = 0;
    int stopResult = 0;
    std::vector<UINT> sysCommands;
    std::vector<UINT> colorTypes;
    std::vector<int> colorControls;
    int paints = 0;
    int erases = 0;

    CButton m_check;
    CComboBox m_combo;
    CButton m_missing; // no such control in the template

  protected:
    void OnCount();
    void OnStop();
    void OnSysCommand(UINT id, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    HBRUSH OnCtlColor(CDC* dc, CWnd* control, UINT colorType);
    BOOL OnEraseBkgnd(CDC* dc);
};

// The probe's template: check box, combo box, two statics and the push buttons.
TestTemplate probeTemplate();

} // namespace fwtest
