// The four run modes of the program, end to end on the virtual PC.
#include "program_fixture.h"

#include <cstring>
#include <fstream>
#include <iterator>

#include "agpcfg/agpcfg.h"
#include "sim/ui.h"
#include "ui/tavrol_dlg.h"

namespace apptest {
namespace {

const DWORD k4xSidebandFastWriteRun = 1 + 1 * 2 + 1 * 8 + 4 * 32;

bool tavrolServiceExists() {
    return sim::machine().services().find("TAVROL") != nullptr;
}

class RunModesTest : public ProgramTest {};

TEST_F(RunModesTest, StartupRunAppliesTheStoredModesToBothEnds) {
    boot("default");
    storeSettings(k4xSidebandFastWriteRun);
    run("-startup");

    for (Function end : {kBridge, kGraphics}) {
        uint32_t value = command(end);
        SCOPED_TRACE(testing::Message() << "command register " << std::hex << value);
        EXPECT_EQ(4u, value & AGP_RATE_MASK);
        EXPECT_TRUE(value & AGP_SIDEBAND);
        EXPECT_TRUE(value & AGP_FAST_WRITE);
        EXPECT_TRUE(value & AGP_ENABLE);
    }
    EXPECT_TRUE(boxes().empty());
    EXPECT_FALSE(tavrolServiceExists());
    EXPECT_FALSE(shellTraceMentions("CreateMutexA \"" TAVROL_MUTEX_NAME "\""));
    EXPECT_EQ(0, sim::loadedLibraryCount()) << "Tavrol.tvx is still mapped";
}

// The switch counts as an argument only: a program kept in a folder whose name holds it still
// runs interactively.
TEST_F(RunModesTest, AFolderNamedLikeTheSwitchStartsNoLogOnRun) {
    boot("default");
    const std::string program = "C:\\tools-startup\\Tavrol.exe";
    ASSERT_TRUE(sim::drive().createDirectories("C:\\tools-startup"));
    sim::process().setModulePath(program);
    sim::process().setCommandLine(program);
    CTavrolApp app;
    char noArguments[] = "";
    AfxWinMain(sim::process().exeModule(), noArguments, 1);
    EXPECT_TRUE(shellTraceMentions("CreateMutexA \"" TAVROL_MUTEX_NAME "\""))
        << "not the interactive run";
}

TEST_F(RunModesTest, StartupRunWithNothingStoredTouchesNoRegister) {
    boot("default");
    run("-startup");
    EXPECT_TRUE(trace(sim::TraceKind::ConfigWrite).empty());
    EXPECT_TRUE(boxes().empty());
}

TEST_F(RunModesTest, StartupSwitchWinsOverSafeMode) {
    boot("default");
    sim::shell().setSafeMode(true);
    storeSettings(k4xSidebandFastWriteRun);
    run("-startup");
    EXPECT_TRUE(boxes().empty()) << boxes().front().text;
    EXPECT_EQ(4u, command(kGraphics) & AGP_RATE_MASK);
}

TEST_F(RunModesTest, StartupRunShowsOnlyTheCodeOfAFailedDiscovery) {
    // Without the resource library the message is the code alone.
    boot("no-agp");
    run("-startup");
    ASSERT_EQ(1u, boxes().size());
    EXPECT_EQ(" (0x1)", boxes()[0].text);
    EXPECT_EQ("Vantorel Tavrolin", boxes()[0].title);
    EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION), boxes()[0].type);
    EXPECT_FALSE(tavrolServiceExists());
}

TEST_F(RunModesTest, StartupRunWarnsWhenTheSettingsCannotBeStored) {
    boot("default");
    sim::registry().setHklmReadOnly(true);
    run("-startup");
    ASSERT_EQ(1u, boxes().size());
    EXPECT_EQ("Tavrolin settings cannot be written to registry.", boxes()[0].text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONWARNING), boxes()[0].type);
    EXPECT_EQ(nullptr, boxes()[0].owner);
}

