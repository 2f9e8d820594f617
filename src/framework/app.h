// CWinApp: the application object, its main window and the module that resources come from.
#pragma once

#include "platform/platform.h"

class CWnd;

class CWinApp {
  public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Per-instance start-up; returning FALSE ends the process without a message loop.
    virtual BOOL InitInstance() { return FALSE; }
    virtual int ExitInstance() { return 0; }

    // Framework set-up kept for the shape of the start-up routine; plain Win32 needs neither.
    void AfxEnableControlContainer() {}
    void Enable3dControls() {}

    CWnd* m_pMainWnd;
    HINSTANCE m_hInstance;
    LPSTR m_lpCmdLine;
    int m_nCmdShow;

  private:
    CWinApp* m_previous;
};

// The application object that is alive now (the last one constructed).
CWinApp* AfxGetApp();
// Module that dialog templates, strings and icons are loaded from.
HINSTANCE AfxGetResourceHandle();
void AfxSetResourceHandle(HINSTANCE resources);
HINSTANCE AfxGetInstanceHandle();
// Loads string `id` of the resource module into `buffer`: its length, 0 when it is missing.
int AfxLoadString(UINT id, LPSTR buffer, int size);

// Loads comctl32 and registers the common controls the manifest names (version 6, drawn with
// visual styles, from Windows XP on). Only a run that shows a window needs them, and loading
// them costs a log-on run without one a good share of its time, so every dialog and message box
// of the framework calls this first. Once per process; FALSE when comctl32 cannot be had, and
// windows then show without visual styles.
BOOL AfxInitCommonControls();
// MessageBoxA, with the common controls loaded first.
int AfxShowMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// Runs the application object: InitInstance, then ExitInstance. Called by WinMain.
int AfxWinMain(HINSTANCE instance, LPSTR commandLine, int showCommand);
