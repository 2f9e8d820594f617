// CDialog: a modal dialog made from a template of the current resource module, with data
// exchange that binds control objects to the template's controls by ID.
#pragma once

#include "framework/wnd.h"

class CDialog;

// The direction and target of one data exchange (UpdateData).
class CDataExchange {
  public:
    CDataExchange(CDialog* dialog, BOOL saveAndValidate)
        : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}

    CDialog* m_pDlgWnd;
    BOOL m_bSaveAndValidate; // TRUE: controls to members; FALSE: members to controls
};

// Attaches `control` to the dialog's control `id`, once; a control object that is already
// attached, or an ID the template lacks, leaves it as it is.
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);

class CDialog : public CWnd {
  public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override;
    DECLARE_MESSAGE_MAP()
    // The handlers of WM_INITDIALOG, IDOK and IDCANCEL.
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

    // Runs the dialog until EndDialog: the value given to EndDialog, or -1 when the dialog
    // cannot be created (its template is missing).
    virtual INT_PTR DoModal();
    // The virtual procedure behind the static dialog procedure: the dialog-procedure result of
    // `message` (FALSE leaves it to the default dialog processing).
    virtual INT_PTR WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    // Makes DoModal build the dialog from a template in memory instead of the resource module's
    // template; the template must stay valid while the dialog runs.
    void InitModalIndirect(LPCDLGTEMPLATEA dialogTemplate) { m_indirectTemplate = dialogTemplate; }

    BOOL UpdateData(BOOL saveAndValidate = TRUE);
    void EndDialog(int result);

    UINT GetTemplateId() const { return m_templateId; }

    // Called by DDX_Control: remembers a control object so that it lets go of its window when
    // the dialog ends. FALSE when no more controls can be bound.
    BOOL registerBoundControl(CWnd* control);

  protected:
    UINT m_templateId;
    LPCDLGTEMPLATEA m_indirectTemplate;
    CWnd* m_pParentWnd;

  private:
    static INT_PTR CALLBACK dialogProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    void releaseBoundControls();

    enum { MAX_BOUND_CONTROLS = 16 };
    CWnd* m_boundControls[MAX_BOUND_CONTROLS];
    int m_boundControlCount;
};
