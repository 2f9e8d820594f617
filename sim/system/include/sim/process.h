// The simulated PC's running program: command line, module path, current directory, last error,
// kernel handles, and the virtual C: drive that maps to a host folder.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "sim_win32.h"

namespace sim {

// The program's install folder and executable on a fresh virtual PC.
extern const char* const kProgramDirectory; // "C:\Program Files\Vantorel Tech\Tavrolin"
extern const char* const kProgramPath;      // kProgramDirectory + "\Tavrol.exe"

// Something a kernel handle refers to. CloseHandle destroys it, so a kind's destructor does the
// kind's close work (a device close is traced, a mutex is given up).
class KernelObject {
  public:
    virtual ~KernelObject() = default;
    // A fixed name of the kind ("device", "mutex", ...), to check a handle's kind without RTTI.
    virtual const char* kind() const = 0;
};

class Process {
  public:
    Process();
    // Back to a freshly started program: default command line and module path, the program
    // directory as current directory, last error 0, no handles, no modules but the executable.
    void reset();

    const char* commandLine() const { return m_commandLine.c_str(); }
    void setCommandLine(const std::string& commandLine) { m_commandLine = commandLine; }

    const std::string& modulePath() const { return m_modulePath; }
    void setModulePath(const std::string& path) { m_modulePath = path; }
    // The executable's module handle (what GetModuleHandleA(NULL) gives), and other loaded
    // modules with the path GetModuleFileNameA reports for them.
    HMODULE exeModule() const;
    void registerModule(HMODULE module, const std::string& windowsPath);
    void unregisterModule(HMODULE module);
    // Path of a module (null means the executable); null pointer when the module is unknown.
    const std::string* modulePathOf(HMODULE module) const;

    // Absolute Windows path without a trailing separator (except for a root such as "C:\").
    const std::string& currentDirectory() const { return m_currentDirectory; }
    void setCurrentDirectory(const std::string& path) { m_currentDirectory = path; }

    DWORD lastError() const { return m_lastError; }
    void setLastError(DWORD error) { m_lastError = error; }

    // Kernel handles. addHandle never returns null or INVALID_HANDLE_VALUE.
    HANDLE addHandle(std::unique_ptr<KernelObject> object);
    KernelObject* object(HANDLE handle) const;
    // Removes the handle and hands its object to the caller; null for a handle not open.
    std::unique_ptr<KernelObject> takeHandle(HANDLE handle);
    int openHandleCount() const { return static_cast<int>(m_handles.size()); }

    // SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32): a DLL loaded by a bare name comes
    // from the system folder alone.
    bool dllsFromSystemFolderOnly() const { return m_dllsFromSystemFolderOnly; }
    void setDllsFromSystemFolderOnly(bool on) { m_dllsFromSystemFolderOnly = on; }

    // InitCommonControls calls of this process.
    int commonControlsInitialized() const { return m_commonControlsInitialized; }
    void noteCommonControlsInitialized() { ++m_commonControlsInitialized; }
    // Dialogs and message boxes this process showed before it called InitCommonControls: on
    // Windows they would lack the visual styles the manifest asks for.
    int windowsWithoutCommonControls() const { return m_windowsWithoutCommonControls; }
    void noteWindowShown() {
        if (m_commonControlsInitialized == 0)
            ++m_windowsWithoutCommonControls;
    }

  private:
    std::string m_commandLine;
    std::string m_modulePath;
    std::string m_currentDirectory;
    DWORD m_lastError = 0;
    int m_commonControlsInitialized = 0;
    bool m_dllsFromSystemFolderOnly = false;
    int m_windowsWithoutCommonControls = 0;
    std::map<uintptr_t, std::unique_ptr<KernelObject>> m_handles;
    uintptr_t m_nextHandle = 0x40;
    std::map<uintptr_t, std::string> m_modules;
};

Process& process();

// The C: drive of the virtual PC, kept in a host folder. Windows paths may use '\' or '/',
// are matched case-insensitively, and relative ones start at the process's current directory.
class VirtualDrive {
  public:
    // Maps C:\ to hostFolder (created when missing).
    void mount(const std::string& hostFolder);
    const std::string& hostFolder() const { return m_hostFolder; }

    // Absolute, normalised Windows path ("C:\A\b"); "" for a path that is not on C: or climbs
    // above its root.
    std::string fullPath(const std::string& windowsPath) const;
    // Host path of a Windows path: existing components in their stored spelling, missing ones as
    // given. "" when the path is not on the drive or nothing is mounted.
    std::string hostPathOf(const std::string& windowsPath) const;
    bool fileExists(const std::string& windowsPath) const;
    bool directoryExists(const std::string& windowsPath) const;

    bool createDirectories(const std::string& windowsPath);
    bool writeFile(const std::string& windowsPath, const std::string& contents);
    // Copies a host file to a Windows path, creating the folders on the way.
    bool installFile(const std::string& windowsPath, const std::string& hostSource);
    bool removeFile(const std::string& windowsPath);

  private:
    std::string m_hostFolder;
};

VirtualDrive& drive();

// Windows' own folders on the C: drive: what GetSystemDirectoryA gives ("C:\WINDOWS\system32"
// on NT, "C:\WINDOWS\SYSTEM" on Windows 9x). Every boot makes sure they exist, with the
// system's driver folder "drivers" below it on NT.
std::string systemDirectory();
void createWindowsFolders();

// The kernel driver built for the simulated PC: a stand-in file (the simulated PC runs no x86
// code) whose bytes are what the build compiles into the program as its driver's digest.
const char* builtDriverPath();
// Host path of the TAVROL.VXD this build made, "" when it made none.
const char* builtVxdPath();
// Whether a file on the drive is exactly that driver.
bool isBuiltDriver(const std::string& windowsPath);

// Creates the program directory with its driver files "TAVROL.sys" (the built driver) and
// "TAVROL.VXD" (each unless the machine's profile declares it absent: `#! driver-file absent`,
// `#! vxd absent`). TAVROL.VXD is the one this build made, and missing when the build made none.
void installProgram();

} // namespace sim
