// The window manager towards whoever drives it: the dialogs and what they show, the queued
// steps and answers of the idle loop, the handlers a face installs, and the output of the faces.
// The person's input itself is in user_input.cpp.
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

int shellFace(const MessageBoxRecord& box) {
    return ui().answerMessageBox(box);
}

void hookShell() {
    shell().setFace(shellFace);
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

} // namespace sim
