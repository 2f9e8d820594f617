// The terminal face's whole screen: dialogs scaled to fit it, the button Enter presses, words for
// what is unavailable, the focus of the active dialog only, the icon and menus on the screen, the
// open combo list, and no dialog before it is shown.
#include "dialog_builder.h"

using namespace simui_test;
using sim::term::Canvas;

namespace {

Item sized(Item item, int cx, int cy) {
    item.cx = cx;
    item.cy = cy;
    return item;
}

// The geometry of a tall settings dialog: 262 x 190 units need 24 rows and a frame at 4 x 8
// units a cell, more than an 80 x 24 terminal has above its key help.
Template tallDialog() {
    Template t;
    t.style |= WS_MINIMIZEBOX;
    t.title = "Tall settings";
    t.cx = 262;
    t.cy = 190;
    t.items.push_back(sized(label(1000, "Banner text", 10, 8), 242, 24));
    t.items.push_back(sized(label(1001, "Data rate", 10, 50), 76, 10));
    t.items.push_back(sized(combo(1002, CBS_DROPDOWNLIST, 92, 48), 84, 60));
    t.items.push_back(
        sized(label(1008, "Only what both ends support is offered here.", 10, 64), 242, 16));
    t.items.push_back(sized(button(1003, "Sideband", BS_AUTOCHECKBOX, 10, 86), 120, 10));
    t.items.push_back(sized(label(1009, "Addresses go over the sideband lines.", 22, 98), 230, 16));
    t.items.push_back(sized(button(1004, "Fast writes", BS_AUTOCHECKBOX, 10, 118), 120, 10));
    t.items.push_back(sized(label(1010, "Writes go straight to the card.", 22, 130), 230, 16));
    t.items.push_back(sized(button(1005, "At every log-on", BS_AUTOCHECKBOX, 10, 150), 242, 10));
    t.items.push_back(sized(button(1006, "Restore defaults", BS_PUSHBUTTON, 7, 170), 66, 14));
    t.items.push_back(sized(button(IDOK, "OK", BS_DEFPUSHBUTTON, 97, 170), 50, 14));
    t.items.push_back(sized(button(IDCANCEL, "Cancel", BS_PUSHBUTTON, 152, 170), 50, 14));
    t.items.push_back(sized(button(1007, "Apply", BS_PUSHBUTTON, 207, 170), 50, 14));
    return t;
}

// A confirmation whose default is its last button, while the focus starts on the first.
Template confirmation() {
    Template t;
    t.title = "Restore defaults";
    t.cx = 250;
    t.cy = 94;
    t.items.push_back(sized(label(-1, "Delete the stored settings?", 10, 10), 230, 18));
    t.items.push_back(sized(button(IDYES, "Restore and restart", BS_PUSHBUTTON, 10, 72), 80, 14));
    t.items.push_back(sized(button(IDNO, "Restore only", BS_PUSHBUTTON, 96, 72), 70, 14));
    t.items.push_back(sized(button(IDCANCEL, "Cancel", BS_DEFPUSHBUTTON, 172, 72), 68, 14));
    return t;
}

std::string screen(const Canvas& c) {
    std::string all;
    for (int y = 0; y < c.height(); ++y)
        all += c.row(y) + "\n";
    return all;
}

// The canvas row that holds `text`, -1 when none does.
int rowOf(const Canvas& c, const std::string& text) {
    for (int y = 0; y < c.height(); ++y) {
        if (c.row(y).find(text) != std::string::npos)
            return y;
    }
    return -1;
}

bool anyReverse(const Canvas& c, const sim::term::CellRect& r) {
    for (int y = r.top; y < r.bottom; ++y) {
        for (int x = r.left; x < r.right; ++x) {
            if (c.at(x, y).reverse)
                return true;
        }
    }
    return false;
}

} // namespace

class TerminalScreenTest : public UiTest {};

