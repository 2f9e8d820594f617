// CDialog: the modal run, the one static dialog procedure and the data exchange.
#include "framework/dialog.h"
#include "framework/app.h"

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, &CDialog::OnOK)
ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT templateId, CWnd* parent)
    : m_templateId(templateId), m_indirectTemplate(nullptr), m_pParentWnd(parent),
      m_boundControls(), m_boundControlCount(0) {}

// The bound controls were let go when the modal run ended; the derived class's control members
// are already destroyed here and must not be touched.
CDialog::~CDialog() {}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE; // the dialog manager sets the focus
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

INT_PTR CDialog::DoModal() {
    AfxInitCommonControls();
    HWND parent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    LPARAM self = reinterpret_cast<LPARAM>(this);
    INT_PTR result = m_indirectTemplate
                         ? ::DialogBoxIndirectParamA(AfxGetResourceHandle(), m_indirectTemplate,
                                                     parent, &CDialog::dialogProcedure, self)
                         : ::DialogBoxParamA(AfxGetResourceHandle(), MAKEINTRESOURCEA(m_templateId),
                                             parent, &CDialog::dialogProcedure, self);
    // The window is gone: nothing may talk to it through this object or its controls.
    releaseBoundControls();
    m_hWnd = nullptr;
    return result;
}

// Messages whose dialog-procedure result is the message's own result; every other handled
// message returns TRUE and leaves its result in DWLP_MSGRESULT.
static BOOL returnsResultDirectly(UINT message) {
    return message == WM_INITDIALOG || message == WM_QUERYDRAGICON ||
           (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC);
}

INT_PTR CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG)
        return OnInitDialog();
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result))
        return FALSE;
    if (returnsResultDirectly(message))
        return result;
    ::SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}

INT_PTR CALLBACK CDialog::dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* dialog;
    if (message == WM_INITDIALOG) {
        // DoModal passed the object through the creation parameter.
        dialog = reinterpret_cast<CDialog*>(lParam);
        dialog->m_hWnd = window;
        ::SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(dialog));
    } else {
        dialog = reinterpret_cast<CDialog*>(::GetWindowLongPtrA(window, DWLP_USER));
    }
    // Messages that come before WM_INITDIALOG (WM_SETFONT) find no object yet.
    if (!dialog)
        return FALSE;
    return dialog->WindowProc(message, wParam, lParam);
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    CDataExchange exchange(this, saveAndValidate);
    DoDataExchange(&exchange);
    return TRUE;
}

void CDialog::EndDialog(int result) {
    ::EndDialog(m_hWnd, result);
}

BOOL CDialog::registerBoundControl(CWnd* control) {
    for (int i = 0; i < m_boundControlCount; ++i) {
        if (m_boundControls[i] == control)
            return TRUE;
    }
    if (m_boundControlCount == MAX_BOUND_CONTROLS)
        return FALSE;
    m_boundControls[m_boundControlCount++] = control;
    return TRUE;
}

void CDialog::releaseBoundControls() {
    for (int i = 0; i < m_boundControlCount; ++i)
        m_boundControls[i]->Detach();
    m_boundControlCount = 0;
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    if (control.m_hWnd)
        return;
    HWND item = pDX->m_pDlgWnd->GetDlgItem(id);
    if (!item)
        return;
    if (pDX->m_pDlgWnd->registerBoundControl(&control))
        control.Attach(item);
}
