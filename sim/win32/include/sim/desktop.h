// The simulated PC's window manager (user32 and gdi32) as tests and the faces see it: dialog
// templates, dialogs, controls, the recorded painting, and the user's input (one code path for
// the terminal, scripts and tests).
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
    bool dropped = false;            // a combo box whose list is open
    int highlight = -1;              // the item the keys have moved to in the open list
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
    int enterId = 0; // the button Enter presses now; 0 when Enter does nothing or is not shown
    std::vector<ControlInfo> controls;
    std::vector<MenuItemInfo> systemMenu;
};

// F4 and Alt-Down open a focused combo box's list; while it is open, Up and Down move in it,
// Enter, F4 and Alt-Down take the item and Esc closes it without a choice.
enum class Key { Tab, ShiftTab, Space, Up, Down, Enter, Esc, F4, AltDown };
// "Tab", "ShiftTab", "Space", "Up", "Down", "Enter", "Esc", "F4", "AltDown"; false for another
// name.
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
    // it: no dialog, no such control, a disabled control, an item not in the list. A click on a
    // combo box drops its list down or closes it; select() in an open list takes the item.
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

// A string as a JSON string literal, for the JSON lines of the faces and the front end.
std::string jsonString(const std::string& text);

// Runs a dialog from template bytes of a known size (DialogBoxIndirectParamA without trusting
// the template): -1 with `error` set when the template is malformed or names an unknown class.
INT_PTR dialogBoxFromBytes(HINSTANCE instance, const void* data, size_t size, HWND parent,
                           DLGPROC proc, LPARAM initParam, std::string* error);

// The buttons of a message box of that type (MB_OK, MB_YESNO, ...), left to right.
std::vector<int> messageBoxButtons(UINT type);
// Without an answer a box takes its default button: OK, or No for a question.
int defaultBoxAnswer(UINT type);

} // namespace sim
