// The faces of the simulated PC's window manager: the script, terminal and unattended faces that
// drive the dialogs of sim/desktop.h, and the JSON lines they print.
#pragma once

#include "sim/desktop.h"

#include <functional>
#include <string>
#include <vector>

namespace sim {

enum class Face { None, Script, Terminal, Unattended };

// JSON lines printed by the script face.
std::string describeAsJson(const DialogInfo& dialog);
std::string paintAsJson(HWND dialog);

// One line of a script: `select ID TEXT`, `type ID TEXT`, `check ID STATE`, `click ID`,
// `sys HEX`, `answer ID`, `key NAME`, `show`, `minimize`, `paint`, `wait foreground` (until
// another process brings the top dialog to the front, 10 seconds at most). Blank lines and lines
// starting with '#' are skipped.
struct ScriptAction {
    enum Kind { Select, Type, Check, Click, Sys, Answer, Key, Show, Minimize, Paint, Wait };
    Kind kind = Show;
    int line = 0;
    int id = 0;
    int state = 0;
    UINT command = 0;
    std::string text;
    sim::Key key = sim::Key::Tab;
    std::string source; // the line as written, for error messages
};
// Parses a whole script; on the first bad line returns false with "name:line: message".
bool parseScript(const std::string& name, const std::string& text,
                 std::vector<ScriptAction>* actions, std::string* error);

// The faces the command-line front end chooses between. runScript parses the file first; a
// syntax error is returned at once (file:line: message) and nothing runs.
bool runScript(const std::string& path, std::string* error);
bool runScriptText(const std::string& name, const std::string& text, std::string* error);
// setFace(Face::None) finishes the current face and gives the window manager back to the tests;
// setFace(Face::Terminal) is installTerminalFace(). The script face is installed by runScript,
// the unattended face by installUnattendedFace; setFace returns false for them.
bool setFace(Face face);
Face currentFace();
// The ncurses face (the front end links the curses library for it): draws the dialogs and the
// message boxes on the terminal and takes the person's keys and clicks (the front end stops
// printing message boxes while it owns the screen). Returns false, with `why` saying so in a few
// words ("no terminal", or that ncurses cannot use TERM), when standard input and output are not
// both a terminal or the terminal cannot be set up.
bool installTerminalFace(std::string* why = nullptr);
// For a run without a usable terminal: every dialog closes as Cancel as soon as it waits for
// input, and `report` gets one line for it: `reason`, the dialog's title, what it showed and
// that it closed as Cancel.
void installUnattendedFace(const std::string& reason,
                           std::function<void(const std::string&)> report);
// What a person reads in a dialog, in one line: the combo boxes (named by the text before them),
// check boxes, the chosen radio buttons and edit fields, with "unavailable" for disabled ones.
std::string dialogSummary(const DialogInfo& dialog);
// After the program has ended: the first error of the face (empty when none), which the front
// end prints before exiting non-zero. Checks also that the script was used up.
std::string finishFace();

// The terminal face draws into a character canvas first, which tests can read without a
// terminal; the ncurses part only copies the canvas to the screen and reads keys.
namespace term {

// Colours are the sixteen of the VGA palette in ANSI order (1 is maroon, 4 navy, 8 gray, 15
// white), or kDefault for the terminal's own colour.
const int kDefault = -1;

struct Cell {
    char ch = ' ';
    int fg = kDefault;
    int bg = kDefault;
    bool bold = false;
    bool dim = false;
    bool reverse = false;
};

// A cell rectangle, right and bottom exclusive.
struct CellRect {
    int left = 0, top = 0, right = 0, bottom = 0;
};

class Canvas {
  public:
    Canvas(int width, int height);
    int width() const { return m_width; }
    int height() const { return m_height; }
    const Cell& at(int x, int y) const;
    // Writes clipped to the canvas; cells outside are ignored.
    void put(int x, int y, char ch, int fg, int bg);
    void text(int x, int y, const std::string& text, int fg, int bg, int maxWidth = -1);
    void fill(const CellRect& r, int bg);
    void attributes(const CellRect& r, bool bold, bool dim, bool reverse);
    void box(const CellRect& r, const std::string& title, int fg, int bg);
    std::string row(int y) const;

