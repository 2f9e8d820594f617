// kernel32 of the simulated PC: last error, version, command line, module path, current directory,
// threads.
#include <cstring>
#include <memory>

#include "sim/machine.h"
#include "sim/process.h"

namespace {

// The extended version record carries five more fields after the 148-byte basic one.
const DWORD kVersionInfoSize = 148;
const DWORD kVersionInfoExSize = 156;

struct WindowsRelease {
    DWORD major, minor, build;
    const char* servicePack;
    BYTE servicePackMajor;
};

const WindowsRelease& releaseOf(sim::WindowsVersion version) {
    // Windows 98 SE's build word carries the version in its high half.
    static const WindowsRelease win98se = {4, 10, 0x040A08AE, " A", 0};
    static const WindowsRelease xp = {5, 1, 2600, "Service Pack 3", 3};
    static const WindowsRelease vista = {6, 0, 6002, "Service Pack 2", 2};
    static const WindowsRelease seven = {6, 1, 7601, "Service Pack 1", 1};
    switch (version) {
    case sim::WindowsVersion::Win98Se:
        return win98se;
    case sim::WindowsVersion::Vista:
        return vista;
    case sim::WindowsVersion::Seven:
        return seven;
    default:
        return xp;
    }
}

// A thread that has run: its handle is signalled for good.
class ThreadObject : public sim::KernelObject {
  public:
    const char* kind() const override { return "thread"; }
};

BOOL failWith(DWORD error) {
    sim::process().setLastError(error);
    return FALSE;
}

} // namespace

DWORD WINAPI GetLastError(void) {
    return sim::process().lastError();
}

void WINAPI SetLastError(DWORD errorCode) {
    sim::process().setLastError(errorCode);
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
    if (info == nullptr)
        return failWith(ERROR_NOACCESS);
    DWORD size = info->dwOSVersionInfoSize;
    bool exAccepted = sim::machine().isNt(); // Windows 98 knows only the basic record
    if (size != kVersionInfoSize && !(exAccepted && size == kVersionInfoExSize))
        return failWith(ERROR_INSUFFICIENT_BUFFER);
    if (sim::machine().profile().has("version-fails"))
        return failWith(ERROR_INVALID_PARAMETER);
    std::memset(reinterpret_cast<BYTE*>(info) + sizeof(DWORD), 0, kVersionInfoSize - sizeof(DWORD));
    const WindowsRelease& release = releaseOf(sim::machine().version());
    info->dwMajorVersion = release.major;
    info->dwMinorVersion = release.minor;
    info->dwBuildNumber = release.build;
    info->dwPlatformId = sim::machine().isNt() ? VER_PLATFORM_WIN32_NT : VER_PLATFORM_WIN32_WINDOWS;
    std::strcpy(info->szCSDVersion, release.servicePack);
    if (size == kVersionInfoExSize) {
        // wServicePackMajor, wServicePackMinor, wSuiteMask, wProductType, wReserved
        BYTE* ex = reinterpret_cast<BYTE*>(info) + kVersionInfoSize;
        std::memset(ex, 0, kVersionInfoExSize - kVersionInfoSize);
        ex[0] = release.servicePackMajor;
        ex[6] = 1; // VER_NT_WORKSTATION
    }
    return TRUE;
}

// `#! thread-fails` makes every CreateThread fail as on a machine out of memory.
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE startAddress,
                           LPVOID parameter, DWORD creationFlags, LPDWORD threadId) {
    // Windows 9x refuses a thread without somewhere to put its identifier.
    bool nine = !sim::machine().isNt();
    if (startAddress == nullptr || creationFlags != 0 || (nine && threadId == nullptr)) {
        failWith(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (sim::machine().profile().has("thread-fails")) {
        failWith(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    static DWORD nextThreadId = 0x100;
    if (threadId != nullptr)
        *threadId = nextThreadId += 4;
    // The new thread starts with a last error of its own; the caller's is as it left it.
    sim::Process& process = sim::process();
    DWORD callerError = process.lastError();
    process.setLastError(0);
    startAddress(parameter);
    process.setLastError(callerError);
    return process.addHandle(std::make_unique<ThreadObject>());
}

LPSTR WINAPI GetCommandLineA(void) {
    return const_cast<LPSTR>(sim::process().commandLine());
}

HANDLE WINAPI GetCurrentProcess(void) {
    return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
}

// Exported from XP SP2 on (the simulated XP has SP3); GetProcAddress finds it on NT only.
BOOL WINAPI IsWow64Process(HANDLE process, BOOL* wow64Process) {
    if (process != GetCurrentProcess() || wow64Process == nullptr)
        return failWith(ERROR_INVALID_PARAMETER);
    *wow64Process = sim::machine().is64Bit() ? TRUE : FALSE;
    return TRUE;
}

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteLength,
                               WCHAR* wide, int wideLength) {
    if (codePage != CP_ACP || flags != 0 || multiByte == nullptr || wideLength < 0) {
        failWith(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length = multiByteLength < 0 ? std::strlen(multiByte) + 1 : size_t(multiByteLength);
    if (wideLength == 0)
        return int(length);
    if (size_t(wideLength) < length) {
        failWith(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (size_t i = 0; i < length; ++i)
        wide[i] = static_cast<unsigned char>(multiByte[i]);
    return int(length);
}

// Windows XP semantics: a name that does not fit is cut to `size` characters without a
// terminator, the result is `size`, and the last error is left as it was.
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
    // A data-file mapping (bit 0 of the handle set) is no loaded module and has no file name.
    const bool datafile = (reinterpret_cast<uintptr_t>(module) & 1) != 0;
    const std::string* path = datafile ? nullptr : sim::process().modulePathOf(module);
    if (path == nullptr) {
        sim::process().setLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (size == 0)
        return 0;
    DWORD length = static_cast<DWORD>(path->size());
    if (length < size) {
        std::memcpy(fileName, path->c_str(), length + 1);
        return length;
    }
    std::memcpy(fileName, path->data(), size);
    return size;
}

DWORD WINAPI GetCurrentDirectoryA(DWORD bufferLength, LPSTR buffer) {
    const std::string& directory = sim::process().currentDirectory();
    DWORD length = static_cast<DWORD>(directory.size());
    if (buffer == nullptr || bufferLength < length + 1)
        return length + 1; // the size needed, terminator included
    std::memcpy(buffer, directory.c_str(), length + 1);
    return length;
}

BOOL WINAPI SetCurrentDirectoryA(LPCSTR pathName) {
    if (pathName == nullptr)
        return failWith(ERROR_INVALID_PARAMETER);
    if (*pathName == '\0')
        return failWith(ERROR_INVALID_NAME);
    sim::VirtualDrive& drive = sim::drive();
    std::string full = drive.fullPath(pathName);
    if (full.empty())
        return failWith(ERROR_PATH_NOT_FOUND);
    // The current directory is kept with a trailing separator internally, so it must leave room
    // for one more character than MAX_PATH - 1.
    if (full.size() + 2 > MAX_PATH)
        return failWith(ERROR_FILENAME_EXCED_RANGE);
    if (drive.fileExists(full))
        return failWith(ERROR_DIRECTORY);
    if (!drive.directoryExists(full)) {
        size_t slash = full.find_last_of('\\');
        std::string parent = full.substr(0, slash < 3 ? 3 : slash);
        return failWith(drive.directoryExists(parent) ? ERROR_FILE_NOT_FOUND
                                                      : ERROR_PATH_NOT_FOUND);
    }
    sim::process().setCurrentDirectory(full);
    return TRUE;
}
