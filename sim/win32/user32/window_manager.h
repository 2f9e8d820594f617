// The window manager's own state: windows, menus, device contexts, the posted-message queue.
#pragma once

#include "sim/desktop.h"

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sim {
namespace wm {

struct Menu {
    HMENU handle = nullptr;
    std::vector<MenuItemInfo> items;
};

struct Window {
    HWND handle = nullptr;
    HWND parent = nullptr; // the dialog of a control
    HWND owner = nullptr;  // the owner of a dialog
    bool isDialog = false;
    std::string className;
    ControlKind kind = ControlKind::Other;
    DWORD style = 0;
    DWORD exStyle = 0;
    int id = 0;
    std::string text;
    RECT dialogUnits = {0, 0, 0, 0};
    RECT rect = {0, 0, 0, 0}; // client coordinates of the parent, or screen for dialogs
    bool iconic = false;
    bool needsPaint = false;
    HINSTANCE instance = nullptr;
    WNDPROC wndProc = nullptr;
    DLGPROC dlgProc = nullptr;
    LONG_PTR msgResult = 0;
    LONG_PTR user = 0;
    LONG_PTR userData = 0;
    HFONT font = nullptr;
    int iconOrdinal = 0;

    // Buttons.
    int check = 0;
    // Combo boxes: the list, the selection and the text of the selection field or edit part;
    // while the list is dropped down, the item the keys have moved to.
    std::vector<std::string> items;
    int selection = -1;
    bool dropped = false;
    int highlight = -1;

    // Dialogs.
    std::vector<HWND> children; // in template order, which is the tab order
    HWND focus = nullptr;
    bool ended = false;
    INT_PTR result = 0;
    int defaultId = IDOK; // the dialog's own default (DM_GETDEFID), whichever button shows it
    int baseX = 8, baseY = 16;
    int templateCx = 0, templateCy = 0;
    HICON icons[2] = {nullptr, nullptr};
    std::unique_ptr<Menu> systemMenu;
    int pendingAnswer = 0; // a queued answer that clicks this button once the dialog is idle

    CtlColorRecord color;
    std::vector<PaintOp> lastPaint;
    bool painting = false;
};

struct PostedMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

Window* find(HWND handle);
Window* dialogOf(HWND handle); // the window itself when a dialog, else its parent dialog
Window* childById(Window* dialog, int id);
HWND newHandle();
std::vector<HWND>& modalStack();
std::deque<PostedMessage>& postedMessages();

// Creates a dialog from a parsed template; null with `error` set when a control class is unknown.
Window* createDialog(const DialogTemplate& tpl, HINSTANCE instance, HWND owner, DLGPROC proc,
                     std::string* error);
void destroyWindow(Window* window);
INT_PTR runModal(Window* dialog, LPARAM initParam);
LRESULT sendMessage(Window* window, UINT message, WPARAM wParam, LPARAM lParam);
void notifyParent(Window* control, WORD code);
void setFocusTo(Window* dialog, Window* control);
// What a window answers to WM_GETDLGCODE.
LRESULT dialogCode(Window* window);
// After the dialog manager moved the focus to `focus`: a push button that gets it shows the
// default style; any other control gives the style back to the dialog's default button.
void moveDefaultStyle(Window* dialog, Window* focus);
// The command Enter sends to the dialog now: false when it sends none (a disabled default).
bool enterCommand(Window* dialog, int* id, Window** control);
void paintWindow(Window* window);
void paintPending();
void invalidate(Window* window);

// The window procedures of the predefined classes and of dialogs.
LRESULT CALLBACK buttonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK staticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK comboProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK editProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT defDialogProcessing(Window* dialog, UINT message, WPARAM wParam, LPARAM lParam);
WNDPROC classProcedure(ControlKind kind);

// Text helpers shared by the window procedures.
LRESULT copyText(const std::string& text, WPARAM bufferMax, LPARAM buffer);
bool equalsNoCase(const std::string& a, const std::string& b);
bool startsWithNoCase(const std::string& text, const std::string& prefix);

// System menu of a dialog with WS_SYSMENU, created on first use.
Menu* systemMenuOf(Window* dialog);
Menu* findMenu(HMENU handle);
void refreshSystemMenu(Window* dialog);
// Forgets a dialog's system menu: GetSystemMenu makes a new one on the next call.
void dropSystemMenu(Window* dialog);
void forgetMenus();

// GDI side: device contexts belong to windows and record what is drawn on them.
HDC beginPaintDc(Window* window);
void endPaintDc(HDC dc);
void recordOp(HDC dc, PaintOp op);
HWND windowOfDc(HDC dc);
HFONT fontOfDc(HDC dc);
const std::vector<PaintOp>& paintLogRef();
void clearPaintLogRef();
void resetGdi();
void resetWindows();
Window* addWindow(std::unique_ptr<Window> window);

} // namespace wm

// Shared by the window manager's files.
void userSelectItem(wm::Window* combo, int index);
// The drop-down list of a combo box: opened, and closed with the highlighted item taken or not.
void openList(wm::Window* combo);
void closeList(wm::Window* combo, bool takeHighlight);
void userPressButton(wm::Window* button);
bool isEditableCombo(const wm::Window* combo);
std::string controlText(const wm::Window* control);
void takeIdleStep(bool* more);
void reportUiError(const std::string& message);
} // namespace sim
