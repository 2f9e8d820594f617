// The user's side of the window manager: acting on the top dialog as a person would (clicks,
// check boxes, combo items, keys, the system menu). Both faces and the tests go through these
// functions; what the dialogs show is in ui_state.cpp.
#include "window_manager.h"

#include <cstdio>

namespace sim {

namespace {

using wm::find;
using wm::Window;

std::string idText(int id) {
    return "control " + std::to_string(id);
}

// The top dialog that can take input: it exists and has not ended.
Window* inputDialog(UiResult* error) {
    Window* d = find(ui().topDialog());
    if (!d) {
        *error = UiResult::failure("no dialog is open");
        return nullptr;
    }
    return d;
}

// A control of the top dialog that the user can reach: the dialog is not minimised, the
// control exists and is enabled.
Window* inputControl(int id, UiResult* error) {
    Window* d = inputDialog(error);
    if (!d)
        return nullptr;
    if (d->iconic) {
        *error = UiResult::failure("the dialog is minimised");
        return nullptr;
    }
    Window* c = wm::childById(d, id);
    if (!c) {
        *error = UiResult::failure("the dialog \"" + d->text + "\" has no " + idText(id));
        return nullptr;
    }
    if (c->style & WS_DISABLED) {
        *error = UiResult::failure(idText(id) + " is disabled");
        return nullptr;
    }
    if (!(c->style & WS_VISIBLE)) {
        *error = UiResult::failure(idText(id) + " is hidden");
        return nullptr;
    }
    return c;
}

// Keys for a combo box whose list is dropped down: they move in the list and close it, and never
// reach the dialog's buttons.
UiResult listKey(Window* combo, Key key) {
    int count = static_cast<int>(combo->items.size());
    switch (key) {
    case Key::Up:
    case Key::Down: {
        int next = combo->highlight < 0 ? 0 : combo->highlight + (key == Key::Down ? 1 : -1);
        if (count > 0 && next >= 0 && next < count) {
            combo->highlight = next;
            combo->needsPaint = true;
        }
        return UiResult::success();
    }
    case Key::Enter:
    case Key::F4:
    case Key::AltDown:
        closeList(combo, true);
        return UiResult::success();
    case Key::Esc:
        closeList(combo, false);
        return UiResult::success();
    default:
        return UiResult::failure("the list of combo box " + std::to_string(combo->id) + " is open");
    }
}

bool isButtonKind(ControlKind kind) {
    return kind == ControlKind::PushButton || kind == ControlKind::CheckBox ||
           kind == ControlKind::RadioButton;
}

// Enter as the dialog manager handles it (see enterCommand).
void pressEnter(Window* d) {
    int id = 0;
    Window* control = nullptr;
    if (wm::enterCommand(d, &id, &control))
        wm::sendMessage(d, WM_COMMAND, MAKELONG(id, BN_CLICKED),
                        reinterpret_cast<LPARAM>(control ? control->handle : nullptr));
}

void pressEscape(Window* d) {
    Window* cancel = wm::childById(d, IDCANCEL);
    if (!cancel || !(cancel->style & WS_DISABLED))
        wm::sendMessage(d, WM_COMMAND, MAKELONG(IDCANCEL, BN_CLICKED),
                        reinterpret_cast<LPARAM>(cancel ? cancel->handle : nullptr));
}

// Arrow keys move within the group of the focused control (WS_GROUP starts a group); an
// automatic radio button that gets the focus this way is checked.
void moveInGroup(Window* d, Window* focus, bool forward) {
    auto& kids = d->children;
    int count = static_cast<int>(kids.size()), at = -1;
    for (int i = 0; i < count; ++i) {
        if (kids[static_cast<size_t>(i)] == focus->handle)
            at = i;
    }
    for (int i = at + (forward ? 1 : -1); i >= 0 && i < count; i += forward ? 1 : -1) {
        Window* c = find(kids[static_cast<size_t>(i)]);
        if (!c)
            continue;
        if (forward ? (c->style & WS_GROUP) != 0 : false)
            return;
        bool reachable = (c->style & WS_VISIBLE) && !(c->style & WS_DISABLED) &&
                         c->kind != ControlKind::Static && c->kind != ControlKind::GroupBox;
        if (reachable && c->kind == ControlKind::RadioButton) {
            wm::setFocusTo(d, c);
            if ((c->style & BS_TYPEMASK) == BS_AUTORADIOBUTTON)
                userPressButton(c);
            return;
        }
        if (reachable) {
            wm::sendMessage(d, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(c->handle), TRUE);
            return;
        }
        if (!forward && (c->style & WS_GROUP))
            return;
    }
}

} // namespace

UiResult Ui::click(int id) {
    UiResult error;
    Window* d = inputDialog(&error);
    if (!d)
        return error;
    // OK and Cancel work without a button of their own, as Enter and Esc do.
    if (!wm::childById(d, id) && (id == IDOK || id == IDCANCEL) && !d->iconic) {
        wm::sendMessage(d, WM_COMMAND, MAKELONG(id, BN_CLICKED), 0);
        return UiResult::success();
    }
    Window* c = inputControl(id, &error);
    if (!c)
        return error;
    if (isButtonKind(c->kind)) {
        userPressButton(c);
        return UiResult::success();
    }
    if (c->kind == ControlKind::ComboBox) {
        // A click on the field drops the list down, or closes it again without a choice.
        HWND handle = c->handle;
        if (Window* dialog = find(c->parent))
            wm::setFocusTo(dialog, c);
        if ((c = find(handle)) == nullptr)
            return UiResult::failure(idText(id) + " went away");
        if (c->dropped)
            closeList(c, false);
        else
            openList(c);
        return UiResult::success();
    }
    if (c->kind == ControlKind::Static && (c->style & SS_NOTIFY)) {
        wm::notifyParent(c, 0); // STN_CLICKED
        return UiResult::success();
    }
    return UiResult::failure(idText(id) + " (" + controlKindName(c->kind) + ") cannot be clicked");
}

UiResult Ui::check(int id, int wanted) {
    UiResult error;
    Window* c = inputControl(id, &error);
    if (!c)
        return error;
    if (c->kind != ControlKind::CheckBox && c->kind != ControlKind::RadioButton)
        return UiResult::failure(idText(id) + " (" + controlKindName(c->kind) +
                                 ") is not a check box");
    DWORD type = c->style & BS_TYPEMASK;
    int most = (type == BS_3STATE || type == BS_AUTO3STATE) ? 2 : 1;
    if (wanted < 0 || wanted > most)
        return UiResult::failure("check box " + std::to_string(id) + " has no state " +
                                 std::to_string(wanted) + " (it has states 0 to " +
                                 std::to_string(most) + ")");
    HWND handle = c->handle;
    // The user clicks until the box shows the wanted state; the dialog may set it itself.
    for (int clicks = 0; clicks <= 3; ++clicks) {
        c = find(handle);
        if (!c)
            return UiResult::failure(idText(id) + " went away");
        if (c->check == wanted)
            return UiResult::success();
        if (clicks == 3 || (c->style & WS_DISABLED) || ui().topDialog() != c->parent)
            break;
        userPressButton(c);
    }
    c = find(handle);
    return UiResult::failure("check box " + std::to_string(id) + " does not reach state " +
                             std::to_string(wanted) + " (it shows " +
                             std::to_string(c ? c->check : -1) + ")");
}

UiResult Ui::select(int id, const std::string& text) {
    UiResult error;
    Window* c = inputControl(id, &error);
    if (!c)
        return error;
    if (c->kind != ControlKind::ComboBox)
        return UiResult::failure(idText(id) + " (" + controlKindName(c->kind) +
                                 ") is not a combo box");
    int index = -1;
    for (size_t i = 0; i < c->items.size(); ++i) {
        if (c->items[i] == text) {
            index = static_cast<int>(i);
            break;
        }
    }
    if (index < 0) {
        std::string items;
        for (const std::string& item : c->items)
            items += (items.empty() ? "" : ", ") + jsonString(item);
        return UiResult::failure(jsonString(text) + " is not an item of combo box " +
                                 std::to_string(id) +
                                 " (items: " + (items.empty() ? "none" : items) + ")");
    }
    // The dialog may destroy the control while it is told about the focus or the selection.
    HWND handle = c->handle;
    if (Window* d = find(c->parent))
        wm::setFocusTo(d, c);
    if ((c = wm::find(handle)) == nullptr)
        return UiResult::failure(idText(id) + " went away");
    if (c->dropped) {
        c->highlight = index;
        closeList(c, true);
        return UiResult::success();
    }
    userSelectItem(c, index);
    wm::notifyParent(c, CBN_SELCHANGE);
    if ((c = wm::find(handle)) != nullptr)
        wm::notifyParent(c, CBN_SELENDOK);
    return UiResult::success();
}

UiResult Ui::type(int id, const std::string& text) {
    UiResult error;
    Window* c = inputControl(id, &error);
    if (!c)
        return error;
    bool editable = (c->kind == ControlKind::ComboBox && isEditableCombo(c)) ||
                    (c->kind == ControlKind::Edit && !(c->style & ES_READONLY));
    if (!editable)
        return UiResult::failure(idText(id) + " (" + controlKindName(c->kind) +
                                 (c->kind == ControlKind::ComboBox ? ", drop-down list" : "") +
                                 ") does not take typed text");
    HWND handle = c->handle;
    if (Window* d = find(c->parent))
        wm::setFocusTo(d, c);
    if ((c = wm::find(handle)) == nullptr)
        return UiResult::failure(idText(id) + " went away");
    c->text = text;
    c->needsPaint = true;
    if (c->kind == ControlKind::ComboBox) {
        c->selection = -1;
        wm::notifyParent(c, CBN_EDITUPDATE);
        if ((c = wm::find(handle)) != nullptr)
            wm::notifyParent(c, CBN_EDITCHANGE);
    } else {
        wm::notifyParent(c, 0x0300); // EN_CHANGE
    }
    return UiResult::success();
}

UiResult Ui::key(Key key) {
    UiResult error;
    Window* d = inputDialog(&error);
    if (!d)
        return error;
    if (d->iconic)
        return UiResult::failure("the dialog is minimised");
    Window* focus = find(d->focus);
    bool combo = focus && focus->kind == ControlKind::ComboBox;
    if (combo && focus->dropped && key != Key::Tab && key != Key::ShiftTab)
        return listKey(focus, key);
    switch (key) {
    case Key::Tab:
    case Key::ShiftTab:
        wm::sendMessage(d, WM_NEXTDLGCTL, key == Key::ShiftTab ? TRUE : FALSE, FALSE);
        return UiResult::success();
    case Key::F4:
    case Key::AltDown:
        if (!combo)
            return UiResult::failure("the focus is not on a combo box");
        openList(focus);
        return UiResult::success();
    case Key::Space:
        if (!focus || !isButtonKind(focus->kind))
            return UiResult::failure("Space: the focus is not on a button or check box");
        userPressButton(focus);
        return UiResult::success();
    case Key::Up:
    case Key::Down:
        if (combo) {
            int count = static_cast<int>(focus->items.size());
            int next = focus->selection + (key == Key::Down ? 1 : -1);
            if (focus->selection < 0)
                next = 0;
            if (count > 0 && next >= 0 && next < count && next != focus->selection) {
                userSelectItem(focus, next);
                wm::notifyParent(focus, CBN_SELCHANGE);
            }
        } else if (focus) {
            moveInGroup(d, focus, key == Key::Down);
        }
        return UiResult::success();
    case Key::Enter:
        pressEnter(d);
        return UiResult::success();
    case Key::Esc:
        pressEscape(d);
        return UiResult::success();
    }
    return UiResult::success();
}

static std::string hex(UINT value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%X", value);
    return buffer;
}

UiResult Ui::sysCommand(UINT command) {
    UiResult error;
    Window* d = inputDialog(&error);
    if (!d)
        return error;
    wm::Menu* menu = wm::systemMenuOf(d);
    if (!menu)
        return UiResult::failure("the dialog \"" + d->text + "\" has no system menu");
    for (const MenuItemInfo& item : menu->items) {
        if ((item.flags & MF_SEPARATOR) || item.id != command)
            continue;
        if (item.grayed)
            return UiResult::failure("system command " + hex(command) + " is grayed");
        wm::sendMessage(d, WM_SYSCOMMAND, command, 0);
        return UiResult::success();
    }
    return UiResult::failure(hex(command) + " is not a command of the system menu");
}

UiResult Ui::minimize() {
    UiResult error;
    Window* d = inputDialog(&error);
    if (!d)
        return error;
    if (!(d->style & WS_MINIMIZEBOX))
        return UiResult::failure("the dialog \"" + d->text + "\" has no minimize box");
    if (d->iconic)
        return UiResult::failure("the dialog is already minimised");
    wm::sendMessage(d, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    return UiResult::success();
}

bool keyFromName(const std::string& name, Key* key) {
    static const struct {
        const char* name;
        Key key;
    } keys[] = {{"Tab", Key::Tab},        {"ShiftTab", Key::ShiftTab},
                {"Space", Key::Space},    {"Up", Key::Up},
                {"Down", Key::Down},      {"Enter", Key::Enter},
                {"Esc", Key::Esc},        {"F4", Key::F4},
                {"AltDown", Key::AltDown}};
    for (const auto& k : keys) {
        if (name == k.name) {
            *key = k.key;
            return true;
        }
    }
    return false;
}

} // namespace sim
