// The simulated PC's window manager as tests and the two faces see it: dialogs, controls, the
// recorded painting, and the user's input (one code path for the terminal, scripts and tests).
#pragma once

#include "sim_win32.h"
#include "sim/shell.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

// What a child window of a dialog is, from its class and style.
enum class ControlKind {
    Static,
    PushButton,
    CheckBox,
    RadioButton,
    GroupBox,
    ComboBox,
    Edit,
    Other
};

// A name or an ordinal as dialog templates store the menu, class and title fields.
struct NameOrOrdinal {
    bool isOrdinal = false;
    WORD ordinal = 0;
    std::string name;
};

struct DialogItemTemplate {
    DWORD helpId = 0;
    DWORD exStyle = 0;
    DWORD style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    NameOrOrdinal windowClass;
    NameOrOrdinal title;
    std::vector<BYTE> creationData;
};

// A parsed DLGTEMPLATE or DLGTEMPLATEEX. Strings are converted to the ANSI code page.
struct DialogTemplate {
    bool extended = false;
    DWORD helpId = 0;
    DWORD exStyle = 0;
    DWORD style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    NameOrOrdinal menu;
    NameOrOrdinal windowClass;
    std::string title;
    bool hasFont = false;
    int pointSize = 0;
    int weight = 0;
    bool italic = false;
    int charSet = 0;
    std::string typeface;
    std::vector<DialogItemTemplate> items;
};

// Parses a dialog template of `size` bytes. Every offset is checked against the size; on a
// malformed template the result is false and `error` says what is wrong and where.
bool parseDialogTemplate(const void* data, size_t size, DialogTemplate* out, std::string* error);
// "Button", "Edit", "Static", "ListBox", "ScrollBar", "ComboBox" for the predefined atoms
// 0x0080..0x0085, the name otherwise; empty for an unknown atom.
std::string controlClassName(const NameOrOrdinal& windowClass);
// Kind of control a window of `className` (case-insensitive) and `style` is.
ControlKind controlKindOf(const std::string& className, DWORD style);
const char* controlKindName(ControlKind kind);

// The colours a dialog chose for a control in its last control-colour message.
struct CtlColorRecord {
    bool valid = false;
    UINT message = 0;
    COLORREF textColor = 0;
    COLORREF bkColor = 0;
    int bkMode = 0;
    HFONT font = nullptr;
    HBRUSH brush = nullptr;
};

// One recorded drawing operation on a window's device context. Drawing operations carry the
// state of the DC (colours, mode, font, brush) at the time they were made.
struct PaintOp {
    enum Kind {
        BeginPaint,
        EndPaint,
        SetBkColor,
        SetTextColor,
        SetBkMode,
        SelectObject,
        ExtTextOut,
        DrawText,
        DrawIcon,
        FillRect
    };
    Kind kind = BeginPaint;
    HWND window = nullptr;
    HDC dc = nullptr;
    COLORREF colour = 0;
    int mode = 0;
    HGDIOBJ object = nullptr;
    bool hasRect = false;
    RECT rect = {0, 0, 0, 0};
    int x = 0, y = 0;
    UINT options = 0;
    std::string text;
    HICON icon = nullptr;
    HBRUSH brush = nullptr;
    COLORREF textColor = 0;
    COLORREF bkColor = 0;
    int bkMode = 0;
    HFONT font = nullptr;
};
const char* paintOpName(PaintOp::Kind kind);

// What a GDI handle stands for, for tests and the faces.
struct GdiObjectInfo {
    enum Kind { None, Brush, Font, Pen } kind = None;
    bool stock = false;
    bool hollow = false;
    COLORREF colour = 0;
    int height = 0;
    int weight = 0;
    int pitchAndFamily = 0;
    std::string face;
};
GdiObjectInfo gdiObjectInfo(HGDIOBJ object);
// Number of fonts and brushes created and not yet deleted (leak checks in tests).
int liveGdiObjects();

struct ControlInfo {
    HWND hwnd = nullptr;
    int id = 0;
    std::string className;
    ControlKind kind = ControlKind::Other;
    DWORD style = 0;
    bool enabled = true;
    bool visible = true;
    bool focused = false;
    std::string text;
    int check = 0;
    std::vector<std::string> items;
    int selection = -1;
    RECT dialogUnits = {0, 0, 0, 0}; // left, top, right, bottom in dialog units
    RECT pixels = {0, 0, 0, 0};      // client coordinates of the dialog
    CtlColorRecord color;
    int iconOrdinal = 0; // SS_ICON statics: the icon resource named by the template
};

struct MenuItemInfo {
    UINT flags = 0;
    UINT id = 0;
    std::string text;
    bool grayed = false;
};

struct DialogInfo {
    HWND hwnd = nullptr;
    HWND owner = nullptr;
    std::string title;
    DWORD style = 0;
    bool iconic = false;
    bool enabled = true;
    int templateCx = 0, templateCy = 0; // size in dialog units
    int baseX = 0, baseY = 0;           // dialog base units in pixels
    RECT client = {0, 0, 0, 0};
    HICON bigIcon = nullptr;
    HICON smallIcon = nullptr;
    int defaultId = 0;
    std::vector<ControlInfo> controls;
    std::vector<MenuItemInfo> systemMenu;
};

enum class Key { Tab, ShiftTab, Space, Up, Down, Enter, Esc };
// "Tab", "ShiftTab", "Space", "Up", "Down", "Enter", "Esc"; false for another name.
bool keyFromName(const std::string& name, Key* key);

