// The service control manager's database of the simulated PC: services with their states, kept in
// the state directory and shared by every process attached there.
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
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
