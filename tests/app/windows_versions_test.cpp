// The program on the Windows versions beyond XP: Windows 7's log-on task through the restore
// paths, and the 32-bit release on 64-bit Windows, which installs nothing.
#include "program_fixture.h"

#include <fstream>
#include <functional>
#include <sstream>

#include "sim/tasks.h"

namespace apptest {
namespace {

const char kWin64Needed[] =
    "This is Tavrolin for 32-bit Windows, and this Windows is 64-bit: its driver cannot load "
    "here.\nPlease use the win64 release of Tavrolin instead. Nothing has been installed.";
const char kWin64LogOnEnded[] =
    "Tavrolin for 32-bit Windows cannot apply AGP settings on this 64-bit Windows, so it no "
    "longer runs at log-on.\nPlease install the win64 release of Tavrolin and choose the "
    "settings again.";
const char kOldRunCommand[] = "\"C:\\Program Files\\Vantorel Tech\\Tavrolin\\Tavrol.exe\" -startup";

std::string profileText(const std::string& machine) {
    std::ifstream in(sim::machinesDir() + "/" + machine + ".lspci");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class WindowsVersionsTest : public ProgramTest {
  protected:
    void bootWin7(const std::string& directives = "") {
        boot(directives + profileText("win7"), true);
    }
    void storeRunValue() {
        std::vector<uint8_t> data(kOldRunCommand, kOldRunCommand + sizeof kOldRunCommand);
        ASSERT_TRUE(sim::registry().setValue(HKEY_LOCAL_MACHINE, kRunKey,
                                             {"Vantorel Tavrolin", REG_SZ, data}));
    }
    bool runValueExists() {
        sim::RegValue value;
        return sim::registry().getValue(HKEY_LOCAL_MACHINE, kRunKey, "Vantorel Tavrolin", &value);
    }
    bool taskExists() {
        sim::ScheduledTask task;
        return sim::findScheduledTask("Vantorel Tavrolin", &task);
    }
    void registerTask() {
        sim::ScheduledTask task;
        task.name = "Vantorel Tavrolin";
        task.command = std::string("\"") + sim::kProgramPath + "\"";
        task.arguments = "-startup";
        task.logonTrigger = true;
        ASSERT_TRUE(sim::storeScheduledTask(task));
    }
};

TEST_F(WindowsVersionsTest, SafeModeRestoreOnWindows7RemovesTaskAndRunValue) {
    bootWin7();
    sim::shell().setSafeMode(true);
    storeSettings(0x81);
    registerTask();
    storeRunValue();
    sim::shell().queueAnswer(IDYES);
    run();
    ASSERT_EQ(2u, boxes().size());
    EXPECT_EQ("The default AGP settings have been successfully restored.", boxes()[1].text);
    EXPECT_FALSE(sim::registry().keyExists(HKEY_LOCAL_MACHINE, kSettingsKey));
    EXPECT_FALSE(taskExists());
    EXPECT_FALSE(runValueExists());
}

// Every run mode but the log-on run says which release is needed, before anything is installed,
// loaded or stored.
TEST_F(WindowsVersionsTest, On64BitWindowsTheInteractiveAndSafeModeRunsOnlySayWhatIsNeeded) {
    for (bool safeMode : {false, true}) {
        SCOPED_TRACE(safeMode ? "safe mode" : "interactive");
        bootWin7("#! 64-bit\n");
        sim::shell().setSafeMode(safeMode);
        run();
        ASSERT_EQ(1u, boxes().size());
        EXPECT_EQ(kWin64Needed, boxes()[0].text);
        EXPECT_EQ("Vantorel Tavrolin", boxes()[0].title);
        EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), boxes()[0].type);
        EXPECT_TRUE(trace(sim::TraceKind::ServiceCall).empty()) << "a driver was installed";
        EXPECT_TRUE(trace(sim::TraceKind::DeviceOpen).empty());
        EXPECT_FALSE(sim::registry().keyExists(HKEY_LOCAL_MACHINE, kSettingsKey));
        EXPECT_EQ(nullptr, GetModuleHandleA("Tavrol.tvx"));
    }
}

// An older release's Run value is what starts the 32-bit program at log-on there (on XP x64,
// or with UAC off): the first such run removes it and says so once; later log-ons are quiet.
TEST_F(WindowsVersionsTest, On64BitWindowsTheLogOnRunEndsItsRunValueAndSaysSoOnce) {
    bootWin7("#! 64-bit\n#! uac off\n");
    storeSettings(0x81);
    storeRunValue();
    registerTask(); // the win64 release's task is not this program's to remove
    run("-startup");
    ASSERT_EQ(1u, boxes().size());
    EXPECT_EQ(kWin64LogOnEnded, boxes()[0].text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION), boxes()[0].type);
    EXPECT_FALSE(runValueExists());
    EXPECT_TRUE(taskExists());
    EXPECT_TRUE(trace(sim::TraceKind::ServiceCall).empty());
    EXPECT_EQ(0x102u, command(kGraphics) & 0x107u) << "the modes were touched";

    sim::shell().clearMessageBoxes();
    run("-startup");
    EXPECT_TRUE(boxes().empty()) << "a second log-on repeated the message";
}

// The common controls are loaded, and InitCommonControls called, on the way to the first dialog
// or message box of a run, in every run mode, and only then: a log-on run that shows nothing
// never loads comctl32.
TEST_F(WindowsVersionsTest, CommonControlsAreLoadedOnlyOnTheWayToAWindow) {
    struct Case {
        const char* name;
        std::function<void()> setUp;
        const char* arguments;
        bool showsAWindow;
    };
    const Case cases[] = {
        {"interactive", [&] { boot("default"); }, "", true},
        {"log-on run that applies the modes",
         [&] {
             boot("default");
             storeSettings(0x89);
         },
         "-startup", false},
        {"log-on run whose discovery fails", [&] { boot("no-agp"); }, "-startup", true},
        {"log-on run that cannot store the settings",
         [&] {
             boot("default");
             sim::registry().setHklmReadOnly(true);
         },
         "-startup", true},
        {"safe mode",
         [&] {
             boot("default");
             sim::shell().setSafeMode(true);
             sim::shell().queueAnswer(IDNO);
         },
         "", true},
        {"missing resource library",
         [&] {
             boot("default");
             sim::drive().removeFile(std::string(sim::kProgramDirectory) + "\\Tavrol.tvx");
         },
         "", true},
        {"32-bit release on 64-bit Windows", [&] { bootWin7("#! 64-bit\n"); }, "", true},
        {"32-bit release's log-on run on 64-bit Windows",
         [&] {
             bootWin7("#! 64-bit\n#! uac off\n");
             storeRunValue();
         },
         "-startup", true},
        {"report that is written", [&] { boot("default"); }, "-report C:\\report.txt", false},
        {"report that cannot be written", [&] { boot("default"); },
         "-report C:\\no-such-folder\\report.txt", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.setUp();
        run(c.arguments);
        EXPECT_EQ(c.showsAWindow ? 1 : 0, sim::process().commonControlsInitialized());
        EXPECT_EQ(c.showsAWindow, GetModuleHandleA("comctl32.dll") != nullptr);
        EXPECT_EQ(0, sim::process().windowsWithoutCommonControls());
        if (!c.showsAWindow) {
            EXPECT_TRUE(boxes().empty()) << boxes().front().text;
        }
    }
}

} // namespace
} // namespace apptest
