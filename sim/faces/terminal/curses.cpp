// The terminal face on ncurses: copies the rendered canvas to the screen and turns the person's
// keys and clicks into the window manager's user input.
#include "term_internal.h"
#include "faces.h"

#include <curses.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>

namespace sim {

namespace {

const int kKeySliceMs = 300;

struct Terminal {
    SCREEN* screen = nullptr;
    int deadReads = 0;
    bool colours = false;
    int altDown = 0; // the key code of Alt-Down when the terminal has one
    std::map<std::pair<int, int>, short> pairs;
    term::DialogLayout layout; // the top dialog as last drawn, for clicks
    DialogInfo top;
};

Terminal& terminal() {
    static Terminal t;
    return t;
}

int colourPair(int fg, int bg) {
    Terminal& t = terminal();
    if (!t.colours)
        return 0;
    fg = term::foldColour(fg, COLORS);
    bg = term::foldColour(bg, COLORS);
    if (fg == term::kDefault && bg == term::kDefault)
        return 0;
    auto key = std::make_pair(fg, bg);
    auto it = t.pairs.find(key);
    if (it != t.pairs.end())
        return it->second;
    short number = static_cast<short>(t.pairs.size() + 1);
    if (number >= COLOR_PAIRS)
        return 0;
    init_pair(number, static_cast<short>(fg), static_cast<short>(bg));
    t.pairs[key] = number;
    return number;
}

void blit(const term::Canvas& canvas) {
    for (int y = 0; y < canvas.height(); ++y) {
        for (int x = 0; x < canvas.width(); ++x) {
            const term::Cell& cell = canvas.at(x, y);
            chtype attrs = COLOR_PAIR(colourPair(cell.fg, cell.bg));
            if (cell.bold)
                attrs |= A_BOLD;
            if (cell.dim)
                attrs |= A_DIM;
            if (cell.reverse)
                attrs |= A_REVERSE;
            mvaddch(y, x, static_cast<unsigned char>(cell.ch) | attrs);
        }
    }
    refresh();
}

// Draws the screen and remembers the top dialog's layout for the clicks that follow.
term::DialogLayout render(term::Canvas* keep = nullptr) {
    term::Canvas canvas(COLS, LINES);
    term::DialogLayout layout = term::drawDesktop(canvas);
    terminal().layout = layout;
    terminal().top = ui().describe(ui().topDialog());
    if (keep)
        *keep = canvas;
    else
        blit(canvas);
    return layout;
}

// Esc either stands alone or starts an Alt combination; Alt-Space opens the system menu.
int readKey(bool* alt) {
    *alt = false;
    int ch = getch();
    if (ch != 27)
        return ch;
    nodelay(stdscr, TRUE);
    int next = getch();
    nodelay(stdscr, FALSE);
    if (next == ERR)
        return 27;
    *alt = true;
    return next;
}

bool isEnter(int ch) {
    return ch == '\n' || ch == '\r' || ch == KEY_ENTER;
}

// The left button's click (or its release, when the terminal reports press and release apart).
bool readClick(int* x, int* y) {
    MEVENT event;
    if (getmouse(&event) != OK || !(event.bstate & (BUTTON1_CLICKED | BUTTON1_RELEASED)))
        return false;
    *x = event.x;
    *y = event.y;
    return true;
}

bool inside(const term::CellRect& r, int x, int y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

void runSystemMenu() {
    HWND dialog = ui().topDialog();
    std::vector<MenuItemInfo> items = ui().describe(dialog).systemMenu;
    if (items.empty()) {
        beep();
        return;
    }
    int selected = 0;
    auto selectable = [&](int i) {
        return !(items[static_cast<size_t>(i)].flags & MF_SEPARATOR) &&
               !items[static_cast<size_t>(i)].grayed;
    };
    int count = static_cast<int>(items.size());
    while (selected < count && !selectable(selected))
        ++selected;
    for (;;) {
        term::Canvas canvas(COLS, LINES);
        term::DialogLayout layout = render(&canvas);
        term::drawMenu(canvas, layout, items, selected, LINES - 1);
        blit(canvas);
        bool alt;
        int ch = readKey(&alt);
        if (ch == 27 || ch == ERR || (ch == KEY_F(10)))
            return;
        if (ch == KEY_UP || ch == KEY_DOWN) {
            int step = ch == KEY_UP ? -1 : 1;
            for (int i = 1; i <= count; ++i) {
                int candidate = ((selected + step * i) % count + count) % count;
                if (selectable(candidate)) {
                    selected = candidate;
                    break;
                }
            }
        } else if (isEnter(ch) && selected < count) {
            if (!ui().sysCommand(items[static_cast<size_t>(selected)].id).ok)
                beep();
            return;
        }
    }
}

// Printable keys and Backspace edit the text of a focused field that takes typing (the edit
// part of a drop-down combo box); returns false when the key is not for such a field.
bool typeInto(int ch) {
    bool printable = ch >= 0x20 && ch < 0x7F;
    bool erase = ch == KEY_BACKSPACE || ch == 127 || ch == 8;
    if (!printable && !erase)
        return false;
    for (const ControlInfo& c : ui().describe(ui().topDialog()).controls) {
        bool editable = (c.kind == ControlKind::ComboBox && (c.style & 3) != CBS_DROPDOWNLIST) ||
                        (c.kind == ControlKind::Edit && !(c.style & ES_READONLY));
        if (!c.focused || !editable || c.dropped)
            continue;
        std::string text = c.text;
        if (erase && text.empty())
            return true;
        if (erase)
            text.pop_back();
        else
            text += static_cast<char>(ch);
        if (!ui().type(c.id, text).ok)
            beep();
        return true;
    }
    return false;
}

// A click on an item of the open list picks it, a click elsewhere closes the list; a click on a
// control acts on it as a click of the mouse does (a push button, a check box, a combo box).
UiResult click(int x, int y) {
    const Terminal& t = terminal();
    if (t.layout.listId) {
        for (size_t i = 0; i < t.layout.listItems.size(); ++i) {
            const ControlInfo* combo = nullptr;
            for (const ControlInfo& c : t.top.controls)
                combo = c.id == t.layout.listId ? &c : combo;
            if (combo && i < combo->items.size() && inside(t.layout.listItems[i], x, y))
                return ui().select(t.layout.listId, combo->items[i]);
        }
        return ui().key(Key::Esc);
    }
    if (!t.layout.shown || t.top.iconic)
        return UiResult::failure("no control there");
    // The last control drawn at a cell is the one seen there.
    for (auto c = t.top.controls.rbegin(); c != t.top.controls.rend(); ++c) {
        bool clickable = c->kind == ControlKind::PushButton || c->kind == ControlKind::CheckBox ||
                         c->kind == ControlKind::RadioButton || c->kind == ControlKind::ComboBox;
        if (c->visible && clickable && inside(term::controlCells(*c, t.layout), x, y))
            return ui().click(c->id);
    }
    return UiResult::failure("no control there");
}

// Keys are waited for in short slices so that the modal loop can look for requests of other
// processes to bring the dialog to the front. A terminal that has gone away answers at once,
// again and again; that ends the input.
bool idle() {
    render();
    bool alt;
    timeout(kKeySliceMs);
    auto started = std::chrono::steady_clock::now();
    int ch = readKey(&alt);
    timeout(-1);
    UiResult result;
    if (ch == ERR) {
        auto waited = std::chrono::steady_clock::now() - started;
        bool immediate = waited < std::chrono::milliseconds(kKeySliceMs / 4);
        terminal().deadReads = immediate ? terminal().deadReads + 1 : 0;
        return terminal().deadReads < 100;
    }
    terminal().deadReads = 0;
    if ((alt && ch == ' ') || ch == KEY_F(10)) {
        if (terminal().layout.listId)
            ui().key(Key::Esc); // the menu closes an open list first
        runSystemMenu();
        return true;
    }
    if (typeInto(ch))
        return true;
    int x = 0, y = 0;
    if (ch == KEY_MOUSE) {
        result = readClick(&x, &y) ? click(x, y) : UiResult::success();
    } else if ((alt && ch == KEY_DOWN) || (terminal().altDown && ch == terminal().altDown)) {
        result = ui().key(Key::AltDown);
    } else if (ch == KEY_F(4)) {
        result = ui().key(Key::F4);
    } else if (isEnter(ch)) {
        result = ui().key(Key::Enter);
    } else {
        switch (ch) {
        case '\t':
            result = ui().key(Key::Tab);
            break;
        case KEY_BTAB:
            result = ui().key(Key::ShiftTab);
            break;
        case ' ':
            result = ui().key(Key::Space);
            break;
        case KEY_UP:
            result = ui().key(Key::Up);
            break;
        case KEY_DOWN:
            result = ui().key(Key::Down);
            break;
        case 27:
            result = ui().key(Key::Esc);
            break;
        case KEY_RESIZE:
            break;
        default:
            result = UiResult::failure("key not used");
            break;
        }
    }
    if (!result.ok)
        beep();
    return true;
}

// A message box is modal over everything: arrows or Tab choose a button, Enter presses it, Esc
// is Cancel where the box has one (and OK on a box with only OK). It starts on its default button.
int messageBox(const MessageBoxRecord& box) {
    std::vector<int> buttons = messageBoxButtons(box.type);
    int selected = term::defaultBoxButton(box.type), count = static_cast<int>(buttons.size());
    for (;;) {
        term::Canvas canvas(COLS, LINES);
        term::drawDesktop(canvas, &box, selected);
        blit(canvas);
        bool alt;
        int ch = readKey(&alt);
        if (ch == ERR)
            return defaultBoxAnswer(box.type);
        if (ch == KEY_LEFT || ch == KEY_BTAB)
            selected = (selected + count - 1) % count;
        else if (ch == KEY_RIGHT || ch == '\t')
            selected = (selected + 1) % count;
        else if (isEnter(ch) || ch == ' ')
            return buttons[static_cast<size_t>(selected)];
        else if (ch == 27) {
            for (int b : buttons) {
                if (b == IDCANCEL || (count == 1 && b == IDOK))
                    return b;
            }
            beep();
        }
    }
}

void foreground(HWND) {
    flash();
    beep();
    render();
}

std::string closeTerminal() {
    Terminal& t = terminal();
    if (t.screen) {
        endwin();
        delscreen(t.screen);
    }
    t = Terminal();
    return "";
}

// The key code of Alt-Down: xterm and its kin (tmux, VTE) send it as CSI 1;3 B, which ncurses
// knows where the terminal description names it and is taught otherwise. Terminals that send
// Alt as an Esc prefix give Esc, Down, which readKey sees as Down with Alt.
int altDownCode() {
    const char sequence[] = "\033[1;3B";
    int code = key_defined(sequence);
    if (code > 0)
        return code;
    const int kOwnCode = KEY_MAX + 1;
    return define_key(sequence, kOwnCode) == OK ? kOwnCode : 0;
}

} // namespace

bool installTerminalFace(std::string* why) {
    std::string reason;
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
        reason = "no terminal";
    } else {
        // newterm, unlike initscr, reports a terminal type it cannot use instead of exiting.
        SCREEN* screen = newterm(nullptr, stdout, stdin);
        if (screen) {
            Terminal& t = terminal();
            t = Terminal();
            t.screen = screen;
        } else {
            const char* type = getenv("TERM");
            reason = type && *type
                         ? std::string("the terminal type \"") + type + "\" is unknown to ncurses"
                         : "TERM is not set";
        }
    }
    if (!reason.empty()) {
        if (why)
            *why = reason;
        return false;
    }
    Terminal& t = terminal();
    cbreak();
    noecho();
    keypad(stdscr, TRUE);
    curs_set(0);
    set_escdelay(25);
    mousemask(BUTTON1_CLICKED | BUTTON1_PRESSED | BUTTON1_RELEASED, nullptr);
    mouseinterval(0);
    if (has_colors()) {
        start_color();
        use_default_colors();
        t.colours = true;
    }
    t.altDown = altDownCode();
    installFace(Face::Terminal, closeTerminal);
    ui().setIdleHandler(idle);
    ui().setMessageBoxHandler(messageBox);
    ui().setForegroundHandler(foreground);
    return true;
}

} // namespace sim

// ncurses keeps the screen it prepared for a terminal type it then refuses (newterm returns null
// and frees nothing); in sanitizer builds LeakSanitizer reads this list instead of reporting it.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:new_prescr\n";
}
extern "C" const char* __lsan_default_options() {
    return "print_suppressions=0";
}