TEST_F(RunModesTest, SafeModeYesDeletesTheSettingsKeyAndKeepsTheRunValue) {
    boot("default");
    sim::shell().setSafeMode(true);
    storeSettings(k4xSidebandFastWriteRun);
    ASSERT_TRUE(sim::registry().setValue(HKEY_LOCAL_MACHINE, kRunKey,
                                         {"Vantorel Tavrolin", REG_SZ, {'x', 0}}));
    sim::shell().queueAnswer(IDYES);
    run();

    ASSERT_EQ(2u, boxes().size());
    EXPECT_EQ("Tavrolin cannot run in safe mode.\nDo you want to restore the default AGP settings?",
              boxes()[0].text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONQUESTION | MB_YESNO), boxes()[0].type);
    EXPECT_EQ("The default AGP settings have been successfully restored.", boxes()[1].text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION), boxes()[1].type);
    EXPECT_FALSE(sim::registry().keyExists(HKEY_LOCAL_MACHINE, kSettingsKey));
    sim::RegValue runValue;
    EXPECT_TRUE(
        sim::registry().getValue(HKEY_LOCAL_MACHINE, kRunKey, "Vantorel Tavrolin", &runValue));
    // The controller was built (the driver installed) and torn down again.
    EXPECT_FALSE(trace(sim::TraceKind::ServiceCall).empty());
    EXPECT_FALSE(tavrolServiceExists());
}

TEST_F(RunModesTest, SafeModeNoLeavesEverything) {
    boot("default");
    sim::shell().setSafeMode(true);
    storeSettings(k4xSidebandFastWriteRun);
    sim::shell().queueAnswer(IDNO);
    run();
    EXPECT_EQ(1u, boxes().size());
    EXPECT_TRUE(sim::registry().keyExists(HKEY_LOCAL_MACHINE, kSettingsKey));
    EXPECT_TRUE(trace(sim::TraceKind::ServiceCall).empty());
    EXPECT_TRUE(trace(sim::TraceKind::DeviceOpen).empty());
}

TEST_F(RunModesTest, SafeModeReportsASettingsKeyThatCannotBeDeleted) {
    boot("default");
    sim::shell().setSafeMode(true);
    storeSettings(k4xSidebandFastWriteRun);
    sim::registry().protectKey(HKEY_LOCAL_MACHINE, kSettingsKey);
    sim::shell().queueAnswer(IDYES);
    run();
    ASSERT_EQ(2u, boxes().size());
    EXPECT_EQ("Tavrolin failed to restore default AGP settings.\nPlease reinstall Tavrolin.",
              boxes()[1].text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONWARNING), boxes()[1].type);
}

TEST_F(RunModesTest, MissingResourceLibraryStopsBeforeAnyHardwareAccess) {
    boot("default");
    ASSERT_TRUE(sim::drive().removeFile(std::string(sim::kProgramDirectory) + "\\Tavrol.tvx"));
    run();

    ASSERT_EQ(1u, boxes().size());
    EXPECT_EQ("Failed to load Tavrol.tvx.\nPlease ensure that it's located in the same folder as "
              "Tavrol.exe.",
              boxes()[0].text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), boxes()[0].type);
    EXPECT_EQ("Vantorel Tavrolin", boxes()[0].title);
    EXPECT_TRUE(trace(sim::TraceKind::ServiceCall).empty());
    EXPECT_TRUE(trace(sim::TraceKind::DeviceOpen).empty());
    EXPECT_TRUE(trace(sim::TraceKind::BiosCall).empty());
    EXPECT_TRUE(trace(sim::TraceKind::DirectDrawCreate).empty());
    EXPECT_EQ(0, sim::process().openHandleCount()) << "the mutex must be closed";
}

