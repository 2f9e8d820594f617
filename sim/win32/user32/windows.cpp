// user32 windows of the simulated PC: the window table, messages, window data, text and focus.
// Menus are in menus.cpp, the paint cycle in paint.cpp, dialog creation and the modal loop in
// dialog.cpp.
#include "window_manager.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace sim {
namespace wm {
namespace {

struct WindowTable {
    std::map<uintptr_t, std::unique_ptr<Window>> windows;
    std::vector<HWND> modal;
    std::deque<PostedMessage> posted;
    uintptr_t nextHandle = 0x10000;
};

WindowTable& table() {
    static WindowTable t;
    return t;
}

uintptr_t key(const void* handle) {
    return reinterpret_cast<uintptr_t>(handle);
}

} // namespace

// Handles are never reused, so a stale handle of a destroyed window stays invalid.
HWND newHandle() {
    table().nextHandle += 4;
    return reinterpret_cast<HWND>(table().nextHandle);
}

Window* find(HWND handle) {
    auto it = table().windows.find(key(handle));
    return it == table().windows.end() ? nullptr : it->second.get();
}

Window* dialogOf(HWND handle) {
    Window* w = find(handle);
    if (w && !w->isDialog)
        w = find(w->parent);
    return w && w->isDialog ? w : nullptr;
}

Window* childById(Window* dialog, int id) {
    if (!dialog)
        return nullptr;
    for (HWND h : dialog->children) {
        Window* c = find(h);
        if (c && c->id == id)
            return c;
    }
    return nullptr;
}

std::vector<HWND>& modalStack() {
    return table().modal;
}
std::deque<PostedMessage>& postedMessages() {
    return table().posted;
}

Window* addWindow(std::unique_ptr<Window> window) {
    window->handle = newHandle();
    Window* w = window.get();
    table().windows[key(w->handle)] = std::move(window);
    return w;
}

void destroyWindow(Window* window) {
    if (!window)
        return;
    HWND handle = window->handle;
    for (HWND child : std::vector<HWND>(window->children))
        destroyWindow(find(child));
    sendMessage(window, WM_DESTROY, 0, 0);
    window = find(handle);
    if (!window)
        return;
    if (Window* parent = find(window->parent)) {
        auto& kids = parent->children;
        kids.erase(std::remove(kids.begin(), kids.end(), handle), kids.end());
        if (parent->focus == handle)
            parent->focus = nullptr;
    }
    dropSystemMenu(window);
    if (window->isDialog)
        shell().unregisterWindow(handle);
    auto& posted = table().posted;
    posted.erase(std::remove_if(posted.begin(), posted.end(),
                                [handle](const PostedMessage& m) { return m.window == handle; }),
                 posted.end());
    table().windows.erase(key(handle));
}

void resetWindows() {
    for (auto& entry : table().windows) {
        if (entry.second->isDialog)
            shell().unregisterWindow(entry.second->handle);
    }
    table().windows.clear();
    forgetMenus();
    table().modal.clear();
    table().posted.clear();
}

LRESULT sendMessage(Window* window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!window || !window->wndProc)
        return 0;
    return window->wndProc(window->handle, message, wParam, lParam);
}

void notifyParent(Window* control, WORD code) {
    Window* parent = find(control->parent);
    if (!parent)
        return;
    sendMessage(parent, WM_COMMAND, MAKELONG(control->id, code),
                reinterpret_cast<LPARAM>(control->handle));
}

void setFocusTo(Window* dialog, Window* control) {
    if (!dialog)
        return;
    HWND previous = dialog->focus;
    HWND next = control ? control->handle : nullptr;
    if (previous == next)
        return;
    dialog->focus = next;
    if (Window* old = find(previous))
        sendMessage(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(next), 0);
    if (control)
        sendMessage(control, WM_SETFOCUS, reinterpret_cast<WPARAM>(previous), 0);
}

LRESULT copyText(const std::string& text, WPARAM bufferMax, LPARAM buffer) {
    char* out = reinterpret_cast<char*>(buffer);
    if (!out || bufferMax == 0)
        return 0;
    size_t n = std::min(text.size(), static_cast<size_t>(bufferMax) - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return static_cast<LRESULT>(n);
}

bool equalsNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && startsWithNoCase(a, b);
}

bool startsWithNoCase(const std::string& text, const std::string& prefix) {
    if (prefix.size() > text.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

} // namespace wm
} // namespace sim

using namespace sim::wm;
using sim::wm::Window;

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return sendMessage(find(window), message, wParam, lParam);
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!find(window))
        return FALSE;
    postedMessages().push_back({window, message, wParam, lParam});
    return TRUE;
}

