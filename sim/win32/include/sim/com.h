// COM of the simulated PC: the bookkeeping of ole32, oleaut32 and the Task Scheduler's objects,
// and the faults a profile injects into them.
//
// Profile directive `#! task-fail STEP HRESULT` makes one step fail with that result: LoadLibrary
// (of ole32.dll or oleaut32.dll; the HRESULT's low word is the Windows error), CoInitializeEx,
// CoCreateInstance, Connect, GetFolder, NewTask, TriggerCreate, ActionCreate,
// RegisterTaskDefinition, DeleteTask. `TriggerCreate 0x80004001` is Wine's answer for log-on
// triggers.
#pragma once

#include <string>
#include <vector>

#include "sim_win32.h"

namespace sim {

// COM bookkeeping, so tests can see that the program gives back what it took.
struct ComState {
    int initializations = 0;        // CoInitializeEx calls not yet undone by CoUninitialize
    int liveObjects = 0;            // COM objects of the simulated PC not yet released
    int liveStrings = 0;            // BSTRs not yet freed
    int loadedSystemDlls = 0;       // LoadLibraryA of ole32/oleaut32 not yet freed
    std::vector<std::string> calls; // "CoCreateInstance", "Connect", "RegisterTaskDefinition", ...
};
const ComState& comState();

// The HRESULT `#! task-fail` gives a step, or S_OK.
HRESULT taskFault(const char* step);
// Used by the sim's COM objects and kernel32.
ComState& mutableComState();

} // namespace sim
