// The user's side of the window manager: inspecting the top dialog and acting on it as a person
// would (clicks, check boxes, combo items, keys, the system menu). Both faces and the tests go
// through these functions.
#include "window_manager.h"

#include <cstdio>
#include <deque>

namespace sim {

namespace {

struct UiState {
    std::function<bool()> idleHandler;
    std::deque<std::function<void()>> steps;
    std::deque<int> answers;
    std::function<int(const MessageBoxRecord&)> messageBoxHandler;
    std::function<void(HWND)> foregroundHandler;
    std::function<void(const std::string&)> output;
    std::vector<std::string> errors;
};

UiState& state() {
    static UiState s;
    return s;
}

using wm::find;
using wm::Window;

std::string idText(int id) {
    return "control " + std::to_string(id);
}

int shellFace(const MessageBoxRecord& box) {
    return ui().answerMessageBox(box);
}

void hookShell() {
    shell().setFace(shellFace);
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

// Without an answer a box takes its default button: OK, or No for a question.
int defaultBoxAnswer(UINT type) {
    switch (type & 0xF) {
    case MB_YESNO:
    case 3: // MB_YESNOCANCEL
        return IDNO;
    case 2: // MB_ABORTRETRYIGNORE
        return IDABORT;
    case 5: // MB_RETRYCANCEL
        return IDCANCEL;
    default:
        return IDOK;
    }
}

std::string jsonString(const std::string& text) {
    std::string s = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            s += "\\\"";
            break;
        case '\\':
            s += "\\\\";
            break;
        case '\n':
            s += "\\n";
            break;
        case '\r':
            s += "\\r";
            break;
        case '\t':
            s += "\\t";
            break;
        default:
            if (c < 0x20 || c >= 0x7F) {
                // Windows-1252 bytes above 0x7F are written as their Latin-1 code points.
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
                s += buffer;
            } else {
                s += static_cast<char>(c);
            }
        }
    }
    return s + "\"";
}

std::vector<int> messageBoxButtons(UINT type) {
    switch (type & 0xF) {
    case MB_OKCANCEL:
        return {IDOK, IDCANCEL};
    case 2: // MB_ABORTRETRYIGNORE
        return {IDABORT, IDRETRY, IDIGNORE};
    case 3: // MB_YESNOCANCEL
        return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
        return {IDYES, IDNO};
    case 5: // MB_RETRYCANCEL
        return {IDRETRY, IDCANCEL};
    default:
        return {IDOK};
    }
}

void reportUiError(const std::string& message) {
    state().errors.push_back(message);
}

// One turn of the idle loop: the face's handler, or else one queued step. `more` is false when
// no input will come any more.
void takeIdleStep(bool* more) {
    UiState& s = state();
    if (s.idleHandler) {
        *more = s.idleHandler();
        return;
    }
    if (s.steps.empty()) {
        *more = false;
        return;
    }
    std::function<void()> step = s.steps.front();
    s.steps.pop_front();
    step();
    *more = true;
}

std::vector<HWND> Ui::dialogs() const {
    std::vector<HWND> out;
    for (HWND h : wm::modalStack()) {
        if (find(h))
            out.push_back(h);
    }
    return out;
}

HWND Ui::topDialog() const {
    auto& stack = wm::modalStack();
    for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
        Window* d = find(*it);
        if (d && !d->ended)
            return d->handle;
    }
    return nullptr;
}

static ControlInfo describeControl(const Window* c, const Window* d) {
    ControlInfo info;
    info.hwnd = c->handle;
    info.id = c->id;
    info.className = c->className;
    info.kind = c->kind;
    info.style = c->style;
    info.enabled = !(c->style & WS_DISABLED);
    info.visible = (c->style & WS_VISIBLE) != 0;
    info.focused = d->focus == c->handle;
    info.text = controlText(c);
    info.check = c->check;
    info.items = c->items;
    info.selection = c->selection;
    info.dropped = c->dropped;
    info.highlight = c->highlight;
    info.dialogUnits = c->dialogUnits;
    info.pixels = c->rect;
    info.color = c->color;
    info.iconOrdinal = c->iconOrdinal;
    return info;
}

