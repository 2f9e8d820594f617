// The predefined controls: check boxes of every style, combo boxes and their searches, window
// text, and disabled controls that ignore the user.
#include "dialog_builder.h"

#include <cstring>

using namespace simui_test;

namespace {

Template checkBoxes() {
    Template t;
    t.items.push_back(button(10, "two-state", BS_CHECKBOX));
    t.items.push_back(button(11, "auto two-state", BS_AUTOCHECKBOX));
    t.items.push_back(button(12, "three-state", BS_3STATE));
    t.items.push_back(button(13, "auto three-state", BS_AUTO3STATE));
    t.items.push_back(button(14, "push", BS_PUSHBUTTON));
    t.items.push_back(button(IDOK, "OK", BS_DEFPUSHBUTTON));
    return t;
}

Template combos() {
    Template t;
    t.items.push_back(combo(20, CBS_DROPDOWNLIST));
    t.items.push_back(combo(21, CBS_DROPDOWN));
    t.items.push_back(button(IDOK, "OK", BS_DEFPUSHBUTTON));
    return t;
}

LRESULT cb(int id, UINT message, WPARAM wParam = 0, const char* text = nullptr) {
    return SendDlgItemMessageA(sim::ui().topDialog(), id, message, wParam,
                               reinterpret_cast<LPARAM>(text));
}

void fillRates(int id) {
    EXPECT_EQ(0, cb(id, CB_ADDSTRING, 0, "1X (266Mb/s)"));
    EXPECT_EQ(1, cb(id, CB_ADDSTRING, 0, "2X (532Mb/s)"));
    EXPECT_EQ(2, cb(id, CB_ADDSTRING, 0, "4X (1064Mb/s)"));
}

std::string windowText(int id) {
    char buffer[64];
    std::memset(buffer, 0xbd, sizeof buffer);
    int n = GetDlgItemTextA(sim::ui().topDialog(), id, buffer, sizeof buffer);
    EXPECT_EQ(n, static_cast<int>(std::strlen(buffer)));
    EXPECT_EQ(n, GetWindowTextLengthA(GetDlgItem(sim::ui().topDialog(), id)));
    return buffer;
}

} // namespace

class ControlsTest : public UiTest {};

TEST_F(ControlsTest, ClicksChangeOnlyAutomaticBoxesAndAlwaysNotify) {
    Probe probe;
    std::vector<int> seen;
    step([&] {
        for (int id : {10, 11, 12, 13}) {
            for (int click = 0; click < 4; ++click) {
                expectOk(sim::ui().click(id));
                seen.push_back(static_cast<int>(cb(id, BM_GETCHECK)));
            }
        }
    });
    run(checkBoxes(), &probe);
    // Manual boxes stay unchecked; the auto box toggles; the auto three-state box cycles
    // unchecked -> checked -> indeterminate -> unchecked.
    std::vector<int> expected = {0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 1, 2, 0, 1};
    EXPECT_EQ(expected, seen);
    int clicked = 0;
    for (WPARAM w : probe.commands()) {
        if (HIWORD(w) == BN_CLICKED && LOWORD(w) >= 10 && LOWORD(w) <= 13)
            ++clicked;
    }
    EXPECT_EQ(16, clicked);
}

TEST_F(ControlsTest, SetCheckKeepsTheStatesTheStyleHas) {
    Probe probe;
    step([&] {
        cb(11, BM_SETCHECK, BST_INDETERMINATE);
        EXPECT_EQ(BST_CHECKED, cb(11, BM_GETCHECK)) << "two-state box";
        cb(13, BM_SETCHECK, BST_INDETERMINATE);
        EXPECT_EQ(BST_INDETERMINATE, cb(13, BM_GETCHECK));
        cb(14, BM_SETCHECK, BST_CHECKED);
        EXPECT_EQ(BST_UNCHECKED, cb(14, BM_GETCHECK)) << "push button";
        EXPECT_EQ(BST_INDETERMINATE, static_cast<LRESULT>(IsDlgButtonChecked(top(), 13)));
    });
    run(checkBoxes(), &probe);
}

TEST_F(ControlsTest, CheckActionClicksUntilTheStateIsShown) {
    Probe probe;
    step([&] {
        expectOk(sim::ui().check(13, 2));
        EXPECT_EQ(2, control(13).check);
        expectOk(sim::ui().check(13, 2)); // already there: no click
        expectOk(sim::ui().check(11, 1));
        sim::UiResult r = sim::ui().check(11, 2);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(std::string::npos, r.error.find("has no state 2")) << r.error;
        // A manual box does not change when clicked and its dialog does not set it.
        r = sim::ui().check(10, 1);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(std::string::npos, r.error.find("does not reach state 1")) << r.error;
        r = sim::ui().check(14, 1);
        EXPECT_NE(std::string::npos, r.error.find("is not a check box")) << r.error;
    });
    run(checkBoxes(), &probe);
    int clicks13 = 0;
    for (WPARAM w : probe.commands())
        clicks13 += LOWORD(w) == 13;
    EXPECT_EQ(2, clicks13);
}

