// The floor of the start-up benchmark: the least any program must do at log-on to reach a kernel
// driver it carries, as our log-on run does. It copies nothing.sys from its own folder into the
// system's driver folder, and creates, starts, stops and deletes the service TAVROL over that
// copy in one session of the service manager; then it deletes the copy. The exit status names
// the first step that failed, 0 when none did.
#include <windows.h>

namespace {

const char kService[] = "TAVROL";

// Puts `name` in place of the file name at the end of `path` (MAX_PATH bytes).
bool replaceFileName(char* path, const char* name) {
    char* end = path;
    for (char* at = path; *at; ++at)
        if (*at == '\\')
            end = at + 1;
    if (end - path + lstrlenA(name) >= MAX_PATH)
        return false;
    lstrcpyA(end, name);
    return true;
}

int runFloor() {
    char source[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, source, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !replaceFileName(source, "nothing.sys"))
        return 1;
    char copy[MAX_PATH];
    length = GetSystemDirectoryA(copy, MAX_PATH - 24);
    if (length == 0 || length >= MAX_PATH - 24)
        return 1;
    lstrcatA(copy, "\\drivers\\TAVROL.sys");

    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return 2;
    int failed = 0;
    if (!CopyFileA(source, copy, FALSE)) {
        failed = 3;
    } else {
        SC_HANDLE service =
            CreateServiceA(manager, kService, kService, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                           SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, copy, nullptr, nullptr,
                           nullptr, nullptr, nullptr);
        if (!service) {
            failed = 4;
        } else {
            SERVICE_STATUS status;
            if (!StartServiceA(service, 0, nullptr))
                failed = 5;
            else if (!ControlService(service, SERVICE_CONTROL_STOP, &status))
                failed = 6;
            if (!DeleteService(service) && !failed)
                failed = 7;
            CloseServiceHandle(service);
        }
        if (!DeleteFileA(copy) && !failed)
            failed = 8;
    }
    CloseServiceHandle(manager);
    return failed;
}

} // namespace

extern "C" int benchStart() {
    return runFloor();
}
