// CRestoreDlg: Yes and No end the dialog with their own IDs; Esc and the close box cancel.
#include "ui/restore_dlg.h"
#include "../../res/resource.h"

CRestoreDlg::CRestoreDlg(CWnd* parent) : CDialog(IDD_RESTORE, parent) {}

CRestoreDlg::~CRestoreDlg() {}

BEGIN_MESSAGE_MAP(CRestoreDlg, CDialog)
ON_BN_CLICKED(IDYES, &CRestoreDlg::OnYes)
ON_BN_CLICKED(IDNO, &CRestoreDlg::OnNo)
END_MESSAGE_MAP()

void CRestoreDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
}

void CRestoreDlg::OnCancel() {
    CDialog::OnCancel();
}

void CRestoreDlg::OnYes() {
    EndDialog(IDYES);
}

void CRestoreDlg::OnNo() {
    EndDialog(IDNO);
}
