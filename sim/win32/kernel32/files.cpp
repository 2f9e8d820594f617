// kernel32 of the simulated PC: files on the C: drive (CreateFileA's file half, ReadFile,
// WriteFile, GetFileSize, DeleteFileA), the system directory and Sleep. The image of a driver
// that runs cannot be written or deleted, as on Windows.
#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "kernel32_internal.h"
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
    size_t put = fwrite(buffer, 1, bytesToWrite, target->stream());
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
    if (imageOfRunningDriver(full))
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

BOOL WINAPI MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags) {
    if (!sim::machine().isNt())
        return failWith(ERROR_CALL_NOT_IMPLEMENTED);
    std::string from = existingFileName ? sim::drive().fullPath(existingFileName) : "";
    std::string to = newFileName ? sim::drive().fullPath(newFileName) : "";
    if (from.empty() || to.empty() || !sim::drive().directoryExists(parentOf(to)))
        return failWith(ERROR_PATH_NOT_FOUND);
    if (!sim::drive().fileExists(from))
        return failWith(ERROR_FILE_NOT_FOUND);
    if (sim::drive().fileExists(to) && !(flags & MOVEFILE_REPLACE_EXISTING))
        return failWith(ERROR_ALREADY_EXISTS);
    // The host's rename replaces the name alone, as NTFS does: a handle open on the old file
    // keeps the old file.
    std::string host = sim::drive().hostPathOf(to);
    if (rename(sim::drive().hostPathOf(from).c_str(), host.c_str()) != 0)
        return failWith(ERROR_ACCESS_DENIED);
    return TRUE;
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
