// comctl32 of the simulated PC: the library's initialisation, which the program looks up at run
// time and calls before its first dialog or message box, so that Windows loads the common
// controls its manifest names.
#pragma once

#include "sim_types.h"

void WINAPI InitCommonControls(void);
