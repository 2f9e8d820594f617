// The driver's shared objects. Any program may create a named object first, so each is created
// with a descriptor that leaves it to SYSTEM and Administrators, and one that exists already is
// used only when its owner is one of them. From Vista on the objects live in a private namespace
// bound to the Administrators SID, where no other account can make them at all; Windows before
// Vista, and Wine, lack those functions, and the objects keep their global names there.
#include "agpcfg/driver_objects.h"

#include <string.h>

#include "agpcfg/agpcfg.h"
#include "agpcfg/object_security.h"

namespace {

const char kGlobalPrefix[] = "Global\\";

enum : DWORD {
    // How long a run waits for another to finish installing or removing the driver.
    LOCK_WAIT_MS = 30000,
    SECURITY_BUFFER_SIZE = 512,
};

typedef BOOL(WINAPI* GetKernelObjectSecurityFunction)(HANDLE, DWORD, LPVOID, DWORD, LPDWORD);
typedef HANDLE(WINAPI* CreateBoundaryDescriptorFunction)(const WCHAR*, ULONG);
typedef BOOL(WINAPI* AddSidToBoundaryDescriptorFunction)(HANDLE*, LPVOID);
typedef HANDLE(WINAPI* CreatePrivateNamespaceFunction)(LPSECURITY_ATTRIBUTES, LPVOID, const WCHAR*);
typedef HANDLE(WINAPI* OpenPrivateNamespaceFunction)(LPVOID, const WCHAR*);
typedef BOOLEAN(WINAPI* ClosePrivateNamespaceFunction)(HANDLE, ULONG);

// This run's private namespace, opened with the first object; null when it has none.
HANDLE driverNamespace = NULL;
bool namespaceTried = false;

DWORD windowsMajorVersion() {
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) ? version.dwMajorVersion : 0;
}

// The namespace of a boundary that holds the Administrators SID: only a process whose token
// holds that group may create or open it. Another run of ours may have created it already.
HANDLE openPrivateNamespace() {
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    CreateBoundaryDescriptorFunction createBoundary =
        lookUpProc<CreateBoundaryDescriptorFunction>(kernel32, "CreateBoundaryDescriptorW");
    AddSidToBoundaryDescriptorFunction addSid =
        lookUpProc<AddSidToBoundaryDescriptorFunction>(kernel32, "AddSIDToBoundaryDescriptor");
    CreatePrivateNamespaceFunction createNamespace =
        lookUpProc<CreatePrivateNamespaceFunction>(kernel32, "CreatePrivateNamespaceW");
    OpenPrivateNamespaceFunction openNamespace =
        lookUpProc<OpenPrivateNamespaceFunction>(kernel32, "OpenPrivateNamespaceW");
    typedef void(WINAPI * DeleteBoundaryDescriptorFunction)(HANDLE);
    DeleteBoundaryDescriptorFunction deleteBoundary =
        lookUpProc<DeleteBoundaryDescriptorFunction>(kernel32, "DeleteBoundaryDescriptor");
    if (!createBoundary || !addSid || !createNamespace || !openNamespace || !deleteBoundary)
        return NULL;
    WCHAR alias[sizeof DRIVER_NAMESPACE_ALIAS];
    if (MultiByteToWideChar(CP_ACP, 0, DRIVER_NAMESPACE_ALIAS, -1, alias,
                            sizeof DRIVER_NAMESPACE_ALIAS) == 0)
        return NULL;
    HANDLE boundary = createBoundary(alias, 0);
    if (boundary == NULL)
        return NULL;
    BYTE administrators[sizeof ADMINISTRATORS_SID];
    memcpy(administrators, ADMINISTRATORS_SID, sizeof administrators);
    HANDLE opened = NULL;
    if (addSid(&boundary, administrators)) {
        BYTE descriptor[ADMIN_ONLY_DESCRIPTOR_SIZE];
        buildAdminOnlyDescriptor(descriptor);
        SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
        opened = createNamespace(&attributes, boundary, alias);
        if (opened == NULL && GetLastError() == ERROR_ALREADY_EXISTS)
            opened = openNamespace(boundary, alias);
    }
    deleteBoundary(boundary);
    return opened;
}

