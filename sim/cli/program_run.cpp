// Runs of the program on the virtual PC: interactive, scripted, at log-on.
#include "program_run.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

#include "sim/machine.h"
#include "sim/process.h"
#include "sim/registry.h"
#include "sim/shell.h"
#include "sim/tasks.h"
#include "sim/ui.h"
#include "state_dir.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);

namespace cli {
namespace {

const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const int kMaxRestartsInARow = 3; // a log-on run that restarts again and again is cut short

// What GetCommandLineA gives: the quoted module path, then the arguments.
std::string windowsCommandLine(const std::string& modulePath, const std::string& arguments) {
    std::string line = "\"" + modulePath + "\"";
    if (!arguments.empty())
        line += " " + arguments;
    return line;
}

std::string joinArguments(const std::vector<std::string>& args) {
    std::string joined;
    for (const std::string& arg : args) {
        if (!joined.empty())
            joined += ' ';
        joined += arg.find(' ') == std::string::npos ? arg : "\"" + arg + "\"";
    }
    return joined;
}

// Runs WinMain with `arguments` as the command line's tail; the face is set up by the caller.
// Returns the program's exit status.
int startProgram(const std::string& arguments) {
    std::string commandLine = windowsCommandLine(sim::process().modulePath(), arguments);
    sim::process().setCommandLine(commandLine);
    // WinMain's lpCmdLine is the command line without the program name.
    std::string tail = arguments;
    return WinMain(sim::process().exeModule(), nullptr, &tail[0], 1 /* SW_SHOWNORMAL */);
}

void reportUnattended(const std::string& line) {
    fprintf(stderr, "tavrolin-sim: %s (run --script FILE drives it without a terminal)\n",
            line.c_str());
    fflush(stderr);
}

// A script drives the dialogs; otherwise the terminal shows them, and where there is no terminal
// ncurses can use, each dialog closes as Cancel and one line on stderr says so.
bool chooseFace(const RunOptions& options, std::string* error) {
    if (!options.script.empty())
        return sim::runScript(options.script, error);
    std::string why;
    if (sim::installTerminalFace(&why)) {
        // The face draws the message boxes; a printed line would scramble its screen.
        sim::shell().setPrintBoxes(false);
        return true;
    }
    sim::installUnattendedFace(why, reportUnattended);
    return true;
}

int finishRun() {
    std::string faceError = sim::finishFace();
    std::string error;
    if (!saveState(&error)) {
        fprintf(stderr, "tavrolin-sim: %s\n", error.c_str());
        return 1;
    }
    if (!faceError.empty()) {
        fprintf(stderr, "tavrolin-sim: %s\n", faceError.c_str());
        return 1;
    }
    return 0;
}

// Runs one log-on command line when it starts our program; prints what happened to it.
int startAtLogOn(const std::string& line, const std::string& source, bool elevated) {
    std::string executable, arguments;
    if (!splitCommandLine(line, &executable, &arguments) ||
        strcasecmp(executable.c_str(), sim::kProgramPath) != 0) {
        printf("{\"event\":\"logon-skip\",%s,\"command\":%s,\"started\":%s}\n", source.c_str(),
               sim::jsonString(line).c_str(), sim::jsonString(executable).c_str());
        return 0;
    }
    // User Account Control: the program's manifest asks for administrator rights, and Windows
    // does not raise a prompt at log-on; only a task with the highest privileges gets them.
    if (sim::machine().uacOn() && !elevated) {
        printf("{\"event\":\"logon-blocked\",%s,\"command\":%s,\"reason\":%s}\n", source.c_str(),
               sim::jsonString(line).c_str(),
               sim::jsonString("the program asks for administrator rights").c_str());
        return 0;
    }
    printf("{\"event\":\"logon-run\",%s,\"command\":%s}\n", source.c_str(),
           sim::jsonString(line).c_str());
    fflush(stdout);
    sim::process().reset();
    sim::shell().setPrintBoxes(true);
    startProgram(arguments);
    return finishRun();
}

// Starts every command line of the Run keys and, from Vista on, every log-on task, as Windows
// does at log-on.
int logOn() {
    printf("{\"event\":\"logon\"}\n");
    std::vector<std::string> lines;
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        for (const sim::RegValue& value : sim::registry().values(root, kRunKey)) {
            if (value.type != REG_SZ && value.type != REG_EXPAND_SZ)
                continue;
            std::string line(value.data.begin(), value.data.end());
            line = line.substr(0, strnlen(line.c_str(), line.size()));
            lines.push_back(line);
        }
    }
    int status = 0;
    for (const std::string& line : lines)
        status |= startAtLogOn(line, "\"from\":\"run-key\"", false);
    if (!sim::machine().isVistaOrLater())
        return status;
    for (const sim::ScheduledTask& task : sim::scheduledTasks()) {
        if (!task.logonTrigger || !task.enabled)
            continue;
        std::string line = task.command + (task.arguments.empty() ? "" : " " + task.arguments);
        std::string source = "\"from\":\"task\",\"task\":" + sim::jsonString(task.name);
        status |= startAtLogOn(line, source, task.highestRunLevel);
    }
    return status;
}

int restartIfRequested(int status) {
    for (int restarts = 0; sim::shell().restartRequested(); ++restarts) {
        if (restarts == kMaxRestartsInARow) {
            fprintf(stderr, "tavrolin-sim: the program keeps restarting the PC; stopping\n");
            return 1;
        }
        printf("{\"event\":\"restart\"}\n");
        sim::shell().clearRestartRequest();
        status |= rebootAndLogOn();
    }
    return status;
}

} // namespace

