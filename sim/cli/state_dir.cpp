// Loading and saving the virtual PC of a state directory.
#include "state_dir.h"

#include <cstdlib>
#include <filesystem>

#include "sim/file_lock.h"
#include "sim/boot.h"
#include "sim/machine.h"
#include "sim/pe_module.h"
#include "sim/process.h"
#include "sim/registry.h"
#include "sim/shell.h"

namespace fs = std::filesystem;

namespace cli {
namespace {

const char kProfileFile[] = "profile.lspci";   // what the PC was built from
const char kHardwareFile[] = "hardware.lspci"; // the registers as they are now

std::string stateDir;
std::string savedHardware;

std::string pathIn(const char* name) {
    return (fs::path(stateDir) / name).string();
}

// The state directory's lock is held while files are read or written: two runs of the program
// may share one virtual PC (a second instance, a log-on run beside the dialog).
std::string lockPath() {
    return pathIn(".lock");
}

bool loadProfileText(const std::string& path, sim::Profile* profile, std::string* error) {
    return sim::loadProfileFile(path, profile, error);
}

// The registry, the shell's objects and the service manager are shared live by the processes
// of one virtual PC; the hardware is written back when a run ends.
bool attachSharedState(std::string* error) {
    return sim::registry().attach(stateDir, error) && sim::shell().attach(stateDir, error) &&
           sim::machine().services().attach(stateDir, error);
}

void rememberSaved() {
    savedHardware = sim::machine().hardwareText();
}

bool createState(const StateOptions& options, std::string* error) {
    std::string source = options.machineFile.empty()
                             ? (fs::path(sim::machinesDir()) / "default.lspci").string()
                             : options.machineFile;
    sim::Profile profile;
    if (!loadProfileText(source, &profile, error))
        return false;
    std::string profileText;
    if (!sim::readStateFile(source, &profileText)) {
        *error = "cannot read " + source;
        return false;
    }
    std::error_code failed;
    fs::create_directories(stateDir, failed);
    if (failed) {
        *error = "cannot create " + stateDir + ": " + failed.message();
        return false;
    }
    if (!sim::writeStateFileAtomically(pathIn(kProfileFile), profileText)) {
        *error = "cannot write " + pathIn(kProfileFile);
        return false;
    }
    sim::boot(profile, stateDir, true);
    // The executable itself runs natively; the file on the drive stands for it, so that Windows'
    // way of resolving a command line finds it.
    sim::drive().writeFile(sim::kProgramPath, "Tavrol.exe of the simulated PC\n");
    if (!sim::installResourceLibrary()) {
        *error = "cannot install Tavrol.tvx on the virtual PC (build the tavrol_tvx target)";
        return false;
    }
    if (!sim::writeStateFileAtomically(pathIn(kHardwareFile), sim::machine().hardwareText())) {
        *error = "cannot write " + pathIn(kHardwareFile);
        return false;
    }
    return true;
}

bool sameFileContents(const std::string& a, const std::string& b) {
    std::string first, second;
    return sim::readStateFile(a, &first) && sim::readStateFile(b, &second) && first == second;
}

} // namespace

std::string defaultStateDir() {
    const char* home = getenv("HOME");
    return (fs::path(home && *home ? home : ".") / ".tavrolin-sim").string();
}

bool openState(const StateOptions& options, std::string* error) {
    stateDir = options.stateDir;
    bool exists = fs::exists(pathIn(kHardwareFile));
    if (exists && options.machineGiven &&
        !sameFileContents(options.machineFile, pathIn(kProfileFile))) {
        *error = stateDir + " already holds a virtual PC built from another profile; remove the " +
                 "directory to build a new one from " + options.machineFile;
        return false;
    }
    if (!exists) {
        std::error_code ignored;
        fs::create_directories(stateDir, ignored);
    }
    sim::ScopedFileLock lock(lockPath());
    if (!exists) {
        if (!createState(options, error))
            return false;
    } else {
        sim::Profile current;
        if (!loadProfileText(pathIn(kHardwareFile), &current, error))
            return false;
        sim::boot(current, stateDir, false);
    }
    if (!attachSharedState(error))
        return false;
    rememberSaved();
    return true;
}

bool saveState(std::string* error) {
    std::string hardware = sim::machine().hardwareText();
    if (hardware == savedHardware)
        return true;
    sim::ScopedFileLock lock(lockPath());
    if (!sim::writeStateFileAtomically(pathIn(kHardwareFile), hardware)) {
        *error = "cannot write the state of the virtual PC to " + stateDir;
        return false;
    }
    savedHardware = hardware;
    return true;
}

bool powerCycle(std::string* error) {
    sim::Profile original;
    if (!loadProfileText(pathIn(kProfileFile), &original, error))
        return false;
    // What the link went through stays on record across a restart.
    std::vector<std::string> linkFaults = sim::machine().linkFaults();
    sim::boot(original, stateDir, false);
    for (const std::string& fault : linkFaults)
        sim::machine().addLinkFault(fault);
    if (!attachSharedState(error))
        return false;
    // Drivers do not survive a restart: what was running is stopped, and a service marked for
    // deletion is gone for good.
    sim::machine().services().powerCycle();
    savedHardware.clear(); // the registers changed back: write them
    return saveState(error);
}

} // namespace cli
