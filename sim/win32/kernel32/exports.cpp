// GetProcAddress and the system DLLs of the simulated PC: kernel32 (always mapped), ole32,
// oleaut32, comctl32 and comdlg32 (loaded by LoadLibraryA). Their export tables hold the simulated
// PC's own functions, so what the program finds at run time is what Windows of the profile's
// version exports.
#include <cstring>
#include <strings.h>

#include "sim/boot.h"
#include "sim/machine.h"
#include "sim/process.h"
#include "sim/com.h"
#include "system_dlls.h"

namespace {

struct Export {
    const char* name;
    FARPROC address;
    bool ntOnly; // not exported by Windows 98 SE
    bool vistaOnly = false;
};

template <typename Function> FARPROC exported(Function function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

struct SystemDll {
    const char* name;
    uintptr_t base;
    bool alwaysLoaded;
    bool com; // counted in the COM state, which tests hold to freeing what it loads
    std::vector<Export> exports;
    // A known DLL comes from the system folder whatever the name: Windows maps it from there. Any
    // other is looked for beside the program and in the current folder first.
    bool known = true;
};

std::vector<SystemDll>& systemDlls() {
    static std::vector<SystemDll>* dlls = new std::vector<SystemDll>{
        {"kernel32.dll",
         0x7C800000,
         true,
         false,
         {{"IsWow64Process", exported(IsWow64Process), true},
          {"MoveFileA", exported(MoveFileA), false},
          {"MoveFileExA", exported(MoveFileExA), false},
          {"GetLocalTime", exported(GetLocalTime), false},
          {"SetDefaultDllDirectories", exported(SetDefaultDllDirectories), true, true},
          {"CreateBoundaryDescriptorW", exported(CreateBoundaryDescriptorW), true, true},
          {"AddSIDToBoundaryDescriptor", exported(AddSIDToBoundaryDescriptor), true, true},
          {"DeleteBoundaryDescriptor", exported(DeleteBoundaryDescriptor), true, true},
          {"CreatePrivateNamespaceW", exported(CreatePrivateNamespaceW), true, true},
          {"OpenPrivateNamespaceW", exported(OpenPrivateNamespaceW), true, true},
          {"ClosePrivateNamespace", exported(ClosePrivateNamespace), true, true}}},
        {"advapi32.dll",
         0x77DD0000,
         true,
         false,
         {{"GetFileSecurityA", exported(GetFileSecurityA), true},
          {"GetKernelObjectSecurity", exported(GetKernelObjectSecurity), true},
          {"QueryServiceConfigA", exported(QueryServiceConfigA), true}}},
        {"ddraw.dll",
         0x73760000,
         false,
         false,
         {{"DirectDrawCreate", exported(DirectDrawCreate), false}},
         false},
        {"ole32.dll",
         0x774E0000,
         false,
         true,
         {{"CoInitializeEx", exported(CoInitializeEx), false},
          {"CoUninitialize", exported(CoUninitialize), false},
          {"CoCreateInstance", exported(CoCreateInstance), false}}},
        {"oleaut32.dll",
         0x77120000,
         false,
         true,
         {{"SysAllocString", exported(SysAllocString), false},
          {"SysFreeString", exported(SysFreeString), false},
          {"SysStringLen", exported(SysStringLen), false}}},
        {"comctl32.dll",
         0x773D0000,
         false,
         false,
         {{"InitCommonControls", exported(InitCommonControls), false}}},
        {"comdlg32.dll",
         0x763B0000,
         false,
         false,
         {{"GetSaveFileNameA", exported(GetSaveFileNameA), false},
          {"CommDlgExtendedError", exported(CommDlgExtendedError), false}}},
    };
    return *dlls;
}

// Load counts of the DLLs LoadLibraryA mapped, for the current boot.
struct LoadCounts {
    unsigned generation = 0;
    int counts[8] = {};
};

int* loadCountOf(size_t index) {
    static LoadCounts loads;
    if (loads.generation != sim::bootGeneration()) {
        loads = LoadCounts();
        loads.generation = sim::bootGeneration();
    }
    return &loads.counts[index];
}

// "ole32", "OLE32.DLL", "C:\Windows\System32\ole32.dll": the DLL's index, or -1.
int indexOf(const std::string& name) {
    std::string base = name.substr(
        name.find_last_of("\\/:") == std::string::npos ? 0 : name.find_last_of("\\/:") + 1);
    if (base.find('.') == std::string::npos)
        base += ".dll";
    for (size_t i = 0; i < systemDlls().size(); ++i)
        if (strcasecmp(base.c_str(), systemDlls()[i].name) == 0)
            return int(i);
    return -1;
}

int indexOf(HMODULE module) {
    for (size_t i = 0; i < systemDlls().size(); ++i)
        if (reinterpret_cast<uintptr_t>(module) == systemDlls()[i].base)
            return int(i);
    return -1;
}

// Whether a name of a system DLL means the system's own: a path in the system folder, or a bare
// name that a DLL other than a known one does not find first beside the program or in the
// current folder (as a bare name "ddraw.dll" would find one planted there).
bool isSystemDllPath(const std::string& name, bool known) {
    size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos)
        return strcasecmp(sim::drive().fullPath(name.substr(0, slash)).c_str(),
                          sim::systemDirectory().c_str()) == 0;
    if (known || sim::process().dllsFromSystemFolderOnly())
        return true;
    const std::string* exePath = sim::process().modulePathOf(nullptr);
    std::string folders[2] = {exePath ? exePath->substr(0, exePath->find_last_of('\\'))
                                      : std::string(),
                              sim::process().currentDirectory()};
    for (const std::string& folder : folders)
        if (!folder.empty() && sim::drive().fileExists(folder + "\\" + name))
            return false;
    return true;
}

bool mapped(size_t index) {
    return systemDlls()[index].alwaysLoaded || *loadCountOf(index) > 0;
}

} // namespace

