// Internals of the simulated PC's kernel32 shared by its files.
#pragma once

#include <string>

#include "sim_win32.h"

namespace sim {

// CreateFileA of a file on the C: drive: the handle, or INVALID_HANDLE_VALUE with the error.
// On success *error is ERROR_ALREADY_EXISTS when OPEN_ALWAYS or CREATE_ALWAYS found the file,
// else ERROR_SUCCESS; CreateFileA leaves it as the last error.
HANDLE openDiskFile(const std::string& name, DWORD access, DWORD disposition, DWORD* error);

} // namespace sim
