// Dialogs of the simulated PC: creation from a template, the modal loop, and the dialog
// manager's default processing (DefDlgProc and DefWindowProc).
#include "ui_internal.h"
#include "sim/pe_module.h"

#include <algorithm>

namespace sim {

namespace wm {
namespace {

const int kScreenWidth = 1024;
const int kScreenHeight = 768;

int mulDiv(int value, int numerator, int denominator) {
    long long product = static_cast<long long>(value) * numerator;
    long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : -((-product + half) / denominator));
}

bool knownClass(const std::string& className) {
    static const char* const classes[] = {"Button",  "Edit",      "Static",
                                          "ListBox", "ScrollBar", "ComboBox"};
    for (const char* c : classes) {
        if (equalsNoCase(className, c))
            return true;
    }
    return false;
}

void foregroundHook(HWND window) {
    ui().notifyForeground(window);
}

// Other processes bring our windows to the front through the shell's window list.
void pollForeground() {
    for (HWND window : shell().takeForegroundRequests()) {
        if (find(window))
            ui().notifyForeground(window);
    }
}

// The end of input closes the dialog as its Cancel command would; a dialog procedure that
// ignores IDCANCEL is ended all the same, so a run cannot hang on it.
void closeWithCancel(Window* dialog) {
    HWND handle = dialog->handle;
    Window* cancel = childById(dialog, IDCANCEL);
    sendMessage(dialog, WM_COMMAND, MAKELONG(IDCANCEL, BN_CLICKED),
                reinterpret_cast<LPARAM>(cancel ? cancel->handle : nullptr));
    dialog = find(handle);
    if (dialog && !dialog->ended) {
        dialog->ended = true;
        dialog->result = IDCANCEL;
    }
}

void dispatchPosted() {
    PostedMessage m = postedMessages().front();
    postedMessages().pop_front();
    sendMessage(find(m.window), m.message, m.wParam, m.lParam);
}

} // namespace

WNDPROC classProcedure(ControlKind kind) {
    switch (kind) {
    case ControlKind::PushButton:
    case ControlKind::CheckBox:
    case ControlKind::RadioButton:
    case ControlKind::GroupBox:
        return buttonProc;
    case ControlKind::Static:
        return staticProc;
    case ControlKind::ComboBox:
        return comboProc;
    case ControlKind::Edit:
        return editProc;
    default:
        return DefWindowProcA;
    }
}

Window* createDialog(const DialogTemplate& tpl, HINSTANCE instance, HWND owner, DLGPROC proc,
                     std::string* error) {
    for (const DialogItemTemplate& item : tpl.items) {
        std::string className = controlClassName(item.windowClass);
        if (!knownClass(className)) {
            *error =
                "control " + std::to_string(item.id) + " has an unknown window class \"" +
                (className.empty() ? "#" + std::to_string(item.windowClass.ordinal) : className) +
                "\"";
            return nullptr;
        }
    }
    std::unique_ptr<Window> d(new Window);
    d->isDialog = true;
    d->className = "#32770";
    d->style = tpl.style & ~static_cast<DWORD>(WS_VISIBLE);
    d->exStyle = tpl.exStyle;
    d->text = tpl.title;
    d->instance = instance;
    d->owner = owner;
    d->dlgProc = proc;
    d->wndProc = dialogProc;
    if (tpl.hasFont && tpl.pointSize > 0) {
        // Dialog base units of a font of this size at 96 dpi (MS Sans Serif 8: 6 x 13).
        d->baseX = std::max(1, mulDiv(tpl.pointSize, 6, 8));
        d->baseY = std::max(1, mulDiv(tpl.pointSize, 13, 8));
    }
    d->templateCx = tpl.cx;
    d->templateCy = tpl.cy;
    int width = mulDiv(tpl.cx, d->baseX, 4), height = mulDiv(tpl.cy, d->baseY, 8);
    int left = (kScreenWidth - width) / 2, top = (kScreenHeight - height) / 2;
    Window* ownerWindow = find(owner);
    if (!(tpl.style & DS_CENTER) && ownerWindow) {
        left = ownerWindow->rect.left + mulDiv(tpl.x, d->baseX, 4);
        top = ownerWindow->rect.top + mulDiv(tpl.y, d->baseY, 8);
    }
    d->rect = {left, top, left + width, top + height};
    Window* dialog = addWindow(std::move(d));

    bool haveDefault = false;
    for (const DialogItemTemplate& item : tpl.items) {
        std::unique_ptr<Window> c(new Window);
        c->parent = dialog->handle;
        c->className = controlClassName(item.windowClass);
        c->style = item.style | WS_CHILD;
        c->exStyle = item.exStyle;
        c->id = static_cast<int>(item.id);
        c->instance = instance;
        if (item.title.isOrdinal)
            c->iconOrdinal = item.title.ordinal;
        else
            c->text = item.title.name;
        c->kind = controlKindOf(c->className, item.style);
        c->wndProc = classProcedure(c->kind);
        c->dialogUnits = {item.x, item.y, item.x + item.cx, item.y + item.cy};
        c->rect = {mulDiv(item.x, dialog->baseX, 4), mulDiv(item.y, dialog->baseY, 8),
                   mulDiv(item.x + item.cx, dialog->baseX, 4),
                   mulDiv(item.y + item.cy, dialog->baseY, 8)};
        if (c->kind == ControlKind::PushButton && (item.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON &&
            !haveDefault) {
            dialog->defaultId = c->id;
            haveDefault = true;
        }
        if (c->kind == ControlKind::ComboBox && (item.style & 3) != CBS_DROPDOWNLIST)
            c->text.clear();
        Window* child = addWindow(std::move(c));
        dialog->children.push_back(child->handle);
    }
    return dialog;
}

INT_PTR runModal(Window* dialog, LPARAM initParam) {
    HWND handle = dialog->handle;
    HWND owner = dialog->owner;
    bool ownerWasEnabled = owner && IsWindowEnabled(owner);
    if (ownerWasEnabled)
        EnableWindow(owner, FALSE);
    modalStack().push_back(handle);
    shell().setForegroundHook(foregroundHook);

    HWND first = GetNextDlgTabItem(handle, nullptr, FALSE);
    LRESULT wantsFocus =
        sendMessage(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), initParam);
    dialog = find(handle);
    if (dialog && !dialog->ended) {
        if (wantsFocus && first && !dialog->focus)
            setFocusTo(dialog, find(first));
        dialog->style |= WS_VISIBLE;
        for (HWND child : dialog->children) {
            if (Window* c = find(child))
                c->needsPaint = true;
        }
        dialog->needsPaint = true;
        shell().registerWindow(handle, dialog->text);
        if (ui().pendingAnswers() > 0)
            dialog->pendingAnswer = ui().takeAnswer();
    }
    while ((dialog = find(handle)) != nullptr && !dialog->ended) {
        if (!postedMessages().empty()) {
            dispatchPosted();
            continue;
        }
        paintPending();
        pollForeground();
        dialog = find(handle);
        if (!dialog || dialog->ended)
            break;
        if (dialog->pendingAnswer) {
            int id = dialog->pendingAnswer;
            dialog->pendingAnswer = 0;
            UiResult r = ui().click(id);
            if (!r.ok)
                reportUiError("answer " + std::to_string(id) + ": " + r.error);
            continue;
        }
        bool more = false;
        takeIdleStep(&more);
        dialog = find(handle);
        if (!more && dialog && !dialog->ended)
            closeWithCancel(dialog);
    }
    INT_PTR result = dialog ? dialog->result : 0;
    auto& stack = modalStack();
    stack.erase(std::remove(stack.begin(), stack.end(), handle), stack.end());
    if (dialog)
        destroyWindow(dialog);
    if (Window* o = find(owner)) {
        if (ownerWasEnabled)
            EnableWindow(owner, TRUE);
        invalidate(o);
    }
    return result;
}

LRESULT defDialogProcessing(Window* dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND handle = dialog->handle;
    switch (message) {
    case WM_ERASEBKGND: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        LRESULT brush =
            sendMessage(dialog, WM_CTLCOLORDLG, wParam, reinterpret_cast<LPARAM>(handle));
        if (!brush)
            brush =
                DefWindowProcA(handle, WM_CTLCOLORDLG, wParam, reinterpret_cast<LPARAM>(handle));
        RECT client;
        GetClientRect(handle, &client);
        FillRect(dc, &client, reinterpret_cast<HBRUSH>(brush));
        return 1;
    }
    case WM_CLOSE: {
        Window* cancel = childById(dialog, IDCANCEL);
        if (!cancel || !(cancel->style & WS_DISABLED))
            PostMessageA(handle, WM_COMMAND, MAKELONG(IDCANCEL, BN_CLICKED),
                         reinterpret_cast<LPARAM>(cancel ? cancel->handle : nullptr));
        return 0;
    }
    case WM_NEXTDLGCTL: {
        HWND target = lParam ? reinterpret_cast<HWND>(wParam)
                             : GetNextDlgTabItem(handle, dialog->focus, wParam ? TRUE : FALSE);
        Window* w = find(target);
        if (w && w->parent == handle && !(w->style & WS_DISABLED))
            setFocusTo(dialog, w);
        return 0;
    }
    case DM_GETDEFID:
        if (dialog->ended || !dialog->defaultId)
            return 0;
        return MAKELONG(dialog->defaultId, DC_HASDEFID);
    case DM_SETDEFID:
        for (HWND h : dialog->children) {
            Window* c = find(h);
            if (c && c->kind == ControlKind::PushButton) {
                c->style &= ~static_cast<DWORD>(BS_TYPEMASK);
                c->style |= (c->id == static_cast<int>(wParam)) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
            }
        }
        dialog->defaultId = static_cast<int>(wParam);
        return TRUE;
    default:
        return DefWindowProcA(handle, message, wParam, lParam);
    }
}