LRESULT WINAPI CallWindowProcA(WNDPROC previous, HWND window, UINT message, WPARAM wParam,
                               LPARAM lParam) {
    return previous ? previous(window, message, wParam, lParam) : 0;
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
    Window* c = childById(find(dialog), id);
    return c ? c->handle : nullptr;
}

int WINAPI GetDlgCtrlID(HWND control) {
    Window* w = find(control);
    return w && !w->isDialog ? w->id : 0;
}

LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam,
                                   LPARAM lParam) {
    return sendMessage(childById(find(dialog), id), message, wParam, lParam);
}

UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int bufferMax) {
    if (buffer && bufferMax > 0)
        buffer[0] = '\0';
    return static_cast<UINT>(GetWindowTextA(GetDlgItem(dialog, id), buffer, bufferMax));
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    return SetWindowTextA(GetDlgItem(dialog, id), text);
}

BOOL WINAPI CheckDlgButton(HWND dialog, int id, UINT check) {
    Window* c = childById(find(dialog), id);
    if (!c)
        return FALSE;
    sendMessage(c, BM_SETCHECK, check, 0);
    return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND dialog, int id) {
    return static_cast<UINT>(SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0));
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
    Window* w = find(window);
    if (!w) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    LONG_PTR previous = 0;
    auto swap = [&](LONG_PTR& slot) {
        previous = slot;
        slot = value;
    };
    if (w->isDialog && index == static_cast<int>(DWLP_MSGRESULT)) {
        swap(w->msgResult);
    } else if (w->isDialog && index == static_cast<int>(DWLP_USER)) {
        swap(w->user);
    } else if (w->isDialog && index == static_cast<int>(DWLP_DLGPROC)) {
        previous = reinterpret_cast<LONG_PTR>(w->dlgProc);
        w->dlgProc = reinterpret_cast<DLGPROC>(value);
    } else if (index == GWLP_USERDATA) {
        swap(w->userData);
    } else if (index == GWLP_WNDPROC) {
        previous = reinterpret_cast<LONG_PTR>(w->wndProc);
        w->wndProc = reinterpret_cast<WNDPROC>(value);
    } else if (index == GWLP_ID) {
        previous = w->id;
        w->id = static_cast<int>(value);
    } else if (index == GWL_STYLE) {
        previous = static_cast<LONG_PTR>(w->style);
        w->style = static_cast<DWORD>(value);
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return previous;
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND window, int index) {
    Window* w = find(window);
    if (!w) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (w->isDialog && index == static_cast<int>(DWLP_MSGRESULT))
        return w->msgResult;
    if (w->isDialog && index == static_cast<int>(DWLP_USER))
        return w->user;
    if (w->isDialog && index == static_cast<int>(DWLP_DLGPROC))
        return reinterpret_cast<LONG_PTR>(w->dlgProc);
    switch (index) {
    case GWLP_USERDATA:
        return w->userData;
    case GWLP_WNDPROC:
        return reinterpret_cast<LONG_PTR>(w->wndProc);
    case GWLP_ID:
        return w->id;
    case GWLP_HINSTANCE:
        return reinterpret_cast<LONG_PTR>(w->instance);
    case GWLP_HWNDPARENT:
        return reinterpret_cast<LONG_PTR>(w->isDialog ? w->owner : w->parent);
    case GWL_STYLE:
        return static_cast<LONG_PTR>(w->style);
    case GWL_EXSTYLE:
        return static_cast<LONG_PTR>(w->exStyle);
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
}

// Enabling sends WM_ENABLE; a control that loses its enabled state loses the focus as well.
BOOL WINAPI EnableWindow(HWND window, BOOL enable) {
    Window* w = find(window);
    if (!w)
        return FALSE;
    BOOL wasDisabled = (w->style & WS_DISABLED) ? TRUE : FALSE;
    bool changed = (wasDisabled != 0) == (enable != 0);
    if (enable)
        w->style &= ~static_cast<DWORD>(WS_DISABLED);
    else
        w->style |= WS_DISABLED;
    if (changed) {
        HWND parent = w->parent;
        w->needsPaint = true;
        sendMessage(w, WM_ENABLE, enable ? TRUE : FALSE, 0);
        Window* dialog = find(parent);
        if (!enable && dialog && dialog->focus == window)
            setFocusTo(dialog, nullptr);
    }
    return wasDisabled;
}

BOOL WINAPI IsWindowEnabled(HWND window) {
    Window* w = find(window);
    return w && !(w->style & WS_DISABLED) ? TRUE : FALSE;
}

BOOL WINAPI IsWindow(HWND window) {
    return find(window) ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND window) {
    Window* w = find(window);
    if (!w || !(w->style & WS_VISIBLE))
        return FALSE;
    Window* parent = find(w->parent);
    return !parent || (parent->style & WS_VISIBLE) ? TRUE : FALSE;
}

int WINAPI GetWindowTextA(HWND window, LPSTR buffer, int bufferMax) {
    Window* w = find(window);
    if (!w || !buffer || bufferMax <= 0)
        return 0;
    buffer[0] = '\0';
    return static_cast<int>(sendMessage(w, WM_GETTEXT, static_cast<WPARAM>(bufferMax),
                                        reinterpret_cast<LPARAM>(buffer)));
}

BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
    Window* w = find(window);
    if (!w)
        return FALSE;
    // The message's own result, as Windows returns it: CB_ERR from a drop-down list.
    return static_cast<BOOL>(sendMessage(w, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)));
}

