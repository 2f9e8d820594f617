// The framework tests' probe dialog.
#include "probe_dialog.h"

namespace fwtest {

ProbeDialog::ProbeDialog() : CDialog(0) {}

ProbeDialog::~ProbeDialog() {}

BEGIN_MESSAGE_MAP(ProbeDialog, CDialog)
ON_BN_CLICKED(kCountButtonId, &ProbeDialog::OnCount)
ON_BN_CLICKED(kStopButtonId, &ProbeDialog::OnStop)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_WM_CTLCOLOR()
ON_WM_ERASEBKGND()
END_MESSAGE_MAP()

void ProbeDialog::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    exchanges.push_back(pDX->m_bSaveAndValidate);
    DDX_Control(pDX, kCheckId, m_check);
    DDX_Control(pDX, kComboId, m_combo);
    DDX_Control(pDX, 99, m_missing);
}

BOOL ProbeDialog::OnInitDialog() {
    ++initCount;
    hwndAtInit = m_hWnd;
    CMenu systemMenu(GetSystemMenu(FALSE));
    systemMenu.AppendMenu(MF_STRING, kProbeCommand, "Probe");
    return CDialog::OnInitDialog();
}

void ProbeDialog::OnOK() {
    CDialog::OnOK();
}

void ProbeDialog::OnCount() {
    ++countClicks;
}

void ProbeDialog::OnStop() {
    EndDialog(stopResult);
}

void ProbeDialog::OnSysCommand(UINT id, LPARAM lParam) {
    sysCommands.push_back(id);
    // Commands of our own stop here; Windows' commands get the default processing.
    if (id < 0xF000)
        return;
    CDialog::OnSysCommand(id, lParam);
}

void ProbeDialog::OnPaint() {
    ++paints;
    CPaintDC dc(this);
    dc.FillSolidRect(&kProbeFill, kProbeFillColour);
}

HCURSOR ProbeDialog::OnQueryDragIcon() {
    return dragIconSentinel();
}

HBRUSH ProbeDialog::OnCtlColor(CDC* dc, CWnd* control, UINT colorType) {
    HBRUSH brush = CDialog::OnCtlColor(dc, control, colorType);
    colorTypes.push_back(colorType);
    colorControls.push_back(control->GetDlgCtrlID());
    if (control->GetDlgCtrlID() != kColouredStaticId)
        return brush;
    dc->SetTextColor(kProbeText);
    dc->SetBkColor(kProbeBack);
    return static_cast<HBRUSH>(::GetStockObject(DKGRAY_BRUSH));
}

BOOL ProbeDialog::OnEraseBkgnd(CDC* dc) {
    ++erases;
    return CDialog::OnEraseBkgnd(dc);
}

TestTemplate probeTemplate() {
    TestTemplate t("Probe");
    t.add(kButtonAtom, kCheckId, BS_AUTOCHECKBOX | WS_TABSTOP, "Check", 5, 5, 80, 10)
        .add(kComboBoxAtom, kComboId, CBS_DROPDOWNLIST | WS_TABSTOP, "", 5, 20, 80, 60)
        .add(kStaticAtom, kColouredStaticId, SS_LEFT, "Coloured", 100, 5, 60, 8)
        .add(kStaticAtom, kPlainStaticId, SS_LEFT, "Plain", 100, 20, 60, 8)
        .add(kButtonAtom, kCountButtonId, BS_PUSHBUTTON | WS_TABSTOP, "Count", 5, 90, 40, 14)
        .add(kButtonAtom, kUnmappedButtonId, BS_PUSHBUTTON | WS_TABSTOP, "Nothing", 50, 90, 40, 14)
        .add(kButtonAtom, kStopButtonId, BS_PUSHBUTTON | WS_TABSTOP, "Stop", 95, 90, 40, 14)
        .add(kButtonAtom, IDOK, BS_DEFPUSHBUTTON | WS_TABSTOP, "OK", 140, 90, 35, 14)
        .add(kButtonAtom, IDCANCEL, BS_PUSHBUTTON | WS_TABSTOP, "Cancel", 180, 90, 35, 14);
    return t;
}

} // namespace fwtest
