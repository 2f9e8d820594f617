// The kernel driver's service on NT. The driver file beside the program must be the driver the
// program was built with; its bytes, once checked, are written into the system's driver folder
// (which only administrators may write), and the service runs from that copy for the length of
// the run. Runs of ours that overlap share the service: the last one to end removes it.
#include <new>
#include <string.h>

#include "agpcfg/agpcfg.h"
#include "agpcfg/driver_digest.h"
#include "agpcfg/driver_objects.h"

static const char serviceName[] = DRIVER_SERVICE_NAME;
static const char driverFileName[] = "\\" DRIVER_FILE_NAME;
static const char systemDriverFolder[] = "\\drivers";

enum : DWORD {
    // The driver path, terminator included, lives in a buffer of this size.
    DRIVER_PATH_SIZE = 128,
    // TAVROL.sys is a few KiB; anything this large is not it.
    LARGEST_DRIVER = 1u << 20,
    // How long a deleted service may take to go before its name can be used again.
    DELETION_WAIT_MS = 3000,
    DELETION_POLL_MS = 100,
};

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
    // Also the driver file that is missing, unreadable or not ours: the error a missing driver
    // file has always given.
    INSTALL_START_FAILED = 10,
};

// This run's share of the driver, from installDriver to removeDriver; null when it has none.
static HANDLE driverUse = NULL;
// The session with the service manager that installed the driver, kept with the share for the
// removal: a second connection would cost the log-on run as much again as the first.
static SC_HANDLE driverManager = NULL;
// What installDriver was given to begin while the driver starts; each call sets it anew.
static DriverStartCompanion startCompanion = NULL;
static void* startCompanionContext = NULL;

// The executable's directory is the current directory, so the driver file lies beside it. A
// directory too long for the buffer cannot name the driver; it fails like a service creation.
static int buildDriverPath(char* path) {
    DWORD length = GetCurrentDirectoryA(DRIVER_PATH_SIZE, path);
    if (length == 0 || length + sizeof driverFileName > DRIVER_PATH_SIZE)
        return 0;
    memcpy(path + length, driverFileName, sizeof driverFileName);
    return 1;
}

// %SystemRoot%\System32\drivers\TAVROL.sys, in MAX_PATH bytes.
static int buildCopyPath(char* path) {
    DWORD length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 ||
        length + sizeof systemDriverFolder - 1 + sizeof driverFileName > (DWORD)MAX_PATH)
        return 0;
    memcpy(path + length, systemDriverFolder, sizeof systemDriverFolder - 1);
    memcpy(path + length + sizeof systemDriverFolder - 1, driverFileName, sizeof driverFileName);
    return 1;
}

// A driver image read into memory: what is checked is exactly what gets written.
struct DriverImage {
    BYTE* bytes;
    DWORD size;
};

static void freeImage(DriverImage* image) {
    delete[] image->bytes;
    image->bytes = NULL;
    image->size = 0;
}

static bool readImage(const char* path, DriverImage* image) {
    image->bytes = NULL;
    image->size = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD size = GetFileSize(file, NULL);
    DWORD read = 0;
    bool good = size != INVALID_FILE_SIZE && size > 0 && size <= LARGEST_DRIVER &&
                (image->bytes = new (std::nothrow) BYTE[size]) != NULL &&
                ReadFile(file, image->bytes, size, &read, NULL) && read == size;
    CloseHandle(file);
    if (!good) {
        freeImage(image);
        return false;
    }
    image->size = size;
    return true;
}

// Reads the file and keeps it only when it is one of the drivers this program was built with.
static bool readAcceptedDriver(const char* path, DriverImage* image) {
    if (!readImage(path, image))
        return false;
    if (isAcceptedDriver(image->bytes, image->size))
        return true;
    freeImage(image);
    return false;
}

static bool writeImage(const char* path, const DriverImage& image) {
    HANDLE file =
        CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool good = WriteFile(file, image.bytes, image.size, &written, NULL) && written == image.size;
    return CloseHandle(file) && good;
}

typedef BOOL(WINAPI* MoveFileExFunction)(LPCSTR, LPCSTR, DWORD);

