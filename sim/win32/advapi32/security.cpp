// GetFileSecurityA of the simulated PC: the owners and access lists of sim/file_security.h.
#include <cstring>

#include "sim/file_security.h"
#include "sim/machine.h"
#include "sim/process.h"
#include "sim_win32.h"

BOOL WINAPI GetFileSecurityA(LPCSTR fileName, DWORD requested, LPVOID descriptor, DWORD size,
                             LPDWORD needed) {
    std::string full = fileName ? sim::drive().fullPath(fileName) : std::string();
    DWORD error = ERROR_SUCCESS;
    if (!sim::machine().isNt())
        error = ERROR_CALL_NOT_IMPLEMENTED;
    else if (needed == nullptr)
        error = ERROR_INVALID_PARAMETER;
    else if (full.empty())
        error = ERROR_PATH_NOT_FOUND;
    else if (!sim::drive().fileExists(full) && !sim::drive().directoryExists(full))
        error = ERROR_FILE_NOT_FOUND;
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    sim::FileSecurity security = sim::fileSecurity(full);
    if (!(requested & OWNER_SECURITY_INFORMATION))
        security.owner.clear();
    std::vector<uint8_t> bytes =
        sim::selfRelativeDescriptor(security, (requested & DACL_SECURITY_INFORMATION) != 0);
    *needed = DWORD(bytes.size());
    if (descriptor == nullptr || size < bytes.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(descriptor, bytes.data(), bytes.size());
    return TRUE;
}
