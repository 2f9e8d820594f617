// The shell's per-PC state: settings from the profile, message box records, the trace.
#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>

#include "shell_internal.h"
#include "sim/boot.h"
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

// A new virtual PC starts the shell afresh with the settings of its profile.
void startAfresh(ShellState* state) {
    resetState(state);
    state->safeMode = machine().safeMode();
    state->nt = machine().isNt();
    state->privilegeHeld = !machine().profile().has("no-shutdown-privilege");
}

} // namespace

ShellState& shellState() {
    static ShellState state;
    if (!state.fresh)
        startAfresh(&state);
    return state;
}

namespace {
// Boots call this once the new machine's profile is loaded.
void startAfreshAtBoot() {
    startAfresh(&shellState());
}
[[maybe_unused]] const bool kBootHookAdded = (addResetHook(startAfreshAtBoot), true);
} // namespace

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
    resetState(&shellState());
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