TEST_F(RunModesTest, SecondInstanceBringsTheFirstToTheFrontAndTouchesNothing) {
    boot("default");
    // The first instance: its mutex and its dialog.
    HANDLE first = CreateMutexA(nullptr, TRUE, TAVROL_MUTEX_NAME);
    ASSERT_NE(nullptr, first);
    HWND firstDialog = reinterpret_cast<HWND>(0x1234);
    sim::shell().registerWindow(firstDialog, "Vantorel Tavrolin");

    run();

    EXPECT_TRUE(shellTraceMentions("SetForegroundWindow \"Vantorel Tavrolin\" -> own window"));
    EXPECT_TRUE(boxes().empty());
    EXPECT_TRUE(trace(sim::TraceKind::ServiceCall).empty());
    EXPECT_EQ(0, sim::loadedLibraryCount()) << "Tavrol.tvx is still mapped";
    EXPECT_EQ(1, sim::process().openHandleCount()) << "only the first instance's mutex is left";
    CloseHandle(first);
}

TEST_F(RunModesTest, InteractiveRunTearsDownWhatItBuilt) {
    boot("default");
    run();
    // The settings key is created on the way, the dialog ran, and nothing is left behind.
    EXPECT_TRUE(sim::registry().keyExists(HKEY_LOCAL_MACHINE, kSettingsKey));
    EXPECT_TRUE(shellTraceMentions("CreateMutexA"));
    EXPECT_FALSE(trace(sim::TraceKind::ServiceCall).empty());
    EXPECT_FALSE(tavrolServiceExists());
    EXPECT_EQ(0, sim::loadedLibraryCount()) << "Tavrol.tvx is still mapped";
    EXPECT_EQ(0, sim::process().openHandleCount());
    EXPECT_EQ(nullptr, m_pAgpAfterRun);
}

TEST_F(RunModesTest, InteractiveRunShowsTheMainDialogAsTheMainWindowWithTheStoredChoice) {
    boot("default");
    storeSettings(1 + 2 * 32); // run at log-on, 2X
    std::string title;
    bool mainWindowIsTheDialog = false;
    bool controllerShared = false;
    int runBox = -1;
    sim::ui().queueStep([&] {
        HWND top = sim::ui().topDialog();
        title = sim::ui().describe(top).title;
        CTavrolApp* app = theTavrolApp();
        mainWindowIsTheDialog = app->m_pMainWnd && app->m_pMainWnd->GetSafeHwnd() == top;
        controllerShared =
            app->m_pAgpConfig != nullptr &&
            static_cast<CTavrolDlg*>(app->m_pMainWnd)->m_pAgpConfig == app->m_pAgpConfig;
        runBox = static_cast<int>(SendDlgItemMessageA(top, 1005, BM_GETCHECK, 0, 0));
        // OK stores the word; its run bit comes from the box, read through the main window.
        ASSERT_TRUE(sim::ui().click(IDOK).ok);
    });
    run();

    EXPECT_EQ("Vantorel Tavrolin", title);
    EXPECT_TRUE(mainWindowIsTheDialog);
    EXPECT_TRUE(controllerShared);
    EXPECT_EQ(1, runBox) << "the box does not show the stored flag";
    DWORD word = 0xdeadbeef;
    ASSERT_TRUE(settingsValue(&word));
    EXPECT_EQ(static_cast<DWORD>(1 + 2 * 32), word) << std::hex << word;
    EXPECT_EQ(nullptr, sim::ui().topDialog());
    EXPECT_EQ(0, sim::process().openHandleCount());
}

// On NT the resource library is mapped as a data file, so no code of a replaced Tavrol.tvx runs
// with the administrator's rights; Windows 9x loads it as before. A library with entry code shows
// the difference: mapped, it still gives the dialog; loaded, its code would have to run, which
// the simulated PC refuses as it refuses any code.
struct LibraryCase {
    const char* machine;
    bool entryCode;
    bool dialog;
    bool datafile;
};

void PrintTo(const LibraryCase& value, std::ostream* out) {
    *out << value.machine << (value.entryCode ? " with entry code" : "");
}

class ResourceLibraryLoading : public ProgramTest,
                               public testing::WithParamInterface<LibraryCase> {};