namespace sim {

HMODULE loadSystemDll(const std::string& name, bool* isSystem) {
    int index = indexOf(name);
    *isSystem = index >= 0 && isSystemDllPath(name, systemDlls()[size_t(index)].known);
    if (!*isSystem)
        return nullptr;
    const SystemDll& dll = systemDlls()[size_t(index)];
    if (!dll.alwaysLoaded) {
        // `#! task-fail LoadLibrary` is about the Task Scheduler's DLLs.
        HRESULT fault = dll.com ? taskFault("LoadLibrary") : S_OK;
        if (FAILED(fault)) {
            SetLastError(DWORD(fault) & 0xFFFF);
            return nullptr;
        }
        ++*loadCountOf(size_t(index));
        if (dll.com)
            ++mutableComState().loadedSystemDlls;
    }
    return reinterpret_cast<HMODULE>(dll.base);
}

HMODULE systemDllHandle(const std::string& name) {
    int index = indexOf(name);
    if (index < 0 || !mapped(size_t(index)))
        return nullptr;
    return reinterpret_cast<HMODULE>(systemDlls()[size_t(index)].base);
}

bool freeSystemDll(HMODULE module) {
    int index = indexOf(module);
    if (index < 0)
        return false;
    int* count = loadCountOf(size_t(index));
    const SystemDll& dll = systemDlls()[size_t(index)];
    if (!dll.alwaysLoaded && *count > 0) {
        --*count;
        if (dll.com)
            --mutableComState().loadedSystemDlls;
    }
    return true;
}

} // namespace sim

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
    int index = indexOf(module);
    if (index < 0 || !mapped(size_t(index))) {
        SetLastError(module == nullptr || module == sim::process().exeModule()
                         ? ERROR_PROC_NOT_FOUND
                         : ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (procName != nullptr && !IS_INTRESOURCE(procName)) {
        for (const Export& e : systemDlls()[size_t(index)].exports) {
            if (std::strcmp(e.name, procName) == 0 && (sim::machine().isNt() || !e.ntOnly) &&
                (sim::machine().isVistaOrLater() || !e.vistaOnly))
                return e.address;
        }
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}
