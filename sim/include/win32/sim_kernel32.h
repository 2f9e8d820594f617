// kernel32 functions of the simulated PC: files and devices, processes, modules, mutexes.
#pragma once

#include "sim_types.h"

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_FLAG_DELETE_ON_CLOSE 0x04000000u
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

typedef struct _OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
} OSVERSIONINFOA, *LPOSVERSIONINFOA;

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                          DWORD flagsAndAttributes, HANDLE templateFile);
BOOL WINAPI DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize,
                            LPVOID outBuffer, DWORD outBufferSize, LPDWORD bytesReturned,
                            LPOVERLAPPED overlapped);
BOOL WINAPI CloseHandle(HANDLE object);
DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD errorCode);
BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA versionInformation);

DWORD WINAPI GetCurrentDirectoryA(DWORD bufferLength, LPSTR buffer);
BOOL WINAPI SetCurrentDirectoryA(LPCSTR pathName);
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName);
LPSTR WINAPI GetCommandLineA(void);
HANDLE WINAPI GetCurrentProcess(void);

// Files on the C: drive; CreateFileA takes them besides the devices.
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                     LPOVERLAPPED overlapped);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                      LPOVERLAPPED overlapped);
DWORD WINAPI GetFileSize(HANDLE file, LPDWORD fileSizeHigh);
BOOL WINAPI DeleteFileA(LPCSTR fileName);
UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size);
// Creates an empty file "<prefix><hex>.TMP" of a unique number in the folder.
UINT WINAPI GetTempFileNameA(LPCSTR pathName, LPCSTR prefix, UINT unique, LPSTR tempFileName);

// Renames a file on the C: drive. MoveFileExA replaces an existing file with
// MOVEFILE_REPLACE_EXISTING; Windows 9x has it only as a stub that fails with
// ERROR_CALL_NOT_IMPLEMENTED, and its MoveFileA never replaces. A file without write permission
// on the host is a read-only file: it cannot be opened for writing, replaced or deleted.
// MOVEFILE_WRITE_THROUGH is taken and needs nothing: the host's rename is done when it returns.
#define MOVEFILE_REPLACE_EXISTING 0x00000001u
#define MOVEFILE_WRITE_THROUGH 0x00000008u
BOOL WINAPI MoveFileA(LPCSTR existingFileName, LPCSTR newFileName);
BOOL WINAPI MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags);

typedef struct _SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
} SYSTEMTIME;
// The host's local time.
void WINAPI GetLocalTime(SYSTEMTIME* systemTime);

#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES mutexAttributes, BOOL initialOwner, LPCSTR name);
BOOL WINAPI ReleaseMutex(HANDLE mutex);
// Waits on mutexes and threads, the kinds of object the program waits for.
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Threads run to their end inside CreateThread, one schedule a real machine may take: the
// handle it gives is already signalled. Each thread has its own last error, as on Windows.
typedef size_t SIZE_T;
typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID parameter);
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES threadAttributes, SIZE_T stackSize,
                           LPTHREAD_START_ROUTINE startAddress, LPVOID parameter,
                           DWORD creationFlags, LPDWORD threadId);
void WINAPI Sleep(DWORD milliseconds);

#define LOAD_LIBRARY_AS_DATAFILE 0x00000002u

HMODULE WINAPI LoadLibraryA(LPCSTR libFileName);
// LOAD_LIBRARY_AS_DATAFILE maps the file for its resources only: no code of it runs, and the
// handle (the base with bit 0 set, as Windows gives it) names no loaded module.
HMODULE WINAPI LoadLibraryExA(LPCSTR libFileName, HANDLE file, DWORD flags);
BOOL WINAPI FreeLibrary(HMODULE libModule);

// Private namespaces (Vista and later; looked up at run time). A boundary holds its name and
// SIDs; objects named "<alias>\\<name>" live in the namespace the process opened under that alias.
HANDLE WINAPI CreateBoundaryDescriptorW(const WCHAR* name, ULONG flags);
BOOL WINAPI AddSIDToBoundaryDescriptor(HANDLE* boundary, void* sid);
void WINAPI DeleteBoundaryDescriptor(HANDLE boundary);
HANDLE WINAPI CreatePrivateNamespaceW(LPSECURITY_ATTRIBUTES attributes, void* boundary,
                                      const WCHAR* alias);
HANDLE WINAPI OpenPrivateNamespaceW(void* boundary, const WCHAR* alias);
BOOLEAN WINAPI ClosePrivateNamespace(HANDLE privateNamespace, ULONG flags);

// Windows 7 with update KB2533623 and later (the simulated Vista and 7 have it); looked up at
// run time. Only LOAD_LIBRARY_SEARCH_SYSTEM32 is known.
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800u
BOOL WINAPI SetDefaultDllDirectories(DWORD directoryFlags);

// Functions a module exports, for the ones the program looks up at run time: kernel32's
// IsWow64Process (XP SP2 and later), ole32's and oleaut32's COM functions.
typedef INT_PTR(WINAPI* FARPROC)(void);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName);
BOOL WINAPI IsWow64Process(HANDLE process, BOOL* wow64Process);

// The simulated PC's ANSI code page is Latin-1: each byte becomes the character of its value.
#define CP_ACP 0
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteLength,
                               WCHAR* wide, int wideLength);

// Further error codes of files, devices and the current directory.
#ifndef ERROR_NOACCESS
#define ERROR_NOACCESS 998L
#endif
#ifndef ERROR_FILENAME_EXCED_RANGE
#define ERROR_FILENAME_EXCED_RANGE 206L
#endif
#ifndef ERROR_DIRECTORY
#define ERROR_DIRECTORY 267L
#endif
#ifndef ERROR_CALL_NOT_IMPLEMENTED
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#endif
#ifndef ERROR_READ_FAULT
#define ERROR_READ_FAULT 30L
#endif
#ifndef ERROR_FILE_EXISTS
#define ERROR_FILE_EXISTS 80L
#endif
#ifndef ERROR_DISK_FULL
#define ERROR_DISK_FULL 112L
#endif
#ifndef ERROR_WRITE_PROTECT
#define ERROR_WRITE_PROTECT 19L
#endif
#ifndef ERROR_HANDLE_DISK_FULL
#define ERROR_HANDLE_DISK_FULL 39L
#endif
