// The running program's state and the virtual C: drive behind it.
#include "sim/process.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#include "sim/file_lock.h"
#include "sim/machine.h"

#ifndef TAVROL_SIM_DRIVER_PATH
#define TAVROL_SIM_DRIVER_PATH ""
#endif
#ifndef TAVROL_VXD_PATH
#define TAVROL_VXD_PATH ""
#endif

namespace fs = std::filesystem;

namespace sim {

const char* const kProgramDirectory = "C:\\Program Files\\Vantorel Tech\\Tavrolin";
const char* const kProgramPath = "C:\\Program Files\\Vantorel Tech\\Tavrolin\\Tavrol.exe";

namespace {

const uintptr_t kExeModule = 0x00400000;

bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::vector<std::string> components(const std::string& fullPath) {
    std::vector<std::string> parts;
    std::string part;
    for (size_t i = 3; i <= fullPath.size(); ++i) {
        if (i == fullPath.size() || fullPath[i] == '\\') {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
        } else {
            part += fullPath[i];
        }
    }
    return parts;
}

} // namespace

Process::Process() {
    reset();
}

void Process::reset() {
    m_commandLine = std::string("\"") + kProgramPath + "\"";
    m_modulePath = kProgramPath;
    m_currentDirectory = kProgramDirectory;
    m_lastError = 0;
    m_commonControlsInitialized = 0;
    m_dllsFromSystemFolderOnly = false;
    m_windowsWithoutCommonControls = 0;
    // Objects are destroyed one by one, so a destructor that looks at the table sees it intact.
    while (!m_handles.empty()) {
        std::unique_ptr<KernelObject> object = std::move(m_handles.begin()->second);
        m_handles.erase(m_handles.begin());
        object.reset();
    }
    // Handle values go on counting: a handle a program kept from an earlier run in the same host
    // process (a test) never names an object of a later one.
    m_modules.clear();
}

HMODULE Process::exeModule() const {
    return reinterpret_cast<HMODULE>(kExeModule);
}

void Process::registerModule(HMODULE module, const std::string& windowsPath) {
    m_modules[reinterpret_cast<uintptr_t>(module)] = windowsPath;
}

void Process::unregisterModule(HMODULE module) {
    m_modules.erase(reinterpret_cast<uintptr_t>(module));
}

const std::string* Process::modulePathOf(HMODULE module) const {
    if (module == nullptr || module == exeModule())
        return &m_modulePath;
    auto found = m_modules.find(reinterpret_cast<uintptr_t>(module));
    return found == m_modules.end() ? nullptr : &found->second;
}

HANDLE Process::addHandle(std::unique_ptr<KernelObject> object) {
    uintptr_t value = m_nextHandle;
    m_nextHandle += 4; // handle values are multiples of four, as on Windows
    m_handles[value] = std::move(object);
    return reinterpret_cast<HANDLE>(value);
}

KernelObject* Process::object(HANDLE handle) const {
    auto found = m_handles.find(reinterpret_cast<uintptr_t>(handle));
    return found == m_handles.end() ? nullptr : found->second.get();
}

std::unique_ptr<KernelObject> Process::takeHandle(HANDLE handle) {
    auto found = m_handles.find(reinterpret_cast<uintptr_t>(handle));
    if (found == m_handles.end())
        return nullptr;
    std::unique_ptr<KernelObject> object = std::move(found->second);
    m_handles.erase(found);
    return object;
}

Process& process() {
    static Process* instance = new Process; // never destroyed: objects may outlive static order
    return *instance;
}

void VirtualDrive::mount(const std::string& hostFolder) {
    m_hostFolder = hostFolder;
    std::error_code ignored;
    fs::create_directories(hostFolder, ignored);
}

std::string VirtualDrive::fullPath(const std::string& windowsPath) const {
    std::string path = windowsPath;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    if (path.compare(0, 4, "\\??\\") == 0)
        path = path.substr(4);
    if (path.compare(0, 2, "\\\\") == 0)
        return ""; // UNC paths and devices are not on the drive
    std::string start;
    if (path.size() >= 2 && path[1] == ':') {
        if (std::toupper(static_cast<unsigned char>(path[0])) != 'C')
            return "";
        path = path.substr(2);
        if (path.empty() || path[0] != '\\')
            start = process().currentDirectory();
    } else if (path.empty() || path[0] != '\\') {
        start = process().currentDirectory();
    }
    std::vector<std::string> parts;
    if (!start.empty())
        parts = components(start);
    std::string part;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '\\') {
            part += path[i];
            continue;
        }
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        part.clear();
    }
    std::string full = "C:\\";
    for (size_t i = 0; i < parts.size(); ++i)
        full += (i ? "\\" : "") + parts[i];
    return full;
}