// The window procedure of every dialog: the dialog procedure first, the defaults after it.
LRESULT CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* dialog = find(window);
    if (!dialog)
        return 0;
    INT_PTR handled = 0;
    if (dialog->dlgProc) {
        dialog->msgResult = 0;
        handled = dialog->dlgProc(window, message, wParam, lParam);
        dialog = find(window);
        if (!dialog)
            return handled;
    }
    if (handled) {
        // These messages return the dialog procedure's own result, the others DWLP_MSGRESULT.
        switch (message) {
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
        case WM_INITDIALOG:
        case WM_QUERYDRAGICON:
            return handled;
        default:
            return dialog->msgResult;
        }
    }
    return defDialogProcessing(dialog, message, wParam, lParam);
}

} // namespace wm

// Runs a dialog from template bytes: the common half of DialogBoxParamA and
// DialogBoxIndirectParamA.
INT_PTR dialogBoxFromBytes(HINSTANCE instance, const void* data, size_t size, HWND parent,
                           DLGPROC proc, LPARAM initParam, std::string* error) {
    std::string why;
    DialogTemplate tpl;
    if (!parseDialogTemplate(data, size, &tpl, &why)) {
        if (error)
            *error = why;
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return -1;
    }
    HWND owner = nullptr;
    if (parent) {
        wm::Window* p = wm::dialogOf(parent);
        if (!p) {
            SetLastError(1400); // ERROR_INVALID_WINDOW_HANDLE
            return 0;
        }
        owner = p->handle;
    }
    wm::Window* dialog = wm::createDialog(tpl, instance, owner, proc, &why);
    if (!dialog) {
        if (error)
            *error = why;
        SetLastError(1407); // ERROR_CANNOT_FIND_WND_CLASS
        return -1;
    }
    return wm::runModal(dialog, initParam);
}

} // namespace sim

