// The service control manager of the simulated PC (NT only): the advapi32 functions over the
// machine's service database, with the states and error codes of Windows, enough to install,
// start, stop and delete a kernel driver.
#include <strings.h>

#include <cstring>

#include <string>

#include "sim/machine.h"
#include "sim/process.h"

namespace {

// Service, display and database names compare without regard to case, as on Windows.
bool sameName(const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

sim::ServiceManager& manager() {
    return sim::machine().services();
}

// Records the call and sets the last error when it failed.
void trace(const char* function, const std::string& name, DWORD error) {
    sim::TraceEntry entry;
    entry.kind = sim::TraceKind::ServiceCall;
    entry.name = function;
    entry.detail = name;
    entry.ok = error == ERROR_SUCCESS;
    entry.error = error;
    sim::machine().record(entry);
    if (error != ERROR_SUCCESS)
        sim::process().setLastError(error);
}

// Fault injection and the absence of a service manager on Windows 9x.
bool failsByProfile(const char* function, DWORD* error) {
    if (!sim::machine().isNt()) {
        *error = ERROR_CALL_NOT_IMPLEMENTED;
        return true;
    }
    for (const sim::Directive* d : sim::machine().profile().findAll("scm-fail")) {
        uint32_t value;
        if (d->args[0] == function && sim::parseDirectiveNumber(d->args[1], &value)) {
            *error = value;
            return true;
        }
    }
    return false;
}

bool validServiceName(LPCSTR name) {
    if (name == nullptr || *name == '\0')
        return false;
    std::string text = name;
    return text.size() <= 256 && text.find_first_of("/\\") == std::string::npos;
}

sim::ServiceManager::Handle* serviceHandle(SC_HANDLE handle) {
    sim::ServiceManager::Handle* h = manager().handle(handle);
    return h && !h->isManager ? h : nullptr;
}

bool managerHandle(SC_HANDLE handle) {
    sim::ServiceManager::Handle* h = manager().handle(handle);
    return h && h->isManager;
}

} // namespace

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD desiredAccess) {
    (void)desiredAccess;
    DWORD error = ERROR_SUCCESS;
    if (failsByProfile("OpenSCManagerA", &error))
        ;
    else if (machineName && *machineName)
        error = ERROR_INVALID_NAME; // only the local machine exists
    else if (databaseName && !sameName(databaseName, "ServicesActive"))
        error = ERROR_DATABASE_DOES_NOT_EXIST;
    trace("OpenSCManagerA", "", error);
    if (error != ERROR_SUCCESS)
        return nullptr;
    sim::ServiceManager::Handle h;
    h.isManager = true;
    return manager().openHandle(h);
}

SC_HANDLE WINAPI CreateServiceA(SC_HANDLE scManager, LPCSTR serviceName, LPCSTR displayName,
                                DWORD desiredAccess, DWORD serviceType, DWORD startType,
                                DWORD errorControl, LPCSTR binaryPathName, LPCSTR loadOrderGroup,
                                LPDWORD tagId, LPCSTR dependencies, LPCSTR serviceStartName,
                                LPCSTR password) {
    sim::ServiceManager::Sync sync(manager());
    (void)desiredAccess;
    (void)loadOrderGroup;
    (void)tagId;
    (void)dependencies;
    (void)serviceStartName;
    (void)password;
    std::string name = serviceName ? serviceName : "";
    std::string display = displayName && *displayName ? displayName : name;
    DWORD error = ERROR_SUCCESS;
    if (failsByProfile("CreateServiceA", &error))
        ;
    else if (!managerHandle(scManager))
        error = ERROR_INVALID_HANDLE;
    else if (!validServiceName(serviceName))
        error = ERROR_INVALID_NAME;
    else if (binaryPathName == nullptr || *binaryPathName == '\0' || startType > 4 ||
             errorControl > 3 || serviceType == 0)
        error = ERROR_INVALID_PARAMETER;
    else if (const sim::Service* existing = manager().find(name))
        error = existing->markedForDelete ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS;
    else
        for (const sim::Service& other : manager().services())
            if (sameName(other.displayName, display) || sameName(other.name, display))
                error = ERROR_DUPLICATE_SERVICE_NAME;
    trace("CreateServiceA", name, error);
    if (error != ERROR_SUCCESS)
        return nullptr;
    sim::Service service;
    service.name = name;
    service.displayName = display;
    service.type = serviceType;
    service.startType = startType;
    service.errorControl = errorControl;
    service.binaryPath = binaryPathName;
    manager().add(service);
    sim::ServiceManager::Handle h;
    h.serviceName = name;
    return manager().openHandle(h);
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE scManager, LPCSTR serviceName, DWORD desiredAccess) {
    sim::ServiceManager::Sync sync(manager());
    (void)desiredAccess;
    std::string name = serviceName ? serviceName : "";
    DWORD error = ERROR_SUCCESS;
    const sim::Service* service = nullptr;
    if (failsByProfile("OpenServiceA", &error))
        ;
    else if (!managerHandle(scManager))
        error = ERROR_INVALID_HANDLE;
    else if (!validServiceName(serviceName))
        error = ERROR_INVALID_NAME;
    else if ((service = manager().find(name)) == nullptr)
        error = ERROR_SERVICE_DOES_NOT_EXIST;
    trace("OpenServiceA", name, error);
    if (error != ERROR_SUCCESS)
        return nullptr;
    sim::ServiceManager::Handle h;
    h.serviceName = service->name;
    return manager().openHandle(h);
}

