// user32 menus of the simulated PC: the system menu of a dialog, created on first use, and the
// menu functions the program calls on it.
#include "window_manager.h"

#include <map>

namespace sim {
namespace wm {
namespace {

// Every menu that exists, by handle.
std::map<uintptr_t, Menu*>& menus() {
    static std::map<uintptr_t, Menu*> table;
    return table;
}

uintptr_t key(HMENU handle) {
    return reinterpret_cast<uintptr_t>(handle);
}

} // namespace

Menu* findMenu(HMENU handle) {
    auto it = menus().find(key(handle));
    return it == menus().end() ? nullptr : it->second;
}

// The standard items of a dialog's window menu; Restore and Minimize are grayed as Windows grays
// them for the window's current state.
Menu* systemMenuOf(Window* dialog) {
    if (!dialog || !(dialog->style & WS_SYSMENU))
        return nullptr;
    if (!dialog->systemMenu) {
        dialog->systemMenu.reset(new Menu);
        Menu* menu = dialog->systemMenu.get();
        menu->handle = reinterpret_cast<HMENU>(newHandle());
        menu->items.push_back({MF_STRING, SC_RESTORE, "&Restore", false});
        menu->items.push_back({MF_STRING, SC_MOVE, "&Move", false});
        if (dialog->style & WS_MINIMIZEBOX)
            menu->items.push_back({MF_STRING, SC_MINIMIZE, "Mi&nimize", false});
        menu->items.push_back({MF_SEPARATOR, 0, "", false});
        menu->items.push_back({MF_STRING, SC_CLOSE, "&Close\tAlt+F4", false});
        menus()[key(menu->handle)] = menu;
    }
    refreshSystemMenu(dialog);
    return dialog->systemMenu.get();
}

void refreshSystemMenu(Window* dialog) {
    if (!dialog->systemMenu)
        return;
    for (MenuItemInfo& item : dialog->systemMenu->items) {
        if (item.id == SC_RESTORE)
            item.grayed = !dialog->iconic;
        else if (item.id == SC_MINIMIZE)
            item.grayed = dialog->iconic;
    }
}

void dropSystemMenu(Window* dialog) {
    if (!dialog->systemMenu)
        return;
    menus().erase(key(dialog->systemMenu->handle));
    dialog->systemMenu.reset();
}

void forgetMenus() {
    menus().clear();
}

} // namespace wm
} // namespace sim

using namespace sim::wm;
using sim::wm::Window;

HMENU WINAPI GetSystemMenu(HWND window, BOOL revert) {
    Window* w = find(window);
    if (!w || !w->isDialog)
        return nullptr;
    if (revert) {
        // The standard menu comes back on the next call, under a new handle.
        dropSystemMenu(w);
        return nullptr;
    }
    Menu* menu = systemMenuOf(w);
    return menu ? menu->handle : nullptr;
}

BOOL WINAPI AppendMenuA(HMENU menu, UINT flags, UINT_PTR idNewItem, LPCSTR text) {
    Menu* m = findMenu(menu);
    if (!m || (flags & MF_POPUP))
        return FALSE;
    sim::MenuItemInfo item;
    item.flags = flags;
    item.grayed = (flags & (MF_GRAYED | MF_DISABLED)) != 0;
    if (!(flags & MF_SEPARATOR)) {
        item.id = static_cast<UINT>(idNewItem);
        item.text = text ? text : "";
    }
    m->items.push_back(item);
    return TRUE;
}

int WINAPI GetMenuItemCount(HMENU menu) {
    Menu* m = findMenu(menu);
    return m ? static_cast<int>(m->items.size()) : -1;
}

static const sim::MenuItemInfo* menuItem(HMENU menu, UINT item, UINT flags) {
    Menu* m = findMenu(menu);
    if (!m)
        return nullptr;
    if (flags & MF_BYPOSITION)
        return item < m->items.size() ? &m->items[item] : nullptr;
    for (const auto& entry : m->items) {
        if (!(entry.flags & MF_SEPARATOR) && entry.id == item)
            return &entry;
    }
    return nullptr;
}

int WINAPI GetMenuStringA(HMENU menu, UINT item, LPSTR buffer, int bufferMax, UINT flags) {
    const sim::MenuItemInfo* entry = menuItem(menu, item, flags);
    if (!entry)
        return 0;
    if (!buffer || bufferMax <= 0)
        return static_cast<int>(entry->text.size());
    return static_cast<int>(
        copyText(entry->text, static_cast<WPARAM>(bufferMax), reinterpret_cast<LPARAM>(buffer)));
}

UINT WINAPI GetMenuItemID(HMENU menu, int position) {
    const sim::MenuItemInfo* entry = menuItem(menu, static_cast<UINT>(position), MF_BYPOSITION);
    if (!entry || (entry->flags & MF_SEPARATOR))
        return static_cast<UINT>(-1);
    return entry->id;
}
