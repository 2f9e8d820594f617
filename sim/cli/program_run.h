// Starting Tavrol.exe on the virtual PC, and the log-on that starts the Run key's programs.
#pragma once

#include <string>
#include <vector>

namespace cli {

struct RunOptions {
    std::vector<std::string> args; // the program's command-line arguments
    std::string script;            // drive the dialogs from this file ("" for none)
    bool safeMode = false;         // boot this run in safe mode
    bool printBoxes = true;        // print every message box as a JSON line
};

// Runs the program once; returns the exit status for tavrolin-sim: the program's own, or 1 when
// a script could not be carried out. A restart the program requested is carried out afterwards:
// power cycle, then log-on.
int runProgram(const RunOptions& options);

// Power cycle and log on. Returns 0, or 1 when the state could not be handled.
int rebootAndLogOn();

// Splits a Run-key command line as Windows does when it starts it: a quoted executable path, or
// for an unquoted one the shortest blank-separated prefix that names an existing file (so
// "C:\Program Files\x\Tavrol.exe" starts "C:\Program.exe" first when that exists). Returns the
// executable path and the remaining arguments.
bool splitCommandLine(const std::string& line, std::string* executable, std::string* arguments);

} // namespace cli