TEST(TerminalLayout, ADialogTooTallForTheScreenIsScaledToIt) {
    sim::term::Scale s = sim::term::fitScale(262, 190, 80, 23);
    EXPECT_EQ(1, s.cellsX);
    EXPECT_EQ(4, s.unitsX) << "66 columns and the frame fit in 80";
    EXPECT_EQ(21, s.cellsY);
    EXPECT_EQ(190, s.unitsY) << "190 units in the 21 rows inside the frame";
    sim::term::Scale wide = sim::term::fitScale(400, 40, 80, 23);
    EXPECT_EQ(78, wide.cellsX);
    EXPECT_EQ(400, wide.unitsX);
    EXPECT_EQ(8, wide.unitsY);
}

TEST_F(TerminalScreenTest, TheWholeTallDialogAndTheKeyHelpFitIn80By24) {
    Probe probe;
    step([&] {
        SendDlgItemMessageA(top(), 1002, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("2X"));
        SendDlgItemMessageA(top(), 1002, CB_SETCURSEL, 0, 0);
    });
    step([&] {
        Canvas c(80, 24);
        sim::term::DialogLayout layout = sim::term::drawDesktop(c);
        std::string all = screen(c);
        EXPECT_EQ(0, layout.frame.top) << all;
        EXPECT_EQ(23, layout.frame.bottom) << "the frame ends above the key help\n" << all;
        EXPECT_EQ('+', c.at(layout.frame.left, 22).ch) << all;
        EXPECT_NE(std::string::npos, c.row(0).find(" Tall settings ")) << all;
        for (const char* text :
             {"Banner text", "Data rate", "[2X", "Only what both ends", "[ ] Sideband",
              "Addresses go over", "[ ] Fast writes", "Writes go straight", "[ ] At every log-on",
              "[Restore defaults]", "<OK>", "[Cancel]", "[Apply]"})
            EXPECT_NE(-1, rowOf(c, text)) << text << "\n" << all;
        EXPECT_EQ(rowOf(c, "Data rate"), rowOf(c, "[2X")) << "a label stays on its field's row";
        EXPECT_LT(rowOf(c, "[ ] Fast writes"), rowOf(c, "Writes go straight"));
        EXPECT_LT(rowOf(c, "Writes go straight"), rowOf(c, "[ ] At every log-on"));
        std::string help = c.row(23);
        EXPECT_EQ(0u, help.find(" Tab move")) << help;
        EXPECT_NE(std::string::npos, help.find("Enter OK")) << help;
        EXPECT_NE(std::string::npos, help.find("F10 menu")) << help;
        EndDialog(top(), 0);
    });
    run(tallDialog(), &probe);
}

// Windows marks the default with a thick border and moves it with the focus between push
// buttons; the face draws <the button Enter presses> and says it in the key help.
TEST_F(TerminalScreenTest, TheMarkedDefaultIsTheButtonEnterPresses) {
    Probe probe;
    probe.handler = [](HWND, UINT m, WPARAM, LPARAM) -> INT_PTR {
        return m == WM_INITDIALOG || m == WM_COMMAND;
    };
    struct Seen {
        std::string buttons, help;
    };
    std::vector<Seen> seen;
    auto look = [&] {
        Canvas c(80, 24);
        sim::term::drawDesktop(c);
        seen.push_back({c.row(rowOf(c, "Restore only")), c.row(23)});
    };
    step([&] {
        look(); // the focus starts on the first push button
        expectOk(sim::ui().key(sim::Key::Tab));
        look();
        EndDialog(top(), 0);
    });
    run(confirmation(), &probe);
    ASSERT_EQ(2u, seen.size());
    EXPECT_NE(std::string::npos, seen[0].buttons.find("[Restore and restart]   [Restore only]"))
        << seen[0].buttons;
    EXPECT_NE(std::string::npos, seen[0].buttons.find("<Cancel>")) << seen[0].buttons;
    EXPECT_NE(std::string::npos, seen[0].help.find("Enter Cancel")) << seen[0].help;
    EXPECT_NE(std::string::npos, seen[1].buttons.find("<Restore only>")) << seen[1].buttons;
    EXPECT_NE(std::string::npos, seen[1].buttons.find("[Cancel]")) << seen[1].buttons;
    EXPECT_NE(std::string::npos, seen[1].help.find("Enter Restore only")) << seen[1].help;
}