using namespace sim::wm;

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND parent,
                               DLGPROC dialogProc, LPARAM initParam) {
    DWORD size = 0;
    const uint8_t* data = sim::resourceData(instance, RT_DIALOG, templateName, &size);
    if (!data)
        return -1;
    return sim::dialogBoxFromBytes(instance, data, size, parent, dialogProc, initParam, nullptr);
}

// The caller vouches for the template as on Windows; it is read no further than 64 KiB.
INT_PTR WINAPI DialogBoxIndirectParamA(HINSTANCE instance, LPCDLGTEMPLATEA dialogTemplate,
                                       HWND parent, DLGPROC dialogProc, LPARAM initParam) {
    if (!dialogTemplate)
        return -1;
    return sim::dialogBoxFromBytes(instance, dialogTemplate, 0x10000, parent, dialogProc, initParam,
                                   nullptr);
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
    Window* d = find(dialog);
    if (!d || !d->isDialog)
        return FALSE;
    d->ended = true;
    d->result = result;
    return TRUE;
}

HWND WINAPI GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous) {
    Window* d = find(dialog);
    if (!d || d->children.empty())
        return nullptr;
    const auto& kids = d->children;
    int count = static_cast<int>(kids.size());
    int start = -1;
    for (int i = 0; i < count; ++i) {
        if (kids[static_cast<size_t>(i)] == control)
            start = i;
    }
    if (start < 0)
        start = previous ? 0 : count - 1;
    for (int step = 1; step <= count; ++step) {
        int i = previous ? (start - step + count * 2) % count : (start + step) % count;
        Window* c = find(kids[static_cast<size_t>(i)]);
        if (c && (c->style & WS_TABSTOP) && (c->style & WS_VISIBLE) && !(c->style & WS_DISABLED))
            return c->handle;
    }
    return nullptr;
}

