// CTavrolDlg: construction, message map and dialog initialisation.
#include "ui/tavrol_dlg.h"
#include "ui/about_dlg.h"
#include "app/tavrol_app.h"
#include "agpcfg/agpcfg.h"
#include "ui/rate_texts.h"
#include "../../res/resource.h"

// Command IDs of the entries that initialisation appends to the system menu.
enum : UINT { IDM_ABOUTBOX = 0x0010, IDM_SAVE_REPORT = 0x0020 };

CTavrolDlg::CTavrolDlg(CWnd* parent)
    : CDialog(IDD_TAVROL_DIALOG, parent),
      m_hIcon(::LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCEA(IDI_TAVROL))),
      m_pAgpConfig(theTavrolApp() ? theTavrolApp()->m_pAgpConfig : nullptr) {}

// The icon is shared and stays; the banner font goes with m_bannerFont.
CTavrolDlg::~CTavrolDlg() {}

BEGIN_MESSAGE_MAP(CTavrolDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(IDC_APPLY, &CTavrolDlg::OnApply)
ON_WM_CTLCOLOR()
ON_WM_ERASEBKGND()
ON_BN_CLICKED(IDC_RESTORE_DEFAULTS, &CTavrolDlg::OnRestoreDefaults)
END_MESSAGE_MAP()

// The dialog keeps no copies of control values: OnApply reads the controls themselves.
void CTavrolDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_STARTUP_CHECK, m_startupCheck);
    DDX_Control(pDX, IDC_RATE_COMBO, m_rateCombo);
    DDX_Control(pDX, IDC_FASTWRITE_CHECK, m_fastWriteCheck);
    DDX_Control(pDX, IDC_SIDEBAND_CHECK, m_sidebandCheck);
}

BOOL CTavrolDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    // Without a usable AGP pair there is nothing to show: the dialog ends before it appears.
    if (!m_pAgpConfig) {
        EndDialog(IDOK);
        return TRUE;
    }
    int error = m_pAgpConfig->getInitError();
    if (error != 0) {
        theTavrolApp()->reportAgpError(error);
        EndDialog(IDOK);
        return TRUE;
    }

    addSystemMenuEntries();
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
    createBannerFont();

    initRateCombo();
    initSidebandCheck();
    initFastWriteCheck();
    m_startupCheck.SetCheck(theTavrolApp()->m_runAtStartup);
    return TRUE; // the default focus
}

void CTavrolDlg::OnOK() {
    OnApply();
    CDialog::OnOK();
}

void CTavrolDlg::OnCancel() {
    CDialog::OnCancel();
}

void CTavrolDlg::OnSysCommand(UINT id, LPARAM lParam) {
    // The low four bits of a system command are Windows' own.
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about;
        about.DoModal();
    } else if ((id & 0xFFF0) == IDM_SAVE_REPORT) {
        OnSaveReport();
    } else {
        CDialog::OnSysCommand(id, lParam);
    }
}

HCURSOR CTavrolDlg::OnQueryDragIcon() {
    return m_hIcon;
}

// About, then "Save machine report..." below it, after a separator; an entry whose string is
// missing or empty is left out, and the separator with both.
void CTavrolDlg::addSystemMenuEntries() {
    CMenu systemMenu(GetSystemMenu(FALSE));
    if (!systemMenu.GetSafeHmenu())
        return;
    char about[256] = "";
    char report[256] = "";
    bool hasAbout = AfxLoadString(IDS_ABOUT, about, sizeof about) > 0 && about[0] != '\0';
    bool hasReport = AfxLoadString(IDS_REPORT_MENU, report, sizeof report) > 0 && report[0] != '\0';
    if (!hasAbout && !hasReport)
        return;
    systemMenu.AppendMenu(MF_SEPARATOR);
    if (hasAbout)
        systemMenu.AppendMenu(MF_STRING, IDM_ABOUTBOX, about);
    if (hasReport)
        systemMenu.AppendMenu(MF_STRING, IDM_SAVE_REPORT, report);
}

void CTavrolDlg::createBannerFont() {
    HFONT font =
        ::CreateFontA(15, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "Arial");
    // A null handle leaves the font object empty and the banner text in the dialog's font.
    m_bannerFont.Attach(font);
}

void CTavrolDlg::enableControl(int id, BOOL enable) {
    ::EnableWindow(GetDlgItem(id), enable);
}

void CTavrolDlg::initRateCombo() {
    if (!m_pAgpConfig)
        return;
    int rate = m_pAgpConfig->getDataRate();
    BOOL usable = rate != 0;
    enableControl(IDC_RATE_COMBO, usable);
    enableControl(IDC_RATE_LABEL, usable);
    enableControl(IDC_RATE_NOTE, usable);
    if (!usable)
        return;

    int agp3 = m_pAgpConfig->isAgp3();
    LPCSTR items[MAX_RATE_ITEMS];
    int count = rateItems(m_pAgpConfig->getSupportedRates(), agp3, items);
    for (int i = 0; i < count; ++i)
        m_rateCombo.AddString(items[i]);
    // The search wraps through the whole list; a rate whose text was not added finds nothing
    // and leaves the combo box without a selection.
    LPCSTR current = rateText(rate, agp3);
    if (current)
        m_rateCombo.SelectString(0, current);
}

// An AGP 3.0 link always uses sideband addressing: the box shows it and cannot change it.
void CTavrolDlg::initSidebandCheck() {
    if (!m_pAgpConfig)
        return;
    initModeCheck(m_sidebandCheck, IDC_SIDEBAND_NOTE, m_pAgpConfig->getSideband(),
                  m_pAgpConfig->isAgp3() != 0);
}

void CTavrolDlg::initFastWriteCheck() {
    if (!m_pAgpConfig)
        return;
    initModeCheck(m_fastWriteCheck, IDC_FASTWRITE_NOTE, m_pAgpConfig->getFastWrite(), false);
}

void CTavrolDlg::initModeCheck(CButton& box, int companionId, int state, bool fixed) {
    BOOL supported = state != AGP_MODE_UNSUPPORTED;
    box.EnableWindow(supported && !fixed);
    enableControl(companionId, supported && !fixed);
    if (supported)
        box.SetCheck(state == AGP_MODE_ON ? BST_CHECKED : BST_UNCHECKED);
}
