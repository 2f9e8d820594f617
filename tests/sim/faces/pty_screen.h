// Test helper: a program on a pseudo-terminal, with what it draws kept on an emulated screen
// (libvterm), so that tests read the screen a person would see and type as a person would.
#pragma once

#include <pty.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vterm.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace simui_test {

// Keys as an xterm sends them.
namespace keys {
const char* const kTab = "\t";
const char* const kShiftTab = "\x1b[Z";
const char* const kEnter = "\r";
const char* const kEsc = "\x1b";
const char* const kDown = "\x1bOB";
const char* const kUp = "\x1bOA";
const char* const kF4 = "\x1bOS";
const char* const kAltDown = "\x1b[1;3B";
const char* const kAltSpace = "\x1b ";
} // namespace keys

class PtyScreen {
  public:
    PtyScreen(int columns, int rows) : m_columns(columns), m_rows(rows) {
        m_vterm = vterm_new(rows, columns);
        vterm_set_utf8(m_vterm, 1);
        m_screen = vterm_obtain_screen(m_vterm);
        vterm_screen_reset(m_screen, 1);
    }
    ~PtyScreen() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_master >= 0)
            close(m_master);
        vterm_free(m_vterm);
    }
    PtyScreen(const PtyScreen&) = delete;
    PtyScreen& operator=(const PtyScreen&) = delete;

    // Runs `child` in the child process on the terminal, with TERM set to `type`; its result is
    // the exit status.
    bool start(std::function<int()> child, const std::string& type = "xterm") {
        winsize size = {static_cast<unsigned short>(m_rows), static_cast<unsigned short>(m_columns),
                        0, 0};
        m_pid = forkpty(&m_master, nullptr, nullptr, &size);
        if (m_pid == 0) {
            setenv("TERM", type.c_str(), 1);
            _exit(child());
        }
        return m_pid > 0;
    }
    // Runs a program with its arguments.
    bool exec(const std::vector<std::string>& argv, const std::string& type = "xterm") {
        return start(
            [argv] {
                std::vector<char*> args;
                for (const std::string& a : argv)
                    args.push_back(const_cast<char*>(a.c_str()));
                args.push_back(nullptr);
                execv(args[0], args.data());
                return 127;
            },
            type);
    }

    // Reads what the program draws until `text` is on the screen (or, with `gone`, until it is
    // no longer there) or `milliseconds` have passed.
    bool waitFor(const std::string& text, int milliseconds = 10000, bool gone = false) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        do {
            if ((contents().find(text) != std::string::npos) != gone)
                return true;
        } while (readFor(20) && std::chrono::steady_clock::now() < end);
        return (contents().find(text) != std::string::npos) != gone;
    }
    // Reads what the program draws until `done` holds or `milliseconds` have passed: for a test
    // that looks at a whole screen, which a busy machine may deliver in several pieces.
    bool waitUntil(const std::function<bool()>& done, int milliseconds = 10000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        do {
            if (done())
                return true;
        } while (readFor(20) && std::chrono::steady_clock::now() < end);
        return done();
    }
    // Reads for a while, so that the program has drawn what its last key made it draw.
    void settle(int milliseconds = 300) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (std::chrono::steady_clock::now() < end && readFor(20)) {
        }
    }
    void send(const std::string& keys) {
        ssize_t written = write(m_master, keys.data(), keys.size());
        (void)written; // a program that has ended takes no keys; the test sees it on the screen
        settle(150);
    }
    // A click of the left button on a cell, as xterm reports it in its SGR mouse mode (the one
    // ncurses asks for on TERM=xterm): press, then release, with 1-based coordinates.
    void click(int column, int row) {
        std::string at = std::to_string(column + 1) + ";" + std::to_string(row + 1);
        send("\x1b[<0;" + at + "M\x1b[<0;" + at + "m");
    }

    std::string row(int y) const {
        std::string s;
        for (int x = 0; x < m_columns; ++x) {
            VTermScreenCell cell;
            vterm_screen_get_cell(m_screen, VTermPos{y, x}, &cell);
            uint32_t ch = cell.chars[0];
            s += ch == 0 ? ' ' : (ch < 0x80 ? static_cast<char>(ch) : '?');
        }
        return s;
    }
    bool reverse(int column, int row) const {
        VTermScreenCell cell;
        vterm_screen_get_cell(m_screen, VTermPos{row, column}, &cell);
        return cell.attrs.reverse;
    }
    std::string contents() const {
        std::string all;
        for (int y = 0; y < m_rows; ++y)
            all += row(y) + "\n";
        return all;
    }
    // The first row that holds `text`, -1 when none does.
    int rowOf(const std::string& text) const {
        for (int y = 0; y < m_rows; ++y) {
            if (row(y).find(text) != std::string::npos)
                return y;
        }
        return -1;
    }
    // Everything the program wrote, escape sequences and all.
    const std::string& raw() const { return m_raw; }

    // Waits for the program to end; its exit status, or -1 when it had to be killed.
    int finish(int milliseconds = 10000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        int status = 0;
        while (std::chrono::steady_clock::now() < end) {
            pid_t done = waitpid(m_pid, &status, WNOHANG);
            if (done == m_pid) {
                m_pid = -1;
                settle(50);
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            readFor(20);
        }
        return -1;
    }

  private:
    // Feeds what arrives within `milliseconds` to the screen; false once the terminal is closed.
    bool readFor(int milliseconds) {
        pollfd p = {m_master, POLLIN, 0};
        if (poll(&p, 1, milliseconds) <= 0)
            return !(p.revents & (POLLHUP | POLLERR));
        char buffer[4096];
        ssize_t n = read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        m_raw.append(buffer, static_cast<size_t>(n));
        vterm_input_write(m_vterm, buffer, static_cast<size_t>(n));
        return true;
    }

    int m_columns, m_rows;
    VTerm* m_vterm = nullptr;
    VTermScreen* m_screen = nullptr;
    pid_t m_pid = -1;
    int m_master = -1;
    std::string m_raw;
};

} // namespace simui_test
