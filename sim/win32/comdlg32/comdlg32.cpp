// comdlg32 of the simulated PC: the common Save As dialog, shown as an OK/Cancel box so that
// scripts, the terminal and unattended runs answer it as they answer message boxes.
#include <cstddef>
#include <cstring>
#include <string>

#include "sim/process.h"
#include "sim_win32.h"

namespace {

DWORD dialogError = 0;

// Windows 95, 98 and NT 4.0 know the record up to lpTemplateName; 2000 and later the whole.
const DWORD kOldRecordSize = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);

BOOL failWith(DWORD error) {
    dialogError = error;
    return FALSE;
}

// The file the dialog proposes: the program's name for it in the dialog's first folder.
std::string proposedFile(const OPENFILENAMEA& ofn) {
    std::string name = ofn.lpstrFile;
    if (name.find('\\') != std::string::npos || name.find(':') != std::string::npos)
        return sim::drive().fullPath(name);
    std::string folder = ofn.lpstrInitialDir && *ofn.lpstrInitialDir
                             ? sim::drive().fullPath(ofn.lpstrInitialDir)
                             : sim::process().currentDirectory();
    if (!folder.empty() && folder.back() != '\\')
        folder += '\\';
    return folder + name;
}

} // namespace

BOOL WINAPI GetSaveFileNameA(LPOPENFILENAMEA ofn) {
    dialogError = 0;
    if (!ofn || (ofn->lStructSize != sizeof(OPENFILENAMEA) && ofn->lStructSize != kOldRecordSize))
        return failWith(CDERR_STRUCTSIZE);
    if (!ofn->lpstrFile || ofn->nMaxFile == 0)
        return failWith(CDERR_INITIALIZATION);
    std::string file = proposedFile(*ofn);
    const char* title = ofn->lpstrTitle ? ofn->lpstrTitle : "Save As";
    std::string text = "File name: " + file;
    if (MessageBoxA(ofn->hwndOwner, text.c_str(), title,
                    MB_OKCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2) != IDOK)
        return FALSE;
    if ((ofn->Flags & OFN_OVERWRITEPROMPT) && sim::drive().fileExists(file)) {
        std::string question = file + " already exists.\nDo you want to replace it?";
        if (MessageBoxA(ofn->hwndOwner, question.c_str(), title,
                        MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES)
            return FALSE;
    }
    if (file.size() + 1 > ofn->nMaxFile)
        return failWith(FNERR_BUFFERTOOSMALL);
    std::memcpy(ofn->lpstrFile, file.c_str(), file.size() + 1);
    size_t slash = file.find_last_of('\\');
    size_t dot = file.find_last_of('.');
    ofn->nFileOffset = static_cast<WORD>(slash + 1);
    ofn->nFileExtension =
        static_cast<WORD>(dot != std::string::npos && dot > slash ? dot + 1 : file.size());
    return TRUE;
}

DWORD WINAPI CommDlgExtendedError(void) {
    return dialogError;
}
