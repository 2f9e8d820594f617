// Modules of the simulated process: LoadLibraryA, FreeLibrary, GetModuleHandleA, the resource
// functions of kernel32, and the shared icons behind LoadIconA.
#include "sim/pe_module.h"

#include <stdlib.h>

#include <iterator>
#include <memory>

#include "sim/boot.h"
#include "sim/machine.h"
#include "sim/process.h"
#include "system_dlls.h"

#ifndef TAVROL_TVX_PATH
#define TAVROL_TVX_PATH ""
#endif

namespace sim {
namespace {

const WORD kMachineI386 = 0x014C;
const WORD kFileExecutableImage = 0x0002;
const uintptr_t kFirstLibraryBase = 0x10000000;
const uintptr_t kAllocationGranularity = 0x10000;

struct Module {
    HMODULE handle = nullptr;
    std::string windowsPath;
    int loadCount = 0;
    bool datafile =
        false; // mapped for its resources only: LoadLibraryExA(LOAD_LIBRARY_AS_DATAFILE)
    std::vector<uint8_t> file;
    PeImage image;
};

struct SharedIcon {
    HMODULE module; // null once that module is unloaded: the icon stays, but is not found again
    ResourceKey group;
    IconImage image;
};

struct ModuleTable {
    unsigned generation = 0;
    std::vector<std::unique_ptr<Module>> libraries;
    std::unique_ptr<Module> executable; // resources a test installed into the executable
    std::vector<std::unique_ptr<SharedIcon>> icons;
};

ModuleTable& rawTable() {
    static ModuleTable table;
    return table;
}

// An unloaded module's icons stay drawable; a module loaded later at the same handle makes its
// own.
void forgetIconsOf(ModuleTable& t, HMODULE module) {
    for (const auto& icon : t.icons) {
        if (icon->module == module)
            icon->module = nullptr;
    }
}

// The table of the current boot. A process restarted on the same PC forgets its modules too:
// a library the process no longer knows is dropped.
ModuleTable& table() {
    ModuleTable& t = rawTable();
    if (t.generation != bootGeneration()) {
        t = ModuleTable();
        t.generation = bootGeneration();
    }
    for (const auto& m : t.libraries) {
        if (process().modulePathOf(m->handle) == nullptr) {
            for (const auto& gone : t.libraries)
                forgetIconsOf(t, gone->handle);
            t.libraries.clear();
            break;
        }
    }
    return t;
}

bool equalsIgnoreCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'a' && a[i] <= 'z' ? char(a[i] - 32) : a[i];
        char y = b[i] >= 'a' && b[i] <= 'z' ? char(b[i] - 32) : b[i];
        if (x != y)
            return false;
    }
    return true;
}

