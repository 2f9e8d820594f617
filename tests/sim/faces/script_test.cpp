// The script face: the parser's actions and errors, and scripts driving dialogs to the end.
#include "dialog_builder.h"

using namespace simui_test;

namespace {

std::string parseError(const std::string& text) {
    std::vector<sim::ScriptAction> actions;
    actions.push_back(sim::ScriptAction()); // must survive a refused script
    std::string error;
    EXPECT_FALSE(sim::parseScript("t.script", text, &actions, &error)) << text;
    EXPECT_EQ(1u, actions.size()) << "a refused script leaves the output alone";
    return error;
}

Template scripted() {
    Template t;
    t.style |= WS_MINIMIZEBOX;
    t.title = "Vantorel Tavrolin";
    t.items.push_back(combo(1002, CBS_DROPDOWNLIST));
    t.items.push_back(combo(1012, CBS_DROPDOWN));
    t.items.push_back(button(1003, "Sideband", BS_AUTO3STATE));
    t.items.push_back(button(1006, "Restore", BS_PUSHBUTTON));
    t.items.push_back(button(1007, "Apply", BS_PUSHBUTTON));
    t.items.push_back(button(IDOK, "OK", BS_DEFPUSHBUTTON));
    t.items.push_back(button(IDCANCEL, "Cancel", BS_PUSHBUTTON));
    return t;
}

// A dialog that fills its combo box, asks a question on Apply and opens a second dialog on
// Restore; it records what it saw.
struct ScriptedDialog {
    Probe probe;
    Probe inner;
    std::vector<int> boxAnswers;
    std::vector<INT_PTR> innerResults;

    ScriptedDialog() {
        probe.handler = [this](HWND d, UINT m, WPARAM w, LPARAM) -> INT_PTR {
            if (m == WM_INITDIALOG) {
                for (const char* rate : {"1X (266Mb/s)", "2X (532Mb/s)", "4X (1064Mb/s)"})
                    SendDlgItemMessageA(d, 1002, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(rate));
                return TRUE;
            }
            if (m != WM_COMMAND)
                return FALSE;
            switch (LOWORD(w)) {
            case 1007:
                boxAnswers.push_back(MessageBoxA(d, "Apply now?", "Tavrolin", MB_YESNO));
                return TRUE;
            case 1006: {
                Template t;
                t.title = "Restore";
                t.items.push_back(button(IDYES, "Yes", BS_PUSHBUTTON));
                t.items.push_back(button(IDNO, "No", BS_PUSHBUTTON));
                innerResults.push_back(run(t, &inner, d));
                return TRUE;
            }
            case IDOK:
            case IDCANCEL:
                EndDialog(d, LOWORD(w));
                return TRUE;
            default:
                return FALSE;
            }
        };
        inner.handler = [](HWND d, UINT m, WPARAM w, LPARAM) -> INT_PTR {
            if (m == WM_COMMAND) {
                EndDialog(d, LOWORD(w));
                return TRUE;
            }
            return m == WM_INITDIALOG;
        };
    }
};

} // namespace

TEST(ScriptParser, ReadsEveryAction) {
    const char* text = "# comment\n"
                       "\n"
                       "select 1002 4X (1064Mb/s)\n"
                       "type 1012 0X\n"
                       "  check 1003 2  \r\n"
                       "click 1\n"
                       "sys F020\n"
                       "sys 0x10\n"
                       "answer 6\n"
                       "key ShiftTab\n"
                       "show\n"
                       "minimize\n"
                       "paint\n";
    std::vector<sim::ScriptAction> a;
    std::string error;
    ASSERT_TRUE(sim::parseScript("t.script", text, &a, &error)) << error;
    ASSERT_EQ(11u, a.size());
    EXPECT_EQ(sim::ScriptAction::Select, a[0].kind);
    EXPECT_EQ(1002, a[0].id);
    EXPECT_EQ("4X (1064Mb/s)", a[0].text);
    EXPECT_EQ(3, a[0].line);
    EXPECT_EQ(sim::ScriptAction::Type, a[1].kind);
    EXPECT_EQ("0X", a[1].text);
    EXPECT_EQ(sim::ScriptAction::Check, a[2].kind);
    EXPECT_EQ(2, a[2].state);
    EXPECT_EQ(5, a[2].line);
    EXPECT_EQ(sim::ScriptAction::Click, a[3].kind);
    EXPECT_EQ(1, a[3].id);
    EXPECT_EQ(0xF020u, a[4].command);
    EXPECT_EQ(0x10u, a[5].command);
    EXPECT_EQ(sim::ScriptAction::Answer, a[6].kind);
    EXPECT_EQ(6, a[6].id);
    EXPECT_EQ(sim::Key::ShiftTab, a[7].key);
    EXPECT_EQ(sim::ScriptAction::Show, a[8].kind);
    EXPECT_EQ(sim::ScriptAction::Minimize, a[9].kind);
    EXPECT_EQ(sim::ScriptAction::Paint, a[10].kind);
    EXPECT_EQ(13, a[10].line);
}

