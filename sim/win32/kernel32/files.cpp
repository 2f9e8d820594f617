// kernel32 of the simulated PC: files on the C: drive (CreateFileA's file half, ReadFile,
// WriteFile, GetFileSize, DeleteFileA, MoveFileA and MoveFileExA), the system directory, the
// local time and Sleep. The image of a driver that runs cannot be written or deleted, as on
// Windows; a host file without write permission is a read-only file; `#! disk-full [FREE]`
// leaves FREE bytes (default 0) for what the program writes after each boot.
#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "kernel32_internal.h"
#include "sim/boot.h"
#include "sim/machine.h"
#include "sim/process.h"

namespace {

class FileObject : public sim::KernelObject {
  public:
    FileObject(FILE* stream, bool canRead, bool canWrite)
        : m_stream(stream), m_canRead(canRead), m_canWrite(canWrite) {}
    ~FileObject() override { fclose(m_stream); }
    const char* kind() const override { return "file"; }

    FILE* stream() const { return m_stream; }
    bool canRead() const { return m_canRead; }
    bool canWrite() const { return m_canWrite; }

  private:
    FILE* m_stream;
    bool m_canRead;
    bool m_canWrite;
};

bool sameFile(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Whether the file is the image of a driver that runs: the kernel keeps it mapped.
bool imageOfRunningDriver(const std::string& fullPath) {
    sim::ServiceManager::Sync sync(sim::machine().services());
    for (const sim::Service& service : sim::machine().services().services())
        if (service.state == SERVICE_RUNNING &&
            sameFile(sim::drive().fullPath(service.binaryPath), fullPath))
            return true;
    return false;
}

// The read-only attribute: the host file's owner may not write it. Checked by its mode, since a
// simulated PC run by root could write it anyway.
bool readOnlyFile(const std::string& fullPath) {
    struct stat info;
    return stat(sim::drive().hostPathOf(fullPath).c_str(), &info) == 0 &&
           (info.st_mode & S_IWUSR) == 0;
}

// What the program wrote since the boot, against the free space of `#! disk-full`.
struct DiskSpace {
    unsigned generation = 0;
    uint64_t written = 0;
};

DiskSpace& diskSpace() {
    static DiskSpace space;
    if (space.generation != sim::bootGeneration())
        space = DiskSpace{sim::bootGeneration(), 0};
    return space;
}

// How many of `wanted` bytes still fit on the disk.
size_t bytesThatFit(size_t wanted) {
    const sim::Directive* full = sim::machine().profile().find("disk-full");
    if (!full)
        return wanted;
    uint32_t free = 0;
    if (!full->args.empty())
        sim::parseDirectiveNumber(full->args[0], &free);
    uint64_t left = free > diskSpace().written ? free - diskSpace().written : 0;
    return wanted < left ? wanted : static_cast<size_t>(left);
}

std::string parentOf(const std::string& fullPath) {
    size_t slash = fullPath.find_last_of('\\');
    return fullPath.substr(0, slash < 3 ? 3 : slash);
}

FileObject* fileOf(HANDLE handle) {
    sim::KernelObject* object = sim::process().object(handle);
    return object && std::strcmp(object->kind(), "file") == 0 ? static_cast<FileObject*>(object)
                                                              : nullptr;
}

BOOL failWith(DWORD error) {
    sim::process().setLastError(error);
    return FALSE;
}

} // namespace

namespace sim {

HANDLE openDiskFile(const std::string& name, DWORD access, DWORD disposition, DWORD* error) {
    std::string full = drive().fullPath(name);
    if (full.empty()) {
        *error = ERROR_PATH_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) {
        *error = ERROR_INVALID_PARAMETER;
        return INVALID_HANDLE_VALUE;
    }
    bool exists = drive().fileExists(full);
    bool creates =
        disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
    bool truncates = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    bool writes = (access & GENERIC_WRITE) != 0;
    if (drive().directoryExists(full))
        *error = ERROR_ACCESS_DENIED;
    else if (!drive().directoryExists(parentOf(full)))
        *error = ERROR_PATH_NOT_FOUND;
    else if (!exists && !creates)
        *error = ERROR_FILE_NOT_FOUND;
    else if (exists && disposition == CREATE_NEW)
        *error = ERROR_FILE_EXISTS;
    else if (exists && (writes || truncates) && imageOfRunningDriver(full))
        *error = ERROR_SHARING_VIOLATION;
    else if (exists && (writes || truncates) && readOnlyFile(full))
        *error = ERROR_ACCESS_DENIED;
    else
        *error = ERROR_SUCCESS;
    if (*error != ERROR_SUCCESS)
        return INVALID_HANDLE_VALUE;

    std::string host = drive().hostPathOf(full);
    if (!exists || truncates) {
        FILE* created = fopen(host.c_str(), "wb");
        if (!created) {
            *error = ERROR_ACCESS_DENIED;
            return INVALID_HANDLE_VALUE;
        }
        fclose(created);
    }
    FILE* stream = fopen(host.c_str(), writes ? "r+b" : "rb");
    if (!stream) {
        *error = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    // OPEN_ALWAYS and CREATE_ALWAYS tell the caller that the file was there.
    *error = exists && (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS)
                 ? ERROR_ALREADY_EXISTS
                 : ERROR_SUCCESS;
    return process().addHandle(std::unique_ptr<KernelObject>(
        new FileObject(stream, (access & GENERIC_READ) != 0, writes)));
}

} // namespace sim

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                     LPOVERLAPPED overlapped) {
    FileObject* target = fileOf(file);
    if (!target)
        return failWith(ERROR_INVALID_HANDLE);
    if (!target->canRead())
        return failWith(ERROR_ACCESS_DENIED);
    if (!bytesRead && !overlapped)
        return failWith(ERROR_INVALID_PARAMETER);
    size_t got = fread(buffer, 1, bytesToRead, target->stream());
    if (bytesRead)
        *bytesRead = static_cast<DWORD>(got);
    return ferror(target->stream()) ? failWith(ERROR_READ_FAULT) : TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                      LPOVERLAPPED overlapped) {
    FileObject* target = fileOf(file);
    if (!target)
        return failWith(ERROR_INVALID_HANDLE);
    if (!target->canWrite())
        return failWith(ERROR_ACCESS_DENIED);
    if (!bytesWritten && !overlapped)
        return failWith(ERROR_INVALID_PARAMETER);
    size_t fits = bytesThatFit(bytesToWrite);
    size_t put = fwrite(buffer, 1, fits, target->stream());
    diskSpace().written += put;
    if (bytesWritten)
        *bytesWritten = static_cast<DWORD>(put);
    if (put != bytesToWrite || fflush(target->stream()) != 0)
        return failWith(ERROR_DISK_FULL);
    return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD fileSizeHigh) {
    FileObject* target = fileOf(file);
    struct stat info;
    if (!target || fstat(fileno(target->stream()), &info) != 0) {
        failWith(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    uint64_t size = static_cast<uint64_t>(info.st_size);
    if (fileSizeHigh)
        *fileSizeHigh = static_cast<DWORD>(size >> 32);
    // A size whose low dword is all ones is told apart by the last error, as on Windows.
    sim::process().setLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
}

BOOL WINAPI DeleteFileA(LPCSTR fileName) {
    if (!fileName)
        return failWith(ERROR_PATH_NOT_FOUND);
    std::string full = sim::drive().fullPath(fileName);
    if (full.empty() || !sim::drive().directoryExists(parentOf(full)))
        return failWith(ERROR_PATH_NOT_FOUND);
    if (sim::drive().directoryExists(full))
        return failWith(ERROR_ACCESS_DENIED);
    if (!sim::drive().fileExists(full))
        return failWith(ERROR_FILE_NOT_FOUND);
    if (imageOfRunningDriver(full) || readOnlyFile(full))
        return failWith(ERROR_ACCESS_DENIED);
    return sim::drive().removeFile(full) ? TRUE : failWith(ERROR_ACCESS_DENIED);
}

UINT WINAPI GetTempFileNameA(LPCSTR pathName, LPCSTR prefix, UINT unique, LPSTR tempFileName) {
    std::string folder = pathName ? sim::drive().fullPath(pathName) : std::string();
    if (folder.empty() || !sim::drive().directoryExists(folder) || tempFileName == nullptr) {
        sim::process().setLastError(ERROR_DIRECTORY);
        return 0;
    }
    std::string start = std::string(prefix ? prefix : "").substr(0, 3);
    for (UINT number = unique ? unique : 1; number <= 0xFFFF; ++number) {
        char hex[8];
        snprintf(hex, sizeof hex, "%X", number);
        std::string name = folder + "\\" + start + hex + ".TMP";
        if (name.size() >= MAX_PATH) {
            sim::process().setLastError(ERROR_FILENAME_EXCED_RANGE);
            return 0;
        }
        // Only a number of its own makes the file; a given one is just the name.
        if (!unique && (sim::drive().fileExists(name) || !sim::drive().writeFile(name, "")))
            continue;
        std::memcpy(tempFileName, name.c_str(), name.size() + 1);
        return number;
    }
    sim::process().setLastError(ERROR_FILE_EXISTS);
    return 0;
}

namespace {

BOOL moveFile(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags) {
    if (!existingFileName || !newFileName ||
        (flags & ~(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) != 0)
        return failWith(ERROR_INVALID_PARAMETER);
    std::string from = sim::drive().fullPath(existingFileName);
    std::string to = sim::drive().fullPath(newFileName);
    if (from.empty() || to.empty() || !sim::drive().directoryExists(parentOf(to)))
        return failWith(ERROR_PATH_NOT_FOUND);
    if (!sim::drive().fileExists(from))
        return failWith(ERROR_FILE_NOT_FOUND);
    if (sim::drive().directoryExists(to))
        return failWith(ERROR_ACCESS_DENIED);
    if (sim::drive().fileExists(to)) {
        if (!(flags & MOVEFILE_REPLACE_EXISTING))
            return failWith(ERROR_ALREADY_EXISTS);
        if (readOnlyFile(to) || imageOfRunningDriver(to))
            return failWith(ERROR_ACCESS_DENIED);
    }
    if (imageOfRunningDriver(from))
        return failWith(ERROR_SHARING_VIOLATION);
    std::string hostFrom = sim::drive().hostPathOf(from);
    std::string hostTo = sim::drive().hostPathOf(to);
    return std::rename(hostFrom.c_str(), hostTo.c_str()) == 0 ? TRUE
                                                              : failWith(ERROR_ACCESS_DENIED);
}

} // namespace

BOOL WINAPI MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags) {
    if (!sim::machine().isNt())
        return failWith(ERROR_CALL_NOT_IMPLEMENTED);
    return moveFile(existingFileName, newFileName, flags);
}

BOOL WINAPI MoveFileA(LPCSTR existingFileName, LPCSTR newFileName) {
    return moveFile(existingFileName, newFileName, 0);
}

void WINAPI GetLocalTime(SYSTEMTIME* systemTime) {
    std::time_t now = std::time(nullptr);
    std::tm local = {};
    localtime_r(&now, &local);
    systemTime->wYear = static_cast<WORD>(local.tm_year + 1900);
    systemTime->wMonth = static_cast<WORD>(local.tm_mon + 1);
    systemTime->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    systemTime->wDay = static_cast<WORD>(local.tm_mday);
    systemTime->wHour = static_cast<WORD>(local.tm_hour);
    systemTime->wMinute = static_cast<WORD>(local.tm_min);
    systemTime->wSecond = static_cast<WORD>(local.tm_sec);
    systemTime->wMilliseconds = 0;
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
    std::string directory = sim::systemDirectory();
    UINT length = static_cast<UINT>(directory.size());
    if (!buffer || size < length + 1)
        return length + 1; // the size needed, terminator included
    std::memcpy(buffer, directory.c_str(), length + 1);
    return length;
}

void WINAPI Sleep(DWORD milliseconds) {
    sim::machine().noteSleep(milliseconds);
    usleep(static_cast<useconds_t>(milliseconds) * 1000);
}
