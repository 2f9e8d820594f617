// LoadLibraryA, LoadLibraryExA, FreeLibrary, GetModuleHandleA and the kernel32 resource
// functions of the simulated PC.
#include <string.h>

#include "../../res/resource.h"
#include "resources/fixtures.h"

namespace {

using testpe::FreshPc;
using testpe::kTvxWindowsPath;

const DWORD kSentinel = 0xdeadbeef;

// A library with one RT_RCDATA resource whose bytes say where it came from.
std::vector<uint8_t> markedLibrary(const std::string& mark) {
    return testpe::buildLibrary({{10, 1, 0, std::vector<uint8_t>(mark.begin(), mark.end())}});
}

std::string markOf(HMODULE module) {
    DWORD size = 0;
    const uint8_t* data = sim::resourceData(module, RT_RCDATA, MAKEINTRESOURCEA(1), &size);
    return data ? std::string(data, data + size) : std::string("<none>");
}

using LoadLibrary = FreshPc;

TEST_F(LoadLibrary, FindsTheResourceLibraryBesideTheProgram) {
    installTvx();
    HMODULE module = LoadLibraryA("Tavrol.tvx");
    ASSERT_NE(module, nullptr) << "last error " << GetLastError();
    EXPECT_NE(module, GetModuleHandleA(nullptr));
    EXPECT_EQ(sim::moduleLoadCount(module), 1);
    char path[MAX_PATH] = {};
    EXPECT_EQ(GetModuleFileNameA(module, path, sizeof path), strlen(kTvxWindowsPath));
    EXPECT_STRCASEEQ(path, kTvxWindowsPath);
    EXPECT_NE(sim::resourceData(module, RT_DIALOG, MAKEINTRESOURCEA(IDD_TAVROL_DIALOG), nullptr),
              nullptr);
}

TEST_F(LoadLibrary, LooksInTheCurrentDirectoryBeforeTheProgramDirectory) {
    putFile(std::string(sim::kProgramDirectory) + "\\Res.dat", markedLibrary("program"));
    putFile("C:\\Work\\Res.dat", markedLibrary("current"));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\Work"));
    HMODULE module = LoadLibraryA("res.DAT");
    ASSERT_NE(module, nullptr) << "last error " << GetLastError();
    EXPECT_EQ(markOf(module), "current");
}

TEST_F(LoadLibrary, FallsBackToTheProgramDirectory) {
    putFile(std::string(sim::kProgramDirectory) + "\\Res.dat", markedLibrary("program"));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
    HMODULE module = LoadLibraryA("Res.dat");
    ASSERT_NE(module, nullptr) << "last error " << GetLastError();
    EXPECT_EQ(markOf(module), "program");
}

TEST_F(LoadLibrary, TakesAbsoluteAndRelativePaths) {
    putFile("C:\\Data\\Sub\\Res.dat", markedLibrary("sub"));
    HMODULE absolute = LoadLibraryA("C:\\Data\\Sub\\Res.dat");
    ASSERT_NE(absolute, nullptr) << "last error " << GetLastError();
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\Data"));
    EXPECT_EQ(LoadLibraryA("Sub\\res.dat"), absolute) << "same file, same module";
    EXPECT_EQ(LoadLibraryA("C:/data/sub/RES.DAT"), absolute);
    EXPECT_EQ(sim::moduleLoadCount(absolute), 3);
    // A path names one file: it is not searched for elsewhere.
    SetLastError(kSentinel);
    EXPECT_EQ(LoadLibraryA("Other\\Res.dat"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
}

TEST_F(LoadLibrary, AppendsDllToANameWithoutExtensionUnlessItEndsInADot) {
    putFile(std::string(sim::kProgramDirectory) + "\\Plain.dll", markedLibrary("dll"));
    putFile(std::string(sim::kProgramDirectory) + "\\Plain", markedLibrary("bare"));
    HMODULE dll = LoadLibraryA("Plain");
    HMODULE bare = LoadLibraryA("Plain.");
    ASSERT_NE(dll, nullptr);
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(markOf(dll), "dll");
    EXPECT_EQ(markOf(bare), "bare");
    EXPECT_NE(dll, bare);
}

TEST_F(LoadLibrary, MissingFileFailsWithModNotFound) {
    for (const char* name : {"Tavrol.tvx", "Missing.tvx", "C:\\Nowhere\\Tavrol.tvx", ""}) {
        SCOPED_TRACE(std::string("name '") + name + "'");
        SetLastError(kSentinel);
        EXPECT_EQ(LoadLibraryA(name), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
    }
    SetLastError(kSentinel);
    EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST_F(LoadLibrary, RefusesFilesThatAreNoLoadablePeImage) {
    std::vector<uint8_t> withEntryPoint = markedLibrary("code");
    testpe::put32(&withEntryPoint, testpe::kOptionalHeaderOffset + 16, 0x1000);
    std::vector<uint8_t> withImports = markedLibrary("imports");
    testpe::put32(&withImports, testpe::kOptionalHeaderOffset + 96 + 8, 0x1000);
    testpe::put32(&withImports, testpe::kOptionalHeaderOffset + 96 + 12, 20);
    std::vector<uint8_t> otherMachine = markedLibrary("x64");
    testpe::put16(&otherMachine, testpe::kPeHeaderOffset + 4, 0x8664);
    std::vector<uint8_t> text = {'h', 'e', 'l', 'l', 'o'};
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    } cases[] = {{"Entry.dll", withEntryPoint},
                 {"Imports.dll", withImports},
                 {"Machine.dll", otherMachine},
                 {"Text.dll", text},
                 {"Empty.dll", {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        putFile(std::string(sim::kProgramDirectory) + "\\" + c.name, c.bytes);
        SetLastError(kSentinel);
        EXPECT_EQ(LoadLibraryA(c.name), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_BAD_EXE_FORMAT));
        EXPECT_EQ(GetModuleHandleA(c.name), nullptr) << "a refused file stays unloaded";
    }
}

TEST_F(LoadLibrary, GivesEachModuleItsOwnHandleEvenAtTheSamePreferredBase) {
    putFile("C:\\A.dll", markedLibrary("a"));
    putFile("C:\\B.dll", markedLibrary("b"));
    HMODULE a = LoadLibraryA("C:\\A.dll");
    HMODULE b = LoadLibraryA("C:\\B.dll");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(a, reinterpret_cast<HMODULE>(0x10000000)) << "the first takes its preferred base";
    EXPECT_EQ(markOf(a), "a");
    EXPECT_EQ(markOf(b), "b");
}

// A library mapped as a data file gives its resources and nothing else: its code never runs, so
// an entry point is no obstacle, and no loaded module goes by its name or handle.
using DataFile = FreshPc;

TEST_F(DataFile, GivesResourcesOnlyAndIsNoLoadedModule) {
    std::vector<uint8_t> withEntryPoint = markedLibrary("data");
    testpe::put32(&withEntryPoint, testpe::kOptionalHeaderOffset + 16, 0x1000);
    putFile("C:\\Lib\\Entry.dll", withEntryPoint);
    EXPECT_EQ(LoadLibraryA("C:\\Lib\\Entry.dll"), nullptr) << "code that would run";

    HMODULE data = LoadLibraryExA("C:\\Lib\\Entry.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(data, nullptr) << "last error " << GetLastError();
    EXPECT_EQ(reinterpret_cast<uintptr_t>(data) & 1, 1u) << "Windows marks a data file's handle";
    EXPECT_TRUE(sim::isDatafileModule(data));
    EXPECT_EQ(markOf(data), "data");
    HRSRC found = FindResourceA(data, MAKEINTRESOURCEA(1), RT_RCDATA);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(SizeofResource(data, found), 4u);
    EXPECT_NE(LockResource(LoadResource(data, found)), nullptr);

    char path[MAX_PATH] = {};
    SetLastError(kSentinel);
    EXPECT_EQ(GetModuleFileNameA(data, path, sizeof path), 0u) << path;
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(GetModuleHandleA("Entry.dll"), nullptr);
    EXPECT_EQ(GetModuleHandleA("C:\\Lib\\Entry.dll"), nullptr);

    EXPECT_TRUE(FreeLibrary(data));
    EXPECT_EQ(sim::loadedLibraryCount(), 0);
    EXPECT_EQ(FindResourceA(data, MAKEINTRESOURCEA(1), RT_RCDATA), nullptr) << "unmapped";
}

TEST_F(DataFile, TheResourceLibraryServesStringsDialogsAndIcons) {
    installTvx();
    HMODULE tvx = LoadLibraryExA("Tavrol.tvx", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(tvx, nullptr);
    char text[64];
    EXPECT_GT(LoadStringA(tvx, IDS_ABOUT, text, sizeof text), 0);
    EXPECT_NE(FindResourceA(tvx, MAKEINTRESOURCEA(IDD_TAVROL_DIALOG), RT_DIALOG), nullptr);
    EXPECT_NE(LoadIconA(tvx, MAKEINTRESOURCEA(IDI_TAVROL)), nullptr);
    HMODULE code = LoadLibraryA("Tavrol.tvx");
    EXPECT_NE(code, tvx) << "a loaded module is not the data-file mapping";
    FreeLibrary(code);
    FreeLibrary(tvx);
}

TEST_F(DataFile, TakesNoFileHandleAndNoOtherFlag) {
    installTvx();
    for (DWORD flags : {DWORD(0x8), DWORD(LOAD_LIBRARY_AS_DATAFILE | 0x1)}) {
        SetLastError(kSentinel);
        EXPECT_EQ(LoadLibraryExA("Tavrol.tvx", nullptr, flags), nullptr) << std::hex << flags;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    }
    EXPECT_EQ(LoadLibraryExA("Tavrol.tvx", reinterpret_cast<HANDLE>(4), LOAD_LIBRARY_AS_DATAFILE),
              nullptr);
    SetLastError(kSentinel);
    EXPECT_EQ(LoadLibraryExA("Missing.tvx", nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
}

using FreeLibraryCount = FreshPc;

TEST_F(FreeLibraryCount, UnloadsOnlyWhenTheLastReferenceGoes) {
    installTvx();
    HMODULE first = LoadLibraryA("Tavrol.tvx");
    HMODULE second = LoadLibraryA("TAVROL.TVX");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(second, first);
    EXPECT_EQ(sim::moduleLoadCount(first), 2);

    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_EQ(sim::moduleLoadCount(first), 1);
    EXPECT_EQ(GetModuleHandleA("tavrol.tvx"), first);
    char text[64];
    EXPECT_GT(LoadStringA(first, IDS_ABOUT, text, sizeof text), 0) << "still usable";

    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_EQ(sim::moduleLoadCount(first), 0);
    SetLastError(kSentinel);
    EXPECT_EQ(GetModuleHandleA("Tavrol.tvx"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
    char path[MAX_PATH];
    EXPECT_EQ(GetModuleFileNameA(first, path, sizeof path), 0u) << "unloaded: " << path;
    SetLastError(kSentinel);
    EXPECT_EQ(FindResourceA(first, MAKEINTRESOURCEA(IDD_ABOUT), RT_DIALOG), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));

    SetLastError(kSentinel);
    EXPECT_FALSE(FreeLibrary(first)) << "one free too many";
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
}

TEST_F(FreeLibraryCount, LeavesTheExecutableAlone) {
    HMODULE exe = GetModuleHandleA(nullptr);
    ASSERT_NE(exe, nullptr);
    EXPECT_TRUE(FreeLibrary(exe));
    EXPECT_EQ(GetModuleHandleA(nullptr), exe);
    EXPECT_EQ(GetModuleHandleA("Tavrol.exe"), exe);
    EXPECT_EQ(GetModuleHandleA("TAVROL"), nullptr) << "the default extension is .dll";
}

TEST_F(FreeLibraryCount, ANewBootForgetsEveryModule) {
    installTvx();
    HMODULE module = LoadLibraryA("Tavrol.tvx");
    ASSERT_NE(module, nullptr);
    m_pc = sim::bootForTest("");
    ASSERT_TRUE(m_pc.ok()) << m_pc.error();
    EXPECT_EQ(sim::moduleLoadCount(module), 0);
    EXPECT_EQ(GetModuleHandleA("Tavrol.tvx"), nullptr);
    EXPECT_EQ(sim::moduleImage(module), nullptr);
}

using FindResource = FreshPc;

TEST_F(FindResource, FindsByIdByHashNumberAndByNameInAnyCase) {
    std::vector<uint8_t> bytes = testpe::buildLibrary({
        {10, 7, 0x0409, {1, 2, 3}},
        {10, u"CONFIG", 0x0409, {4, 5}},
        {u"CUSTOM", u"THING", 0, {6}},
    });
    putFile("C:\\R.dll", bytes);
    HMODULE module = LoadLibraryA("C:\\R.dll");
    ASSERT_NE(module, nullptr);
    struct Case {
        LPCSTR name;
        LPCSTR type;
        std::vector<uint8_t> expected;
    } cases[] = {
        {MAKEINTRESOURCEA(7), RT_RCDATA, {1, 2, 3}},
        {"#7", "#10", {1, 2, 3}},
        {"config", RT_RCDATA, {4, 5}},
        {"Config", "#10", {4, 5}},
        {"thing", "custom", {6}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(IS_INTRESOURCE(c.name) ? std::to_string(LOWORD(c.name)) : c.name);
        HRSRC found = FindResourceA(module, c.name, c.type);
        ASSERT_NE(found, nullptr) << "last error " << GetLastError();
        DWORD size = SizeofResource(module, found);
        HGLOBAL loaded = LoadResource(module, found);
        ASSERT_NE(loaded, nullptr);
        const uint8_t* data = static_cast<const uint8_t*>(LockResource(loaded));
        ASSERT_EQ(size, c.expected.size());
        EXPECT_EQ(std::vector<uint8_t>(data, data + size), c.expected);
    }
}

TEST_F(FindResource, ReportsWhichPartWasMissing) {
    putFile("C:\\R.dll", testpe::buildLibrary({{10, 7, 0, {1}}}));
    HMODULE module = LoadLibraryA("C:\\R.dll");
    ASSERT_NE(module, nullptr);
    struct Case {
        LPCSTR name;
        LPCSTR type;
        DWORD error;
    } cases[] = {
        {MAKEINTRESOURCEA(8), RT_RCDATA, ERROR_RESOURCE_NAME_NOT_FOUND},
        {MAKEINTRESOURCEA(7), RT_DIALOG, ERROR_RESOURCE_TYPE_NOT_FOUND},
        {"#x7", RT_RCDATA, ERROR_RESOURCE_NAME_NOT_FOUND},
        {"#70000", RT_RCDATA, ERROR_RESOURCE_NAME_NOT_FOUND},
        {"", RT_RCDATA, ERROR_RESOURCE_NAME_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(IS_INTRESOURCE(c.name) ? std::to_string(LOWORD(c.name)) : c.name);
        SetLastError(kSentinel);
        EXPECT_EQ(FindResourceA(module, c.name, c.type), nullptr);
        EXPECT_EQ(GetLastError(), c.error);
    }
}

TEST_F(FindResource, RejectsHandlesOfAnotherModule) {
    putFile("C:\\A.dll", markedLibrary("a"));
    putFile("C:\\B.dll", markedLibrary("b"));
    HMODULE a = LoadLibraryA("C:\\A.dll");
    HMODULE b = LoadLibraryA("C:\\B.dll");
    HRSRC ofA = FindResourceA(a, MAKEINTRESOURCEA(1), RT_RCDATA);
    ASSERT_NE(ofA, nullptr);
    SetLastError(kSentinel);
    EXPECT_EQ(SizeofResource(b, ofA), 0u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_EQ(LoadResource(b, ofA), nullptr);
    EXPECT_EQ(SizeofResource(a, nullptr), 0u);
    int notAResource = 0;
    EXPECT_EQ(LoadResource(a, reinterpret_cast<HRSRC>(&notAResource)), nullptr);
}

TEST_F(FindResource, PrefersTheNeutralThenUsEnglishLanguage) {
    putFile("C:\\L.dll", testpe::buildLibrary({
                             {10, 1, 0x0407, {'d', 'e'}},
                             {10, 1, 0x0409, {'e', 'n'}},
                             {10, 2, 0x0407, {'d', 'e'}},
                             {10, 2, 0x0409, {'e', 'n'}},
                             {10, 2, 0x0000, {'n', 'u'}},
                             {10, 3, 0x040C, {'f', 'r'}},
                         }));
    HMODULE module = LoadLibraryA("C:\\L.dll");
    ASSERT_NE(module, nullptr);
    auto text = [&](int id) {
        DWORD size = 0;
        const uint8_t* d = sim::resourceData(module, RT_RCDATA, MAKEINTRESOURCEA(id), &size);
        return d ? std::string(d, d + size) : std::string();
    };
    EXPECT_EQ(text(1), "en");
    EXPECT_EQ(text(2), "nu");
    EXPECT_EQ(text(3), "fr");
}

TEST_F(FindResource, ReachesEveryKindOfResourceInTheInstalledLibrary) {
    installTvx();
    HMODULE tvx = LoadLibraryA("Tavrol.tvx");
    ASSERT_NE(tvx, nullptr);
    const sim::PeImage* image = sim::moduleImage(tvx);
    ASSERT_NE(image, nullptr);
    struct Case {
        LPCSTR type;
        int id;
    } cases[] = {{RT_DIALOG, IDD_ABOUT},
                 {RT_DIALOG, IDD_TAVROL_DIALOG},
                 {RT_DIALOG, IDD_RESTORE},
                 {RT_STRING, IDS_ABOUT / 16 + 1},
                 {RT_STRING, IDS_ERR_LAST / 16 + 1},
                 {RT_GROUP_ICON, IDI_TAVROL},
                 {RT_VERSION, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE("type " + std::to_string(LOWORD(c.type)) + " ID " + std::to_string(c.id));
        HRSRC found = FindResourceA(tvx, MAKEINTRESOURCEA(c.id), c.type);
        ASSERT_NE(found, nullptr) << "last error " << GetLastError();
        const sim::PeResource* parsed = sim::findResource(*image, c.type, MAKEINTRESOURCEA(c.id));
        ASSERT_NE(parsed, nullptr);
        EXPECT_EQ(SizeofResource(tvx, found), parsed->size);
        EXPECT_GT(parsed->size, 0u);
        DWORD size = 0;
        EXPECT_EQ(LockResource(LoadResource(tvx, found)),
                  sim::resourceData(tvx, c.type, MAKEINTRESOURCEA(c.id), &size));
        EXPECT_EQ(size, parsed->size);
    }
    // Every image the icon group names is there too.
    int icons = 0;
    for (const sim::PeResource& r : image->resources) {
        if (r.type.isId() && r.type.id == 3) {
            ++icons;
            EXPECT_NE(FindResourceA(tvx, MAKEINTRESOURCEA(r.name.id), RT_ICON), nullptr);
        }
    }
    EXPECT_EQ(icons, 6);
}

TEST_F(FindResource, ExecutableHasNoResourcesUntilATestInstallsSome) {
    HMODULE exe = GetModuleHandleA(nullptr);
    SetLastError(kSentinel);
    EXPECT_EQ(FindResourceA(exe, MAKEINTRESOURCEA(IDD_ABOUT), RT_DIALOG), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_DATA_NOT_FOUND));
    EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCEA(IDD_ABOUT), RT_DIALOG), nullptr);

    EXPECT_FALSE(sim::setExecutableResources({'M', 'Z'})) << "malformed image accepted";
    ASSERT_TRUE(sim::setExecutableResources(markedLibrary("exe")));
    EXPECT_EQ(markOf(exe), "exe");
    EXPECT_EQ(markOf(nullptr), "exe") << "a null module means the executable";
    EXPECT_FALSE(sim::setExecutableResources({'M', 'Z'}));
    EXPECT_EQ(markOf(exe), "exe") << "a refused image must not remove the installed one";
    ASSERT_TRUE(sim::setExecutableResources({}));
    EXPECT_EQ(markOf(exe), "<none>");
}

} // namespace
