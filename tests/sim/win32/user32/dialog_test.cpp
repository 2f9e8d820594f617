// Dialogs: WM_INITDIALOG, modal loops nested in each other, EndDialog results, focus and the
// keyboard, the system menu, minimising and message boxes over a dialog.
#include "dialog_builder.h"

#include <filesystem>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace simui_test;

namespace {

Template mainDialog() {
    Template t;
    t.style |= WS_MINIMIZEBOX;
    t.title = "Main";
    t.items.push_back(label(1000, "banner"));
    t.items.push_back(button(1003, "&Sideband", BS_AUTOCHECKBOX));
    t.items.push_back(combo(1002, CBS_DROPDOWNLIST));
    Item noTab = button(1004, "no tab stop", BS_AUTOCHECKBOX);
    noTab.style &= ~static_cast<DWORD>(WS_TABSTOP);
    t.items.push_back(noTab);
    t.items.push_back(button(1006, "Restore", BS_PUSHBUTTON));
    t.items.push_back(button(1007, "Apply", BS_DEFPUSHBUTTON));
    t.items.push_back(button(IDOK, "OK", BS_PUSHBUTTON));
    t.items.push_back(button(IDCANCEL, "Cancel", BS_PUSHBUTTON));
    return t;
}

Template innerDialog() {
    Template t;
    t.title = "Inner";
    t.items.push_back(button(IDYES, "Yes", BS_DEFPUSHBUTTON));
    t.items.push_back(button(IDNO, "No", BS_PUSHBUTTON));
    return t;
}

int focusedId() {
    return GetDlgCtrlID(GetFocus());
}

} // namespace

class DialogTest : public UiTest {};

TEST_F(DialogTest, InitDialogGetsTheParameterAndFocusGoesToTheFirstTabStop) {
    Probe probe;
    HWND seenFirst = nullptr;
    step([&] {
        seenFirst = GetDlgItem(top(), 1003);
        EXPECT_EQ(1003, focusedId());
        EXPECT_TRUE(IsWindow(top()));
        EXPECT_TRUE(IsWindowVisible(top()));
        EndDialog(top(), 77);
    });
    INT_PTR r = run(mainDialog(), &probe);
    EXPECT_EQ(77, r);
    ASSERT_EQ(1u, probe.of(WM_INITDIALOG).size());
    EXPECT_EQ(reinterpret_cast<LPARAM>(&probe), probe.initParam);
    EXPECT_EQ(reinterpret_cast<WPARAM>(seenFirst), probe.of(WM_INITDIALOG)[0].wParam);
    EXPECT_FALSE(IsWindow(probe.dialog)) << "the dialog is destroyed after its loop";
    EXPECT_EQ(1u, probe.of(WM_DESTROY).size());
}

TEST_F(DialogTest, EndingDuringInitialisationNeverShowsTheDialog) {
    Probe probe;
    probe.handler = [](HWND d, UINT m, WPARAM, LPARAM) -> INT_PTR {
        if (m == WM_INITDIALOG) {
            EndDialog(d, IDOK);
            return TRUE;
        }
        return FALSE;
    };
    bool stepRan = false;
    step([&] { stepRan = true; });
    EXPECT_EQ(IDOK, run(mainDialog(), &probe));
    EXPECT_FALSE(stepRan);
    EXPECT_TRUE(probe.of(WM_PAINT).empty());
    EXPECT_TRUE(sim::shell().windowTitle(probe.dialog).empty());
}

TEST_F(DialogTest, EndOfInputClosesWithCancelEvenWhenTheDialogIgnoresIt) {
    Probe polite;
    EXPECT_EQ(IDCANCEL, run(mainDialog(), &polite));
    EXPECT_EQ(MAKELONG(IDCANCEL, BN_CLICKED), static_cast<LONG>(polite.commands().back()));

    Probe stubborn;
    stubborn.handler = [](HWND, UINT m, WPARAM, LPARAM) -> INT_PTR { return m == WM_INITDIALOG; };
    EXPECT_EQ(IDCANCEL, run(mainDialog(), &stubborn));
    EXPECT_EQ(1u, stubborn.commands().size());
}