TEST_P(ResourceLibraryLoading, MapsItAsDataOnNtOnly) {
    const LibraryCase& c = GetParam();
    boot(c.machine);
    if (c.entryCode) {
        std::string tvx = std::string(sim::kProgramDirectory) + "\\Tavrol.tvx";
        std::ifstream in(sim::drive().hostPathOf(tvx), std::ios::binary);
        std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_GT(image.size(), 0x200u);
        uint32_t pe = 0;
        std::memcpy(&pe, &image[0x3C], 4);
        const uint32_t entry = 0x1000; // AddressOfEntryPoint, 16 bytes into the optional header
        std::memcpy(&image[pe + 4 + 20 + 16], &entry, 4);
        ASSERT_TRUE(sim::drive().writeFile(tvx, image));
    }
    bool datafile = false;
    bool dialog = false;
    sim::ui().queueStep([&] {
        dialog = sim::ui().topDialog() != nullptr;
        datafile = sim::isDatafileModule(AfxGetResourceHandle());
    });
    run();
    EXPECT_EQ(c.dialog, dialog);
    EXPECT_EQ(c.datafile, datafile);
    if (!c.dialog) {
        ASSERT_EQ(1u, boxes().size());
        EXPECT_EQ(0u, boxes()[0].text.find("Failed to load Tavrol.tvx."));
    }
    EXPECT_EQ(0, sim::loadedLibraryCount());
}

INSTANTIATE_TEST_SUITE_P(Platforms, ResourceLibraryLoading,
                         testing::Values(LibraryCase{"default", false, true, true},
                                         LibraryCase{"default", true, true, true},
                                         LibraryCase{"ninex", false, true, false},
                                         LibraryCase{"ninex", true, false, false}),
                         [](const testing::TestParamInfo<LibraryCase>& info) {
                             return std::string(info.param.machine == std::string("default")
                                                    ? "Nt"
                                                    : "Win9x") +
                                    (info.param.entryCode ? "WithEntryCode" : "");
                         });

TEST_F(RunModesTest, InteractiveRunEndsSilentlyWhenTheSettingsKeyCannotBeCreated) {
    boot("default");
    sim::registry().setHklmReadOnly(true);
    run();
    EXPECT_TRUE(boxes().empty());
    EXPECT_TRUE(trace(sim::TraceKind::ServiceCall).empty());
    EXPECT_EQ(0, sim::loadedLibraryCount()) << "Tavrol.tvx is still mapped";
    EXPECT_EQ(0, sim::process().openHandleCount());
}

TEST_F(RunModesTest, RunsInTheExecutablesDirectoryWhereverItWasStarted) {
    boot("default");
    sim::process().setCurrentDirectory("C:\\");
    storeSettings(k4xSidebandFastWriteRun);
    run("-startup");
    EXPECT_EQ(sim::kProgramDirectory, sim::process().currentDirectory());
    EXPECT_TRUE(boxes().empty()) << "the driver beside the executable was found";
    EXPECT_EQ(4u, command(kGraphics) & AGP_RATE_MASK);
}

TEST_F(RunModesTest, AnExecutableInTheDriveRootRunsInTheRootNotInTheCurrentFolder) {
    boot("default");
    ASSERT_TRUE(sim::drive().createDirectories("C:\\Windows\\System32"));
    sim::process().setCurrentDirectory("C:\\Windows\\System32");
    sim::process().setModulePath("C:\\Tavrol.exe");
    run("-startup");
    EXPECT_EQ("C:\\", sim::process().currentDirectory());
}

TEST_F(RunModesTest, AModulePathTooShortForItsNameEndsTheRunSilently) {
    boot("default");
    sim::process().setModulePath("Tavrol.exe");
    run("-startup");
    EXPECT_TRUE(boxes().empty());
    EXPECT_TRUE(trace(sim::TraceKind::ServiceCall).empty());
    EXPECT_TRUE(sim::machine().trace().empty());
}

} // namespace
} // namespace apptest
