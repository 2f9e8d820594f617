// The shell's per-PC state: settings from the profile, message box records, the trace.
#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>

#include "shell_internal.h"
#include "sim/machine.h"
#include "sim_user32.h"

namespace sim {
namespace {

void resetState(ShellState* state) {
    removeWindowFiles(*state);
    *state = ShellState();
    state->yesNoDefault = IDNO;
    state->fresh = true;
}

bool makeDirectory(const std::string& path) {
    return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

} // namespace

ShellState& shellState() {
    static ShellState state;
    unsigned boot = bootGeneration();
    if (!state.fresh || state.bootSeen != boot) {
        resetState(&state);
        state.bootSeen = boot;
        const Profile& profile = machine().profile();
        state.safeMode = machine().safeMode();
        state.nt = machine().isNt();
        state.privilegeHeld = !profile.has("no-shutdown-privilege");
    }
    return state;
}

void shellTrace(const std::string& line) {
    shellState().trace.push_back(line);
}

std::string traceQuoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out + "\"";
}

void Shell::reset() {
    ShellState& state = shellState();
    unsigned boot = state.bootSeen;
    resetState(&state);
    state.bootSeen = boot;
}

bool Shell::attach(const std::string& stateDir, std::string* error) {
    std::string objects = stateDir + "/objects";
    if (!makeDirectory(stateDir) || !makeDirectory(objects) ||
        !makeDirectory(objects + "/windows")) {
        *error = objects + ": cannot create the folder for shared objects";
        return false;
    }
    shellState().objectsDir = objects;
    return true;
}

void Shell::detach() {
    ShellState& state = shellState();
    removeWindowFiles(state);
    state.objectsDir.clear();
}

void Shell::setSafeMode(bool on) {
    shellState().safeMode = on;
}
void Shell::setNtPlatform(bool nt) {
    shellState().nt = nt;
}
void Shell::setShutdownPrivilegeHeld(bool held) {
    shellState().privilegeHeld = held;
}

void Shell::queueAnswer(int button) {
    shellState().answers.push_back(button);
}
size_t Shell::queuedAnswers() const {
    return shellState().answers.size();
}
void Shell::setYesNoDefault(int button) {
    shellState().yesNoDefault = button;
}
void Shell::setPrintBoxes(bool on) {
    shellState().printBoxes = on;
}
void Shell::setAskOnTerminal(bool on) {
    shellState().askOnTerminal = on;
}
void Shell::setFace(MessageBoxFace face) {
    shellState().face = face;
}

const std::vector<MessageBoxRecord>& Shell::messageBoxes() const {
    return shellState().boxes;
}
void Shell::clearMessageBoxes() {
    shellState().boxes.clear();
}

bool Shell::shutdownPrivilegeEnabled() const {
    return shellState().privilegeEnabled;
}
const std::vector<ExitWindowsCall>& Shell::exitWindowsCalls() const {
    return shellState().exitCalls;
}
bool Shell::restartRequested() const {
    return shellState().restartRequested;
}
void Shell::clearRestartRequest() {
    shellState().restartRequested = false;
}

const std::vector<std::string>& Shell::trace() const {
    return shellState().trace;
}

Shell& shell() {
    static Shell instance;
    return instance;
}

} // namespace sim
