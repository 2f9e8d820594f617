// Top-level windows seen across processes: FindWindowA and SetForegroundWindow of the simulated
// PC. Each registered window of a process with a state directory is a file
// objects/windows/<pid>-<serial>.window holding its title; a request to bring it to the front is
// the file <same name>.front, which the owner takes when it polls.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>

#include "shell_internal.h"
#include "sim_user32.h"

namespace sim {
namespace {

// Handles for windows of other processes; far from those of the window manager.
const uintptr_t kFirstRemoteWindow = 0x7E000000;
const char kDialogClass[] = "#32770";

std::string windowsDir(const ShellState& state) {
    return state.objectsDir + "/windows";
}

bool writeFile(const std::string& path, const std::string& contents) {
    std::string temporary = path + "." + std::to_string(getpid()) + ".tmp";
    FILE* file = fopen(temporary.c_str(), "wb");
    if (!file)
        return false;
    bool ok = fwrite(contents.data(), 1, contents.size(), file) == contents.size();
    ok = fclose(file) == 0 && ok;
    return ok && rename(temporary.c_str(), path.c_str()) == 0;
}

bool readFile(const std::string& path, std::string* contents) {
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return false;
    char buffer[512];
    size_t got;
    contents->clear();
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0)
        contents->append(buffer, got);
    fclose(file);
    return true;
}

bool processAlive(int pid) {
    return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

LocalWindow* localWindow(HWND window) {
    for (LocalWindow& entry : shellState().windows)
        if (entry.window == window)
            return &entry;
    return nullptr;
}

bool classMatches(LPCSTR className) {
    return !className || strcasecmp(className, kDialogClass) == 0;
}

bool titleMatches(LPCSTR windowName, const std::string& title) {
    return !windowName || strcasecmp(windowName, title.c_str()) == 0;
}

HWND remoteHandleFor(ShellState& state, const RemoteWindow& remote) {
    for (const auto& entry : state.remoteWindows)
        if (entry.second.file == remote.file) {
            state.remoteWindows[entry.first] = remote; // the title may have changed
            return reinterpret_cast<HWND>(entry.first);
        }
    uintptr_t value = kFirstRemoteWindow + 4 * state.nextRemoteWindow++;
    state.remoteWindows[value] = remote;
    return reinterpret_cast<HWND>(value);
}

// Looks through the window files of other live processes; files of dead ones are removed.
HWND findRemote(ShellState& state, LPCSTR className, LPCSTR windowName, int* ownerPid) {
    if (state.objectsDir.empty() || !classMatches(className))
        return nullptr;
    DIR* folder = opendir(windowsDir(state).c_str());
    if (!folder)
        return nullptr;
    std::vector<std::string> names;
    while (dirent* entry = readdir(folder)) {
        std::string name = entry->d_name;
        if (name.size() > 7 && name.compare(name.size() - 7, 7, ".window") == 0)
            names.push_back(name);
    }
    closedir(folder);
    std::sort(names.begin(), names.end());
    HWND found = nullptr;
    for (const std::string& name : names) {
        int pid = atoi(name.c_str());
        std::string path = windowsDir(state) + "/" + name;
        if (pid == getpid())
            continue;
        if (!processAlive(pid)) {
            unlink(path.c_str());
            unlink((path.substr(0, path.size() - 7) + ".front").c_str());
            continue;
        }
        std::string title;
        if (found || !readFile(path, &title) || !titleMatches(windowName, title))
            continue;
        found = remoteHandleFor(state, RemoteWindow{pid, path, title});
        *ownerPid = pid;
    }
    return found;
}

// A window's file and its pending request, unless another process wrote them.
void removeFilesOf(const LocalWindow& entry) {
    if (entry.file.empty() || entry.pid != getpid())
        return;
    unlink(entry.file.c_str());
    unlink((entry.file.substr(0, entry.file.size() - 7) + ".front").c_str());
}

} // namespace

void removeWindowFiles(ShellState& state) {
    for (const LocalWindow& entry : state.windows)
        removeFilesOf(entry);
    state.windows.clear();
}

void Shell::registerWindow(HWND window, const std::string& title) {
    ShellState& state = shellState();
    if (localWindow(window)) {
        setWindowTitle(window, title);
        return;
    }
    LocalWindow entry{window, title, "", getpid()};
    if (!state.objectsDir.empty()) {
        entry.file = windowsDir(state) + "/" + std::to_string(getpid()) + "-" +
                     std::to_string(++state.windowSerial) + ".window";
        if (!writeFile(entry.file, title)) {
            fprintf(stderr, "shell: %s: cannot register the window\n", entry.file.c_str());
            entry.file.clear();
        }
    }
    state.windows.push_back(entry);
}

void Shell::setWindowTitle(HWND window, const std::string& title) {
    LocalWindow* entry = localWindow(window);
    if (!entry)
        return;
    entry->title = title;
    if (!entry->file.empty())
        writeFile(entry->file, title);
}

void Shell::unregisterWindow(HWND window) {
    ShellState& state = shellState();
    for (size_t i = 0; i < state.windows.size(); ++i) {
        if (state.windows[i].window != window)
            continue;
        removeFilesOf(state.windows[i]);
        state.windows.erase(state.windows.begin() + i);
        return;
    }
}

std::string Shell::windowTitle(HWND window) const {
    const LocalWindow* entry = window ? localWindow(window) : nullptr;
    return entry ? entry->title : "";
}

std::vector<HWND> Shell::takeForegroundRequests() {
    ShellState& state = shellState();
    std::vector<HWND> requests;
    requests.swap(state.foregroundRequests);
    for (const LocalWindow& entry : state.windows) {
        if (entry.file.empty())
            continue;
        std::string request = entry.file.substr(0, entry.file.size() - 7) + ".front";
        if (unlink(request.c_str()) == 0)
            requests.push_back(entry.window);
    }
    return requests;
}

void Shell::setForegroundHook(ForegroundHook hook) {
    shellState().foregroundHook = hook;
}

} // namespace sim