TEST_F(ControlsTest, DisabledControlsIgnoreTheUser) {
    Probe probe;
    Template t = checkBoxes();
    t.items.push_back(combo(20, CBS_DROPDOWNLIST));
    step([&] {
        cb(20, CB_ADDSTRING, 0, "one");
        cb(11, BM_SETCHECK, BST_CHECKED);
        for (int id : {11, 14, 20})
            EnableWindow(GetDlgItem(top(), id), FALSE);
        probe.messages.clear();
        sim::UiResult r = sim::ui().click(11);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ("control 11 is disabled", r.error);
        EXPECT_FALSE(sim::ui().click(14).ok);
        EXPECT_FALSE(sim::ui().check(11, 0).ok);
        EXPECT_FALSE(sim::ui().select(20, "one").ok);
        SendDlgItemMessageA(top(), 14, BM_CLICK, 0, 0);
        EXPECT_TRUE(probe.commands().empty());
        EXPECT_EQ(1, control(11).check);
        EXPECT_EQ(-1, control(20).selection);
        // The program itself still sets a disabled box.
        cb(11, BM_SETCHECK, BST_UNCHECKED);
        EXPECT_EQ(0, control(11).check);
    });
    run(t, &probe);
}

TEST_F(ControlsTest, DropDownListTextIsTheSelectedItem) {
    Probe probe;
    step([&] {
        EXPECT_EQ("", windowText(20)) << "no items";
        fillRates(20);
        EXPECT_EQ(3, cb(20, CB_GETCOUNT));
        EXPECT_EQ(CB_ERR, cb(20, CB_GETCURSEL));
        EXPECT_EQ("", windowText(20)) << "no selection";
        EXPECT_EQ(1, cb(20, CB_SETCURSEL, 1));
        EXPECT_EQ("2X (532Mb/s)", windowText(20));
        EXPECT_EQ(CB_ERR, cb(20, CB_SETCURSEL, 7));
        EXPECT_EQ(CB_ERR, cb(20, CB_GETCURSEL)) << "an index out of range clears the selection";
        EXPECT_EQ("", windowText(20));
        EXPECT_EQ(CB_ERR, static_cast<LRESULT>(SetWindowTextA(GetDlgItem(top(), 20), "4X")))
            << "a drop-down list has no free text";
        EXPECT_EQ(CB_OKAY, cb(20, CB_RESETCONTENT));
        EXPECT_EQ(0, cb(20, CB_GETCOUNT));
    });
    run(combos(), &probe);
}

TEST_F(ControlsTest, SelectStringSearchesPrefixesCaseInsensitivelyAndWraps) {
    Probe probe;
    step([&] {
        fillRates(20);
        struct {
            WPARAM start;
            const char* text;
            LRESULT found;
        } cases[] = {
            {static_cast<WPARAM>(-1), "1X (266Mb/s)", 0},
            {0, "1X (266Mb/s)", 0}, // from item 1 round to item 0 itself
            {0, "4x", 2},
            {2, "2", 1},       // wraps past the end
            {1, "2x (532", 1}, // the start item is searched last
            {5, "4X", 2},      // a start beyond the list searches it all
            {0, "8X", CB_ERR},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.text) + " from " + std::to_string(c.start));
            cb(20, CB_SETCURSEL, static_cast<WPARAM>(-1));
            EXPECT_EQ(c.found, cb(20, CB_SELECTSTRING, c.start, c.text));
            EXPECT_EQ(c.found, cb(20, CB_GETCURSEL));
        }
        cb(20, CB_SETCURSEL, 1);
        EXPECT_EQ(CB_ERR, cb(20, CB_SELECTSTRING, 0, "16X"));
        EXPECT_EQ(1, cb(20, CB_GETCURSEL)) << "a failed search keeps the selection";
        // With two matches the search starts after the start item, not at it.
        for (const char* fruit : {"Apple", "Apricot", "Banana"})
            cb(21, CB_ADDSTRING, 0, fruit);
        EXPECT_EQ(1, cb(21, CB_FINDSTRING, 0, "ap"));
        EXPECT_EQ(0, cb(21, CB_FINDSTRING, 1, "ap"));
        EXPECT_EQ(0, cb(21, CB_FINDSTRING, static_cast<WPARAM>(-1), "ap"));
        EXPECT_EQ(0, cb(21, CB_FINDSTRING, 2, "AP"));
        EXPECT_EQ(CB_ERR, cb(20, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), "4X"));
        EXPECT_EQ(2, cb(20, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), "4x (1064MB/S)"));
    });
    run(combos(), &probe);
}