TEST_F(TerminalScreenTest, DisabledControlsSayTheyAreUnavailable) {
    Probe probe;
    probe.handler = [](HWND d, UINT m, WPARAM, LPARAM) -> INT_PTR {
        if (m == WM_INITDIALOG) {
            for (int id : {1002, 1003, 1007})
                EnableWindow(GetDlgItem(d, id), FALSE);
            return TRUE;
        }
        return FALSE;
    };
    step([&] {
        Canvas c(80, 24);
        sim::term::drawDesktop(c);
        std::string all = screen(c);
        int sideband = rowOf(c, "[ ] Sideband (unavailable)");
        EXPECT_NE(-1, sideband) << all;
        EXPECT_NE(-1, rowOf(c, "[unavailable")) << "the empty combo box\n" << all;
        // A push button too narrow for the word has it on the free row below.
        int apply = rowOf(c, "[Apply]");
        ASSERT_NE(-1, apply) << all;
        size_t applyAt = c.row(apply).find("[Apply]");
        size_t wordAt = c.row(apply + 1).find("unavailable");
        ASSERT_NE(std::string::npos, wordAt) << all;
        EXPECT_LE(applyAt - 3, wordAt) << all;
        EXPECT_GE(applyAt + 3, wordAt) << all;
        int x = static_cast<int>(c.row(sideband).find("unavailable"));
        EXPECT_TRUE(c.at(x, sideband).dim) << "and dimmed as well";
        EXPECT_EQ(-1, rowOf(c, "Fast writes (unavailable)")) << "an enabled box says nothing";
        EndDialog(top(), 0);
    });
    run(tallDialog(), &probe);
}

TEST_F(TerminalScreenTest, OnlyTheActiveDialogShowsItsFocus) {
    Probe outer, inner;
    outer.handler = [&](HWND d, UINT m, WPARAM w, LPARAM) -> INT_PTR {
        if (m == WM_COMMAND && LOWORD(w) == 1006) {
            run(confirmation(), &inner, d);
            return TRUE;
        }
        if (m == WM_COMMAND && LOWORD(w) == 1007) {
            MessageBoxA(d, "Applied.", "Tall settings", MB_OK);
            return TRUE;
        }
        return m == WM_INITDIALOG;
    };
    sim::term::CellRect outerFrame, innerFrame;
    bool outerFocusShown = true, innerFocusShown = false, boxDialogsFocus = true;
    step([&] { expectOk(sim::ui().click(1006)); });
    step([&] {
        Canvas c(100, 30);
        innerFrame = sim::term::drawDesktop(c).frame;
        innerFocusShown = anyReverse(c, innerFrame);
        // The owner is drawn first; only the part the inner dialog leaves uncovered is its own.
        Canvas ownerOnly(100, 30);
        HWND owner = sim::ui().dialogs()[0];
        outerFrame = sim::term::drawDialog(ownerOnly, sim::ui().describe(owner),
                                           sim::ui().lastPaint(owner), 29, false)
                         .frame;
        outerFocusShown = false;
        for (int y = outerFrame.top; y < outerFrame.bottom; ++y) {
            for (int x = outerFrame.left; x < outerFrame.right; ++x) {
                bool covered = x >= innerFrame.left && x < innerFrame.right &&
                               y >= innerFrame.top && y < innerFrame.bottom;
                outerFocusShown = outerFocusShown || (!covered && c.at(x, y).reverse);
            }
        }
        expectOk(sim::ui().key(sim::Key::Esc));
    });
    step([&] { expectOk(sim::ui().click(1007)); });
    sim::ui().setMessageBoxHandler([&](const sim::MessageBoxRecord& box) {
        Canvas c(100, 30);
        sim::term::DialogLayout layout = sim::term::drawDesktop(c, &box, 0);
        boxDialogsFocus = false;
        for (const sim::ControlInfo& control : sim::ui().describe(top()).controls)
            boxDialogsFocus =
                boxDialogsFocus || anyReverse(c, sim::term::controlCells(control, layout));
        return IDOK;
    });
    run(tallDialog(), &outer);
    EXPECT_TRUE(innerFocusShown) << "the active dialog shows its focus";
    EXPECT_FALSE(outerFocusShown) << "its disabled owner does not";
    EXPECT_FALSE(boxDialogsFocus) << "nor does a dialog under a message box";
}