std::string VirtualDrive::hostPathOf(const std::string& windowsPath) const {
    std::string full = fullPath(windowsPath);
    if (full.empty() || m_hostFolder.empty())
        return "";
    fs::path host = m_hostFolder;
    for (const std::string& part : components(full)) {
        std::string name = part;
        std::error_code error;
        if (fs::is_directory(host, error)) {
            for (const fs::directory_entry& entry : fs::directory_iterator(host, error)) {
                std::string stored = entry.path().filename().string();
                if (stored == part) {
                    name = stored;
                    break;
                }
                if (sameName(stored, part))
                    name = stored;
            }
        }
        host /= name;
    }
    return host.string();
}

bool VirtualDrive::fileExists(const std::string& windowsPath) const {
    std::string host = hostPathOf(windowsPath);
    std::error_code error;
    return !host.empty() && fs::is_regular_file(host, error);
}

bool VirtualDrive::directoryExists(const std::string& windowsPath) const {
    std::string host = hostPathOf(windowsPath);
    std::error_code error;
    return !host.empty() && fs::is_directory(host, error);
}

bool VirtualDrive::createDirectories(const std::string& windowsPath) {
    std::string host = hostPathOf(windowsPath);
    std::error_code error;
    if (host.empty())
        return false;
    fs::create_directories(host, error);
    return fs::is_directory(host, error);
}

bool VirtualDrive::writeFile(const std::string& windowsPath, const std::string& contents) {
    std::string host = hostPathOf(windowsPath);
    if (host.empty())
        return false;
    std::error_code error;
    fs::create_directories(fs::path(host).parent_path(), error);
    std::ofstream out(host, std::ios::binary | std::ios::trunc);
    out << contents;
    return static_cast<bool>(out);
}

bool VirtualDrive::installFile(const std::string& windowsPath, const std::string& hostSource) {
    std::string host = hostPathOf(windowsPath);
    if (host.empty())
        return false;
    std::error_code error;
    fs::create_directories(fs::path(host).parent_path(), error);
    return fs::copy_file(hostSource, host, fs::copy_options::overwrite_existing, error);
}

bool VirtualDrive::removeFile(const std::string& windowsPath) {
    std::string host = hostPathOf(windowsPath);
    std::error_code error;
    return !host.empty() && fs::remove(host, error);
}

VirtualDrive& drive() {
    static VirtualDrive* instance = new VirtualDrive;
    return *instance;
}

std::string systemDirectory() {
    if (!machine().isNt())
        return "C:\\WINDOWS\\SYSTEM";
    // Vista renamed the folders Setup makes; XP's are upper and lower case.
    return machine().isVistaOrLater() ? "C:\\Windows\\System32" : "C:\\WINDOWS\\system32";
}

void createWindowsFolders() {
    drive().createDirectories(machine().isNt() ? systemDirectory() + "\\drivers"
                                               : systemDirectory());
}

const char* builtDriverPath() {
    return TAVROL_SIM_DRIVER_PATH;
}

const char* builtVxdPath() {
    return TAVROL_VXD_PATH;
}

bool isBuiltDriver(const std::string& windowsPath) {
    std::string built, file;
    std::string host = drive().hostPathOf(windowsPath);
    return !host.empty() && readStateFile(builtDriverPath(), &built) &&
           readStateFile(host, &file) && file == built;
}

void installProgram() {
    VirtualDrive& c = drive();
    std::string directory = kProgramDirectory;
    c.createDirectories(directory);
    const Directive* driverFile = machine().profile().find("driver-file");
    if (!driverFile || driverFile->args[0] != "absent")
        c.installFile(directory + "\\TAVROL.sys", builtDriverPath());
    // The release's TAVROL.VXD is the real driver, run on the emulated CPU; a build without one
    // installs none.
    const Directive* vxd = machine().profile().find("vxd");
    std::string builtVxd = builtVxdPath();
    if ((!vxd || vxd->args[0] != "absent") && !builtVxd.empty())
        c.installFile(directory + "\\TAVROL.VXD", builtVxd);
}

} // namespace sim