// Result of a user action: ok, or what the dialog could not do.
struct UiResult {
    bool ok = true;
    std::string error;
    static UiResult success() { return UiResult(); }
    static UiResult failure(const std::string& message) {
        UiResult r;
        r.ok = false;
        r.error = message;
        return r;
    }
};

enum class Face { None, Script, Terminal };

class Ui {
  public:
    // Dialogs from the bottom of the modal stack to the top; topDialog() is null when none is up.
    std::vector<HWND> dialogs() const;
    HWND topDialog() const;
    DialogInfo describe(HWND dialog) const;
    bool findControl(HWND dialog, int id, ControlInfo* out) const;

    // Every drawing operation since the last clearPaintLog(), in order.
    const std::vector<PaintOp>& paintLog() const;
    void clearPaintLog();
    // The operations of the window's most recent paint, from BeginPaint to EndPaint.
    std::vector<PaintOp> lastPaint(HWND window) const;

    // The user's input to the top dialog. Each fails without effect when the dialog cannot take
    // it: no dialog, no such control, a disabled control, an item not in the list.
    UiResult click(int id);
    UiResult check(int id, int state);
    UiResult select(int id, const std::string& text);
    UiResult type(int id, const std::string& text);
    UiResult key(Key key);
    UiResult sysCommand(UINT command);
    UiResult minimize();
    // Queues the button that answers the next message box or dialog that comes up.
    void answerNextBox(int id);
    size_t pendingAnswers() const;
    // Takes the oldest queued answer; 0 when none is queued.
    int takeAnswer();
    // Errors of steps the window manager took by itself (a queued answer the dialog could not
    // take), for the faces to report.
    const std::vector<std::string>& errors() const;
    // Forgets queued steps and answers and reported errors (a face starts or finishes).
    void clearPending();

    // The modal loops call the idle handler whenever they have nothing else to do; it makes one
    // step of input (or none) and returns false when no more input will come, which closes the
    // top dialog with Cancel. Without a handler, queued steps are taken one per idle turn.
    void setIdleHandler(std::function<bool()> handler);
    void queueStep(std::function<void()> step);
    // Lets a face answer message boxes (after the queued answers); the handler returns 0 to leave
    // the answer to the shell's default.
    void setMessageBoxHandler(std::function<int(const MessageBoxRecord&)> handler);
    int answerMessageBox(const MessageBoxRecord& box);
    // Called when another process brings one of our top-level windows to the front.
    void setForegroundHandler(std::function<void(HWND)> handler);
    void notifyForeground(HWND window);

    // Where the faces print their JSON lines; stdout by default.
    void setOutput(std::function<void(const std::string&)> output);
    void print(const std::string& line) const;

    // Closes every window, forgets every handler, queue and log: a fresh desktop.
    void reset();
};

Ui& ui();

// JSON lines printed by the script face.
std::string describeAsJson(const DialogInfo& dialog);
std::string paintAsJson(HWND dialog);
std::string jsonString(const std::string& text);

// Runs a dialog from template bytes of a known size (DialogBoxIndirectParamA without trusting
// the template): -1 with `error` set when the template is malformed or names an unknown class.
INT_PTR dialogBoxFromBytes(HINSTANCE instance, const void* data, size_t size, HWND parent,
                           DLGPROC proc, LPARAM initParam, std::string* error);

// One line of a script: `select ID TEXT`, `type ID TEXT`, `check ID STATE`, `click ID`,
// `sys HEX`, `answer ID`, `key NAME`, `show`, `minimize`, `paint`, `wait foreground` (until
// another process brings the top dialog to the front, 10 seconds at most). Blank lines and lines starting
// with '#' are skipped.
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
// setFace(Face::Terminal) is installTerminalFace(). The script face is installed by runScript;
// setFace(Face::Script) returns false.
bool setFace(Face face);
Face currentFace();
// The ncurses face (the front end links the curses library for it): draws the top dialog on the
// terminal and takes the person's keys. Returns false when the terminal cannot be set up.
bool installTerminalFace();
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

// Dialog units to cells: 4 horizontal units a column, 8 vertical units a row. A control is
// at least one cell wide and high.
CellRect dluToCells(const RECT& dialogUnits);
// Client pixels of a dialog with the given base units to cells (one column is baseX pixels, one
// row baseY pixels: the size of 4 by 8 dialog units).
CellRect pixelsToCells(const RECT& pixels, int baseX, int baseY);
// The nearest of the sixteen colours.
int nearestColour(COLORREF colour);
// A colour for a terminal with `available` colours (8 or 16 and more): on 8 colours the bright
// half folds onto the nearest of the first eight.
int foldColour(int colour, int available);
// Text without the '&' mnemonic markers ("&&" stays one '&').
std::string withoutMnemonics(const std::string& text);

struct DialogLayout {
    CellRect frame;  // the dialog's frame on the canvas
    CellRect client; // its client area
};
// Draws a dialog centred on the canvas from its template layout, its recorded painting and the
// colours its dialog procedure chose for each control. An iconic dialog is drawn as its icon.
DialogLayout drawDialog(Canvas& canvas, const DialogInfo& dialog,
                        const std::vector<PaintOp>& dialogPaint);
// A message box centred on the canvas; `selected` is the index of the highlighted button.
void drawMessageBox(Canvas& canvas, const MessageBoxRecord& box, int selected);
// The system menu opened at the dialog's top left corner; `selected` is an item index.
void drawMenu(Canvas& canvas, const DialogLayout& at, const std::vector<MenuItemInfo>& items,
              int selected);
std::vector<int> messageBoxButtons(UINT type);
const char* buttonName(int id);

} // namespace term
} // namespace sim