TEST_F(DialogTest, NestedModalLoopsDisableTheOwnerAndReturnInnerResults) {
    Probe outer, inner;
    std::vector<INT_PTR> innerResults;
    outer.handler = [&](HWND d, UINT m, WPARAM w, LPARAM) -> INT_PTR {
        if (m == WM_COMMAND && LOWORD(w) == 1006) {
            innerResults.push_back(run(innerDialog(), &inner, d));
            return TRUE;
        }
        if (m == WM_COMMAND && LOWORD(w) == IDOK) {
            EndDialog(d, IDOK);
            return TRUE;
        }
        return m == WM_INITDIALOG;
    };
    inner.handler = [](HWND d, UINT m, WPARAM w, LPARAM) -> INT_PTR {
        if (m == WM_COMMAND && (LOWORD(w) == IDYES || LOWORD(w) == IDNO)) {
            EndDialog(d, LOWORD(w));
            return TRUE;
        }
        return m == WM_INITDIALOG;
    };
    HWND outerWindow = nullptr;
    step([&] {
        outerWindow = top();
        expectOk(sim::ui().click(1006));
    });
    step([&] {
        EXPECT_EQ(2u, sim::ui().dialogs().size());
        EXPECT_EQ("Inner", sim::ui().describe(top()).title);
        EXPECT_EQ(outerWindow, GetParent(top()));
        EXPECT_FALSE(IsWindowEnabled(outerWindow)) << "the owner is disabled while the box runs";
        expectOk(sim::ui().click(IDNO));
    });
    step([&] {
        EXPECT_EQ(outerWindow, top());
        EXPECT_TRUE(IsWindowEnabled(outerWindow));
        expectOk(sim::ui().click(1006));
    });
    step([&] { expectOk(sim::ui().key(sim::Key::Enter)); }); // Yes is the inner default
    step([&] { expectOk(sim::ui().click(IDOK)); });
    EXPECT_EQ(IDOK, run(mainDialog(), &outer));
    EXPECT_EQ((std::vector<INT_PTR>{IDNO, IDYES}), innerResults);
}

TEST_F(DialogTest, QueuedAnswerPressesAButtonOfTheNextDialog) {
    Probe outer, inner;
    INT_PTR innerResult = 0;
    outer.handler = [&](HWND d, UINT m, WPARAM w, LPARAM) -> INT_PTR {
        if (m == WM_COMMAND && LOWORD(w) == 1006) {
            innerResult = run(innerDialog(), &inner, d);
            EndDialog(d, 5);
            return TRUE;
        }
        return m == WM_INITDIALOG;
    };
    inner.handler = [](HWND d, UINT m, WPARAM w, LPARAM) -> INT_PTR {
        if (m == WM_COMMAND) {
            EndDialog(d, LOWORD(w));
            return TRUE;
        }
        return m == WM_INITDIALOG;
    };
    step([&] {
        sim::ui().answerNextBox(IDNO);
        expectOk(sim::ui().click(1006));
    });
    EXPECT_EQ(5, run(mainDialog(), &outer));
    EXPECT_EQ(IDNO, innerResult);
    EXPECT_EQ(0u, sim::ui().pendingAnswers());
}

TEST_F(DialogTest, TabOrderSkipsControlsWithoutTabStopDisabledOrHidden) {
    Probe probe;
    std::vector<int> forward, backward;
    step([&] {
        EnableWindow(GetDlgItem(top(), 1006), FALSE);
        for (int i = 0; i < 6; ++i) {
            forward.push_back(focusedId());
            expectOk(sim::ui().key(sim::Key::Tab));
        }
        for (int i = 0; i < 3; ++i) {
            expectOk(sim::ui().key(sim::Key::ShiftTab));
            backward.push_back(focusedId());
        }
        // The program moves the focus the same way with WM_NEXTDLGCTL.
        SendMessageA(top(), WM_NEXTDLGCTL, 0, FALSE);
        EXPECT_EQ(IDCANCEL, focusedId());
        SendMessageA(top(), WM_NEXTDLGCTL, 1, FALSE);
        EXPECT_EQ(IDOK, focusedId());
        SendMessageA(top(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(top(), 1004)), TRUE);
        EXPECT_EQ(1004, focusedId()) << "a control without a tab stop takes the focus when named";
        SendMessageA(top(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(top(), 1006)), TRUE);
        EXPECT_EQ(1004, focusedId()) << "a disabled control does not";
    });
    run(mainDialog(), &probe);
    EXPECT_EQ((std::vector<int>{1003, 1002, 1007, IDOK, IDCANCEL, 1003}), forward);
    EXPECT_EQ((std::vector<int>{1003, IDCANCEL, IDOK}), backward);
}

