// Keeps Wine's desktop process running for the start-up benchmark, as the shell does at a real
// log-on: Wine starts explorer.exe for the first program that asks for the desktop window and
// ends it a moment after the last such program. This one asks, says so in the file named on its
// command line's end (created once the desktop exists), and waits until it is ended.
#include <windows.h>

extern "C" int benchStart() {
    if (!GetDesktopWindow())
        return 1;
    const char* line = GetCommandLineA();
    const char* marker = line;
    for (const char* at = line; *at; ++at)
        if (*at == ' ')
            marker = at + 1;
    HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 2;
    CloseHandle(file);
    Sleep(INFINITE);
    return 0;
}
