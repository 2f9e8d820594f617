// Helpers of the shell tests: a booted PC, a state directory, and child processes.
#pragma once

#include <gtest/gtest.h>

#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "sim/boot.h"
#include "sim/machine.h"
#include "sim/process.h"
#include "sim/shell.h"
#include "sim_win32.h"

namespace shelltest {

class ShellPc : public ::testing::Test {
  protected:
    void SetUp() override { boot(""); }

    void boot(const std::string& profile) {
        pc = sim::bootForTest(profile);
        ASSERT_TRUE(pc.ok()) << pc.error();
        sim::shell().setAskOnTerminal(false);
        stateDir = pc.root() + "/state";
    }
    void attach() {
        std::string error;
        ASSERT_TRUE(sim::shell().attach(stateDir, &error)) << error;
    }
    std::string lastTrace() {
        const std::vector<std::string>& trace = sim::shell().trace();
        return trace.empty() ? "" : trace.back();
    }

    sim::TestPc pc;
    std::string stateDir;
};

// A second run of the program on the same virtual PC: a forked process that starts its shell
// afresh on the same state directory. The parent and the child talk through two pipes, one byte
// at a time.
class OtherProcess {
  public:
    OtherProcess() = default;
    OtherProcess(const OtherProcess&) = delete;
    OtherProcess& operator=(const OtherProcess&) = delete;
    ~OtherProcess() {
        for (int fd : {m_toParent[0], m_toParent[1], m_toChild[0], m_toChild[1]})
            if (fd >= 0)
                close(fd);
    }

    // Starts the child; `body` gets this object (to signal and wait) and returns the exit code.
    template <typename Body> void start(const std::string& stateDir, Body body) {
        ASSERT_EQ(0, pipe(m_toParent));
        ASSERT_EQ(0, pipe(m_toChild));
        fflush(nullptr);
        m_pid = fork();
        ASSERT_GE(m_pid, 0);
        if (m_pid == 0) {
            m_inChild = true;
            sim::shell().reset();
            std::string error;
            _exit(sim::shell().attach(stateDir, &error) ? body(*this) : 100);
        }
    }
    // The side that calls it sends one byte to the other side.
    void signal() {
        char byte = 1;
        ssize_t ignored = write(m_inChild ? m_toParent[1] : m_toChild[1], &byte, 1);
        (void)ignored;
    }
    // Waits for the other side's byte; false when the other side has gone.
    bool wait() {
        char byte;
        return read(m_inChild ? m_toChild[0] : m_toParent[0], &byte, 1) == 1;
    }
    // The child's exit code (128 + signal when it was killed).
    int join() {
        int status = 0;
        waitpid(m_pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    pid_t pid() const { return m_pid; }

  private:
    int m_toParent[2] = {-1, -1};
    int m_toChild[2] = {-1, -1};
    pid_t m_pid = -1;
    bool m_inChild = false;
};

} // namespace shelltest
