// The kernel driver's service on NT: installed and started at every run, removed at its end.
#include <string.h>

#include "agpcfg/agpcfg.h"

static const char serviceName[] = "TAVROL";
static const char driverFileName[] = "\\TAVROL"
                                     ".sys";

// The driver path, terminator included, lives in a buffer of this size.
enum : DWORD { DRIVER_PATH_SIZE = 128 };

enum : int {
    INSTALL_READY = 0,
    INSTALL_MANAGER_ACCESS_DENIED = 1,
    INSTALL_MANAGER_NO_DATABASE = 2,
    INSTALL_MANAGER_INVALID_PARAMETER = 3,
    INSTALL_CREATE_FAILED = 4,
    INSTALL_OPEN_ACCESS_DENIED = 5,
    INSTALL_OPEN_INVALID_HANDLE = 6,
    INSTALL_OPEN_INVALID_NAME = 7,
    INSTALL_OPEN_NO_SERVICE = 8,
    INSTALL_OPEN_OTHER = 9,
    INSTALL_START_FAILED = 10,
};

// The executable's directory is the current directory, so the driver file lies beside it. A
// directory too long for the buffer cannot name the driver; it fails like a service creation.
static int buildDriverPath(char* path) {
    DWORD length = GetCurrentDirectoryA(DRIVER_PATH_SIZE, path);
    if (length == 0 || length + sizeof driverFileName > DRIVER_PATH_SIZE)
        return 0;
    memcpy(path + length, driverFileName, sizeof driverFileName);
    return 1;
}

static SC_HANDLE openManager() {
    return OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
}

static int managerFailure(DWORD error) {
    switch (error) {
    case ERROR_ACCESS_DENIED:
        return INSTALL_MANAGER_ACCESS_DENIED;
    case ERROR_DATABASE_DOES_NOT_EXIST:
        return INSTALL_MANAGER_NO_DATABASE;
    case ERROR_INVALID_PARAMETER:
        return INSTALL_MANAGER_INVALID_PARAMETER;
    default:
        return INSTALL_CREATE_FAILED;
    }
}

// A service left by an earlier run is taken over as it is, its path included.
static int createDriverService(SC_HANDLE manager, const char* path) {
    SC_HANDLE service = CreateServiceA(manager, serviceName, serviceName, SERVICE_ALL_ACCESS,
                                       SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                                       SERVICE_ERROR_NORMAL, path, NULL, NULL, NULL, NULL, NULL);
    if (service == NULL)
        return GetLastError() == ERROR_SERVICE_EXISTS;
    CloseServiceHandle(service);
    return 1;
}

static int openServiceFailure(DWORD error) {
    switch (error) {
    case ERROR_ACCESS_DENIED:
        return INSTALL_OPEN_ACCESS_DENIED;
    case ERROR_INVALID_HANDLE:
        return INSTALL_OPEN_INVALID_HANDLE;
    case ERROR_INVALID_NAME:
        return INSTALL_OPEN_INVALID_NAME;
    case ERROR_SERVICE_DOES_NOT_EXIST:
        return INSTALL_OPEN_NO_SERVICE;
    default:
        return INSTALL_OPEN_OTHER;
    }
}

// A driver still running from an earlier run is as good as one started now.
static int startDriverService(SC_HANDLE manager) {
    SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_ALL_ACCESS);
    if (service == NULL)
        return openServiceFailure(GetLastError());
    int result = INSTALL_READY;
    if (!StartServiceA(service, 0, NULL) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
        result = INSTALL_START_FAILED;
    CloseServiceHandle(service);
    return result;
}

int installDriver() {
    char path[DRIVER_PATH_SIZE];
    if (!buildDriverPath(path))
        return INSTALL_CREATE_FAILED;
    SC_HANDLE manager = openManager();
    if (manager == NULL)
        return managerFailure(GetLastError());
    int result = INSTALL_CREATE_FAILED;
    if (createDriverService(manager, path))
        result = startDriverService(manager);
    CloseServiceHandle(manager);
    return result;
}

static void stopDriverService(SC_HANDLE manager) {
    SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_ALL_ACCESS);
    if (service == NULL)
        return;
    SERVICE_STATUS status;
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    CloseServiceHandle(service);
}

// Deletion is requested right after the stop: the service manager removes the service once it
// has stopped and its last handle is closed.
static void deleteDriverService(SC_HANDLE manager) {
    SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_ALL_ACCESS);
    if (service == NULL)
        return;
    DeleteService(service);
    CloseServiceHandle(service);
}

// Nothing is reported: with no manager the service steps fail on their own.
void removeDriver() {
    SC_HANDLE manager = openManager();
    stopDriverService(manager);
    deleteDriverService(manager);
    if (manager != NULL)
        CloseServiceHandle(manager);
}