bool splitCommandLine(const std::string& line, std::string* executable, std::string* arguments) {
    size_t start = line.find_first_not_of(' ');
    if (start == std::string::npos)
        return false;
    if (line[start] == '"') {
        size_t end = line.find('"', start + 1);
        if (end == std::string::npos)
            return false;
        *executable = line.substr(start + 1, end - start - 1);
        size_t rest = line.find_first_not_of(' ', end + 1);
        *arguments = rest == std::string::npos ? "" : line.substr(rest);
        return true;
    }
    // Unquoted: each blank could end the path; Windows tries the shortest candidate first.
    size_t blank = start;
    while (true) {
        blank = line.find(' ', blank + 1);
        std::string candidate =
            line.substr(start, blank == std::string::npos ? blank : blank - start);
        std::string withExtension = candidate;
        if (withExtension.size() < 4 ||
            strcasecmp(withExtension.c_str() + withExtension.size() - 4, ".exe") != 0)
            withExtension += ".exe";
        if (blank == std::string::npos || sim::drive().fileExists(withExtension) ||
            sim::drive().fileExists(candidate)) {
            *executable = sim::drive().fileExists(candidate) ? candidate : withExtension;
            *arguments = blank == std::string::npos ? "" : line.substr(blank + 1);
            return true;
        }
    }
}

int runProgram(const RunOptions& options) {
    if (options.safeMode)
        sim::shell().setSafeMode(true);
    sim::shell().setPrintBoxes(options.printBoxes);
    std::string error;
    if (!chooseFace(options, &error)) {
        fprintf(stderr, "tavrolin-sim: %s\n", error.c_str());
        return 1;
    }
    int exitStatus = startProgram(joinArguments(options.args));
    int status = finishRun();
    // A run the simulated PC carried out passes on the program's own exit status.
    if (status == 0)
        status = exitStatus;
    return restartIfRequested(status);
}

int rebootAndLogOn() {
    std::string error;
    if (!powerCycle(&error)) {
        fprintf(stderr, "tavrolin-sim: %s\n", error.c_str());
        return 1;
    }
    printf("{\"event\":\"power-cycle\"}\n");
    return restartIfRequested(logOn());
}

} // namespace cli
