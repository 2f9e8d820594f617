// The terminal face's whole screen, composed from the window manager's dialogs.
#include "term_internal.h"

namespace sim {
namespace term {

DialogLayout drawDesktop(Canvas& canvas, const MessageBoxRecord* box, int boxSelected) {
    int rows = canvas.height() - 1; // the last row holds the key help
    HWND top = ui().topDialog();
    DialogLayout topLayout;
    DialogInfo topInfo;
    // A modal dialog comes on the screen once WM_INITDIALOG has returned; until then only what
    // it shows itself (a message box) is drawn.
    for (HWND h : ui().dialogs()) {
        DialogInfo info = ui().describe(h);
        if (!(info.style & WS_VISIBLE))
            continue;
        bool active = h == top && !box && info.enabled;
        DialogLayout layout = drawDialog(canvas, info, ui().lastPaint(h), rows, active);
        if (h == top) {
            topLayout = layout;
            topLayout.shown = true;
            topInfo = info;
        }
    }
    if (topLayout.shown && !topInfo.iconic) {
        for (const ControlInfo& c : topInfo.controls) {
            if (c.dropped && c.visible) {
                topLayout.listItems = drawComboList(canvas, c, topLayout, rows);
                topLayout.listId = c.id;
            }
        }
    }
    std::string help;
    if (box) {
        drawMessageBox(canvas, *box, boxSelected);
        help = boxKeyHelp(*box, canvas.width());
    } else if (topLayout.shown) {
        help = keyHelp(topInfo, canvas.width());
    }
    canvas.text(0, canvas.height() - 1, help, kDefault, kDefault);
    return topLayout;
}

} // namespace term
} // namespace sim