std::string baseName(const std::string& path) {
    size_t slash = path.find_last_of("\\/:");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string directoryOf(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Windows appends ".dll" to a module name without an extension; a trailing dot means "no
// extension" and is dropped.
std::string withDefaultExtension(const std::string& name) {
    std::string base = baseName(name);
    if (!base.empty() && base.back() == '.')
        return name.substr(0, name.size() - 1);
    if (base.find('.') == std::string::npos)
        return name + ".dll";
    return name;
}

bool hasPathPart(const std::string& name) {
    return name.find_first_of("\\/:") != std::string::npos;
}

Module* findLibrary(HMODULE handle) {
    for (const auto& m : table().libraries) {
        if (m->handle == handle)
            return m.get();
    }
    return nullptr;
}

// The module that resource calls act on: null means the executable.
Module* resourceModule(HMODULE handle) {
    if (handle == nullptr || handle == process().exeModule())
        return table().executable.get();
    return findLibrary(handle);
}

bool isKnownModule(HMODULE handle) {
    return handle == nullptr || handle == process().exeModule() || findLibrary(handle) != nullptr;
}

// Picks a base for a new module: its preferred base when that range is free, else the next free
// range at the allocation granularity, as the loader relocates.
HMODULE chooseBase(const PeImage& image) {
    uintptr_t size = image.sizeOfImage ? image.sizeOfImage : kAllocationGranularity;
    size = (size + kAllocationGranularity - 1) & ~(kAllocationGranularity - 1);
    auto isFree = [&](uintptr_t base) {
        uintptr_t exe = reinterpret_cast<uintptr_t>(process().exeModule());
        if (base == 0 || (base <= exe && exe < base + size))
            return false;
        for (const auto& m : table().libraries) {
            uintptr_t other = reinterpret_cast<uintptr_t>(m->handle);
            uintptr_t otherSize = m->image.sizeOfImage ? m->image.sizeOfImage : 1;
            if (base < other + otherSize && other < base + size)
                return false;
        }
        return true;
    };
    uintptr_t preferred = image.imageBase & ~(kAllocationGranularity - 1);
    if (preferred == image.imageBase && isFree(preferred))
        return reinterpret_cast<HMODULE>(preferred);
    uintptr_t base = kFirstLibraryBase;
    while (!isFree(base))
        base += kAllocationGranularity;
    return reinterpret_cast<HMODULE>(base);
}

} // namespace

namespace {

// Checks that an image is something the simulated PC can map: an i386 image whose code never
// needs to run, since the simulated PC executes no x86 code.
bool loadableImage(const PeImage& image) {
    if (image.machine != kMachineI386 || !(image.characteristics & kFileExecutableImage))
        return false;
    if (image.entryPoint != 0)
        return false;
    return image.dataDirectoryCount <= kDirImport || image.dataDirectorySize[kDirImport] == 0;
}

// Resolves the name LoadLibraryA got to a file on the virtual drive: a path as given (relative
// ones from the current directory), a bare name in the current directory, then in the program's,
// then in the system folder.
std::string resolveLibrary(const std::string& name) {
    if (hasPathPart(name)) {
        std::string full = drive().fullPath(name);
        return !full.empty() && drive().fileExists(full) ? full : std::string();
    }
    const std::string* exePath = process().modulePathOf(nullptr);
    bool systemOnly = process().dllsFromSystemFolderOnly();
    std::string candidates[3] = {systemOnly ? std::string() : process().currentDirectory(),
                                 systemOnly || !exePath ? std::string() : directoryOf(*exePath),
                                 systemDirectory()};
    for (const std::string& dir : candidates) {
        if (dir.empty())
            continue;
        std::string full = drive().fullPath(dir + "\\" + name);
        if (!full.empty() && drive().fileExists(full))
            return full;
    }
    return std::string();
}

bool parseGroupIcon(const uint8_t* data, DWORD size, WORD* iconId) {
    const size_t kHeader = 6, kEntry = 14;
    if (data == nullptr || size < kHeader)
        return false;
    WORD reserved = WORD(data[0] | (data[1] << 8));
    WORD type = WORD(data[2] | (data[3] << 8));
    WORD count = WORD(data[4] | (data[5] << 8));
    if (reserved != 0 || type != 1 || count == 0 || kHeader + size_t(count) * kEntry > size)
        return false;
    int wantX = GetSystemMetrics(SM_CXICON);
    int wantY = GetSystemMetrics(SM_CYICON);
    if (wantX <= 0 || wantY <= 0)
        wantX = wantY = 32;
    // Nearest size first; between two equally near sizes the larger, which shrinks better than
    // the smaller grows; then the deepest colours.
    long bestScore = -1;
    int bestWidth = -1, bestBits = -1;
    for (WORD i = 0; i < count; ++i) {
        const uint8_t* e = data + kHeader + size_t(i) * kEntry;
        int width = e[0] ? e[0] : 256;
        int height = e[1] ? e[1] : 256;
        int bits = e[6] | (e[7] << 8);
        long score = labs(long(width) - wantX) + labs(long(height) - wantY);
        bool better =
            bestScore < 0 || score < bestScore ||
            (score == bestScore && (width > bestWidth || (width == bestWidth && bits > bestBits)));
        if (better) {
            bestScore = score;
            bestWidth = width;
            bestBits = bits;
            *iconId = WORD(e[12] | (e[13] << 8));
        }
    }
    return true;
}

} // namespace

// The resource of a loaded module, with the last error of FindResourceA when there is none.
static const PeResource* lookUpResource(HMODULE module, LPCSTR type, LPCSTR name, Module** owner) {
    if (!isKnownModule(module)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    Module* m = resourceModule(module);
    if (m == nullptr) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    DWORD error = 0;
    const PeResource* r = findResource(m->image, type, name, &error);
    if (r == nullptr) {
        SetLastError(error);
        return nullptr;
    }
    *owner = m;
    return r;
}

const uint8_t* resourceData(HMODULE module, LPCSTR type, LPCSTR name, DWORD* size) {
    if (size)
        *size = 0;
    Module* m = nullptr;
    const PeResource* r = lookUpResource(module, type, name, &m);
    if (r == nullptr)
        return nullptr;
    if (size)
        *size = r->size;
    return m->file.data() + r->fileOffset;
}

const PeImage* moduleImage(HMODULE module) {
    if (!isKnownModule(module))
        return nullptr;
    Module* m = resourceModule(module);
    return m ? &m->image : nullptr;
}

HMODULE executableModule() {
    return process().exeModule();
}

bool setExecutableResources(const std::vector<uint8_t>& peFile) {
    ModuleTable& t = table();
    if (peFile.empty()) {
        forgetIconsOf(t, process().exeModule());
        t.executable.reset();
        return true;
    }
    auto m = std::make_unique<Module>();
    if (!parsePeImage(peFile.data(), peFile.size(), &m->image))
        return false;
    forgetIconsOf(t, process().exeModule());
    m->handle = process().exeModule();
    m->file = peFile;
    m->loadCount = 1;
    t.executable = std::move(m);
    return true;
}

int moduleLoadCount(HMODULE module) {
    Module* m = findLibrary(module);
    return m ? m->loadCount : 0;
}

std::string moduleWindowsPath(HMODULE module) {
    Module* m = findLibrary(module);
    return m ? m->windowsPath : std::string();
}

int loadedLibraryCount() {
    return static_cast<int>(table().libraries.size());
}

bool isDatafileModule(HMODULE module) {
    Module* m = findLibrary(module);
    return m && m->datafile;
}

void resetModules() {
    ModuleTable& t = rawTable();
    for (const auto& m : t.libraries)
        process().unregisterModule(m->handle);
    t = ModuleTable();
    t.generation = bootGeneration();
}

HICON loadSharedIcon(HMODULE module, LPCSTR name) {
    DWORD groupSize = 0;
    const uint8_t* group = resourceData(module, RT_GROUP_ICON, name, &groupSize);
    if (group == nullptr)
        return nullptr;
    ModuleTable& t = table();
    HMODULE key = module ? module : process().exeModule();
    ResourceKey groupKey = findResource(resourceModule(module)->image, RT_GROUP_ICON, name)->name;
    for (const auto& icon : t.icons) {
        if (icon->module == key && icon->group.id == groupKey.id &&
            icon->group.name == groupKey.name)
            return reinterpret_cast<HICON>(icon.get());
    }
    WORD iconId = 0;
    if (!parseGroupIcon(group, groupSize, &iconId)) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    DWORD imageSize = 0;
    const uint8_t* imageData = resourceData(module, RT_ICON, MAKEINTRESOURCEA(iconId), &imageSize);
    if (imageData == nullptr)
        return nullptr;
    auto icon = std::make_unique<SharedIcon>();
    if (!decodeIconImage(imageData, imageSize, &icon->image)) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    icon->image.iconId = iconId;
    icon->module = key;
    icon->group = groupKey;
    t.icons.push_back(std::move(icon));
    return reinterpret_cast<HICON>(t.icons.back().get());
}

const IconImage* iconImage(HICON icon) {
    for (const auto& i : table().icons) {
        if (reinterpret_cast<HICON>(i.get()) == icon)
            return &i->image;
    }
    return nullptr;
}

const char* builtResourceLibraryPath() {
    return TAVROL_TVX_PATH;
}

bool installResourceLibrary() {
    std::string source = builtResourceLibraryPath();
    return !source.empty() &&
           drive().installFile(std::string(kProgramDirectory) + "\\Tavrol.tvx", source);
}

} // namespace sim

using namespace sim;

namespace {

HMODULE loadModule(LPCSTR libFileName, bool datafile) {
    if (libFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    bool isSystem = false;
    HMODULE system = loadSystemDll(libFileName, &isSystem);
    if (isSystem)
        return system;
    std::string name = withDefaultExtension(libFileName);
    ModuleTable& t = table();
    // A bare name that matches a loaded module is that module, wherever it was loaded from. A
    // data-file mapping is no loaded module: every one is a mapping of its own.
    std::string path = hasPathPart(name) ? drive().fullPath(name) : std::string();
    for (const auto& m : t.libraries) {
        if (!datafile && !m->datafile &&
            (path.empty() ? equalsIgnoreCase(baseName(m->windowsPath), name)
                          : equalsIgnoreCase(m->windowsPath, path))) {
            ++m->loadCount;
            return m->handle;
        }
    }
    path = name.empty() ? std::string() : resolveLibrary(name);
    auto m = std::make_unique<Module>();
    if (path.empty() || !readHostFile(drive().hostPathOf(path), &m->file)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // Nothing of a data file runs, so its entry point and imports do not matter.
    if (!parsePeImage(m->file.data(), m->file.size(), &m->image) ||
        (!datafile && !loadableImage(m->image))) {
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    for (const auto& other : t.libraries) {
        if (!datafile && !other->datafile && equalsIgnoreCase(other->windowsPath, path)) {
            ++other->loadCount;
            return other->handle;
        }
    }
    m->windowsPath = path;
    m->loadCount = 1;
    m->datafile = datafile;
    m->handle = chooseBase(m->image);
    // A data-file mapping's handle is its base with bit 0 set, as Windows gives it: it names no
    // loaded module, only a mapping whose resources can be read.
    if (datafile)
        m->handle = reinterpret_cast<HMODULE>(reinterpret_cast<uintptr_t>(m->handle) | 1);
    process().registerModule(m->handle, path);
    t.libraries.push_back(std::move(m));
    return t.libraries.back()->handle;
}

} // namespace

BOOL WINAPI SetDefaultDllDirectories(DWORD directoryFlags) {
    if (directoryFlags != LOAD_LIBRARY_SEARCH_SYSTEM32) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    process().setDllsFromSystemFolderOnly(true);
    return TRUE;
}

HMODULE WINAPI LoadLibraryA(LPCSTR libFileName) {
    return loadModule(libFileName, false);
}

HMODULE WINAPI LoadLibraryExA(LPCSTR libFileName, HANDLE file, DWORD flags) {
    if (file != nullptr || (flags & ~LOAD_LIBRARY_AS_DATAFILE) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return loadModule(libFileName, (flags & LOAD_LIBRARY_AS_DATAFILE) != 0);
}

BOOL WINAPI FreeLibrary(HMODULE libModule) {
    ModuleTable& t = table();
    if (libModule != nullptr && libModule == process().exeModule())
        return TRUE; // the executable stays mapped until the process ends
    if (freeSystemDll(libModule))
        return TRUE;
    for (size_t i = 0; i < t.libraries.size(); ++i) {
        Module& m = *t.libraries[i];
        if (m.handle != libModule)
            continue;
        if (--m.loadCount == 0) {
            process().unregisterModule(m.handle);
            forgetIconsOf(t, m.handle);
            t.libraries.erase(t.libraries.begin() + long(i));
        }
        return TRUE;
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
    if (moduleName == nullptr)
        return process().exeModule();
    if (HMODULE system = systemDllHandle(moduleName))
        return system;
    std::string name = withDefaultExtension(moduleName);
    const std::string* exePath = process().modulePathOf(nullptr);
    bool byPath = hasPathPart(name);
    std::string path = byPath ? drive().fullPath(name) : std::string();
    if (exePath &&
        (byPath ? equalsIgnoreCase(*exePath, path) : equalsIgnoreCase(baseName(*exePath), name)))
        return process().exeModule();
    for (const auto& m : table().libraries) {
        if (!m->datafile && (byPath ? equalsIgnoreCase(m->windowsPath, path)
                                    : equalsIgnoreCase(baseName(m->windowsPath), name)))
            return m->handle;
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
    Module* m = nullptr;
    const PeResource* r = lookUpResource(module, type, name, &m);
    return reinterpret_cast<HRSRC>(const_cast<PeResource*>(r));
}

namespace {

// The resource record an HRSRC stands for, when it belongs to that module.
const PeResource* resourceOf(HMODULE module, HRSRC handle, Module** owner) {
    Module* m = isKnownModule(module) ? resourceModule(module) : nullptr;
    if (m == nullptr || handle == nullptr)
        return nullptr;
    for (const PeResource& r : m->image.resources) {
        if (reinterpret_cast<HRSRC>(const_cast<PeResource*>(&r)) == handle) {
            *owner = m;
            return &r;
        }
    }
    return nullptr;
}

} // namespace

HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource) {
    Module* owner = nullptr;
    const PeResource* r = resourceOf(module, resource, &owner);
    if (r == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return const_cast<uint8_t*>(owner->file.data() + r->fileOffset);
}

LPVOID WINAPI LockResource(HGLOBAL resourceData) {
    return resourceData;
}

DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource) {
    Module* owner = nullptr;
    const PeResource* r = resourceOf(module, resource, &owner);
    if (r == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return r->size;
}

BOOL WINAPI FreeResource(HGLOBAL) {
    return FALSE;
} // resources live as long as their module
