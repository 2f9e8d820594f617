// Dialogs of the simulated PC: creation from a template, the modal loop, and the dialog
// manager's default processing (DefDlgProc and DefWindowProc).
#include "window_manager.h"
#include "sim/pe_module.h"
#include "sim/process.h"

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

// BM_SETSTYLE with only the button type changed.
void setButtonType(Window* button, DWORD type) {
    DWORD style = (button->style & 0xFFFF & ~static_cast<DWORD>(BS_TYPEMASK)) | type;
    sendMessage(button, BM_SETSTYLE, style, TRUE);
}

bool isPushButton(Window* w) {
    return w && (dialogCode(w) & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) != 0;
}

// The first child that shows the default style.
Window* buttonWithDefaultStyle(Window* dialog) {
    for (HWND h : dialog->children) {
        Window* c = find(h);
        if (c && (dialogCode(c) & DLGC_DEFPUSHBUTTON))
            return c;
    }
    return nullptr;
}

// DM_SETDEFID: the dialog's default becomes `id`; the style moves to that button when it is a
// push button, and leaves the button that showed it.
void setDefaultId(Window* dialog, int id) {
    Window* old = childById(dialog, dialog->defaultId);
    Window* next = childById(dialog, id);
    dialog->defaultId = id;
    LRESULT code = next ? dialogCode(next) : 0;
    if (next && !(code & (DLGC_UNDEFPUSHBUTTON | DLGC_BUTTON)))
        return;
    if (!old || !(dialogCode(old) & DLGC_DEFPUSHBUTTON))
        old = buttonWithDefaultStyle(dialog);
    if (old && old != next)
        setButtonType(old, BS_PUSHBUTTON);
    if (next && (code & DLGC_UNDEFPUSHBUTTON))
        setButtonType(next, BS_DEFPUSHBUTTON);
}

void dispatchPosted() {
    PostedMessage m = postedMessages().front();
    postedMessages().pop_front();
    sendMessage(find(m.window), m.message, m.wParam, m.lParam);
}

} // namespace

LRESULT dialogCode(Window* window) {
    return sendMessage(window, WM_GETDLGCODE, 0, 0);
}

void moveDefaultStyle(Window* dialog, Window* focus) {
    Window* old = childById(dialog, dialog->defaultId);
    Window* next = isPushButton(focus) ? focus : old;
    if (!old || !(dialogCode(old) & DLGC_DEFPUSHBUTTON))
        old = buttonWithDefaultStyle(dialog);
    if (old && old != next)
        setButtonType(old, BS_PUSHBUTTON);
    if (next && (dialogCode(next) & DLGC_UNDEFPUSHBUTTON))
        setButtonType(next, BS_DEFPUSHBUTTON);
}

// A focused push button is pressed only while it shows the default style, which it has when the
// focus came to it by Tab or an arrow key; otherwise Enter goes to the dialog's default button
// (DM_GETDEFID, nothing when that button is disabled), and without one to IDOK.
bool enterCommand(Window* dialog, int* id, Window** control) {
    Window* focus = find(dialog->focus);
    if (focus && focus->parent == dialog->handle && (dialogCode(focus) & DLGC_DEFPUSHBUTTON)) {
        *id = focus->id;
        *control = focus;
        return true;
    }
    HWND handle = dialog->handle;
    LRESULT def = sendMessage(dialog, DM_GETDEFID, 0, 0);
    if (!(dialog = find(handle)))
        return false;
    if (HIWORD(def) == DC_HASDEFID) {
        *id = LOWORD(def);
        *control = childById(dialog, *id);
        return !*control || !((*control)->style & WS_DISABLED);
    }
    *id = IDOK;
    *control = childById(dialog, IDOK);
    return true;
}

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

    Window* defaultButton = nullptr;
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
        if (c->kind == ControlKind::ComboBox && (item.style & 3) != CBS_DROPDOWNLIST)
            c->text.clear();
        Window* child = addWindow(std::move(c));
        dialog->children.push_back(child->handle);
        // Of several default push buttons the last one keeps the style and is the default.
        if (child->kind == ControlKind::PushButton &&
            (child->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
            if (defaultButton)
                setButtonType(defaultButton, BS_PUSHBUTTON);
            defaultButton = child;
            dialog->defaultId = child->id;
        }
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
        // The focus moves, and with it the default style; the dialog's default stays.
        HWND target = lParam ? reinterpret_cast<HWND>(wParam)
                             : GetNextDlgTabItem(handle, dialog->focus, wParam ? TRUE : FALSE);
        Window* w = find(target);
        if (!w || w->parent != handle || (w->style & WS_DISABLED))
            return 0;
        setFocusTo(dialog, w);
        if ((dialog = find(handle)) != nullptr && (w = find(target)) != nullptr)
            moveDefaultStyle(dialog, w);
        return 0;
    }
    case DM_GETDEFID:
        if (dialog->ended)
            return 0;
        if (dialog->defaultId)
            return MAKELONG(dialog->defaultId, DC_HASDEFID);
        if (Window* styled = buttonWithDefaultStyle(dialog))
            return MAKELONG(styled->id, DC_HASDEFID);
        return 0;
    case DM_SETDEFID:
        if (!dialog->ended)
            setDefaultId(dialog, static_cast<int>(wParam));
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
    process().noteWindowShown();
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
