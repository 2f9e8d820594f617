// The predefined control classes of the simulated PC: buttons, statics, combo boxes and edit
// fields, with their messages, notifications and recorded painting.
#include "window_manager.h"

#include <algorithm>
#include <cctype>

namespace sim {
namespace wm {

namespace {

UINT ctlColorMessage(const Window* w) {
    bool disabled = (w->style & WS_DISABLED) != 0;
    switch (w->kind) {
    case ControlKind::PushButton:
        return WM_CTLCOLORBTN;
    case ControlKind::ComboBox:
    case ControlKind::Edit:
        return disabled ? WM_CTLCOLORSTATIC : WM_CTLCOLOREDIT;
    default:
        return WM_CTLCOLORSTATIC; // statics, check boxes, radio buttons and group boxes
    }
}

bool editableCombo(const Window* w) {
    return (w->style & 3) != CBS_DROPDOWNLIST;
}

std::string comboText(const Window* w) {
    if (editableCombo(w))
        return w->text;
    if (w->selection >= 0 && w->selection < static_cast<int>(w->items.size()))
        return w->items[static_cast<size_t>(w->selection)];
    return "";
}

std::string visibleText(const Window* w) {
    return w->kind == ControlKind::ComboBox ? comboText(w) : w->text;
}

// Before a control draws, its dialog picks the colours (WM_CTLCOLOR*); what the dialog set on
// the DC and the brush it returned are kept for tests and the terminal face.
void paintControl(Window* w) {
    HWND handle = w->handle;
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(handle, &ps);
    Window* parent = find(w->parent);
    UINT message = ctlColorMessage(w);
    LRESULT brush = sendMessage(parent, message, reinterpret_cast<WPARAM>(dc),
                                reinterpret_cast<LPARAM>(handle));
    if (!brush && parent)
        brush = DefWindowProcA(parent->handle, message, reinterpret_cast<WPARAM>(dc),
                               reinterpret_cast<LPARAM>(handle));
    w = find(handle);
    if (!w)
        return;
    CtlColorRecord& c = w->color;
    c.valid = true;
    c.message = message;
    c.textColor = GetTextColor(dc);
    c.bkColor = GetBkColor(dc);
    c.bkMode = GetBkMode(dc);
    c.font = fontOfDc(dc);
    c.brush = reinterpret_cast<HBRUSH>(brush);
    RECT client;
    GetClientRect(handle, &client);
    if (brush)
        FillRect(dc, &client, reinterpret_cast<HBRUSH>(brush));
    if (w->iconOrdinal) {
        HICON icon = LoadIconA(w->instance, MAKEINTRESOURCEA(w->iconOrdinal));
        if (icon)
            DrawIcon(dc, 0, 0, icon);
    } else {
        PaintOp op;
        op.kind = PaintOp::DrawText;
        op.hasRect = true;
        op.rect = client;
        op.text = visibleText(w);
        recordOp(dc, op);
    }
    EndPaint(handle, &ps);
}

int maxCheckState(const Window* w) {
    if (w->kind == ControlKind::RadioButton)
        return BST_CHECKED;
    if (w->kind != ControlKind::CheckBox)
        return BST_UNCHECKED;
    DWORD type = w->style & BS_TYPEMASK;
    return (type == BS_3STATE || type == BS_AUTO3STATE) ? BST_INDETERMINATE : BST_CHECKED;
}

// An automatic radio button unchecks the others of its group (WS_GROUP starts a group).
void checkRadioInGroup(Window* button) {
    Window* dialog = find(button->parent);
    if (!dialog)
        return;
    auto& kids = dialog->children;
    auto at = std::find(kids.begin(), kids.end(), button->handle);
    if (at == kids.end())
        return;
    auto first = at;
    while (first != kids.begin()) {
        Window* c = find(*first);
        if (c && (c->style & WS_GROUP))
            break;
        --first;
    }
    for (auto it = first; it != kids.end(); ++it) {
        Window* c = find(*it);
        if (!c)
            continue;
        if (it != first && (c->style & WS_GROUP))
            break;
        if (c != button && (c->style & BS_TYPEMASK) == BS_AUTORADIOBUTTON)
            c->check = BST_UNCHECKED, c->needsPaint = true;
    }
    button->check = BST_CHECKED;
}

// A click as the mouse makes it: focus, the automatic state change, then BN_CLICKED.
void pressButton(Window* w) {
    HWND handle = w->handle;
    if (Window* dialog = find(w->parent))
        setFocusTo(dialog, w);
    w = find(handle);
    if (!w)
        return;
    switch (w->style & BS_TYPEMASK) {
    case BS_AUTOCHECKBOX:
        w->check = w->check == BST_UNCHECKED ? BST_CHECKED : BST_UNCHECKED;
        break;
    case BS_AUTO3STATE:
        w->check = (w->check + 1) % 3;
        break;
    case BS_AUTORADIOBUTTON:
        checkRadioInGroup(w);
        break;
    default:
        break;
    }
    w->needsPaint = true;
    notifyParent(w, BN_CLICKED);
}

// The list search of CB_FINDSTRING and CB_SELECTSTRING: from the item after `start` to the end,
// then from the top round to `start` itself; -1 searches the whole list from the top.
int findItem(const Window* w, WPARAM start, const char* text, bool exact) {
    if (!text)
        return CB_ERR;
    std::string wanted = text;
    int count = static_cast<int>(w->items.size());
    int from = static_cast<int>(static_cast<INT_PTR>(start));
    if (from < -1 || from >= count)
        from = -1;
    for (int step = 1; step <= count; ++step) {
        int i = (from + step) % count;
        const std::string& item = w->items[static_cast<size_t>(i)];
        if (exact ? equalsNoCase(item, wanted) : startsWithNoCase(item, wanted))
            return i;
    }
    return CB_ERR;
}

void selectItem(Window* w, int index) {
    w->selection = index;
    if (editableCombo(w))
        w->text = index >= 0 ? w->items[static_cast<size_t>(index)] : std::string();
    w->needsPaint = true;
}

int insertItem(Window* w, int index, const char* text) {
    std::string item = text ? text : "";
    int count = static_cast<int>(w->items.size());
    if (index < 0 || index > count)
        index = count;
    if (w->style & CBS_SORT) {
        index = 0;
        while (index < count) {
            const std::string& other = w->items[static_cast<size_t>(index)];
            std::string a = other, b = item;
            for (auto& ch : a)
                ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            for (auto& ch : b)
                ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            if (b < a)
                break;
            ++index;
        }
    }
    w->items.insert(w->items.begin() + index, item);
    if (w->selection >= index)
        ++w->selection;
    w->needsPaint = true;
    return index;
}

} // namespace

LRESULT CALLBACK buttonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = find(window);
    if (!w)
        return 0;
    switch (message) {
    case BM_GETCHECK:
        return maxCheckState(w) ? w->check : BST_UNCHECKED;
    case BM_SETCHECK: {
        int state = static_cast<int>(wParam);
        int most = maxCheckState(w);
        w->check = state < 0 ? 0 : std::min(state, most);
        w->needsPaint = true;
        return 0;
    }
    case BM_GETSTATE: {
        Window* dialog = find(w->parent);
        bool focused = dialog && dialog->focus == window;
        return (maxCheckState(w) ? w->check : 0) | (focused ? BST_FOCUS : 0);
    }
    case BM_SETSTYLE:
        w->style = (w->style & ~static_cast<DWORD>(0xFFFF)) | (wParam & 0xFFFF);
        w->kind = controlKindOf(w->className, w->style);
        w->needsPaint = lParam != 0;
        return 0;
    case BM_CLICK:
        if (!(w->style & WS_DISABLED) && w->kind != ControlKind::GroupBox)
            pressButton(w);
        return 0;
    case WM_GETDLGCODE:
        switch (w->style & BS_TYPEMASK) {
        case BS_PUSHBUTTON:
        case BS_USERBUTTON:
            return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
        case BS_DEFPUSHBUTTON:
            return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
        case BS_RADIOBUTTON:
        case BS_AUTORADIOBUTTON:
            return DLGC_BUTTON | DLGC_RADIOBUTTON;
        case BS_GROUPBOX:
            return DLGC_STATIC;
        default:
            return DLGC_BUTTON;
        }
    case WM_PAINT:
        paintControl(w);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK staticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = find(window);
    if (!w)
        return 0;
    if (message == WM_PAINT) {
        paintControl(w);
        return 0;
    }
    if (message == WM_GETDLGCODE)
        return DLGC_STATIC;
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK editProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_GETDLGCODE)
        return DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS;
    return staticProc(window, message, wParam, lParam);
}

LRESULT CALLBACK comboProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = find(window);
    if (!w)
        return 0;
    int count = static_cast<int>(w->items.size());
    int index = static_cast<int>(static_cast<INT_PTR>(wParam));
    switch (message) {
    case CB_ADDSTRING:
        return insertItem(w, -1, reinterpret_cast<const char*>(lParam));
    case CB_INSERTSTRING:
        if (index < -1 || index > count)
            return CB_ERR;
        return insertItem(w, index, reinterpret_cast<const char*>(lParam));
    case CB_DELETESTRING:
        if (index < 0 || index >= count)
            return CB_ERR;
        w->items.erase(w->items.begin() + index);
        if (w->selection == index)
            selectItem(w, -1);
        else if (w->selection > index)
            --w->selection;
        return count - 1;
    case CB_GETCOUNT:
        return count;
    case CB_GETCURSEL:
        return w->selection;
    case CB_SETCURSEL:
        if (index < 0 || index >= count) {
            selectItem(w, -1);
            return CB_ERR;
        }
        selectItem(w, index);
        return index;
    case CB_FINDSTRING:
    case CB_FINDSTRINGEXACT:
        return findItem(w, wParam, reinterpret_cast<const char*>(lParam),
                        message == CB_FINDSTRINGEXACT);
    case CB_SELECTSTRING: {
        int found = findItem(w, wParam, reinterpret_cast<const char*>(lParam), false);
        if (found != CB_ERR)
            selectItem(w, found);
        return found;
    }
    case CB_GETLBTEXT: {
        char* out = reinterpret_cast<char*>(lParam);
        if (index < 0 || index >= count || !out)
            return CB_ERR;
        const std::string& item = w->items[static_cast<size_t>(index)];
        std::copy(item.begin(), item.end(), out);
        out[item.size()] = '\0';
        return static_cast<LRESULT>(item.size());
    }
    case CB_GETLBTEXTLEN:
        if (index < 0 || index >= count)
            return CB_ERR;
        return static_cast<LRESULT>(w->items[static_cast<size_t>(index)].size());
    case CB_RESETCONTENT:
        w->items.clear();
        selectItem(w, -1);
        w->text.clear();
        return CB_OKAY;
    case CB_GETDROPPEDSTATE:
        return w->dropped ? TRUE : FALSE;
    case CB_SHOWDROPDOWN:
        if (wParam)
            openList(w);
        else
            closeList(w, false);
        return TRUE;
    case WM_KILLFOCUS:
        closeList(w, false);
        return 0;
    case WM_GETDLGCODE:
        return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_GETTEXT:
        return copyText(comboText(w), wParam, lParam);
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(comboText(w).size());
    case WM_SETTEXT:
        // Only the edit part of a drop-down combo box holds free text; typing leaves the list
        // without a selection.
        if (!editableCombo(w))
            return CB_ERR;
        w->text = lParam ? reinterpret_cast<const char*>(lParam) : "";
        w->selection = -1;
        w->needsPaint = true;
        return TRUE;
    case WM_PAINT:
        paintControl(w);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

} // namespace wm

// Shared with the input side: the combo box's selection as the user makes it.
void userSelectItem(wm::Window* combo, int index) {
    wm::selectItem(combo, index);
}

// The list drops down with the selected item highlighted.
void openList(wm::Window* combo) {
    if (combo->dropped)
        return;
    combo->dropped = true;
    combo->highlight = combo->selection;
    combo->needsPaint = true;
    wm::notifyParent(combo, CBN_DROPDOWN);
}

// Closing the list takes the highlighted item (Enter, a click, F4) or leaves the selection as it
// was (Esc, the focus moving away); the dialog hears which, then that the list closed.
void closeList(wm::Window* combo, bool takeHighlight) {
    if (!combo->dropped)
        return;
    HWND handle = combo->handle;
    combo->dropped = false;
    combo->needsPaint = true;
    int picked = combo->highlight;
    combo->highlight = -1;
    bool changes = takeHighlight && picked >= 0 && picked != combo->selection &&
                   picked < static_cast<int>(combo->items.size());
    if (changes) {
        wm::selectItem(combo, picked);
        wm::notifyParent(combo, CBN_SELCHANGE);
    }
    if ((combo = wm::find(handle)) != nullptr)
        wm::notifyParent(combo, takeHighlight ? CBN_SELENDOK : CBN_SELENDCANCEL);
    if ((combo = wm::find(handle)) != nullptr)
        wm::notifyParent(combo, CBN_CLOSEUP);
}
void userPressButton(wm::Window* button) {
    wm::pressButton(button);
}
bool isEditableCombo(const wm::Window* combo) {
    return wm::editableCombo(combo);
}
std::string controlText(const wm::Window* control) {
    return wm::visibleText(control);
}

} // namespace sim