TEST_F(TerminalScreenTest, MinimisedTheIconAndItsMenuStayOnTheScreenAboveTheKeyHelp) {
    Probe probe;
    step([&] { expectOk(sim::ui().minimize()); });
    step([&] {
        Canvas c(80, 24);
        sim::term::DialogLayout layout = sim::term::drawDesktop(c);
        std::string all = screen(c);
        EXPECT_EQ(23, layout.frame.bottom) << all;
        EXPECT_EQ(0u, c.row(21).find("|[#] Tall settings|")) << all;
        EXPECT_EQ(0u, c.row(23).find(" F10 menu: Restore ")) << all;
        std::vector<sim::MenuItemInfo> items = sim::ui().describe(top()).systemMenu;
        Canvas menu(80, 24);
        sim::term::drawMenu(menu, layout, items, 0, 23);
        int closeRow = rowOf(menu, "Close");
        EXPECT_NE(-1, closeRow) << screen(menu);
        EXPECT_LT(closeRow, layout.frame.top) << "the menu opens upwards\n" << screen(menu);
        EXPECT_NE(-1, rowOf(menu, "Restore")) << screen(menu);
        EXPECT_NE(-1, rowOf(menu, "Minimize (unavailable)")) << screen(menu);
        EndDialog(top(), 0);
    });
    run(tallDialog(), &probe);
}

TEST_F(TerminalScreenTest, AnOpenComboListIsDrawnUnderItsFieldWithTheKeysForIt) {
    Probe probe;
    step([&] {
        for (const char* rate : {"1X (266Mb/s)", "2X (532Mb/s)", "4X (1064Mb/s)"})
            SendDlgItemMessageA(top(), 1002, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(rate));
        SendDlgItemMessageA(top(), 1002, CB_SETCURSEL, 1, 0);
        expectOk(sim::ui().click(1002));
        expectOk(sim::ui().key(sim::Key::Down));
        Canvas c(80, 24);
        sim::term::DialogLayout layout = sim::term::drawDesktop(c);
        std::string all = screen(c);
        int field = rowOf(c, "[2X (532Mb/s)");
        ASSERT_NE(-1, field) << all;
        ASSERT_EQ(1002, layout.listId);
        ASSERT_EQ(3u, layout.listItems.size());
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(field + 2 + i, layout.listItems[static_cast<size_t>(i)].top) << all;
        int x = layout.listItems[2].left + 1;
        EXPECT_EQ("4X (1064Mb/s)", c.row(field + 4).substr(static_cast<size_t>(x), 13)) << all;
        EXPECT_TRUE(c.at(x, field + 4).reverse) << "the item the keys moved to";
        EXPECT_FALSE(c.at(x, field + 3).reverse);
        EXPECT_NE(std::string::npos, c.row(23).find("Enter take")) << c.row(23);
        EndDialog(top(), 0);
    });
    run(tallDialog(), &probe);
}

// Windows shows a modal dialog once WM_INITDIALOG has returned: a message box raised while it is
// being set up stands alone on the screen.
TEST_F(TerminalScreenTest, ADialogIsNotDrawnBeforeItsInitialisationHasReturned) {
    Probe probe;
    probe.handler = [](HWND d, UINT m, WPARAM, LPARAM) -> INT_PTR {
        if (m == WM_INITDIALOG) {
            MessageBoxA(nullptr, "No AGP graphics card was found.", "Vantorel Tavrolin",
                        MB_OK | MB_ICONERROR);
            EndDialog(d, IDOK);
            return TRUE;
        }
        return FALSE;
    };
    std::string during;
    sim::ui().setMessageBoxHandler([&](const sim::MessageBoxRecord& box) {
        Canvas c(80, 24);
        sim::term::drawDesktop(c, &box, 0);
        during = screen(c);
        return IDOK;
    });
    run(tallDialog(), &probe);
    EXPECT_NE(std::string::npos, during.find("No AGP graphics card was found.")) << during;
    EXPECT_EQ(std::string::npos, during.find("Tall settings")) << during;
    EXPECT_EQ(std::string::npos, during.find("Sideband")) << during;
    EXPECT_NE(std::string::npos, during.find("Enter press")) << "the box's own keys\n" << during;
}
