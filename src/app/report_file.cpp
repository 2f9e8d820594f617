// Writing the machine report: a temporary file beside the report's name, renamed over it only
// once every byte is on the disk.
#include "app/machine_report.h"

#include <string.h>

#include "agpcfg/agpcfg.h"

namespace {

const char kTemporarySuffix[] = ".tmp";

typedef BOOL(WINAPI* MoveFileExFunction)(LPCSTR, LPCSTR, DWORD);
typedef BOOL(WINAPI* MoveFileFunction)(LPCSTR, LPCSTR);

// Looked up at run time, as every function the reviewed import lists do not hold.
template <typename Function> Function kernel32Proc(LPCSTR name) {
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    return kernel32 ? lookUpProc<Function>(kernel32, name) : nullptr;
}

bool failWith(DWORD* error, DWORD code) {
    *error = code != ERROR_SUCCESS ? code : ERROR_GEN_FAILURE;
    return false;
}

struct ReportFile {
    HANDLE handle;
    DWORD error;

    bool write(const ReportText& text) {
        if (text.overflow)
            return failWith(&error, ERROR_INSUFFICIENT_BUFFER);
        DWORD written = 0;
        if (!WriteFile(handle, text.text, (DWORD)text.length, &written, NULL))
            return failWith(&error, GetLastError());
        // A short write without an error is a full disk on every Windows that does it.
        return written == text.length || failWith(&error, ERROR_DISK_FULL);
    }
};

// Every function of every bus, each after its comment lines; false at the first failed write.
// A function that answers but whose space cannot be read is named in a comment line.
bool writeReportBody(CAgpConfig* config, ReportFile* file, int* functions) {
    ReportText text;
    for (int line = 0; reportHeaderLine(config, line, &text); ++line) {
        if (!file->write(text))
            return false;
    }
    // Thousands of requests: one open of the driver's device serves them all.
    CRequestBatch batch;
    PciScan scan = PCI_SCAN_START;
    PciAddress address;
    *functions = 0;
    while (nextPciFunction(&scan, &address)) {
        BYTE space[256];
        if (readConfigSpace(address, space)) {
            formatFunctionDump(address, space, &text);
            ++*functions;
        } else {
            text.clear();
            text.add("# ");
            text.addAddress(address);
            text.add(": answers, but its configuration space could not be read\n\n");
        }
        if (!file->write(text))
            return false;
    }
    return true;
}

// Puts `from` in the place of `to`. Windows 9x has MoveFileExA only as a stub that fails with
// ERROR_CALL_NOT_IMPLEMENTED, and its MoveFileA replaces nothing: there the old report goes
// first, so for a moment no file has the name, and never a part of one.
bool replaceFile(const char* from, const char* to, DWORD* error) {
    MoveFileExFunction moveFileEx = kernel32Proc<MoveFileExFunction>("MoveFileExA");
    if (moveFileEx && moveFileEx(from, to, MOVEFILE_REPLACE_EXISTING))
        return true;
    if (moveFileEx && GetLastError() != ERROR_CALL_NOT_IMPLEMENTED)
        return failWith(error, GetLastError());
    MoveFileFunction moveFile = kernel32Proc<MoveFileFunction>("MoveFileA");
    if (!moveFile)
        return failWith(error, ERROR_CALL_NOT_IMPLEMENTED);
    if (!DeleteFileA(to) && GetLastError() != ERROR_FILE_NOT_FOUND)
        return failWith(error, GetLastError());
    return moveFile(from, to) || failWith(error, GetLastError());
}

} // namespace

int writeMachineReport(CAgpConfig* config, const char* path, DWORD* error) {
    *error = ERROR_SUCCESS;
    char temporary[MAX_PATH];
    size_t length = strlen(path);
    if (length == 0) {
        *error = ERROR_PATH_NOT_FOUND;
        return REPORT_WRITE_FAILED;
    }
    if (length + sizeof kTemporarySuffix > sizeof temporary) {
        *error = ERROR_FILENAME_EXCED_RANGE;
        return REPORT_WRITE_FAILED;
    }
    memcpy(temporary, path, length);
    memcpy(temporary + length, kTemporarySuffix, sizeof kTemporarySuffix);

    ReportFile file = {
        CreateFileA(temporary, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL),
        ERROR_SUCCESS};
    if (file.handle == INVALID_HANDLE_VALUE) {
        failWith(error, GetLastError());
        return REPORT_WRITE_FAILED;
    }
    int functions = 0;
    bool written = writeReportBody(config, &file, &functions);
    CloseHandle(file.handle);
    if (!written || functions == 0) {
        DeleteFileA(temporary);
        *error = written ? ERROR_SUCCESS : file.error;
        return written ? REPORT_NO_FUNCTIONS : REPORT_WRITE_FAILED;
    }
    if (!replaceFile(temporary, path, error)) {
        DeleteFileA(temporary);
        return REPORT_WRITE_FAILED;
    }
    return REPORT_SAVED;
}

bool reportPathIn(const char* directory, const char* file, char* out, size_t size) {
    bool absolute = file[0] == '\\' || file[0] == '/' || (file[0] != '\0' && file[1] == ':');
    size_t directoryLength = absolute ? 0 : strlen(directory);
    bool separator = directoryLength > 0 && directory[directoryLength - 1] != '\\' &&
                     directory[directoryLength - 1] != '/';
    size_t fileLength = strlen(file);
    if (directoryLength + (separator ? 1 : 0) + fileLength + 1 > size)
        return false;
    memcpy(out, directory, directoryLength);
    size_t at = directoryLength;
    if (separator)
        out[at++] = '\\';
    memcpy(out + at, file, fileLength + 1);
    return true;
}
