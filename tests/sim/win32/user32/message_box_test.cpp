// Message boxes and system metrics of the simulated shell.
#include <gtest/gtest.h>

#include <pty.h>

#include "shell_pc.h"

using shelltest::ShellPc;

namespace {

const HWND kDialog = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x3300));

class MessageBoxes : public ShellPc {};

TEST_F(MessageBoxes, AreRecordedWithEverything) {
    EXPECT_EQ(IDOK, MessageBoxA(nullptr, "Tavrolin settings cannot be written to registry.",
                                "Vantorel Tavrolin", MB_ICONWARNING));
    ASSERT_EQ(1u, sim::shell().messageBoxes().size());
    const sim::MessageBoxRecord& box = sim::shell().messageBoxes()[0];
    EXPECT_EQ(nullptr, box.owner);
    EXPECT_EQ("Vantorel Tavrolin", box.title);
    EXPECT_EQ("Tavrolin settings cannot be written to registry.", box.text);
    EXPECT_EQ(MB_ICONWARNING, box.type);
    EXPECT_EQ(IDOK, box.answer);
    EXPECT_EQ(0, box.refusedAnswer);
    EXPECT_NE(std::string::npos, lastTrace().find("MessageBoxA \"Vantorel Tavrolin\""))
        << lastTrace();
    // Windows' own title when the caller gives none.
    MessageBoxA(nullptr, "x", nullptr, MB_OK);
    EXPECT_EQ("Error", sim::shell().messageBoxes()[1].title);
    sim::shell().clearMessageBoxes();
    EXPECT_TRUE(sim::shell().messageBoxes().empty());
}

struct BoxKind {
    UINT type;
    const char* icon;
    const char* buttons;
    int unattended;
};

void PrintTo(const BoxKind& kind, std::ostream* out) {
    *out << kind.icon << "/" << kind.buttons;
}

class BoxKinds : public ShellPc, public ::testing::WithParamInterface<BoxKind> {};

TEST_P(BoxKinds, NameIconAndButtonsAndAnswerTheDefaultWhenNobodyIsThere) {
    const BoxKind& kind = GetParam();
    EXPECT_EQ(kind.unattended, MessageBoxA(nullptr, "text", "title", kind.type));
    ASSERT_EQ(1u, sim::shell().messageBoxes().size());
    EXPECT_STREQ(kind.icon, sim::shell().messageBoxes()[0].icon());
    EXPECT_STREQ(kind.buttons, sim::shell().messageBoxes()[0].buttons());
}

INSTANTIATE_TEST_SUITE_P(
    Types, BoxKinds,
    ::testing::Values(BoxKind{MB_OK | MB_ICONERROR, "error", "ok", IDOK},
                      BoxKind{MB_YESNO | MB_ICONQUESTION, "question", "yesno", IDNO},
                      BoxKind{MB_OKCANCEL | MB_ICONINFORMATION | MB_DEFBUTTON2, "information",
                              "okcancel", IDCANCEL},
                      BoxKind{MB_YESNOCANCEL, "none", "yesnocancel", IDYES},
                      BoxKind{MB_ABORTRETRYIGNORE | MB_DEFBUTTON3, "none", "abortretryignore",
                              IDIGNORE},
                      BoxKind{MB_RETRYCANCEL | MB_ICONWARNING, "warning", "retrycancel", IDRETRY}));

TEST_F(MessageBoxes, ScriptedAnswersAreTakenInOrder) {
    sim::shell().queueAnswer(IDYES);
    sim::shell().queueAnswer(IDNO);
    EXPECT_EQ(2u, sim::shell().queuedAnswers());
    EXPECT_EQ(IDYES, MessageBoxA(nullptr, "first", "t", MB_YESNO));
    EXPECT_EQ(IDNO, MessageBoxA(nullptr, "second", "t", MB_YESNO));
    EXPECT_EQ(0u, sim::shell().queuedAnswers());
    EXPECT_EQ(IDNO, MessageBoxA(nullptr, "unanswered", "t", MB_YESNO));
    sim::shell().setYesNoDefault(IDYES);
    EXPECT_EQ(IDYES, MessageBoxA(nullptr, "told", "t", MB_YESNO));
}

TEST_F(MessageBoxes, AnAnswerThatIsNotOneOfTheButtonsIsRefused) {
    sim::shell().queueAnswer(IDYES);
    sim::shell().queueAnswer(IDOK);
    EXPECT_EQ(IDOK, MessageBoxA(nullptr, "a", "t", MB_OK));
    EXPECT_EQ(IDYES, sim::shell().messageBoxes()[0].refusedAnswer);
    EXPECT_NE(std::string::npos, lastTrace().find("refused answer 6")) << lastTrace();
    // The refused answer was used up; the next box gets the next one.
    EXPECT_EQ(IDOK, MessageBoxA(nullptr, "b", "t", MB_OKCANCEL | MB_DEFBUTTON2));
    EXPECT_EQ(0, sim::shell().messageBoxes()[1].refusedAnswer);
}

int faceAnswer = 0;
int faceCalls = 0;
int face(const sim::MessageBoxRecord&) {
    ++faceCalls;
    return faceAnswer;
}