TEST(ScriptParser, RefusesEachMistakeWithItsLine) {
    struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"click 1\nfrobnicate 3\n", "t.script:2: unknown action \"frobnicate\""},
        {"click\n", "t.script:1: click needs a control ID"},
        {"click one\n", "t.script:1: \"one\" is not a control ID"},
        {"click 70000\n", "t.script:1: \"70000\" is not a control ID"},
        {"click -1\n", "t.script:1: \"-1\" is not a control ID"},
        {"click 1 2\n", "t.script:1: unexpected \"2\" after click"},
        {"\n\nselect 1002\n", "t.script:3: select needs the text of a combo box item"},
        {"check 1003\n", "t.script:1: check needs a state"},
        {"check 1003 3\n", "t.script:1: \"3\" is not a check state"},
        {"check 1003 1 x\n", "t.script:1: unexpected \"x\" after check"},
        {"sys\n", "t.script:1: sys needs a system command"},
        {"sys F02G\n", "t.script:1: \"F02G\" is not a system command"},
        {"sys 10000\n", "t.script:1: \"10000\" is not a system command"},
        {"answer\n", "t.script:1: answer needs a control ID"},
        {"key Home\n", "t.script:1: \"Home\" is not a key"},
        {"show me\n", "t.script:1: unexpected \"me\" after show"},
        {"paint 1\n", "t.script:1: unexpected \"1\" after paint"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error = parseError(c.text);
        EXPECT_EQ(0u, error.find(c.error)) << error;
    }
}

TEST(ScriptParser, MissingFileIsAClearError) {
    std::string error;
    EXPECT_FALSE(sim::runScript("/nonexistent/dir/x.script", &error));
    EXPECT_EQ("/nonexistent/dir/x.script: cannot open the script", error);
    EXPECT_EQ(sim::Face::None, sim::currentFace());
}

class ScriptFaceTest : public UiTest {
  protected:
    void SetUp() override {
        UiTest::SetUp();
        sim::ui().setOutput([this](const std::string& line) { lines.push_back(line); });
    }
    void start(const std::string& text) {
        std::string error;
        ASSERT_TRUE(sim::runScriptText("t.script", text, &error)) << error;
        sim::shell().setPrintBoxes(false);
        sim::ui().setOutput([this](const std::string& line) { lines.push_back(line); });
    }
    std::vector<std::string> lines;
};

TEST_F(ScriptFaceTest, ActionsDriveTheDialogInOrder) {
    ScriptedDialog dlg;
    start("select 1002 2X (532Mb/s)\n"
          "type 1012 0X\n"
          "check 1003 2\n"
          "answer 6\n"
          "click 1007\n"
          "show\n"
          "answer 7\n"
          "click 1006\n"
          "click 1\n");
    EXPECT_EQ(IDOK, run(scripted(), &dlg.probe));
    EXPECT_EQ("", sim::finishFace());
    EXPECT_EQ((std::vector<int>{IDYES}), dlg.boxAnswers);
    EXPECT_EQ((std::vector<INT_PTR>{IDNO}), dlg.innerResults);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("{\"dialog\":\"Vantorel Tavrolin\",\"iconic\":false,\"controls\":["
              "{\"id\":1002,\"class\":\"combobox\",\"enabled\":true,\"text\":\"2X (532Mb/s)\","
              "\"items\":[\"1X (266Mb/s)\",\"2X (532Mb/s)\",\"4X (1064Mb/s)\"],\"selection\":1},"
              "{\"id\":1012,\"class\":\"combobox\",\"enabled\":true,\"text\":\"0X\","
              "\"items\":[],\"selection\":-1},"
              "{\"id\":1003,\"class\":\"checkbox\",\"enabled\":true,\"text\":\"Sideband\","
              "\"check\":2},"
              "{\"id\":1006,\"class\":\"button\",\"enabled\":true,\"text\":\"Restore\"},"
              "{\"id\":1007,\"class\":\"button\",\"enabled\":true,\"text\":\"Apply\"},"
              "{\"id\":1,\"class\":\"button\",\"enabled\":true,\"text\":\"OK\"},"
              "{\"id\":2,\"class\":\"button\",\"enabled\":true,\"text\":\"Cancel\"}]}",
              lines[0]);
}

TEST_F(ScriptFaceTest, ScriptThatEndsEarlyClosesTheDialogWithCancel) {
    ScriptedDialog dlg;
    start("check 1003 1\n");
    EXPECT_EQ(IDCANCEL, run(scripted(), &dlg.probe));
    EXPECT_EQ("", sim::finishFace());
}

