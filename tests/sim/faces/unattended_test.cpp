// Runs without a terminal: each dialog closes as Cancel, and one line says what it showed.
#include "dialog_builder.h"

using namespace simui_test;

class UnattendedFaceTest : public UiTest {};

TEST_F(UnattendedFaceTest, EachDialogClosesAsCancelWithALineOfWhatItShowed) {
    Template settings;
    settings.title = "Vantorel Tavrolin";
    settings.items.push_back(label(1000, "Tavrolin\nAGP modes"));
    settings.items.push_back(label(1001, "AGP &data rate"));
    settings.items.push_back(combo(1002, CBS_DROPDOWNLIST));
    settings.items.push_back(button(1003, "&Sideband addressing", BS_AUTOCHECKBOX));
    settings.items.push_back(button(1004, "Fast writes", BS_AUTOCHECKBOX));
    settings.items.push_back(button(1005, "Apply at every log-on", BS_AUTOCHECKBOX));
    settings.items.push_back(button(1011, "Slow", BS_AUTORADIOBUTTON));
    settings.items.push_back(button(1012, "Fast", BS_AUTORADIOBUTTON));
    settings.items.push_back(button(IDOK, "OK", BS_DEFPUSHBUTTON));
    Template about;
    about.title = "About Tavrolin";
    about.items.push_back(label(-1, "Tavrolin 1.0"));
    about.items.push_back(button(IDOK, "OK", BS_DEFPUSHBUTTON));
    struct Case {
        const Template* dialog;
        const char* line;
    } cases[] = {
        {&settings, "no terminal: \"Vantorel Tavrolin\" showed AGP data rate 2X (532Mb/s), "
                    "Sideband addressing on, Fast writes unavailable, Apply at every log-on "
                    "off, Fast chosen and closed as Cancel"},
        {&about, "no terminal: \"About Tavrolin\" closed as Cancel"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        std::vector<std::string> lines;
        sim::installUnattendedFace("no terminal",
                                   [&](const std::string& line) { lines.push_back(line); });
        Probe probe;
        probe.handler = [](HWND d, UINT m, WPARAM w, LPARAM) -> INT_PTR {
            if (m == WM_INITDIALOG && GetDlgItem(d, 1002)) {
                SendDlgItemMessageA(d, 1002, CB_ADDSTRING, 0,
                                    reinterpret_cast<LPARAM>("2X (532Mb/s)"));
                SendDlgItemMessageA(d, 1002, CB_SETCURSEL, 0, 0);
                CheckDlgButton(d, 1003, BST_CHECKED);
                CheckDlgButton(d, 1012, BST_CHECKED);
                EnableWindow(GetDlgItem(d, 1004), FALSE);
            }
            if (m == WM_COMMAND && LOWORD(w) == IDCANCEL)
                EndDialog(d, IDCANCEL);
            return m == WM_INITDIALOG || m == WM_COMMAND;
        };
        EXPECT_EQ(IDCANCEL, run(*c.dialog, &probe));
        EXPECT_EQ(std::vector<std::string>{c.line}, lines);
        EXPECT_EQ("", sim::finishFace());
    }
}