TEST_F(MessageBoxes, TheFaceAnswersWhatTheScriptLeavesOpen) {
    faceCalls = 0;
    faceAnswer = IDYES;
    sim::shell().setFace(face);
    sim::shell().queueAnswer(IDNO);
    EXPECT_EQ(IDNO, MessageBoxA(nullptr, "scripted", "t", MB_YESNO));
    EXPECT_EQ(0, faceCalls);
    EXPECT_EQ(IDYES, MessageBoxA(nullptr, "face", "t", MB_YESNO));
    EXPECT_EQ(1, faceCalls);
    faceAnswer = 0; // the face leaves it to the shell
    EXPECT_EQ(IDNO, MessageBoxA(nullptr, "left", "t", MB_YESNO));
    faceAnswer = IDRETRY;
    EXPECT_EQ(IDNO, MessageBoxA(nullptr, "wrong", "t", MB_YESNO));
    EXPECT_EQ(IDRETRY, sim::shell().messageBoxes().back().refusedAnswer);
    sim::shell().setFace(nullptr);
}

TEST_F(MessageBoxes, ArePrintedAsOneJsonLineWhenAsked) {
    testing::internal::CaptureStdout();
    MessageBoxA(nullptr, "quiet", "t", MB_OK);
    EXPECT_EQ("", testing::internal::GetCapturedStdout());

    sim::shell().setPrintBoxes(true);
    sim::shell().registerWindow(kDialog, "Vantorel Tavrolin");
    testing::internal::CaptureStdout();
    MessageBoxA(nullptr, "Say \"yes\"\nor\tno \\ \x01", "Vantorel Tavrolin",
                MB_YESNO | MB_ICONQUESTION);
    MessageBoxA(kDialog, "Tavrolin settings cannot be written to registry.", "Tavrolin",
                MB_ICONWARNING | MB_OK);
    MessageBoxA(reinterpret_cast<HWND>(static_cast<uintptr_t>(0xbeef)), "x", "t", MB_OK);
    EXPECT_EQ(
        "{\"owner\":null,\"title\":\"Vantorel Tavrolin\",\"text\":\"Say \\\"yes\\\"\\nor\\tno "
        "\\\\ \\u0001\",\"icon\":\"question\",\"buttons\":\"yesno\"}\n"
        "{\"owner\":\"Vantorel Tavrolin\",\"title\":\"Tavrolin\",\"text\":\"Tavrolin settings "
        "cannot be written to registry.\",\"icon\":\"warning\",\"buttons\":\"ok\"}\n"
        "{\"owner\":\"0xbeef\",\"title\":\"t\",\"text\":\"x\",\"icon\":\"none\","
        "\"buttons\":\"ok\"}\n",
        testing::internal::GetCapturedStdout());
    sim::shell().unregisterWindow(kDialog);
}

TEST_F(MessageBoxes, ANewBootForgetsAnswersAndRecords) {
    sim::shell().queueAnswer(IDYES);
    MessageBoxA(nullptr, "a", "t", MB_OK);
    sim::shell().queueAnswer(IDYES);
    boot("");
    EXPECT_EQ(0u, sim::shell().queuedAnswers());
    EXPECT_TRUE(sim::shell().messageBoxes().empty());
}

// System metrics ------------------------------------------------------------------------------

class SystemMetrics : public ShellPc {};

TEST_F(SystemMetrics, SafeModeComesFromTheProfile) {
    EXPECT_EQ(0, GetSystemMetrics(SM_CLEANBOOT));
    // A handle left open is closed by the next boot; that must not make the shell start with
    // the old machine's settings.
    ASSERT_NE(nullptr, CreateMutexA(nullptr, TRUE, "Exists"));
    boot("#! safe-mode\n");
    EXPECT_EQ(1, GetSystemMetrics(SM_CLEANBOOT));
    EXPECT_EQ(32, GetSystemMetrics(SM_CXICON));
    EXPECT_EQ(32, GetSystemMetrics(SM_CYICON));
    EXPECT_EQ(0, GetSystemMetrics(-5));
}

} // namespace

// On a terminal -------------------------------------------------------------------------------

struct TerminalRun {
    int answer;
    std::string screen;
};

// Shows a Yes/No box in a child process whose stdin is a terminal, types `keys` into it and
// collects what the box printed.
TerminalRun askOnTerminal(const std::string& keys) {
    int master = -1;
    fflush(nullptr);
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        alarm(10); // a box that never stops asking fails the test instead of hanging it
        sim::shell().setAskOnTerminal(true);
        _exit(MessageBoxA(nullptr, "Restore the defaults?", "Vantorel Tavrolin",
                          MB_YESNO | MB_ICONQUESTION));
    }
    TerminalRun run{-1, ""};
    if (pid < 0)
        return run;
    ssize_t ignored = write(master, keys.data(), keys.size());
    (void)ignored;
    char buffer[256];
    ssize_t got;
    while ((got = read(master, buffer, sizeof buffer)) > 0)
        run.screen.append(buffer, got);
    int status = 0;
    waitpid(pid, &status, 0);
    close(master);
    run.answer = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST_F(MessageBoxes, OnATerminalThePersonAnswersAndIsAskedAgainForAWrongKey) {
    TerminalRun run = askOnTerminal("x\ny\n");
    EXPECT_EQ(IDYES, run.answer) << run.screen;
    EXPECT_NE(std::string::npos, run.screen.find("Vantorel Tavrolin (question)")) << run.screen;
    EXPECT_NE(std::string::npos, run.screen.find("| Restore the defaults?")) << run.screen;
    size_t first = run.screen.find("[Y]es / [N]o?");
    ASSERT_NE(std::string::npos, first) << run.screen;
    EXPECT_NE(std::string::npos, run.screen.find("[Y]es / [N]o?", first + 1))
        << "a key that is no button must ask again\n"
        << run.screen;
}

TEST_F(MessageBoxes, OnATerminalAnEmptyAnswerTakesTheDefault) {
    EXPECT_EQ(IDNO, askOnTerminal("\n").answer);
}
