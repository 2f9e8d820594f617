// The virtual PC kept in a state directory, so runs of tavrolin-sim follow each other like runs
// on a real machine: the profile it was built from, its current hardware, its services, its
// registry and its C: drive.
#pragma once

#include <string>

namespace cli {

struct StateOptions {
    std::string stateDir;    // where the virtual PC lives
    std::string machineFile; // profile for a new virtual PC; "" means the default profile
    bool machineGiven = false;
};

// Boots the virtual PC of the state directory, creating it from the profile when it does not
// exist yet. On failure returns false with a message for the user.
bool openState(const StateOptions& options, std::string* error);

// Writes the hardware back, when it changed since openState or the last save. The registry, the
// services and the shell's objects need no saving: every change to them is written at once.
bool saveState(std::string* error);

// Power cycle: the hardware goes back to the profile's values, running drivers stop and services
// marked for deletion are gone. The registry and the files stay.
bool powerCycle(std::string* error);

std::string defaultStateDir();

} // namespace cli