TEST_F(ControlsTest, ItemTextCopiesExactlyTheItem) {
    Probe probe;
    step([&] {
        fillRates(20);
        char buffer[32];
        std::memset(buffer, 0xbd, sizeof buffer);
        EXPECT_EQ(12, cb(20, CB_GETLBTEXTLEN, 0));
        EXPECT_EQ(12, cb(20, CB_GETLBTEXT, 0, buffer));
        EXPECT_STREQ("1X (266Mb/s)", buffer);
        EXPECT_EQ(static_cast<char>(0xbd), buffer[13]) << "written past the terminator";
        std::memset(buffer, 0xbd, sizeof buffer);
        EXPECT_EQ(CB_ERR, cb(20, CB_GETLBTEXT, 3, buffer));
        EXPECT_EQ(CB_ERR, cb(20, CB_GETLBTEXTLEN, 3));
        EXPECT_EQ(static_cast<char>(0xbd), buffer[0]) << "a missing item writes nothing";
        // GetWindowTextA truncates to the buffer and terminates.
        cb(20, CB_SETCURSEL, 2);
        char small[5];
        std::memset(small, 0xbd, sizeof small);
        EXPECT_EQ(3, GetWindowTextA(GetDlgItem(top(), 20), small, 4));
        EXPECT_STREQ("4X ", small);
        EXPECT_EQ(static_cast<char>(0xbd), small[4]);
    });
    run(combos(), &probe);
}

TEST_F(ControlsTest, EditableComboKeepsTypedTextWithoutSelection) {
    Probe probe;
    step([&] {
        fillRates(21);
        EXPECT_EQ(2, cb(21, CB_SELECTSTRING, 0, "4X"));
        EXPECT_EQ("4X (1064Mb/s)", windowText(21));
        expectOk(sim::ui().type(21, "0X"));
        EXPECT_EQ("0X", windowText(21));
        EXPECT_EQ(CB_ERR, cb(21, CB_GETCURSEL));
        sim::UiResult r = sim::ui().type(20, "0X");
        EXPECT_FALSE(r.ok);
        EXPECT_NE(std::string::npos, r.error.find("does not take typed text")) << r.error;
    });
    run(combos(), &probe);
    std::vector<WORD> codes;
    for (WPARAM w : probe.commands()) {
        if (LOWORD(w) == 21)
            codes.push_back(HIWORD(w));
    }
    EXPECT_EQ((std::vector<WORD>{CBN_EDITUPDATE, CBN_EDITCHANGE}), codes);
}

TEST_F(ControlsTest, SelectTakesOnlyAnExactItemAndNotifiesTheDialog) {
    Probe probe;
    step([&] {
        fillRates(20);
        sim::UiResult r = sim::ui().select(20, "4x (1064Mb/s)");
        EXPECT_FALSE(r.ok);
        EXPECT_NE(std::string::npos, r.error.find("is not an item of combo box 20")) << r.error;
        EXPECT_EQ(-1, control(20).selection);
        expectOk(sim::ui().select(20, "4X (1064Mb/s)"));
        EXPECT_EQ(2, control(20).selection);
        EXPECT_TRUE(control(20).focused);
    });
    run(combos(), &probe);
    ASSERT_FALSE(probe.commands().empty());
    EXPECT_EQ(MAKELONG(20, CBN_SELCHANGE), static_cast<LONG>(probe.commands().front()));
}

TEST_F(ControlsTest, WindowDataSlotsAreKeptApart) {
    Probe probe;
    step([&] {
        HWND d = top();
        HWND ok = GetDlgItem(d, IDOK);
        EXPECT_EQ(reinterpret_cast<LONG_PTR>(&probe), GetWindowLongPtrA(d, DWLP_USER));
        EXPECT_EQ(0, SetWindowLongPtrA(d, GWLP_USERDATA, 0x1234));
        EXPECT_EQ(0x1234, GetWindowLongPtrA(d, GWLP_USERDATA));
        EXPECT_EQ(reinterpret_cast<LONG_PTR>(&probe), GetWindowLongPtrA(d, DWLP_USER));
        EXPECT_EQ(IDOK, GetDlgCtrlID(ok));
        EXPECT_EQ(d, GetParent(ok));
        SetLastError(0);
        EXPECT_EQ(0, GetWindowLongPtrA(reinterpret_cast<HWND>(0x42), GWLP_USERDATA));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    });
    Template t = combos();
    run(t, &probe);
}

