// The terminal face on a real pseudo-terminal: a person's keys reach the dialog through ncurses.
#include "dialog_builder.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

using namespace simui_test;

namespace {

// What the dialog in the child saw, packed into its exit status.
enum Seen { kAboutCommand = 1, kBoxTicked = 2, kEndedWithOk = 4, kFaceInstalled = 8 };

int runDialogOnTerminal() {
    setenv("TERM", "xterm", 1);
    sim::shell().reset();
    sim::ui().reset();
    if (!sim::installTerminalFace())
        return 0;
    int seen = kFaceInstalled;
    Probe probe;
    probe.handler = [&](HWND d, UINT m, WPARAM w, LPARAM) -> INT_PTR {
        if (m == WM_INITDIALOG) {
            HMENU menu = GetSystemMenu(d, FALSE);
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(menu, MF_STRING, 0x0010, "&About...");
            return TRUE;
        }
        if (m == WM_SYSCOMMAND && w == 0x0010) {
            seen |= kAboutCommand;
            return TRUE;
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
    t.items.push_back(button(IDOK, "OK", BS_DEFPUSHBUTTON, 10, 40));
    t.items.push_back(button(IDCANCEL, "Cancel", BS_PUSHBUTTON, 60, 40));
    std::vector<BYTE> bytes = t.build();
    INT_PTR r = sim::dialogBoxFromBytes(nullptr, bytes.data(), bytes.size(), nullptr, probeProc,
                                        reinterpret_cast<LPARAM>(&probe), nullptr);
    sim::finishFace();
    if (r == IDOK)
        seen |= kEndedWithOk;
    return seen;
}

// Reads whatever the child draws, so that it never blocks on a full terminal, until `wanted`
// has appeared or the time is up; returns whether it appeared.
bool drain(int master, int milliseconds, const std::string& wanted = "") {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    char buffer[4096];
    std::string seen;
    while (std::chrono::steady_clock::now() < end) {
        pollfd p = {master, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0)
            break;
        seen.append(buffer, static_cast<size_t>(n));
        if (!wanted.empty() && seen.find(wanted) != std::string::npos)
            return true;
    }
    return wanted.empty();
}

} // namespace

TEST(TerminalFace, KeysTickABoxPickTheSystemMenuAndPressTheDefaultButton) {
    int master = -1;
    winsize size = {30, 90, 0, 0};
    pid_t child = forkpty(&master, nullptr, nullptr, &size);
    ASSERT_NE(-1, child);
    if (child == 0)
        _exit(runDialogOnTerminal());
    // The keys go in once the face has drawn the dialog and its key help.
    EXPECT_TRUE(drain(master, 10000, "F10 menu")) << "the dialog was not drawn";
    // Space ticks the focused box; Alt-Space opens the system menu, whose last item is About;
    // Up from the first item wraps to it; Enter picks it; Enter then presses the default OK.
    for (const char* keys : {" ", "\x1b ", "\x1bOA", "\r", "\r"}) {
        ASSERT_GT(write(master, keys, strlen(keys)), 0);
        drain(master, 300);
    }
    int status = -1;
    for (int i = 0; i < 500 && waitpid(child, &status, WNOHANG) == 0; ++i) {
        drain(master, 20);
        usleep(20000); // the terminal may already be closed while the child exits
    }
    if (!WIFEXITED(status)) {
        bool running = status == -1;
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << (running ? "the dialog did not end on the keys"
                           : "the child died, status " + std::to_string(status));
    }
    close(master);
    int seen = WEXITSTATUS(status);
    EXPECT_TRUE(seen & kFaceInstalled) << "seen " << seen;
    EXPECT_TRUE(seen & kBoxTicked) << "seen " << seen;
    EXPECT_TRUE(seen & kAboutCommand) << "seen " << seen;
    EXPECT_TRUE(seen & kEndedWithOk) << "seen " << seen;
}