using namespace sim;

HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName) {
    ShellState& state = shellState();
    std::string what = windowName ? traceQuoted(windowName) : std::string("(any title)");
    if (classMatches(className))
        for (const LocalWindow& entry : state.windows)
            if (titleMatches(windowName, entry.title)) {
                shellTrace("FindWindowA " + what + " -> own window");
                return entry.window;
            }
    int pid = 0;
    HWND found = findRemote(state, className, windowName, &pid);
    shellTrace("FindWindowA " + what +
               (found ? " -> window of pid " + std::to_string(pid) : std::string(" -> none")));
    return found;
}

BOOL WINAPI SetForegroundWindow(HWND window) {
    ShellState& state = shellState();
    if (LocalWindow* entry = localWindow(window)) {
        shellTrace("SetForegroundWindow " + traceQuoted(entry->title) + " -> own window");
        if (state.foregroundHook)
            state.foregroundHook(window);
        else
            state.foregroundRequests.push_back(window);
        return TRUE;
    }
    auto remote = state.remoteWindows.find(reinterpret_cast<uintptr_t>(window));
    if (remote == state.remoteWindows.end() || !processAlive(remote->second.pid) ||
        access(remote->second.file.c_str(), F_OK) != 0) {
        shellTrace("SetForegroundWindow: no such window");
        return FALSE;
    }
    const std::string& file = remote->second.file;
    bool sent = writeFile(file.substr(0, file.size() - 7) + ".front", std::to_string(getpid()));
    shellTrace("SetForegroundWindow " + traceQuoted(remote->second.title) + " of pid " +
               std::to_string(remote->second.pid) + (sent ? " -> requested" : " -> failed"));
    return sent ? TRUE : FALSE;
}
