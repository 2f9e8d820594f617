// comctl32 of the simulated PC.
#include "sim/process.h"

void WINAPI InitCommonControls(void) {
    sim::process().noteCommonControlsInitialized();
}
