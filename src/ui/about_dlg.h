// CAboutDlg: the About box, opened from the main dialog's system menu.
#pragma once

#include "framework/dialog.h"

class CAboutDlg : public CDialog {
  public:
    CAboutDlg();
    ~CAboutDlg() override;
    DECLARE_MESSAGE_MAP()
    void DoDataExchange(CDataExchange* pDX) override;
};
