// The service control manager of the simulated PC (NT only): a database of services with the
// states and error codes of Windows, enough to install, start, stop and delete a kernel driver.
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cctype>
#include <filesystem>
#include <sstream>

#include "sim/file_lock.h"
#include "sim/machine.h"
#include "sim/process.h"

namespace sim {
namespace {

bool sameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Fields of the saved database are tab-separated; '%', tabs and line ends are escaped.
std::string escape(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        if (c == '%' || c == '\t' || c == '\n' || c == '\r') {
            out += '%';
            out += hex[(c >> 4) & 0xF];
            out += hex[c & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

bool unescape(const std::string& text, std::string* out) {
    out->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            *out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 2])))
            return false;
        *out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
        i += 2;
    }
    return true;
}

const char* stateName(DWORD state) {
    return state == SERVICE_RUNNING ? "running" : "stopped";
}

const char kServicesFile[] = "/services.txt";
const char kServicesLock[] = "/services.lock";

} // namespace

const Service* ServiceManager::find(const std::string& name) const {
    for (const Service& service : m_services)
        if (sameName(service.name, name))
            return &service;
    return nullptr;
}

Service* ServiceManager::findMutable(const std::string& name) {
    return const_cast<Service*>(find(name));
}

void ServiceManager::add(const Service& service) {
    if (Service* existing = findMutable(service.name))
        *existing = service;
    else
        m_services.push_back(service);
}

void ServiceManager::reset() {
    m_services.clear();
    m_handles.clear();
    detach();
}

bool ServiceManager::attach(const std::string& stateDir, std::string* error) {
    std::error_code ignored;
    std::filesystem::create_directories(stateDir, ignored);
    ScopedFileLock lock(stateDir + kServicesLock);
    if (!lock.held()) {
        *error = "cannot lock " + stateDir + kServicesLock;
        return false;
    }
    std::string path = stateDir + kServicesFile;
    std::string text;
    if (readStateFile(path, &text)) {
        std::vector<Service> loaded;
        if (!parseText(text, &loaded, error)) {
            *error = path + ": " + *error;
            return false;
        }
        m_services = loaded;
    } else {
        text = saveText();
        if (!writeStateFileAtomically(path, text)) {
            *error = "cannot write " + path;
            return false;
        }
    }
    m_stateDir = stateDir;
    m_savedText = text;
    return true;
}

void ServiceManager::detach() {
    m_stateDir.clear();
    m_savedText.clear();
}

void ServiceManager::powerCycle() {
    Sync sync(*this);
    std::vector<Service> kept;
    for (Service service : m_services) {
        if (service.markedForDelete)
            continue;
        service.state = SERVICE_STOPPED;
        service.loadedTavrolDriver = false;
        kept.push_back(service);
    }
    m_services = kept;
}

ServiceManager::Sync::Sync(ServiceManager& manager) : m_manager(manager), m_lock(-1) {
    if (manager.m_stateDir.empty())
        return;
    m_lock = lockFile(manager.m_stateDir + kServicesLock, LOCK_EX);
    std::string text, error;
    std::vector<Service> loaded;
    // The file changes only under the lock; one that cannot be read or parsed is left to the
    // next writer, and the database in memory stays.
    if (readStateFile(manager.m_stateDir + kServicesFile, &text) && text != manager.m_savedText &&
        manager.parseText(text, &loaded, &error)) {
        manager.m_services = loaded;
        manager.m_savedText = text;
    }
}

ServiceManager::Sync::~Sync() {
    if (!m_manager.m_stateDir.empty()) {
        std::string text = m_manager.saveText();
        if (text != m_manager.m_savedText &&
            writeStateFileAtomically(m_manager.m_stateDir + kServicesFile, text))
            m_manager.m_savedText = text;
    }
    if (m_lock >= 0)
        close(m_lock);
}

SC_HANDLE ServiceManager::openHandle(const Handle& handle) {
    uintptr_t value = m_nextHandle;
    m_nextHandle += 8;
    m_handles[value] = handle;
    return reinterpret_cast<SC_HANDLE>(value);
}