// Enter presses the focused push button only when it shows the default style, which the dialog
// manager gives it when the focus comes by Tab or an arrow key; otherwise Enter goes to the
// dialog's default button (DM_GETDEFID), and to IDOK when there is none.
TEST_F(DialogTest, EnterPressesTheFocusedButtonOnlyWhenItHasBecomeTheDefault) {
    auto focus = [](int id) { SetFocus(GetDlgItem(sim::ui().topDialog(), id)); };
    auto key = [](sim::Key k) { expectOk(sim::ui().key(k)); };
    struct Case {
        const char* what;
        DWORD applyStyle; // the template's style of button 1007
        DWORD okStyle;    // and of IDOK
        std::function<void()> before;
        int command;   // what Enter sends, 0 for nothing
        int styled;    // the button that shows the default style afterwards, 0 for none
        int defaultId; // what DM_GETDEFID says afterwards
    } cases[] = {
        {"focus on a check box", BS_DEFPUSHBUTTON, BS_PUSHBUTTON, [] {}, 1007, 1007, 1007},
        {"the program's SetFocus on a push button does not move the default", BS_DEFPUSHBUTTON,
         BS_PUSHBUTTON, [&] { focus(1006); }, 1007, 1007, 1007},
        {"Tab onto a push button moves the default to it", BS_DEFPUSHBUTTON, BS_PUSHBUTTON,
         [&] {
             focus(1002);
             key(sim::Key::Tab);
         },
         1006, 1006, 1007},
        {"Tab off the push buttons gives the default back", BS_DEFPUSHBUTTON, BS_PUSHBUTTON,
         [&] {
             focus(1002);
             key(sim::Key::Tab);
             key(sim::Key::ShiftTab);
         },
         1007, 1007, 1007},
        {"an arrow key onto a push button moves the default to it", BS_DEFPUSHBUTTON, BS_PUSHBUTTON,
         [&] {
             focus(1007);
             key(sim::Key::Down);
         },
         IDOK, IDOK, 1007},
        {"a disabled default button takes no Enter", BS_DEFPUSHBUTTON, BS_PUSHBUTTON,
         [] { EnableWindow(GetDlgItem(sim::ui().topDialog(), 1007), FALSE); }, 0, 1007, 1007},
        {"DM_SETDEFID moves the default and its style", BS_DEFPUSHBUTTON, BS_PUSHBUTTON,
         [] { SendMessageA(sim::ui().topDialog(), DM_SETDEFID, IDCANCEL, 0); }, IDCANCEL, IDCANCEL,
         IDCANCEL},
        {"without a default push button Enter is OK", BS_PUSHBUTTON, BS_PUSHBUTTON, [] {}, IDOK, 0,
         IDOK},
        {"of two default push buttons the last one is the default", BS_DEFPUSHBUTTON,
         BS_DEFPUSHBUTTON, [] {}, IDOK, IDOK, IDOK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Template t = mainDialog();
        for (Item& item : t.items) {
            if (item.id == 1007 || item.id == IDOK)
                item.style = (item.style & ~static_cast<DWORD>(BS_TYPEMASK)) |
                             (item.id == IDOK ? c.okStyle : c.applyStyle);
        }
        Probe probe;
        // Commands are taken without ending the dialog; the rest goes to the default processing.
        probe.handler = [](HWND, UINT m, WPARAM, LPARAM) -> INT_PTR {
            return m == WM_INITDIALOG || m == WM_COMMAND;
        };
        int styled = -1;
        LRESULT defId = 0;
        step([&] {
            c.before();
            probe.messages.clear();
            key(sim::Key::Enter);
            styled = 0;
            for (int id : {1006, 1007, IDOK, IDCANCEL}) {
                LONG_PTR style = GetWindowLongPtrA(GetDlgItem(top(), id), GWL_STYLE);
                if ((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
                    styled = styled ? -2 : id; // -2: more than one
            }
            defId = SendMessageA(top(), DM_GETDEFID, 0, 0);
            EndDialog(top(), 0);
        });
        run(t, &probe);
        std::vector<WPARAM> expected;
        if (c.command)
            expected.push_back(MAKELONG(c.command, BN_CLICKED));
        EXPECT_EQ(expected, probe.commands());
        EXPECT_EQ(c.styled, styled);
        EXPECT_EQ(MAKELONG(c.defaultId, DC_HASDEFID), defId);
    }
}

TEST_F(DialogTest, EscCancelsUnlessTheCancelButtonIsDisabled) {
    Probe probe;
    probe.handler = [](HWND, UINT m, WPARAM, LPARAM) -> INT_PTR {
        return m == WM_INITDIALOG || m == WM_COMMAND;
    };
    step([&] {
        expectOk(sim::ui().key(sim::Key::Esc));
        EnableWindow(GetDlgItem(top(), IDCANCEL), FALSE);
        expectOk(sim::ui().key(sim::Key::Esc)); // a disabled Cancel button: nothing
        EndDialog(top(), 0);
    });
    run(mainDialog(), &probe);
    EXPECT_EQ((std::vector<WPARAM>{MAKELONG(IDCANCEL, BN_CLICKED)}), probe.commands());
}

TEST_F(DialogTest, SpaceAndArrowsActOnTheFocusedControl) {
    Probe probe;
    step([&] {
        SendDlgItemMessageA(top(), 1002, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("a"));
        SendDlgItemMessageA(top(), 1002, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("b"));
        expectOk(sim::ui().key(sim::Key::Space));
        EXPECT_EQ(1, control(1003).check);
        expectOk(sim::ui().key(sim::Key::Tab));
        sim::UiResult r = sim::ui().key(sim::Key::Space);
        EXPECT_FALSE(r.ok) << "Space on a combo box";
        expectOk(sim::ui().key(sim::Key::Down));
        EXPECT_EQ(0, control(1002).selection);
        expectOk(sim::ui().key(sim::Key::Down));
        expectOk(sim::ui().key(sim::Key::Down));
        EXPECT_EQ(1, control(1002).selection) << "stops at the last item";
        expectOk(sim::ui().key(sim::Key::Up));
        EXPECT_EQ("a", control(1002).text);
    });
    run(mainDialog(), &probe);
    int selChanges = 0;
    for (WPARAM w : probe.commands())
        selChanges += w == static_cast<WPARAM>(MAKELONG(1002, CBN_SELCHANGE));
    EXPECT_EQ(3, selChanges);
}

TEST_F(DialogTest, SystemMenuCommandsReachTheDialogProcedure) {
    Probe probe;
    std::vector<WPARAM> sysCommands;
    probe.handler = [&](HWND d, UINT m, WPARAM w, LPARAM) -> INT_PTR {
        if (m == WM_INITDIALOG) {
            HMENU menu = GetSystemMenu(d, FALSE);
            EXPECT_NE(nullptr, menu);
            EXPECT_TRUE(AppendMenuA(menu, MF_SEPARATOR, 0, nullptr));
            EXPECT_TRUE(AppendMenuA(menu, MF_STRING, 0x0010, "&About Tavrolin..."));
            return TRUE;
        }
        if (m == WM_SYSCOMMAND)
            sysCommands.push_back(w);
        if (m == WM_SYSCOMMAND && (w & 0xFFF0) == 0x0010)
            return TRUE;
        if (m == WM_COMMAND && LOWORD(w) == IDCANCEL) {
            EndDialog(d, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    };
    step([&] {
        HMENU menu = GetSystemMenu(top(), FALSE);
        int count = GetMenuItemCount(menu);
        ASSERT_GE(count, 3);
        EXPECT_EQ(0x0010u, GetMenuItemID(menu, count - 1));
        EXPECT_EQ(static_cast<UINT>(-1), GetMenuItemID(menu, count - 2)) << "the separator";
        char text[64];
        EXPECT_EQ(18, GetMenuStringA(menu, 0x0010, text, sizeof text, MF_BYCOMMAND));
        EXPECT_STREQ("&About Tavrolin...", text);
        expectOk(sim::ui().sysCommand(0x0010));
        sim::UiResult r = sim::ui().sysCommand(0x0013);
        EXPECT_NE(std::string::npos, r.error.find("0x13 is not a command")) << r.error;
        r = sim::ui().sysCommand(SC_RESTORE);
        EXPECT_NE(std::string::npos, r.error.find("grayed")) << r.error;
        // Reverting gives back the standard menu without the About entry.
        GetSystemMenu(top(), TRUE);
        HMENU fresh = GetSystemMenu(top(), FALSE);
        EXPECT_EQ(count - 2, GetMenuItemCount(fresh));
        EXPECT_EQ(0, GetMenuStringA(fresh, 0x0010, text, sizeof text, MF_BYCOMMAND));
        EXPECT_EQ(-1, GetMenuItemCount(menu)) << "the old handle is gone";
        expectOk(sim::ui().sysCommand(SC_CLOSE));
    });
    EXPECT_EQ(IDCANCEL, run(mainDialog(), &probe)) << "Close sends WM_CLOSE, then IDCANCEL";
    EXPECT_EQ((std::vector<WPARAM>{0x0010, SC_CLOSE}), sysCommands);
    EXPECT_EQ(1u, probe.of(WM_CLOSE).size());
}

TEST_F(DialogTest, MinimisedDialogIsIconicPaintsAgainAndTakesNoClicks) {
    Probe probe;
    std::vector<BOOL> iconicAtPaint;
    probe.handler = [&](HWND d, UINT m, WPARAM w, LPARAM) -> INT_PTR {
        if (m == WM_PAINT) {
            iconicAtPaint.push_back(IsIconic(d));
            PAINTSTRUCT ps;
            BeginPaint(d, &ps);
            EndPaint(d, &ps);
            return TRUE;
        }
        if (m == WM_COMMAND && LOWORD(w) == IDCANCEL) {
            EndDialog(d, IDCANCEL);
            return TRUE;
        }
        return m == WM_INITDIALOG;
    };
    step([&] {
        expectOk(sim::ui().minimize());
        EXPECT_TRUE(IsIconic(top()));
        EXPECT_FALSE(sim::ui().minimize().ok);
    });
    step([&] {
        sim::UiResult r = sim::ui().click(1003);
        EXPECT_EQ("the dialog is minimised", r.error);
        expectOk(sim::ui().sysCommand(SC_RESTORE));
        EXPECT_FALSE(IsIconic(top()));
    });
    step([&] {});
    run(mainDialog(), &probe);
    EXPECT_EQ((std::vector<BOOL>{FALSE, TRUE, FALSE}), iconicAtPaint);

    Template noBox = innerDialog();
    Probe other;
    step([&] {
        sim::UiResult r = sim::ui().minimize();
        EXPECT_NE(std::string::npos, r.error.find("has no minimize box")) << r.error;
    });
    run(noBox, &other);
}

TEST_F(DialogTest, MessageBoxOverADialogTakesTheQueuedAnswerIfItIsAButton) {
    Probe probe;
    std::vector<int> answers;
    probe.handler = [&](HWND d, UINT m, WPARAM w, LPARAM) -> INT_PTR {
        if (m == WM_COMMAND && LOWORD(w) == 1007) {
            answers.push_back(MessageBoxA(d, "Really?", "Tavrolin", MB_YESNO | MB_ICONQUESTION));
            return TRUE;
        }
        return m == WM_INITDIALOG;
    };
    step([&] {
        sim::ui().answerNextBox(IDYES);
        expectOk(sim::ui().click(1007));
        sim::ui().answerNextBox(IDOK); // not a button of a Yes/No box
        expectOk(sim::ui().click(1007));
    });
    run(mainDialog(), &probe);
    ASSERT_EQ(2u, answers.size());
    EXPECT_EQ(IDYES, answers[0]);
    EXPECT_EQ(IDNO, answers[1]) << "the box's default after a refused answer";
    ASSERT_EQ(1u, sim::ui().errors().size());
    EXPECT_NE(std::string::npos, sim::ui().errors()[0].find("not a button"))
        << sim::ui().errors()[0];
    const auto& boxes = sim::shell().messageBoxes();
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ(probe.dialog, boxes[0].owner);
}

TEST_F(DialogTest, PostedMessagesAreDeliveredBeforeTheNextInput) {
    Probe probe;
    std::vector<std::string> order;
    probe.handler = [&](HWND d, UINT m, WPARAM w, LPARAM) -> INT_PTR {
        if (m == WM_USER + 5)
            order.push_back("posted");
        if (m == WM_COMMAND && LOWORD(w) == IDOK)
            EndDialog(d, IDOK);
        return m == WM_INITDIALOG;
    };
    step([&] {
        EXPECT_TRUE(PostMessageA(top(), WM_USER + 5, 0, 0));
        order.push_back("step 1");
    });
    step([&] {
        order.push_back("step 2");
        expectOk(sim::ui().click(IDOK));
    });
    EXPECT_EQ(IDOK, run(mainDialog(), &probe));
    EXPECT_EQ((std::vector<std::string>{"step 1", "posted", "step 2"}), order);
    EXPECT_FALSE(PostMessageA(probe.dialog, WM_USER, 0, 0)) << "the dialog is gone";
}

TEST_F(DialogTest, TopLevelDialogsAreKnownToTheShellByTitle) {
    Probe probe;
    step([&] {
        EXPECT_EQ(top(), FindWindowA(nullptr, "Main"));
        SetWindowTextA(top(), "Renamed");
        EXPECT_EQ(top(), FindWindowA(nullptr, "Renamed"));
    });
    run(mainDialog(), &probe);
    EXPECT_EQ(nullptr, FindWindowA(nullptr, "Renamed"));
}

TEST_F(DialogTest, ForegroundRequestsReachTheFace) {
    Probe probe;
    std::vector<HWND> raised;
    sim::ui().setForegroundHandler([&](HWND w) { raised.push_back(w); });
    step([&] { EXPECT_TRUE(SetForegroundWindow(top())); });
    run(mainDialog(), &probe);
    EXPECT_EQ((std::vector<HWND>{probe.dialog}), raised);
}

// A second run on the same virtual PC finds the dialog by its title and brings it to the front;
// the running dialog's loop notices and tells its face.
TEST_F(DialogTest, AnotherProcessBringsTheDialogToTheFront) {
    char dir[] = "/tmp/tavrol-simui-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    std::string error;
    ASSERT_TRUE(sim::shell().attach(dir, &error)) << error;
    pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        // The other run: wait for the window to appear, then raise it.
        for (int i = 0; i < 200; ++i) {
            HWND found = FindWindowA(nullptr, "Fore");
            if (found)
                _exit(SetForegroundWindow(found) ? 0 : 2);
            usleep(20000);
        }
        _exit(3);
    }
    std::vector<HWND> raised;
    sim::ui().setForegroundHandler([&](HWND w) { raised.push_back(w); });
    Probe probe;
    Template t;
    t.title = "Fore";
    int waits = 0;
    std::function<void()> wait = [&] {
        if (raised.empty() && ++waits < 250) {
            usleep(20000);
            step(wait);
        }
    };
    step(wait);
    run(t, &probe);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    EXPECT_EQ((std::vector<HWND>{probe.dialog}), raised);
    sim::shell().detach();
    std::error_code removeError;
    std::filesystem::remove_all(dir, removeError);
}
