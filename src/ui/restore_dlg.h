// CRestoreDlg: asks whether to restore the default settings, with (Yes) or without (No) a
// restart of Windows.
#pragma once

#include "framework/dialog.h"

class CRestoreDlg : public CDialog {
  public:
    explicit CRestoreDlg(CWnd* parent = nullptr);
    ~CRestoreDlg() override;
    DECLARE_MESSAGE_MAP()
    void DoDataExchange(CDataExchange* pDX) override;
    void OnCancel() override;

  protected:
    void OnYes();
    void OnNo();
};