  private:
    int m_width, m_height;
    std::vector<Cell> m_cells;
};

// How dialog units become cells. The dialog manager scales dialog units to the dialog's font (a
// character of it is 4 units wide and 8 high); the terminal face scales them to the character
// cell in the same way, and when a dialog would not fit the screen at that size it shrinks the
// scale until it does: `cellsX` columns for every `unitsX` units, `cellsY` rows for every
// `unitsY`.
struct Scale {
    int cellsX = 1, unitsX = 4;
    int cellsY = 1, unitsY = 8;
};
// The scale for a dialog of cx x cy units and its frame on `columns` x `rows` cells.
Scale fitScale(int cx, int cy, int columns, int rows);
// Dialog units to cells: partial cells are covered, and a control keeps at least one cell.
CellRect dluToCells(const RECT& dialogUnits, const Scale& scale = Scale());
// Client pixels of a dialog with the given base units (the pixel size of 4 x 8 dialog units) to
// cells.
CellRect pixelsToCells(const RECT& pixels, int baseX, int baseY, const Scale& scale = Scale());
// The nearest of the sixteen colours.
int nearestColour(COLORREF colour);
// A colour for a terminal with `available` colours (8 or 16 and more): on 8 colours the bright
// half folds onto the nearest of the first eight.
int foldColour(int colour, int available);
// Text without the '&' mnemonic markers ("&&" stays one '&').
std::string withoutMnemonics(const std::string& text);
// The word a disabled control shows after its text, as a screen reader says it.
extern const char* const kUnavailable;

struct DialogLayout {
    CellRect frame;  // the dialog's frame on the canvas
    CellRect client; // its client area
    Scale scale;
    bool shown = false; // drawDesktop: whether a dialog is on the screen at all
    // drawDesktop: the items of the top dialog's open combo list, one row each (an empty
    // rectangle for an item scrolled out of view), and that combo box's ID.
    std::vector<CellRect> listItems;
    int listId = 0;
};
// Where a control of the dialog lies on the canvas. Controls of one line (buttons, check boxes,
// combo boxes and edit fields, one-line texts) take the row that holds their middle, so that a
// shrunk scale keeps a label on the row of its field; a closed combo box is one line.
CellRect controlCells(const ControlInfo& control, const DialogLayout& layout);
// Draws a dialog centred in the first `rows` rows of the canvas (all of them for -1), from its
// template layout, its recorded painting and the colours its dialog procedure chose for each
// control. An iconic dialog is drawn as its icon at the bottom of those rows. Only an `active`
// dialog shows its focus; the button Enter would press is drawn as <the default>.
DialogLayout drawDialog(Canvas& canvas, const DialogInfo& dialog,
                        const std::vector<PaintOp>& dialogPaint, int rows = -1, bool active = true);
// A message box centred on the canvas; `selected` is the index of the highlighted button.
void drawMessageBox(Canvas& canvas, const MessageBoxRecord& box, int selected);
// The button a message box starts on: its default button (MB_DEFBUTTON2, ...), else the first.
int defaultBoxButton(UINT type);
// The system menu opened at the dialog's top left corner, or above the dialog when it does not
// fit below it in the first `rows` rows (an iconic dialog's menu opens upwards); `selected` is
// an item index.
void drawMenu(Canvas& canvas, const DialogLayout& at, const std::vector<MenuItemInfo>& items,
              int selected, int rows = -1);
// The open list of a combo box, below its field or above it when it does not fit; returns the
// cells of its items, one row each, for the clicks that pick them.
std::vector<CellRect> drawComboList(Canvas& canvas, const ControlInfo& combo,
                                    const DialogLayout& layout, int rows = -1);
// The key help on the last row for the top dialog: what Enter and Esc would press, the keys for
// an open list or a minimised dialog; shortened to `width`.
std::string keyHelp(const DialogInfo& top, int width);
// The key help while a message box is shown.
std::string boxKeyHelp(const MessageBoxRecord& box, int width);
// The whole screen of the terminal face: every dialog that is on the screen (a dialog that is
// still being initialised is not), the top one active unless a message box is shown over it, its
// open combo list, the message box with button `boxSelected` highlighted, and the key help on
// the last row. Returns the layout of the top dialog on the screen.
DialogLayout drawDesktop(Canvas& canvas, const MessageBoxRecord* box = nullptr,
                         int boxSelected = 0);
const char* buttonName(int id);

} // namespace term
} // namespace sim
