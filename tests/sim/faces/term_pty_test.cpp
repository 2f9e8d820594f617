// The terminal face on a real pseudo-terminal: a person's keys and clicks reach the dialog
// through ncurses.
#include "dialog_builder.h"
#include "pty_screen.h"

#include <cstdlib>

using namespace simui_test;

namespace {

// What the dialog in the child saw, packed into its exit status.
enum Seen {
    kAboutCommand = 1,
    kBoxTicked = 2,
    kEndedWithOk = 4,
    kFaceInstalled = 8,
    kPickedByKeys = 16,    // F4, Down, Enter chose "b"
    kPickedByAltDown = 32, // Alt-Down, Down, Enter chose "c"
    kPickedByClick = 64    // a click on the open list chose "a"
};

int runDialogOnTerminal() {
    sim::shell().reset();
    sim::ui().reset();
    if (!sim::installTerminalFace())
        return 0;
    int seen = kFaceInstalled;
    std::vector<std::string> picks;
    Probe probe;
    probe.handler = [&](HWND d, UINT m, WPARAM w, LPARAM) -> INT_PTR {
        if (m == WM_INITDIALOG) {
            HMENU menu = GetSystemMenu(d, FALSE);
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(menu, MF_STRING, 0x0010, "&About...");
            for (const char* item : {"a", "b", "c"})
                SendDlgItemMessageA(d, 1002, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
            SendDlgItemMessageA(d, 1002, CB_SETCURSEL, 0, 0);
            return TRUE;
        }
        if (m == WM_SYSCOMMAND && w == 0x0010) {
            seen |= kAboutCommand;
            return TRUE;
        }
        if (m == WM_COMMAND && LOWORD(w) == 1002 && HIWORD(w) == CBN_SELENDOK) {
            char text[8] = "";
            GetDlgItemTextA(d, 1002, text, sizeof text);
            picks.push_back(text);
        }
        if (m == WM_COMMAND && (LOWORD(w) == IDOK || LOWORD(w) == IDCANCEL)) {
            if (IsDlgButtonChecked(d, 1003) == BST_CHECKED)
                seen |= kBoxTicked;
            EndDialog(d, LOWORD(w));
            return TRUE;
        }
        return FALSE;
    };
    Template t;
    t.title = "Keys";
    t.items.push_back(button(1003, "Sideband", BS_AUTOCHECKBOX, 10, 10));
    t.items.push_back(combo(1002, CBS_DROPDOWNLIST, 10, 24));
    t.items.push_back(button(IDOK, "OK", BS_DEFPUSHBUTTON, 10, 80));
    t.items.push_back(button(IDCANCEL, "Cancel", BS_PUSHBUTTON, 60, 80));
    std::vector<BYTE> bytes = t.build();
    INT_PTR r = sim::dialogBoxFromBytes(nullptr, bytes.data(), bytes.size(), nullptr, probeProc,
                                        reinterpret_cast<LPARAM>(&probe), nullptr);
    sim::finishFace();
    if (r == IDOK)
        seen |= kEndedWithOk;
    std::vector<std::string> expected = {"b", "c", "a"};
    for (size_t i = 0; i < picks.size() && i < expected.size(); ++i) {
        if (picks[i] == expected[i])
            seen |= kPickedByKeys << i;
    }
    return seen;
}

} // namespace

TEST(TerminalFace, KeysAndClicksTickPickChooseFromTheMenuAndPressTheDefaultButton) {
    PtyScreen screen(90, 30);
    ASSERT_TRUE(screen.start(runDialogOnTerminal));
    ASSERT_TRUE(screen.waitFor("F10 menu")) << "the dialog was not drawn\n" << screen.contents();
    // Space ticks the focused box; Tab goes to the combo box, whose list F4 and Alt-Down open,
    // Down moves in and Enter takes an item from; a click on an item of the open list takes it.
    screen.send(" ");
    screen.send(keys::kTab);
    for (const char* key : {keys::kF4, keys::kDown, keys::kEnter, keys::kAltDown, keys::kDown,
                            keys::kEnter, keys::kF4})
        screen.send(key);
    int itemRow = -1, itemColumn = -1;
    for (int y = 0; y < 30 && itemRow < 0; ++y) {
        std::string row = screen.row(y);
        size_t at = row.find("| a ");
        if (at != std::string::npos && y > screen.rowOf("[c")) {
            itemRow = y;
            itemColumn = static_cast<int>(at) + 2;
        }
    }
    ASSERT_NE(-1, itemRow) << "the open list\n" << screen.contents();
    screen.click(itemColumn, itemRow);
    // Alt-Space opens the system menu, whose last item is About; Up from the first item wraps
    // to it; Enter picks it; Enter then presses the default OK.
    for (const char* key : {keys::kAltSpace, keys::kUp, keys::kEnter, keys::kEnter})
        screen.send(key);
    int status = screen.finish();
    ASSERT_NE(-1, status) << "the dialog did not end on the keys\n" << screen.contents();
    EXPECT_TRUE(status & kFaceInstalled) << "seen " << status;
    EXPECT_TRUE(status & kBoxTicked) << "seen " << status;
    EXPECT_TRUE(status & kPickedByKeys) << "seen " << status;
    EXPECT_TRUE(status & kPickedByAltDown) << "seen " << status;
    EXPECT_TRUE(status & kPickedByClick) << "seen " << status;
    EXPECT_TRUE(status & kAboutCommand) << "seen " << status;
    EXPECT_TRUE(status & kEndedWithOk) << "seen " << status;
}