ServiceManager::Handle* ServiceManager::handle(SC_HANDLE handle) {
    auto found = m_handles.find(reinterpret_cast<uintptr_t>(handle));
    return found == m_handles.end() ? nullptr : &found->second;
}

void ServiceManager::closeHandle(SC_HANDLE handle) {
    auto found = m_handles.find(reinterpret_cast<uintptr_t>(handle));
    if (found == m_handles.end())
        return;
    std::string name = found->second.serviceName;
    m_handles.erase(found);
    if (!name.empty())
        collect(name);
}

void ServiceManager::collect(const std::string& name) {
    Service* service = findMutable(name);
    if (!service || !service->markedForDelete || service->state != SERVICE_STOPPED)
        return;
    for (const auto& open : m_handles)
        if (sameName(open.second.serviceName, name))
            return;
    m_services.erase(m_services.begin() + (service - m_services.data()));
}

std::string ServiceManager::saveText() const {
    std::string text;
    for (const Service& s : m_services) {
        std::ostringstream line;
        line << "service\t" << escape(s.name) << '\t' << escape(s.displayName) << '\t' << s.type
             << '\t' << s.startType << '\t' << s.errorControl << '\t' << stateName(s.state) << '\t'
             << (s.markedForDelete ? "delete" : "keep") << '\t' << escape(s.binaryPath) << '\t'
             << (s.loadedTavrolDriver ? "tavrol" : "other") << '\n';
        text += line.str();
    }
    return text;
}

bool ServiceManager::parseText(const std::string& text, std::vector<Service>* services,
                               std::string* error) const {
    std::vector<Service> loaded;
    std::istringstream in(text);
    std::string lineText;
    int line = 0;
    while (std::getline(in, lineText)) {
        ++line;
        if (lineText.empty() || lineText[0] == '#')
            continue;
        std::vector<std::string> fields;
        std::string field;
        std::istringstream parts(lineText);
        while (std::getline(parts, field, '\t'))
            fields.push_back(field);
        Service s;
        // The loaded image came in as a tenth field; a database without it ran our driver.
        bool good = (fields.size() == 9 || fields.size() == 10) && fields[0] == "service" &&
                    unescape(fields[1], &s.name) && !s.name.empty() &&
                    unescape(fields[2], &s.displayName) && unescape(fields[8], &s.binaryPath) &&
                    (fields[6] == "running" || fields[6] == "stopped") &&
                    (fields[7] == "delete" || fields[7] == "keep") &&
                    (fields.size() == 9 || fields[9] == "tavrol" || fields[9] == "other");
        uint32_t numbers[3];
        for (int i = 0; good && i < 3; ++i)
            good = parseDirectiveNumber(fields[3 + i], &numbers[i]);
        if (!good) {
            *error = "services:" + std::to_string(line) + ": malformed service line";
            return false;
        }
        s.type = numbers[0];
        s.startType = numbers[1];
        s.errorControl = numbers[2];
        s.state = fields[6] == "running" ? SERVICE_RUNNING : SERVICE_STOPPED;
        s.markedForDelete = fields[7] == "delete";
        s.loadedTavrolDriver =
            s.state == SERVICE_RUNNING && (fields.size() == 9 || fields[9] == "tavrol");
        // A stopped service marked for deletion went away when the process that held it ended.
        if (s.markedForDelete && s.state == SERVICE_STOPPED)
            continue;
        loaded.push_back(s);
    }
    *services = loaded;
    return true;
}

bool ServiceManager::loadText(const std::string& text, std::string* error) {
    std::vector<Service> loaded;
    if (!parseText(text, &loaded, error))
        return false;
    m_services = loaded;
    m_handles.clear();
    return true;
}

} // namespace sim

namespace {

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
    else if (databaseName && !sim::sameName(databaseName, "ServicesActive"))
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
            if (sim::sameName(other.displayName, display) || sim::sameName(other.name, display))
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