BOOL WINAPI MapDialogRect(HWND dialog, LPRECT rect) {
    Window* d = find(dialog);
    if (!d || !d->isDialog || !rect)
        return FALSE;
    rect->left = rect->left * d->baseX / 4;
    rect->right = rect->right * d->baseX / 4;
    rect->top = rect->top * d->baseY / 8;
    rect->bottom = rect->bottom * d->baseY / 8;
    return TRUE;
}

LRESULT WINAPI DefDlgProcA(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* d = find(dialog);
    return d && d->isDialog ? defDialogProcessing(d, message, wParam, lParam) : 0;
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = find(window);
    if (!w)
        return 0;
    switch (message) {
    case WM_GETTEXT:
        return copyText(w->text, wParam, lParam);
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(w->text.size());
    case WM_SETTEXT:
        w->text = lParam ? reinterpret_cast<const char*>(lParam) : "";
        if (w->isDialog)
            sim::shell().setWindowTitle(window, w->text);
        w->needsPaint = true;
        return TRUE;
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: {
        // The system colours: window colours for edit fields and lists, button face elsewhere.
        HDC dc = reinterpret_cast<HDC>(wParam);
        bool field = message == WM_CTLCOLOREDIT || message == WM_CTLCOLORLISTBOX;
        int background = field ? COLOR_WINDOW : COLOR_BTNFACE;
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(background));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(background));
    }
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_MINIMIZE:
            ShowWindow(window, SW_MINIMIZE);
            break;
        case SC_RESTORE:
            ShowWindow(window, SW_RESTORE);
            break;
        case SC_CLOSE:
            sendMessage(w, WM_CLOSE, 0, 0);
            break;
        default:
            break;
        }
        return 0;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(window, &ps);
        EndPaint(window, &ps);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_ICONERASEBKGND: {
        RECT client;
        GetClientRect(window, &client);
        FillRect(reinterpret_cast<HDC>(wParam), &client, GetSysColorBrush(COLOR_BACKGROUND));
        return 1;
    }
    case WM_SETICON: {
        int which = wParam == ICON_BIG ? 1 : 0;
        HICON previous = w->icons[which];
        w->icons[which] = reinterpret_cast<HICON>(lParam);
        return reinterpret_cast<LRESULT>(previous);
    }
    case WM_GETICON:
        return reinterpret_cast<LRESULT>(w->icons[wParam == ICON_BIG ? 1 : 0]);
    case WM_SETFONT:
        w->font = reinterpret_cast<HFONT>(wParam);
        if (lParam)
            w->needsPaint = true;
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(w->font);
    default:
        return 0;
    }
}
