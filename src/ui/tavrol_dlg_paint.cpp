// CTavrolDlg: the navy banner, the minimised icon and the colours of the controls.
#include "ui/tavrol_dlg.h"
#include "../../res/resource.h"

namespace {
const COLORREF kWhite = 0x00FFFFFF;
const COLORREF kNavy = 0x00800000;
const COLORREF kGray = 0x00808080;

// The banner runs across the top of the client area, 5 pixels in from three sides.
const LONG kBannerInset = 5;
const LONG kBannerBottom = 70;
} // namespace

void CTavrolDlg::OnPaint() {
    CPaintDC dc(this);
    RECT client;
    GetClientRect(&client);
    if (IsIconic()) {
        SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
        int iconWidth = ::GetSystemMetrics(SM_CXICON);
        int iconHeight = ::GetSystemMetrics(SM_CYICON);
        int x = (client.right - client.left - iconWidth + 1) / 2;
        int y = (client.bottom - client.top - iconHeight + 1) / 2;
        dc.DrawIcon(x, y, m_hIcon);
        return;
    }
    RECT banner = {kBannerInset, kBannerInset, client.right - kBannerInset, kBannerBottom};
    dc.FillSolidRect(&banner, kNavy);
}

HBRUSH CTavrolDlg::OnCtlColor(CDC* dc, CWnd* control, UINT colorType) {
    HBRUSH brush = CDialog::OnCtlColor(dc, control, colorType);
    if (colorType != CTLCOLOR_STATIC)
        return brush;
    switch (control->GetDlgCtrlID()) {
    case IDC_BANNER:
        // White on the navy banner; the hollow brush leaves the banner showing.
        dc->SelectObject(&m_bannerFont);
        dc->SetTextColor(kWhite);
        dc->SetBkColor(kNavy);
        return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
    case IDC_RATE_LABEL:
    case IDC_SIDEBAND_CHECK:
    case IDC_FASTWRITE_CHECK:
    case IDC_STARTUP_CHECK:
        dc->SetTextColor(kWhite);
        dc->SetBkColor(kGray);
        return static_cast<HBRUSH>(::GetStockObject(GRAY_BRUSH));
    }
    return brush;
}
