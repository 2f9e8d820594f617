// comctl32 of the simulated PC: the library's initialisation, which the program calls once so
// that Windows loads the common controls its manifest names before any dialog is made.
#pragma once

#include "sim_types.h"

void WINAPI InitCommonControls(void);