TEST_F(ControlsTest, AControlDestroyedByItsNotificationIsNotTouchedAgain) {
    Probe probe;
    probe.handler = [](HWND, UINT m, WPARAM w, LPARAM l) -> INT_PTR {
        if (m == WM_COMMAND && (HIWORD(w) == CBN_SELCHANGE || HIWORD(w) == CBN_EDITUPDATE)) {
            DestroyWindow(reinterpret_cast<HWND>(l));
            return TRUE;
        }
        return m == WM_INITDIALOG;
    };
    step([&] {
        cb(20, CB_ADDSTRING, 0, "one");
        HWND list = GetDlgItem(top(), 20), edit = GetDlgItem(top(), 21);
        expectOk(sim::ui().select(20, "one"));
        expectOk(sim::ui().type(21, "typed"));
        EXPECT_FALSE(IsWindow(list));
        EXPECT_FALSE(IsWindow(edit));
        sim::ControlInfo gone;
        EXPECT_FALSE(sim::ui().findControl(top(), 20, &gone));
        EXPECT_EQ(nullptr, GetDlgItem(top(), 21));
    });
    run(combos(), &probe);
    for (WPARAM w : probe.commands()) {
        EXPECT_NE(CBN_SELENDOK, HIWORD(w)) << "no notification after the control went";
        EXPECT_NE(CBN_EDITCHANGE, HIWORD(w));
    }
}

// The drop-down list as the keyboard and the mouse drive it: F4 or Alt-Down opens it, Up and
// Down move in it without choosing, Enter or a click takes the item, Esc or the focus leaving
// closes it unchanged; none of these keys reaches the dialog's buttons while it is open.
TEST_F(ControlsTest, DropDownListOpensClosesAndPicksWithoutPressingButtons) {
    using sim::Key;
    struct Case {
        const char* what;
        std::vector<std::function<sim::UiResult()>> actions;
        int selection; // afterwards
        std::vector<WORD> notifications;
    } cases[] = {
        {"F4, Down, Enter takes the next item",
         {[] { return sim::ui().key(Key::F4); }, [] { return sim::ui().key(Key::Down); },
          [] { return sim::ui().key(Key::Enter); }},
         2,
         {CBN_DROPDOWN, CBN_SELCHANGE, CBN_SELENDOK, CBN_CLOSEUP}},
        {"Alt-Down, Up, Esc leaves the selection",
         {[] { return sim::ui().key(Key::AltDown); }, [] { return sim::ui().key(Key::Up); },
          [] { return sim::ui().key(Key::Esc); }},
         1,
         {CBN_DROPDOWN, CBN_SELENDCANCEL, CBN_CLOSEUP}},
        {"a click opens the list and a click on an item takes it",
         {[] { return sim::ui().click(20); }, [] { return sim::ui().select(20, "1X (266Mb/s)"); }},
         0,
         {CBN_DROPDOWN, CBN_SELCHANGE, CBN_SELENDOK, CBN_CLOSEUP}},
        {"Tab away closes the list unchanged",
         {[] { return sim::ui().key(Key::F4); }, [] { return sim::ui().key(Key::Down); },
          [] { return sim::ui().key(Key::Tab); }},
         1,
         {CBN_DROPDOWN, CBN_SELENDCANCEL, CBN_CLOSEUP}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Probe probe;
        probe.handler = [](HWND, UINT m, WPARAM, LPARAM) -> INT_PTR {
            return m == WM_INITDIALOG || m == WM_COMMAND; // Enter and Esc cannot end it
        };
        bool droppedBetween = false;
        step([&] {
            fillRates(20);
            cb(20, CB_SETCURSEL, 1);
            probe.messages.clear();
            for (size_t i = 0; i < c.actions.size(); ++i) {
                expectOk(c.actions[i]());
                if (i == 0)
                    droppedBetween = cb(20, CB_GETDROPPEDSTATE) == TRUE && control(20).dropped;
            }
            EXPECT_EQ(FALSE, cb(20, CB_GETDROPPEDSTATE));
            EXPECT_EQ(c.selection, cb(20, CB_GETCURSEL));
            EndDialog(top(), 0);
        });
        run(combos(), &probe);
        EXPECT_TRUE(droppedBetween) << "the first action opens the list";
        std::vector<WORD> seen;
        for (WPARAM w : probe.commands()) {
            EXPECT_EQ(20, LOWORD(w)) << "only the combo box spoke to the dialog";
            seen.push_back(HIWORD(w));
        }
        EXPECT_EQ(c.notifications, seen);
    }
}