// The object's full name: in the private namespace when there is one, else global from
// Windows 2000 on.
void objectName(const char* name, char (&out)[DRIVER_OBJECT_NAME_SIZE]) {
    DWORD major = windowsMajorVersion();
    if (!namespaceTried && major >= 6) {
        namespaceTried = true;
        driverNamespace = openPrivateNamespace();
    }
    if (driverNamespace != NULL) {
        strcpy(out, DRIVER_NAMESPACE_ALIAS "\\");
        strcat(out, name);
        return;
    }
    driverObjectName(name, major, out);
}

// Whether the object's owner is SYSTEM or Administrators. An owner that cannot be read is
// nobody's we trust.
bool ownedByAdministration(HANDLE object) {
    GetKernelObjectSecurityFunction getSecurity = lookUpProc<GetKernelObjectSecurityFunction>(
        GetModuleHandleA("advapi32.dll"), "GetKernelObjectSecurity");
    BYTE descriptor[SECURITY_BUFFER_SIZE];
    DWORD needed = 0;
    return getSecurity &&
           getSecurity(object, OWNER_INFORMATION, descriptor, sizeof descriptor, &needed) &&
           ownedByAdministrators(descriptor, sizeof descriptor);
}

} // namespace

void driverObjectName(const char* name, DWORD majorVersion, char out[DRIVER_OBJECT_NAME_SIZE]) {
    // From Windows 2000 on, "Global\" puts the object where every session sees it, so that a
    // run in another user's session counts too; NT 4.0 refuses a backslash in an object name.
    out[0] = '\0';
    if (majorVersion >= 5)
        strcpy(out, kGlobalPrefix);
    strcat(out, name);
}

HANDLE openDriverObject(const char* name, bool* existed) {
    *existed = false;
    char fullName[DRIVER_OBJECT_NAME_SIZE];
    objectName(name, fullName);
    BYTE descriptor[ADMIN_ONLY_DESCRIPTOR_SIZE];
    buildAdminOnlyDescriptor(descriptor);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    HANDLE object = CreateMutexA(&attributes, FALSE, fullName);
    if (object == NULL)
        return NULL;
    *existed = GetLastError() == ERROR_ALREADY_EXISTS;
    if (*existed && !ownedByAdministration(object)) {
        CloseHandle(object);
        SetLastError(ERROR_ACCESS_DENIED);
        return NULL;
    }
    return object;
}

// A lock whose holder died is ours too: the steps under it undo whatever such a run left half
// done.
HANDLE takeDriverLock() {
    bool existed = false;
    HANDLE lock = openDriverObject(DRIVER_LOCK_NAME, &existed);
    if (lock == NULL)
        return NULL;
    DWORD waited = WaitForSingleObject(lock, LOCK_WAIT_MS);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        CloseHandle(lock);
        return NULL;
    }
    return lock;
}

void releaseDriverLock(HANDLE lock) {
    ReleaseMutex(lock);
    CloseHandle(lock);
}

bool otherRunUsesDriver() {
    bool existed = false;
    HANDLE probe = openDriverObject(DRIVER_USERS_NAME, &existed);
    if (probe == NULL)
        return true;
    CloseHandle(probe);
    return existed;
}

void closeDriverNamespace() {
    if (driverNamespace == NULL)
        return;
    ClosePrivateNamespaceFunction closeNamespace = lookUpProc<ClosePrivateNamespaceFunction>(
        GetModuleHandleA("kernel32.dll"), "ClosePrivateNamespace");
    if (closeNamespace)
        closeNamespace(driverNamespace, 0);
    driverNamespace = NULL;
    namespaceTried = false;
}
