// The Windows system DLLs whose functions the program looks up at run time: kernel32 (always
// loaded), ole32, oleaut32, comctl32 and comdlg32. They are not files on the virtual drive; their
// exports are the simulated PC's own functions.
#pragma once

#include <string>

#include "sim_win32.h"

namespace sim {

// The handle of a system DLL that LoadLibraryA loads, counted; null for any other name, and
// null with the last error set when `#! task-fail LoadLibrary` refuses ole32 or oleaut32.
HMODULE loadSystemDll(const std::string& name, bool* isSystem);
// GetModuleHandleA of a system DLL: kernel32 always, the others while loaded.
HMODULE systemDllHandle(const std::string& name);
// FreeLibrary of a system DLL; false when the handle is not one.
bool freeSystemDll(HMODULE module);

} // namespace sim