DialogInfo Ui::describe(HWND dialog) const {
    DialogInfo info;
    Window* d = wm::dialogOf(dialog);
    if (!d)
        return info;
    info.hwnd = d->handle;
    info.owner = d->owner;
    info.title = d->text;
    info.style = d->style;
    info.iconic = d->iconic;
    info.enabled = !(d->style & WS_DISABLED);
    info.templateCx = d->templateCx;
    info.templateCy = d->templateCy;
    info.baseX = d->baseX;
    info.baseY = d->baseY;
    GetClientRect(d->handle, &info.client);
    info.bigIcon = d->icons[1];
    info.smallIcon = d->icons[0];
    for (HWND h : d->children) {
        if (Window* c = find(h))
            info.controls.push_back(describeControl(c, d));
    }
    // Only a dialog on the screen is asked what Enter would do; one still in WM_INITDIALOG is not.
    int enterId = 0;
    Window* enterControl = nullptr;
    if ((d->style & WS_VISIBLE) && !d->ended && wm::enterCommand(d, &enterId, &enterControl))
        info.enterId = enterId;
    if (wm::Menu* menu = wm::systemMenuOf(d))
        info.systemMenu = menu->items;
    return info;
}

bool Ui::findControl(HWND dialog, int id, ControlInfo* out) const {
    Window* d = wm::dialogOf(dialog);
    Window* c = wm::childById(d, id);
    if (!c)
        return false;
    *out = describeControl(c, d);
    return true;
}

const std::vector<PaintOp>& Ui::paintLog() const {
    return wm::paintLogRef();
}
void Ui::clearPaintLog() {
    wm::clearPaintLogRef();
}

std::vector<PaintOp> Ui::lastPaint(HWND window) const {
    Window* w = find(window);
    return w ? w->lastPaint : std::vector<PaintOp>();
}

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

void Ui::answerNextBox(int id) {
    state().answers.push_back(id);
    hookShell();
}

size_t Ui::pendingAnswers() const {
    return state().answers.size();
}

int Ui::takeAnswer() {
    if (state().answers.empty())
        return 0;
    int id = state().answers.front();
    state().answers.pop_front();
    return id;
}

const std::vector<std::string>& Ui::errors() const {
    return state().errors;
}

void Ui::clearPending() {
    state().steps.clear();
    state().answers.clear();
    state().errors.clear();
}

void Ui::setIdleHandler(std::function<bool()> handler) {
    state().idleHandler = handler;
}
void Ui::queueStep(std::function<void()> step) {
    state().steps.push_back(step);
}

void Ui::setMessageBoxHandler(std::function<int(const MessageBoxRecord&)> handler) {
    state().messageBoxHandler = handler;
    hookShell();
}

// A queued answer must be one of the box's buttons; one that is not is reported and the box
// takes its default answer.
int Ui::answerMessageBox(const MessageBoxRecord& box) {
    int answer = takeAnswer();
    if (answer) {
        for (int button : messageBoxButtons(box.type)) {
            if (button == answer)
                return answer;
        }
        reportUiError("answer " + std::to_string(answer) + ": not a button of the message box " +
                      jsonString(box.title) + " (" + box.buttons() + ")");
        return defaultBoxAnswer(box.type);
    }
    return state().messageBoxHandler ? state().messageBoxHandler(box) : 0;
}

void Ui::setForegroundHandler(std::function<void(HWND)> handler) {
    state().foregroundHandler = handler;
}

void Ui::notifyForeground(HWND window) {
    if (state().foregroundHandler)
        state().foregroundHandler(window);
}

void Ui::setOutput(std::function<void(const std::string&)> output) {
    state().output = output;
}

void Ui::print(const std::string& line) const {
    if (state().output) {
        state().output(line);
        return;
    }
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Ui::reset() {
    wm::resetWindows();
    wm::resetGdi();
    state() = UiState();
    shell().setFace(nullptr);
    shell().setForegroundHook(nullptr);
}

Ui& ui() {
    static Ui instance;
    return instance;
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
