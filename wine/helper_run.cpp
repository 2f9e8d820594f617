// tavrol-driver.exe: runs a command line to its very end. An uninstaller hands its work to a copy
// of itself and ends at once, so the command counts as done only when every process it started,
// and every one those started, has ended: they all run in one job.
#include "helper.h"

#include <string.h>

namespace {

// Wine starts its desktop process, explorer.exe /desktop, from the first program of a prefix that
// needs a window, and it stays for the prefix's life: it is not the command's.
bool isWineDesktop(DWORD processId) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process)
        return false;
    char path[MAX_PATH] = "";
    DWORD size = sizeof path;
    const bool named = QueryFullProcessImageNameA(process, 0, path, &size) != 0;
    CloseHandle(process);
    const char* base = strrchr(path, '\\');
    return named && lstrcmpiA(base ? base + 1 : path, "explorer.exe") == 0;
}

// Processes of the job that are the command's own.
DWORD commandProcesses(HANDLE job) {
    struct {
        JOBOBJECT_BASIC_PROCESS_ID_LIST list;
        ULONG_PTR more[63];
    } ids = {};
    ids.list.NumberOfAssignedProcesses = 64;
    if (!QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids, sizeof ids, nullptr))
        return 0;
    DWORD count = 0;
    for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList; ++i)
        count += !isWineDesktop(static_cast<DWORD>(ids.list.ProcessIdList[i]));
    return count;
}

} // namespace

int runToTheEnd(const std::string& commandLine) {
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (!job)
        return fail("CreateJobObjectA " + std::to_string(GetLastError()));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    // Suspended until it is in the job, so that nothing it starts escapes.
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        nullptr, &startup, &info)) {
        const DWORD error = GetLastError();
        CloseHandle(job);
        return fail("CreateProcessA " + std::to_string(error));
    }
    if (!AssignProcessToJobObject(job, info.hProcess)) {
        const DWORD error = GetLastError();
        TerminateProcess(info.hProcess, 1);
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
        CloseHandle(job);
        return fail("AssignProcessToJobObject " + std::to_string(error));
    }
    ResumeThread(info.hThread);
    bool ended = WaitForSingleObject(info.hProcess, kWaitMs) == WAIT_OBJECT_0;
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    for (DWORD waited = 0; ended && commandProcesses(job) > 0; waited += 50) {
        if (waited >= kWaitMs)
            ended = false;
        Sleep(50);
    }
    print("run.exit", ended ? std::to_string(code) : "timeout");
    if (!ended)
        TerminateJobObject(job, 1);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    CloseHandle(job);
    return 0;
}