TEST_F(ScriptFaceTest, AnActionTheDialogCannotTakeStopsTheRunAfterTearDown) {
    struct {
        const char* script;
        const char* error;
    } cases[] = {
        {"check 1003 1\nclick 4711\nclick 1\n",
         "t.script:2: click 4711: the dialog \"Vantorel Tavrolin\" has no control 4711"},
        {"select 1002 8X\n", "t.script:1: select 1002 8X: \"8X\" is not an item of combo box 1002"},
        {"type 1002 0X\n", "t.script:1: type 1002 0X: control 1002 (combobox, drop-down list) "
                           "does not take typed text"},
        {"sys 10\n", "t.script:1: sys 10: 0x10 is not a command of the system menu"},
        {"\n\nclick 1\nclick 1\n",
         "t.script:4: click 1: no dialog is open (the program has ended)"},
        {"answer 6\n", "t.script:1: the answer was not used"},
        {"answer 1\nclick 1007\n", "t.script:1: answer 1: not a button of the message box"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        ScriptedDialog dlg;
        start(c.script);
        INT_PTR r = run(scripted(), &dlg.probe);
        std::string error = sim::finishFace();
        EXPECT_EQ(0u, error.find(c.error)) << error;
        if (std::string(c.script).find("click 1\n") == std::string::npos) {
            EXPECT_EQ(IDCANCEL, r) << "torn down with Cancel";
        }
    }
}

TEST_F(ScriptFaceTest, ADisabledControlStopsTheRun) {
    ScriptedDialog dlg;
    auto base = dlg.probe.handler;
    dlg.probe.handler = [&](HWND d, UINT m, WPARAM w, LPARAM l) -> INT_PTR {
        if (m == WM_INITDIALOG)
            EnableWindow(GetDlgItem(d, 1003), FALSE);
        return base(d, m, w, l);
    };
    start("check 1003 1\nclick 1\n");
    EXPECT_EQ(IDCANCEL, run(scripted(), &dlg.probe));
    EXPECT_EQ("t.script:1: check 1003 1: control 1003 is disabled", sim::finishFace());
    EXPECT_EQ((std::vector<WPARAM>{MAKELONG(IDCANCEL, BN_CLICKED)}), dlg.probe.commands())
        << "only the closing Cancel reached the dialog";
}

TEST_F(ScriptFaceTest, PaintAndMinimizeReportTheRecordedDrawing) {
    ScriptedDialog dlg;
    start("paint\nminimize\nshow\n");
    run(scripted(), &dlg.probe);
    EXPECT_EQ("", sim::finishFace());
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(0u,
              lines[0].find("{\"paint\":\"Vantorel Tavrolin\",\"dialog\":[{\"op\":\"BeginPaint\"}"))
        << lines[0];
    EXPECT_NE(
        std::string::npos,
        lines[0].find("{\"id\":1003,\"ops\":[{\"op\":\"BeginPaint\"},{\"op\":\"SetTextColor\","
                      "\"colour\":\"0x00000000\"}"))
        << lines[0];
    EXPECT_NE(std::string::npos, lines[0].find("\"text\":\"Sideband\"")) << lines[0];
    EXPECT_EQ(0u, lines[1].find("{\"dialog\":\"Vantorel Tavrolin\",\"iconic\":true")) << lines[1];
}

TEST_F(ScriptFaceTest, ForegroundRequestsArePrinted) {
    ScriptedDialog dlg;
    auto base = dlg.probe.handler;
    dlg.probe.handler = [&](HWND d, UINT m, WPARAM w, LPARAM l) -> INT_PTR {
        if (m == WM_COMMAND && LOWORD(w) == 1007) {
            SetForegroundWindow(d);
            return TRUE;
        }
        return base(d, m, w, l);
    };
    start("click 1007\n");
    run(scripted(), &dlg.probe);
    EXPECT_EQ("", sim::finishFace());
    EXPECT_EQ(
        (std::vector<std::string>{"{\"event\":\"foreground\",\"title\":\"Vantorel Tavrolin\"}"}),
        lines);
}

// A box that comes up before the script's first idle turn (the safe-mode question before any
// dialog, an error raised while the first dialog is set up) takes the script's answer lines in
// order, as a box shown later does.
TEST_F(ScriptFaceTest, AnswerLinesAnswerBoxesShownBeforeAnyIdleTurn) {
    struct Case {
        const char* script;
        bool dialog; // the box comes from WM_INITDIALOG of a dialog rather than before any
        int answer;
        const char* error;
    } cases[] = {
        {"answer 6\n", false, IDYES, ""},
        {"# the question\nanswer 7\n", false, IDNO, ""},
        {"answer 6\nclick 1\n", true, IDYES, ""},
        {"answer 1\n", false, IDNO, "t.script:1: answer 1: not a button of the message box"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        start(c.script);
        int answer = 0;
        auto ask = [&answer] {
            answer = MessageBoxA(nullptr, "Restore the default settings?", "Vantorel Tavrolin",
                                 MB_YESNO | MB_ICONQUESTION);
        };
        if (c.dialog) {
            Probe probe;
            probe.handler = [&](HWND d, UINT m, WPARAM w, LPARAM) -> INT_PTR {
                if (m == WM_INITDIALOG)
                    ask();
                if (m == WM_COMMAND && LOWORD(w) == IDOK)
                    EndDialog(d, IDOK);
                return m == WM_INITDIALOG;
            };
            EXPECT_EQ(IDOK, run(scripted(), &probe));
        } else {
            ask();
        }
        EXPECT_EQ(c.answer, answer);
        std::string error = sim::finishFace();
        EXPECT_EQ(0u, error.find(c.error)) << error;
    }
}