// The copy is written under a name of its own in the driver folder and then renamed over the
// old one: an old copy that somebody holds open (for reading, sharing delete) cannot stop the
// new one, and a copy cut short never lies where the service would load it.
static bool writeCopy(const char* copy, const DriverImage& image) {
    char folder[MAX_PATH];
    size_t folderLength = (size_t)(strrchr(copy, '\\') - copy);
    memcpy(folder, copy, folderLength);
    folder[folderLength] = '\0';
    MoveFileExFunction moveFile =
        lookUpProc<MoveFileExFunction>(GetModuleHandleA("kernel32.dll"), "MoveFileExA");
    char temporary[MAX_PATH];
    if (moveFile == NULL || GetTempFileNameA(folder, "TVR", 0, temporary) == 0)
        return false;
    if (writeImage(temporary, image) &&
        moveFile(temporary, copy, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileA(temporary);
    return false;
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

// A deleted service goes once it has stopped and every handle to it is closed; a driver that
// unloads slowly keeps it a little while. One that cannot be opened is not waited for.
static void waitUntilServiceGone(SC_HANDLE manager) {
    for (DWORD waited = 0; waited < DELETION_WAIT_MS; waited += DELETION_POLL_MS) {
        SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_ALL_ACCESS);
        if (service == NULL)
            return;
        CloseServiceHandle(service);
        Sleep(DELETION_POLL_MS);
    }
}

// A service that exists stays as it is: the callers have removed any that is not from the copy.
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

// A driver already running for another run of ours is as good as one started now.
static int startDriverService(SC_HANDLE manager) {
    SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_ALL_ACCESS);
    if (service == NULL)
        return openServiceFailure(GetLastError());
    int result = INSTALL_READY;
    if (startCompanion != NULL) {
        startCompanion(startCompanionContext);
        startCompanion = NULL;
    }
    if (!StartServiceA(service, 0, NULL) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
        result = INSTALL_START_FAILED;
    CloseServiceHandle(service);
    return result;
}

// Stops and deletes a TAVROL service that no run of ours uses, and waits until it is gone.
static void removeLeftService(SC_HANDLE manager) {
    SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_ALL_ACCESS);
    if (service == NULL)
        return;
    SERVICE_STATUS status;
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    DeleteService(service);
    CloseServiceHandle(service);
    waitUntilServiceGone(manager);
}

// The first run to use the driver installs it afresh: whatever TAVROL service exists is what an
// earlier run left or something else put there, so it goes, and the copy is written anew.
static int installFresh(SC_HANDLE manager, const char* copy, const DriverImage& image) {
    removeLeftService(manager);
    if (!writeCopy(copy, image) || !createDriverService(manager, copy))
        return INSTALL_CREATE_FAILED;
    return startDriverService(manager);
}

typedef BOOL(WINAPI* QueryServiceConfigFunction)(SC_HANDLE, LPQUERY_SERVICE_CONFIGA, DWORD,
                                                 LPDWORD);

// Case-blind comparison of ASCII paths.
static bool samePath(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        char x = (*a >= 'a' && *a <= 'z') ? (char)(*a - 32) : *a;
        char y = (*b >= 'a' && *b <= 'z') ? (char)(*b - 32) : *b;
        if (x != y)
            return false;
    }
    return *a == *b;
}

// Whether the TAVROL service is the kernel driver of our copy: the path as we gave it, or in
// the "\??\" form Windows may store a driver's path in.
static bool serviceRunsOurCopy(SC_HANDLE service, const char* copy) {
    QueryServiceConfigFunction queryConfig = lookUpProc<QueryServiceConfigFunction>(
        GetModuleHandleA("advapi32.dll"), "QueryServiceConfigA");
    // The largest configuration Windows keeps is 8 KiB; DWORDs keep the record aligned.
    DWORD buffer[2048];
    LPQUERY_SERVICE_CONFIGA config = (LPQUERY_SERVICE_CONFIGA)buffer;
    DWORD needed = 0;
    if (queryConfig == NULL || !queryConfig(service, config, sizeof buffer, &needed))
        return false;
    const char* path = config->lpBinaryPathName;
    if (config->dwServiceType != SERVICE_KERNEL_DRIVER || path == NULL)
        return false;
    if (strncmp(path, "\\?\?\\", 4) == 0)
        path += 4;
    return samePath(path, copy);
}

// Another run of ours installed the driver and still uses it: its copy must be one we accept
// too (another version's driver may not be replaced under a run that uses it), and a TAVROL
// service there must be that copy's kernel driver. Anything else is refused, untouched.
static int joinRunningDriver(SC_HANDLE manager, const char* copy) {
    DriverImage running;
    if (!readAcceptedDriver(copy, &running))
        return INSTALL_START_FAILED;
    freeImage(&running);
    SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_QUERY_CONFIG);
    if (service != NULL) {
        bool ours = serviceRunsOurCopy(service, copy);
        CloseServiceHandle(service);
        if (!ours)
            return INSTALL_START_FAILED;
    } else if (!createDriverService(manager, copy)) {
        return INSTALL_CREATE_FAILED;
    }
    return startDriverService(manager);
}

int installDriver(DriverStartCompanion companion, void* context) {
    // A run installs once; one that starts over gives up the share it had.
    if (driverUse != NULL) {
        CloseHandle(driverUse);
        driverUse = NULL;
        CloseServiceHandle(driverManager);
        driverManager = NULL;
    }
    char source[DRIVER_PATH_SIZE];
    char copy[MAX_PATH];
    if (!buildDriverPath(source) || !buildCopyPath(copy))
        return INSTALL_CREATE_FAILED;
    DriverImage image;
    if (!readAcceptedDriver(source, &image))
        return INSTALL_START_FAILED;

    int result = INSTALL_CREATE_FAILED;
    startCompanion = companion;
    startCompanionContext = context;
    HANDLE lock = takeDriverLock();
    if (lock != NULL) {
        SC_HANDLE manager = openManager();
        if (manager == NULL) {
            result = managerFailure(GetLastError());
        } else {
            bool shared = false;
            driverUse = openDriverObject(DRIVER_USERS_NAME, &shared);
            if (driverUse != NULL) {
                result =
                    shared ? joinRunningDriver(manager, copy) : installFresh(manager, copy, image);
                driverManager = manager;
            } else {
                CloseServiceHandle(manager);
            }
        }
        releaseDriverLock(lock);
    }
    freeImage(&image);
    startCompanion = NULL;
    return result;
}

// Nothing is reported. A run that never got its share of the driver removes nothing, and one
// that cannot have the lock leaves the driver rather than pull it from under another run.
void removeDriver() {
    if (driverUse == NULL) {
        closeDriverNamespace();
        return;
    }
    HANDLE lock = takeDriverLock();
    CloseHandle(driverUse);
    driverUse = NULL;
    SC_HANDLE manager = driverManager;
    driverManager = NULL;
    if (lock != NULL) {
        if (!otherRunUsesDriver()) {
            stopDriverService(manager);
            deleteDriverService(manager);
            char copy[MAX_PATH];
            if (buildCopyPath(copy))
                DeleteFileA(copy);
        }
        releaseDriverLock(lock);
    }
    CloseServiceHandle(manager);
    closeDriverNamespace();
}