int WINAPI GetWindowTextLengthA(HWND window) {
    return static_cast<int>(sendMessage(find(window), WM_GETTEXTLENGTH, 0, 0));
}

BOOL WINAPI GetClientRect(HWND window, LPRECT rect) {
    Window* w = find(window);
    if (!w || !rect)
        return FALSE;
    *rect = {0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
    return TRUE;
}

// Dialogs get a caption and a frame around the client area; controls have none.
BOOL WINAPI GetWindowRect(HWND window, LPRECT rect) {
    Window* w = find(window);
    if (!w || !rect)
        return FALSE;
    if (w->isDialog) {
        const LONG frame = 3, caption = 18;
        *rect = {w->rect.left - frame, w->rect.top - frame - caption, w->rect.right + frame,
                 w->rect.bottom + frame};
        return TRUE;
    }
    Window* parent = find(w->parent);
    LONG dx = parent ? parent->rect.left : 0, dy = parent ? parent->rect.top : 0;
    *rect = {w->rect.left + dx, w->rect.top + dy, w->rect.right + dx, w->rect.bottom + dy};
    return TRUE;
}

BOOL WINAPI IsIconic(HWND window) {
    Window* w = find(window);
    return w && w->iconic ? TRUE : FALSE;
}

// Returns whether the window was visible before, like Windows.
BOOL WINAPI ShowWindow(HWND window, int command) {
    Window* w = find(window);
    if (!w)
        return FALSE;
    BOOL wasVisible = (w->style & WS_VISIBLE) ? TRUE : FALSE;
    switch (command) {
    case SW_HIDE:
        w->style &= ~static_cast<DWORD>(WS_VISIBLE);
        break;
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED:
    case SW_SHOWMINNOACTIVE:
        w->style |= WS_VISIBLE;
        if (w->isDialog && !w->iconic) {
            w->iconic = true;
            w->style |= WS_MINIMIZE;
        }
        break;
    case SW_RESTORE:
    case SW_SHOWNORMAL:
        w->style |= WS_VISIBLE;
        if (w->isDialog && w->iconic) {
            w->iconic = false;
            w->style &= ~static_cast<DWORD>(WS_MINIMIZE);
        }
        break;
    default:
        w->style |= WS_VISIBLE;
        break;
    }
    if (w->isDialog)
        refreshSystemMenu(w);
    invalidate(w);
    return wasVisible;
}

HWND WINAPI SetFocus(HWND window) {
    Window* w = find(window);
    Window* dialog = dialogOf(window);
    if (!w || !dialog || (w->style & WS_DISABLED))
        return nullptr;
    HWND previous = dialog->focus;
    if (w != dialog)
        setFocusTo(dialog, w);
    return previous;
}

HWND WINAPI GetFocus(void) {
    auto& stack = modalStack();
    for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
        if (Window* d = find(*it))
            return d->focus;
    }
    return nullptr;
}

HWND WINAPI GetParent(HWND window) {
    Window* w = find(window);
    if (!w)
        return nullptr;
    return w->isDialog ? w->owner : w->parent;
}

BOOL WINAPI DestroyWindow(HWND window) {
    Window* w = find(window);
    if (!w)
        return FALSE;
    if (w->isDialog &&
        std::find(modalStack().begin(), modalStack().end(), window) != modalStack().end()) {
        // A modal dialog goes away through its loop, which ends it now.
        w->ended = true;
        return TRUE;
    }
    destroyWindow(w);
    return TRUE;
}
