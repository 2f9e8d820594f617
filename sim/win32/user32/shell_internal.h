// Internals of the simulated PC's shell services shared by its files.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "sim/shell.h"

namespace sim {

struct LocalWindow {
    HWND window;
    std::string title;
    std::string file; // objects/windows/<pid>-<serial>.window, "" without a state directory
    int pid;          // the process that wrote the file (a forked child inherits the list)
};

// A window of another process, as FindWindowA found it.
struct RemoteWindow {
    int pid;
    std::string file;
    std::string title;
};

// Use of one named mutex by this process.
struct NamedMutexUse {
    int handles = 0;
    int ownership = 0; // recursion count of this process's ownership, 0 when not the owner
    int ownerFd = -1; // the exclusive lock on objects/mutex-<name>.owner while this process owns it
    std::string ownerSid; // who made it (objects/mutex-<name>.sid for the other processes)
};

struct ShellState {
    bool fresh = false; // false until the first use sets the state up

    bool safeMode = false;
    bool nt = true;
    bool privilegeHeld = true;
    bool privilegeEnabled = false;

    std::deque<int> answers;
    int yesNoDefault = 0;
    bool printBoxes = false;
    bool askOnTerminal = true;
    MessageBoxFace face = nullptr;
    std::vector<MessageBoxRecord> boxes;

    std::string objectsDir; // <stateDir>/objects, "" when detached
    std::vector<LocalWindow> windows;
    unsigned windowSerial = 0;
    std::map<uintptr_t, RemoteWindow> remoteWindows;
    uintptr_t nextRemoteWindow = 0;
    ForegroundHook foregroundHook = nullptr;
    std::vector<HWND> foregroundRequests;

    std::map<std::string, NamedMutexUse> mutexes; // by lower-case name
    // Private namespaces this process has open: lower-case alias to the boundary's identity.
    std::map<std::string, std::string> privateNamespaces;

    std::vector<ExitWindowsCall> exitCalls;
    bool restartRequested = false;

    std::vector<std::string> trace;
};

// The shell of the PC that runs now; a new boot starts it afresh from the machine profile.
ShellState& shellState();
void shellTrace(const std::string& line);
// "\"text\"" with quotes and backslashes escaped, for trace lines.
std::string traceQuoted(const std::string& text);
// Drops this process's window files (detach, reset).
void removeWindowFiles(ShellState& state);

} // namespace sim