BOOL WINAPI StartServiceA(SC_HANDLE service, DWORD numServiceArgs, LPCSTR* serviceArgVectors) {
    sim::ServiceManager::Sync sync(manager());
    (void)numServiceArgs;
    (void)serviceArgVectors;
    sim::ServiceManager::Handle* h = serviceHandle(service);
    sim::Service* target = h ? manager().findMutable(h->serviceName) : nullptr;
    DWORD error = ERROR_SUCCESS;
    if (failsByProfile("StartServiceA", &error))
        ;
    else if (!target)
        error = ERROR_INVALID_HANDLE;
    else if (target->state == SERVICE_RUNNING)
        error = ERROR_SERVICE_ALREADY_RUNNING;
    else if (target->markedForDelete)
        error = ERROR_SERVICE_MARKED_FOR_DELETE;
    else if (target->startType == 4) // SERVICE_DISABLED
        error = ERROR_SERVICE_DISABLED;
    else if (!sim::drive().fileExists(target->binaryPath))
        error = ERROR_FILE_NOT_FOUND;
    trace("StartServiceA", target ? target->name : "", error);
    if (error != ERROR_SUCCESS)
        return FALSE;
    // The kernel loads whatever driver the path names; only ours serves our device.
    target->state = SERVICE_RUNNING;
    target->loadedTavrolDriver = sim::isBuiltDriver(target->binaryPath);
    return TRUE;
}

BOOL WINAPI ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS serviceStatus) {
    sim::ServiceManager::Sync sync(manager());
    sim::ServiceManager::Handle* h = serviceHandle(service);
    sim::Service* target = h ? manager().findMutable(h->serviceName) : nullptr;
    DWORD error = ERROR_SUCCESS;
    if (failsByProfile("ControlService", &error))
        ;
    else if (!target)
        error = ERROR_INVALID_HANDLE;
    else if (serviceStatus == nullptr)
        error = ERROR_INVALID_PARAMETER;
    else if (control != SERVICE_CONTROL_STOP)
        error = ERROR_INVALID_SERVICE_CONTROL; // a kernel driver accepts nothing but stop
    else if (target->state != SERVICE_RUNNING)
        error = ERROR_SERVICE_NOT_ACTIVE;
    std::string name = target ? target->name : "";
    trace("ControlService", name, error);
    if (error != ERROR_SUCCESS)
        return FALSE;
    target->state = SERVICE_STOPPED;
    target->loadedTavrolDriver = false;
    *serviceStatus = SERVICE_STATUS{target->type, SERVICE_STOPPED, 0, 0, 0, 0, 0};
    manager().collect(name);
    return TRUE;
}

BOOL WINAPI DeleteService(SC_HANDLE service) {
    sim::ServiceManager::Sync sync(manager());
    sim::ServiceManager::Handle* h = serviceHandle(service);
    sim::Service* target = h ? manager().findMutable(h->serviceName) : nullptr;
    DWORD error = ERROR_SUCCESS;
    if (failsByProfile("DeleteService", &error))
        ;
    else if (!target)
        error = ERROR_INVALID_HANDLE;
    else if (target->markedForDelete)
        error = ERROR_SERVICE_MARKED_FOR_DELETE;
    std::string name = target ? target->name : "";
    trace("DeleteService", name, error);
    if (error != ERROR_SUCCESS)
        return FALSE;
    // Windows only marks the service; it goes once it is stopped and its last handle is closed.
    target->markedForDelete = true;
    return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE object) {
    sim::ServiceManager::Sync sync(manager());
    sim::ServiceManager::Handle* h = manager().handle(object);
    std::string name = h ? h->serviceName : "";
    DWORD error = ERROR_SUCCESS;
    if (failsByProfile("CloseServiceHandle", &error))
        ;
    else if (!h)
        error = ERROR_INVALID_HANDLE;
    trace("CloseServiceHandle", name, error);
    if (error != ERROR_SUCCESS)
        return FALSE;
    manager().closeHandle(object);
    return TRUE;
}

BOOL WINAPI QueryServiceConfigA(SC_HANDLE service, LPQUERY_SERVICE_CONFIGA config, DWORD size,
                                LPDWORD needed) {
    sim::ServiceManager::Sync sync(manager());
    sim::ServiceManager::Handle* h = serviceHandle(service);
    const sim::Service* target = h ? manager().find(h->serviceName) : nullptr;
    DWORD error = ERROR_SUCCESS;
    // The record, then its strings: path, group, dependencies (two terminators), account, name.
    DWORD wanted = DWORD(sizeof(QUERY_SERVICE_CONFIGA));
    if (target)
        wanted += DWORD(target->binaryPath.size() + 1 + 1 + 2 + 1 + target->displayName.size() + 1);
    if (failsByProfile("QueryServiceConfigA", &error))
        ;
    else if (!target)
        error = ERROR_INVALID_HANDLE;
    else if (needed == nullptr)
        error = ERROR_INVALID_PARAMETER;
    else if (config == nullptr || size < wanted)
        error = ERROR_INSUFFICIENT_BUFFER;
    trace("QueryServiceConfigA", target ? target->name : "", error);
    if (needed)
        *needed = wanted;
    if (error != ERROR_SUCCESS)
        return FALSE;
    char* strings = reinterpret_cast<char*>(config + 1);
    auto put = [&](const std::string& text, size_t terminators) {
        char* at = strings;
        memcpy(at, text.c_str(), text.size());
        memset(at + text.size(), 0, terminators);
        strings += text.size() + terminators;
        return at;
    };
    config->dwServiceType = target->type;
    config->dwStartType = target->startType;
    config->dwErrorControl = target->errorControl;
    config->lpBinaryPathName = put(target->binaryPath, 1);
    config->lpLoadOrderGroup = put("", 1);
    config->dwTagId = 0;
    config->lpDependencies = put("", 2);
    config->lpServiceStartName = put("", 1);
    config->lpDisplayName = put(target->displayName, 1);
    return TRUE;
}
