// tavrolin-sim: runs Tavrol.exe on a virtual PC kept in a state directory.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "probe.h"
#include "program_run.h"
#include "sim/machine.h"
#include "sim/registry.h"
#include "state_dir.h"

namespace {

const char kUsage[] =
    "usage: tavrolin-sim [--state DIR] [--machine FILE] [--safe-mode] COMMAND [ARGS...]\n"
    "\n"
    "commands:\n"
    "  run [--script FILE] [ARGS...]  start Tavrol.exe with ARGS (\"-startup\" for the log-on "
    "run)\n"
    "  reboot                         power-cycle the PC, then log on: every Run-key program "
    "and\n"
    "                                 (Vista, 7) every log-on task starts, as UAC allows\n"
    "  regedit                        print the registry as a REGEDIT4 file\n"
    "  lspci                          print the configuration spaces (lspci -xxx format)\n"
    "  probe [--json]                 run the AGP discovery and print what it finds (--json: one\n"
    "                                 JSON object, with the rate texts the dialog lists)\n"
    "\n"
    "options:\n"
    "  --state DIR     the virtual PC's state directory (default ~/.tavrolin-sim)\n"
    "  --machine FILE  the profile a new virtual PC is built from (default "
    "machines/default.lspci)\n"
    "  --safe-mode     boot this run in safe mode\n";

int usageError(const char* what) {
    fprintf(stderr, "tavrolin-sim: %s\n\n%s", what, kUsage);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    cli::StateOptions state;
    state.stateDir = cli::defaultStateDir();
    bool safeMode = false;
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; ++i) {
        std::string option = argv[i];
        if (option == "--help")
            return printf("%s", kUsage) < 0;
        if (option == "--safe-mode") {
            safeMode = true;
        } else if (option == "--state" || option == "--machine") {
            if (i + 1 >= argc)
                return usageError((option + " needs an argument").c_str());
            (option == "--state" ? state.stateDir : state.machineFile) = argv[++i];
            state.machineGiven |= option == "--machine";
        } else {
            return usageError(("unknown option " + option).c_str());
        }
    }
    if (i >= argc)
        return usageError("no command given");
    std::string command = argv[i++];
    if (command != "run" && command != "reboot" && command != "regedit" && command != "lspci" &&
        command != "probe")
        return usageError(("unknown command " + command).c_str());

    std::string error;
    if (!cli::openState(state, &error)) {
        fprintf(stderr, "tavrolin-sim: %s\n", error.c_str());
        return 1;
    }

    if (command == "regedit") {
        fputs(sim::registry().toText().c_str(), stdout);
        return 0;
    }
    if (command == "lspci") {
        fputs(sim::machine().lspciText().c_str(), stdout);
        return 0;
    }
    if (command == "probe") {
        bool json = i < argc && strcmp(argv[i], "--json") == 0;
        int extra = i + (json ? 1 : 0);
        if (extra < argc)
            return usageError(("probe takes only --json, not " + std::string(argv[extra])).c_str());
        int status = cli::probe(json);
        return cli::saveState(&error) ? status : 1;
    }
    if (command == "reboot")
        return cli::rebootAndLogOn();

    cli::RunOptions run;
    run.safeMode = safeMode;
    if (i < argc && strcmp(argv[i], "--script") == 0) {
        if (i + 1 >= argc)
            return usageError("--script needs a file");
        run.script = argv[i + 1];
        i += 2;
    }
    for (; i < argc; ++i)
        run.args.push_back(argv[i]);
    return cli::runProgram(run);
}
