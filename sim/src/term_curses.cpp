// The terminal face on ncurses: copies the rendered canvas to the screen and turns the person's
// keys into the window manager's user input.
#include "ui_internal.h"

#include <curses.h>
#include <unistd.h>

#include <chrono>
#include <map>

namespace sim {

namespace {

const char* const kHelp =
    " Tab/Shift-Tab move  Space toggle/press  Up/Down choose  Enter OK  Esc Cancel  F10 menu ";

const int kKeySliceMs = 300;

struct Terminal {
    int deadReads = 0;
    bool open = false;
    bool colours = false;
    std::map<std::pair<int, int>, short> pairs;
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

// The dialogs from the bottom of the modal stack up; returns the layout of the top one.
term::DialogLayout drawDialogs(term::Canvas& canvas) {
    term::DialogLayout top;
    for (HWND dialog : ui().dialogs())
        top = term::drawDialog(canvas, ui().describe(dialog), ui().lastPaint(dialog));
    canvas.text(0, canvas.height() - 1, kHelp, term::kDefault, term::kDefault);
    return top;
}

void render() {
    term::Canvas canvas(COLS, LINES);
    drawDialogs(canvas);
    blit(canvas);
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
        term::DialogLayout layout = drawDialogs(canvas);
        term::drawMenu(canvas, layout, items, selected);
        blit(canvas);
        bool alt;
        int ch = readKey(&alt);
        if (ch == 27 || ch == ERR)
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
        } else if ((ch == '\n' || ch == KEY_ENTER) && selected < count) {
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
        if (!c.focused || !editable)
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
        runSystemMenu();
        return true;
    }
    if (typeInto(ch))
        return true;
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
    case '\n':
    case '\r':
    case KEY_ENTER:
        result = ui().key(Key::Enter);
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
    if (!result.ok)
        beep();
    return true;
}

// A message box is modal over everything: arrows or Tab choose a button, Enter presses it, Esc
// is Cancel where the box has one (and OK on a box with only OK).
int messageBox(const MessageBoxRecord& box) {
    std::vector<int> buttons = term::messageBoxButtons(box.type);
    int selected = 0, count = static_cast<int>(buttons.size());
    for (;;) {
        term::Canvas canvas(COLS, LINES);
        drawDialogs(canvas);
        term::drawMessageBox(canvas, box, selected);
        blit(canvas);
        bool alt;
        int ch = readKey(&alt);
        if (ch == ERR)
            return 0;
        if (ch == KEY_LEFT || ch == KEY_BTAB)
            selected = (selected + count - 1) % count;
        else if (ch == KEY_RIGHT || ch == '\t')
            selected = (selected + 1) % count;
        else if (ch == '\n' || ch == '\r' || ch == KEY_ENTER || ch == ' ')
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
    if (terminal().open) {
        endwin();
        terminal() = Terminal();
    }
    return "";
}

} // namespace

bool installTerminalFace() {
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO) || !initscr())
        return false;
    Terminal& t = terminal();
    t.open = true;
    cbreak();
    noecho();
    keypad(stdscr, TRUE);
    curs_set(0);
    set_escdelay(25);
    if (has_colors()) {
        start_color();
        use_default_colors();
        t.colours = true;
    }
    installFace(Face::Terminal, closeTerminal);
    ui().setIdleHandler(idle);
    ui().setMessageBoxHandler(messageBox);
    ui().setForegroundHandler(foreground);
    return true;
}

} // namespace sim
