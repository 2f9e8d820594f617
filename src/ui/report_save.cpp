// CTavrolDlg: "Save machine report..." of the system menu, through the common Save As dialog.
#include <stddef.h>
#include <string.h>

#include "../../res/resource.h"
#include "app/machine_report.h"
#include "app/tavrol_app.h"
#include "ui/tavrol_dlg.h"

namespace {

const char kDefaultReportName[] = "Tavrolin report.txt";
const char kReportFilter[] = "Text files (*.txt)\0*.txt\0All files (*.*)\0*.*\0";

typedef BOOL(WINAPI* GetSaveFileNameFunction)(OPENFILENAMEA*);
typedef DWORD(WINAPI* CommDlgExtendedErrorFunction)();

// Windows 95, 98 and NT 4.0 refuse a record longer than theirs, which ends at lpTemplateName;
// every later Windows takes it too.
const DWORD kSaveAsRecordSize = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);

enum SaveAsChoice { SAVE_AS_CANCELLED, SAVE_AS_CHOSEN, SAVE_AS_FAILED };

// Asks for the report's file. comdlg32 is loaded only for this, at run time: the program imports
// nothing of it, and a log-on run never maps it. On SAVE_AS_FAILED `error` is the dialog's.
int askReportFile(HWND owner, char (&path)[MAX_PATH], DWORD* error) {
    *error = 0;
    HMODULE comdlg32 = LoadLibraryA("comdlg32.dll");
    GetSaveFileNameFunction getSaveFileName =
        comdlg32 ? lookUpProc<GetSaveFileNameFunction>(comdlg32, "GetSaveFileNameA") : nullptr;
    CommDlgExtendedErrorFunction extendedError =
        comdlg32 ? lookUpProc<CommDlgExtendedErrorFunction>(comdlg32, "CommDlgExtendedError")
                 : nullptr;
    if (!getSaveFileName || !extendedError) {
        *error = GetLastError();
        if (comdlg32)
            FreeLibrary(comdlg32);
        return SAVE_AS_FAILED;
    }
    memcpy(path, kDefaultReportName, sizeof kDefaultReportName);
    OPENFILENAMEA ofn;
    memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = kSaveAsRecordSize;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = kReportFilter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = path;
    ofn.nMaxFile = sizeof path;
    ofn.lpstrDefExt = "txt";
    // The current directory must stay the program's: the driver's path is made from it.
    ofn.Flags =
        OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    int choice = SAVE_AS_CHOSEN;
    if (!getSaveFileName(&ofn)) {
        *error = extendedError();
        choice = *error == 0 ? SAVE_AS_CANCELLED : SAVE_AS_FAILED;
    }
    FreeLibrary(comdlg32);
    return choice;
}

} // namespace

void CTavrolDlg::OnSaveReport() {
    char path[MAX_PATH];
    DWORD error = 0;
    int choice = askReportFile(m_hWnd, path, &error);
    if (choice == SAVE_AS_CANCELLED || !m_pAgpConfig)
        return;
    int result = choice == SAVE_AS_FAILED ? REPORT_NO_SAVE_AS
                                          : writeMachineReport(m_pAgpConfig, path, &error);
    theTavrolApp()->showReportOutcome(choice == SAVE_AS_FAILED ? nullptr : path, result, error);
}
