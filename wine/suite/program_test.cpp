// Tavrol.exe end to end under Wine: the real program, its resource library and the driver built
// for the suite, whose virtual PC is the default machine profile. The runs on the virtual PC use
// Tavrol-test.exe, the program built to accept the suite's drivers besides the release one. Windows
// are worked with window messages by tavrol-driver.exe; the registry, the service manager and the
// virtual PC's state are read afterwards.
#include <gtest/gtest.h>

#include <stdio.h>

#include <fstream>
#include <iterator>

#include "wine_env.h"

namespace {

const char kSettingsKey[] = "Software\\Vantorel Tech\\Tavrolin";
const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kRunValue[] = "Vantorel Tavrolin";
const char kMachineKey[] = "Software\\Tavrolin Test Machine";
const char kTaskName[] = "Vantorel Tavrolin";
const char kOldRunCommand[] = "\"C:\\tavrolin\\Tavrol.exe\" -startup";
const char kFolder[] = "tavrolin";
// Where the program puts its checked copy of the driver while a run uses it.
const char kDriverCopy[] = "C:\\windows\\system32\\drivers\\TAVROL.sys";
const char kRateCombo[] = "1002";
const std::string kRates = "1X (266Mb/s)|2X (532Mb/s)|4X (1064Mb/s)";

// A string of the resource script, so that the expected texts come from where the program's do.
std::string resourceString(const std::string& name) {
    std::ifstream in(TAVROL_SOURCE_DIR "/res/tavrol.rc");
    std::string line;
    while (std::getline(in, line)) {
        const size_t at = line.find(name + " \"");
        if (at != std::string::npos) {
            const size_t start = at + name.size() + 2;
            return line.substr(start, line.rfind('"') - start);
        }
    }
    return "<no " + name + " in res/tavrol.rc>";
}

// A string of the resource script by its ID, through the name res/resource.h gives it.
std::string resourceStringById(int id) {
    std::ifstream in(TAVROL_SOURCE_DIR "/res/resource.h");
    std::string line;
    while (std::getline(in, line)) {
        char name[128];
        int value = 0;
        if (sscanf(line.c_str(), "#define %127s %d", name, &value) == 2 && value == id &&
            std::string(name).rfind("IDS_", 0) == 0)
            return resourceString(name);
    }
    return "<no string " + std::to_string(id) + " in res/resource.h>";
}

// The AGP command register of the first function of a base class with an AGP capability, from
// the virtual PC's saved state (magic, counts, then each function's 256 bytes).
unsigned agpCommand(const std::string& stateHex, unsigned baseClass) {
    const unsigned count = wine::dwordAt(stateHex, 4);
    for (unsigned i = 0; i < count; ++i) {
        const size_t base = 12 + 256 * i;
        if ((wine::dwordAt(stateHex, base + 8) >> 24) != baseClass)
            continue;
        unsigned pointer = wine::dwordAt(stateHex, base + 0x34) & 0xFF;
        for (int step = 0; step < 48 && pointer >= 0x40; ++step) {
            const unsigned header = wine::dwordAt(stateHex, base + (pointer & 0xFC));
            if ((header & 0xFF) == 2)
                return wine::dwordAt(stateHex, base + (pointer & 0xFC) + 8);
            pointer = (header >> 8) & 0xFF;
        }
    }
    return 0xdeadbeef;
}

// Writes the virtual PC counted that AGP 3.0 does not allow: the dword after the functions and
// the physical-word slots.
unsigned reservedAgpWrites(const std::string& stateHex) {
    return wine::dwordAt(stateHex, 12 + 256 * wine::dwordAt(stateHex, 4) + 32 * 8);
}

class ProgramUnderWine : public wine::FlavorTest {
  protected:
    void SetUp() override {
        WINE_SUITE_REQUIRED();
        exe = wine::winFile("wine/Tavrol-test.exe");
        releaseExe = wine::winFile("src/Tavrol.exe");
        tvx = wine::winFile("src/Tavrol.tvx");
        vmDriver = wine::winFile("wine/TAVROL-vm.sys");
        ASSERT_FALSE(exe.empty() || releaseExe.empty() || tvx.empty())
            << "Tavrol.exe, Tavrol-test.exe or Tavrol.tvx is not built in " << wine::env().winBuild;
        ASSERT_FALSE(vmDriver.empty()) << "TAVROL-vm.sys is not built";
        // Every case starts from a machine that never ran the program.
        wine::removeService();
        wine::deleteKey(kSettingsKey);
        wine::helper({"reg-delete", kRunKey, kRunValue});
        wine::deleteKey(kMachineKey);
        std::remove(taskFile().c_str());
        folder = wine::makeProgramFolder(
            kFolder, {{exe, "Tavrol.exe"}, {tvx, "Tavrol.tvx"}, {vmDriver, "TAVROL.sys"}});
    }

    void TearDown() override {
        if (!folder.empty()) {
            wine::removeService();
            wine::deleteKey(kMachineKey);
        }
        if (windowsXp)
            wine::setProgramWindowsVersion("Tavrol.exe", "");
    }

    // Wine reports Windows 7, where the program registers a log-on task; as Windows XP it
    // writes the Run value.
    void runAsWindowsXp() {
        ASSERT_TRUE(wine::setProgramWindowsVersion("Tavrol.exe", "winxp"))
            << "the Windows version of Tavrol.exe could not be set";
        windowsXp = true;
    }

    // Where Wine's Task Scheduler keeps the task.
    std::string taskFile() const {
        return wine::env().prefix + "/drive_c/windows/system32/tasks/" + kTaskName;
    }

    void leaveTaskAndRunValueOfAnEarlierRun() {
        ASSERT_EQ(kTaskName,
                  wine::helper({"task-register", kTaskName,
                                wine::logonTaskXml("C:\\tavrolin\\Tavrol.exe")})["registered"]);
        ASSERT_EQ("present", wine::helper({"task-get", kTaskName})["task"]);
        ASSERT_EQ(kRunValue,
                  wine::helper({"reg-set", kRunKey, kRunValue, "string", kOldRunCommand})["set"]);
    }

    wine::Output run(const std::string& arguments, const std::vector<std::string>& steps) {
        std::vector<std::string> args = {"session", folder + "\\Tavrol.exe", arguments};
        args.insert(args.end(), steps.begin(), steps.end());
        return wine::helper(args);
    }

    std::string machineState() {
        const wine::Output state = wine::helper({"reg-get", kMachineKey, "State"});
        EXPECT_EQ("3", state["type"]) << "the virtual PC saved no state:\n" << state.text;
        return state["data"];
    }

    // The service and the driver's copy both go with the last run.
    void expectNoServiceLeft() {
        EXPECT_EQ("absent", wine::serviceState());
        EXPECT_FALSE(driverCopyExists()) << "the copy of the driver was left behind";
    }

    bool driverCopyExists() {
        std::ifstream copy(wine::env().prefix + "/drive_c/windows/system32/drivers/TAVROL.sys");
        return copy.good();
    }

    std::string exe, releaseExe, tvx, vmDriver, folder;
    bool windowsXp = false;
};

TEST_P(ProgramUnderWine, InteractiveRunShowsTheModesBothEndsSupport) {
    const wine::Output out = run("", {"dialog", "dump", "click:2", "exit"});
    ASSERT_EQ("found", out["dialog"]) << out.text;
    EXPECT_EQ("Vantorel Tavrolin", out["dialog.title"]);
    const std::vector<std::string> controls = out.all("control");
    auto control = [&](const std::string& id) {
        for (const std::string& c : controls)
            if (c.rfind("id=" + id + " ", 0) == 0)
                return c;
        return "<no control " + id + ">\n" + out.text;
    };
    // The straps hide 4X, sideband and fast writes until the fix-up overrides them; the dialog
    // must show the modes of the chip after it.
    EXPECT_EQ("id=1002 class=ComboBox enabled=1 selected=2X (532Mb/s) items=" + kRates,
              control(kRateCombo));
    EXPECT_EQ(0u, control("1003").find("id=1003 class=Button enabled=1 checked=0 "));
    EXPECT_EQ(0u, control("1004").find("id=1004 class=Button enabled=1 checked=0 "));
    EXPECT_EQ(0u, control("1005").find("id=1005 class=Button enabled=1 checked=0 "));
    EXPECT_EQ("0", out["exit"]);

    const std::string state = machineState();
    const size_t firstWord = 12 + 256 * wine::dwordAt(state, 4);
    EXPECT_EQ(0xE0101000u, wine::dwordAt(state, firstWord)) << "the profile's straps address";
    EXPECT_EQ(0x800000A3u, wine::dwordAt(state, firstWord + 4))
        << "the straps were not overridden with the chip's other bits kept";
    expectNoServiceLeft();
    const wine::Output settings = wine::helper({"reg-get", kSettingsKey, "Settings"});
    EXPECT_EQ("present", settings["key"]) << "the settings key is made on the first run";
    EXPECT_EQ("absent", settings["value"]) << "Cancel stored settings";
}

TEST_P(ProgramUnderWine, FourXWithOkProgramsBothEndsAndStoresSettingsAndRunValueOnXp) {
    runAsWindowsXp();
    const wine::Output out =
        run("", {"dialog", "select:1002:4X (1064Mb/s)", "click:1005", "click:1", "exit"});
    ASSERT_EQ("found", out["dialog"]) << out.text;
    ASSERT_EQ("2", out["selected"]) << "4X is not offered";
    ASSERT_EQ("0", out["exit"]) << out.text;

    const wine::Output settings = wine::helper({"reg-get", kSettingsKey, "Settings"});
    EXPECT_EQ("4", settings["type"]) << "REG_DWORD";
    EXPECT_EQ(std::to_string(4 * 32 + 1), settings["dword"])
        << "4X, no sideband or fast writes, run at log-on";
    const wine::Output runValue = wine::helper({"reg-get", kRunKey, kRunValue});
    EXPECT_EQ("1", runValue["type"]) << "REG_SZ";
    // The path is quoted so that Windows runs the right file from a folder with blanks.
    EXPECT_EQ("\"C:\\\\tavrolin\\\\Tavrol.exe\" -startup", runValue["string"]);
    EXPECT_EQ("260", runValue["size"]) << "the value is written as the whole path buffer";

    const std::string state = machineState();
    EXPECT_EQ(0x104u, agpCommand(state, 0x06) & 0x107u) << "host bridge: 4X with AGP enabled";
    EXPECT_EQ(0x104u, agpCommand(state, 0x03) & 0x107u) << "graphics card: 4X with AGP enabled";
    expectNoServiceLeft();
}

TEST_P(ProgramUnderWine, StartupRunReappliesTheStoredModesWithoutAWindow) {
    const unsigned settings = 4 * 32 + 1 * 8 + 1 * 2 + 1; // 4X, sideband, fast writes, run
    ASSERT_EQ("Settings", wine::helper({"reg-set", kSettingsKey, "Settings", "dword",
                                        std::to_string(settings)})["set"]);
    const wine::Output out = run("-startup", {"box:3000", "exit"});
    EXPECT_EQ("none", out["box"]) << "a -startup run showed: " << out["box.text"];
    EXPECT_EQ("0", out["exit"]) << out.text;

    const std::string state = machineState();
    const unsigned modes = 0x7u | (1u << 4) | (1u << 8) | (1u << 9);
    const unsigned wanted = 4u | (1u << 4) | (1u << 8) | (1u << 9);
    EXPECT_EQ(wanted, agpCommand(state, 0x03) & modes) << "graphics card";
    EXPECT_EQ(wanted, agpCommand(state, 0x06) & modes) << "host bridge";
    expectNoServiceLeft();
    EXPECT_EQ(std::to_string(settings),
              wine::helper({"reg-get", kSettingsKey, "Settings"})["dword"])
        << "a -startup run changed the stored settings";
}

TEST_P(ProgramUnderWine, SecondInstanceBringsTheFirstToTheFrontAndEnds) {
    const wine::Output out = run("", {"dialog", "decoy", "foreground", "launch:", "sleep:500",
                                      "foreground", "click:2", "exit"});
    ASSERT_EQ("found", out["dialog"]) << out.text;
    ASSERT_EQ("1", out["decoy.foreground"]) << "the decoy could not take the foreground";
    const std::vector<std::string> foreground = out.all("foreground");
    ASSERT_EQ(2u, foreground.size()) << out.text;
    EXPECT_EQ("other", foreground[0]);
    EXPECT_EQ("0", out["second.exit"]) << "the second copy did not end by itself";
    EXPECT_EQ("dialog", foreground[1]) << "the first copy's dialog was not brought to the front";
    EXPECT_EQ("0", out["exit"]);
    expectNoServiceLeft();
}

TEST_P(ProgramUnderWine, MissingResourceLibraryIsReportedBeforeAnyDriverIsInstalled) {
    folder = wine::makeProgramFolder(kFolder, {{exe, "Tavrol.exe"}, {vmDriver, "TAVROL.sys"}});
    const wine::Output out = run("", {"box", "service", "answer:1", "exit"});
    EXPECT_EQ("Vantorel Tavrolin", out["box.title"]);
    EXPECT_EQ("Failed to load Tavrol.tvx.\\nPlease ensure that it's located in the same folder as "
              "Tavrol.exe.",
              out["box.text"]);
    EXPECT_EQ("1", out["box.buttons"]) << "one OK button";
    EXPECT_EQ("absent", out["service"]) << "the driver was installed before the error box";
    EXPECT_EQ("0", out["exit"]);
    EXPECT_FALSE(out.has("dialog"));
    expectNoServiceLeft();
    EXPECT_EQ("absent", wine::helper({"reg-get", kMachineKey, "State"})["key"])
        << "the hardware was touched";
}

// The release driver over Wine's HAL finds no PCI function: the program must say there is no AGP
// card and clean up after itself.
TEST_P(ProgramUnderWine, ReleaseDriverFindsNoAgpAndTheProgramSaysSo) {
    const std::string release = wine::winFile("driver/nt/TAVROL.sys");
    ASSERT_FALSE(release.empty()) << "TAVROL.sys is not built";
    folder = wine::makeProgramFolder(
        kFolder, {{releaseExe, "Tavrol.exe"}, {tvx, "Tavrol.tvx"}, {release, "TAVROL.sys"}});
    const wine::Output out = run("", {"box", "service", "answer:1", "exit"});
    EXPECT_EQ("Vantorel Tavrolin", out["box.title"]);
    EXPECT_EQ(resourceStringById(111) + " (0x1)", out["box.text"]);
    EXPECT_EQ("running", out["service"]) << "the driver was not serving while the box was up";
    EXPECT_EQ("0", out["exit"]);
    expectNoServiceLeft();
}

// On Windows 7 restoring the defaults ends the log-on run too: the task and an older version's
// Run value go with the settings; the modes in force stay.
TEST_P(ProgramUnderWine, RestoreOnlyDeletesSettingsTaskAndRunValueAndKeepsTheModes) {
    ASSERT_EQ("Settings", wine::helper({"reg-set", kSettingsKey, "Settings", "dword",
                                        std::to_string(4 * 32 + 1)})["set"]);
    leaveTaskAndRunValueOfAnEarlierRun();
    const wine::Output out = run("", {"dialog", "click:1006", "other:7", "exit"});
    ASSERT_EQ("found", out["dialog"]) << out.text;
    EXPECT_EQ("Restore defaults", out["other"]) << "no restore-defaults dialog";
    EXPECT_EQ("0", out["exit"]) << "the main dialog did not close after Restore only";

    EXPECT_EQ("absent", wine::helper({"reg-get", kSettingsKey, "Settings"})["key"]);
    EXPECT_EQ("absent", wine::helper({"reg-get", kRunKey, kRunValue})["value"]);
    EXPECT_EQ("absent", wine::helper({"task-get", kTaskName})["task"]);
    const std::string state = machineState();
    EXPECT_EQ(0x102u, agpCommand(state, 0x03) & 0x307u) << "the modes in force were changed";
    EXPECT_EQ(0x102u, agpCommand(state, 0x06) & 0x307u);
    expectNoServiceLeft();
}

// The program reaches Wine's Task Scheduler through ole32 and oleaut32 loaded at run time. Wine
// has no log-on triggers (ITriggerCollection::Create answers E_NOTIMPL), so ticking the box must
// end in the warning, with no task half made and the older Run value gone all the same.
TEST_P(ProgramUnderWine, TickedBoxOnWindows7ReportsATaskSchedulerWithoutLogOnTriggers) {
    ASSERT_EQ(kRunValue,
              wine::helper({"reg-set", kRunKey, kRunValue, "string", kOldRunCommand})["set"]);
    const wine::Output out =
        run("", {"dialog", "click:1005", "click:1", "box", "answer:1", "exit"});
    ASSERT_EQ("found", out["dialog"]) << out.text;
    EXPECT_EQ("Vantorel Tavrolin", out["box.title"]);
    EXPECT_EQ("The Task Scheduler did not accept the log-on task.\\nTavrolin will not be able to "
              "run at log-on.",
              out["box.text"]);
    EXPECT_EQ("0", out["exit"]) << out.text;
    EXPECT_EQ("absent", wine::helper({"task-get", kTaskName})["task"]);
    EXPECT_EQ("absent", wine::helper({"reg-get", kRunKey, kRunValue})["value"]);
    EXPECT_EQ(std::to_string(2 * 32 + 1),
              wine::helper({"reg-get", kSettingsKey, "Settings"})["dword"])
        << "the choice is kept, so that OK tries again";
    expectNoServiceLeft();
}

// Unticking the box on Windows 7 deletes the task through Wine's Task Scheduler.
TEST_P(ProgramUnderWine, UntickedBoxOnWindows7DeletesTheTaskAndAnOlderRunValue) {
    ASSERT_EQ("Settings", wine::helper({"reg-set", kSettingsKey, "Settings", "dword",
                                        std::to_string(2 * 32 + 1)})["set"]);
    leaveTaskAndRunValueOfAnEarlierRun();
    const wine::Output out = run("", {"dialog", "click:1005", "click:1", "exit"});
    ASSERT_EQ("found", out["dialog"]) << out.text;
    EXPECT_EQ("0", out["exit"]) << out.text;
    EXPECT_EQ("absent", wine::helper({"task-get", kTaskName})["task"]);
    EXPECT_EQ("absent", wine::helper({"reg-get", kRunKey, kRunValue})["value"]);
    EXPECT_EQ(std::to_string(2 * 32), wine::helper({"reg-get", kSettingsKey, "Settings"})["dword"]);
    expectNoServiceLeft();
}

// Without TAVROL.sys there is nothing to check, so nothing is installed: the program reports the
// driver-file error, AgpError 18 (string 115).
TEST_P(ProgramUnderWine, MissingDriverFileIsReportedAndNothingInstalled) {
    folder = wine::makeProgramFolder(kFolder, {{exe, "Tavrol.exe"}, {tvx, "Tavrol.tvx"}});
    const wine::Output out = run("", {"box", "service", "answer:1", "exit"});
    EXPECT_EQ("Vantorel Tavrolin", out["box.title"]);
    // The message names the AgpError in hexadecimal after the text.
    EXPECT_EQ(resourceStringById(115) + " (0x12)", out["box.text"]);
    EXPECT_EQ("absent", out["service"]) << "a service was made without a driver to check";
    EXPECT_EQ("0", out["exit"]);
    expectNoServiceLeft();
}

// The release program accepts the release driver only: the suite's driver beside it is a
// foreign TAVROL.sys, refused with the driver-file error before anything is installed.
TEST_P(ProgramUnderWine, ForeignDriverFileIsRefusedAndNothingInstalled) {
    folder = wine::makeProgramFolder(
        kFolder, {{releaseExe, "Tavrol.exe"}, {tvx, "Tavrol.tvx"}, {vmDriver, "TAVROL.sys"}});
    const wine::Output out =
        run("", {"box", "service", std::string("file:") + kDriverCopy, "answer:1", "exit"});
    EXPECT_EQ(resourceStringById(115) + " (0x12)", out["box.text"]) << out.text;
    EXPECT_EQ("absent", out["service"]) << "the foreign driver was installed";
    EXPECT_EQ("absent", out["file"]) << "the foreign driver was copied";
    EXPECT_EQ("0", out["exit"]);
    expectNoServiceLeft();
    EXPECT_EQ("absent", wine::helper({"reg-get", kMachineKey, "State"})["key"])
        << "the foreign driver ran";
}

// While a run is open the service loads the driver from the checked copy in the system's driver
// folder, which only administrators may write; the copy goes with the service at the end.
TEST_P(ProgramUnderWine, ServiceRunsTheCopyInTheSystemsDriverFolderWhileARunIsOpen) {
    const wine::Output out = run("", {"dialog", "service", "service-path",
                                      std::string("file:") + kDriverCopy, "click:2", "exit"});
    ASSERT_EQ("found", out["dialog"]) << out.text;
    EXPECT_EQ("running", out["service"]);
    // Values come escaped: each backslash doubled. The service manager may keep the path in its
    // NT form.
    std::string path = out["service.path"];
    if (path.rfind("\\\\??\\\\", 0) == 0)
        path = path.substr(6);
    EXPECT_STRCASEEQ("C:\\\\windows\\\\system32\\\\drivers\\\\TAVROL.sys", path.c_str());
    EXPECT_EQ("present", out["file"]);
    EXPECT_EQ("0", out["exit"]);
    expectNoServiceLeft();
}

// The resource library is mapped as a data file on NT: the About box still comes from it, with
// the icon its template names.
TEST_P(ProgramUnderWine, SystemMenuAboutCommandShowsTheAboutBoxOverTheDialog) {
    const wine::Output out = run("", {"dialog", "syscommand:16", "other-icon", "other:1",
                                      "sleep:300", "no-box", "click:2", "exit"});
    ASSERT_EQ("found", out["dialog"]) << out.text;
    EXPECT_EQ("About Tavrolin", out["other"]) << "the About command showed no About box";
    EXPECT_EQ("set", out["other.icon"]) << "the About box's icon did not load";
    EXPECT_EQ("none", out["box.now"]);
    EXPECT_EQ("0", out["exit"]) << "the main dialog did not outlive its About box";
    expectNoServiceLeft();
}

TEST_P(ProgramUnderWine, ApplyProgramsSidebandAndFastWritesAndCancelKeepsThem) {
    const wine::Output out = run("", {"dialog", "click:1003", "click:1004", "click:1007",
                                      "sleep:500", "no-box", "dump", "click:2", "exit"});
    ASSERT_EQ("found", out["dialog"]) << out.text;
    EXPECT_EQ("none", out["box.now"]) << "Apply complained";
    bool sideband = false, fastWrites = false;
    for (const std::string& control : out.all("control")) {
        sideband |= control.rfind("id=1003 class=Button enabled=1 checked=1 ", 0) == 0;
        fastWrites |= control.rfind("id=1004 class=Button enabled=1 checked=1 ", 0) == 0;
    }
    EXPECT_TRUE(sideband) << "the sideband box was set back: the change did not hold\n" << out.text;
    EXPECT_TRUE(fastWrites) << "the fast-write box was set back\n" << out.text;
    EXPECT_EQ("0", out["exit"]);

    const unsigned modes = 0x7u | (1u << 4) | (1u << 8) | (1u << 9);
    const unsigned wanted = 2u | (1u << 4) | (1u << 8) | (1u << 9);
    const std::string state = machineState();
    EXPECT_EQ(wanted, agpCommand(state, 0x03) & modes) << "graphics card";
    EXPECT_EQ(wanted, agpCommand(state, 0x06) & modes) << "host bridge";
    EXPECT_EQ(std::to_string(2 * 32 + 1 * 8 + 1 * 2),
              wine::helper({"reg-get", kSettingsKey, "Settings"})["dword"]);
    EXPECT_EQ("absent", wine::helper({"reg-get", kRunKey, kRunValue})["value"]);
    expectNoServiceLeft();
}

// The card's sideband bit takes no writes in this machine: the change does not hold, so the
// program must put both ends back and untick the box, and store what is really in force.
TEST_P(ProgramUnderWine, SidebandThatDoesNotHoldIsUndoneOnBothEndsAndUnticked) {
    const std::string stuckDriver = wine::winFile("wine/TAVROL-vm-stuck.sys");
    ASSERT_FALSE(stuckDriver.empty()) << "TAVROL-vm-stuck.sys is not built";
    folder = wine::makeProgramFolder(
        kFolder, {{exe, "Tavrol.exe"}, {tvx, "Tavrol.tvx"}, {stuckDriver, "TAVROL.sys"}});
    const wine::Output out =
        run("", {"dialog", "click:1003", "click:1007", "sleep:500", "dump", "click:2", "exit"});
    ASSERT_EQ("found", out["dialog"]) << out.text;
    bool unticked = false;
    for (const std::string& control : out.all("control"))
        unticked |= control.rfind("id=1003 class=Button enabled=1 checked=0 ", 0) == 0;
    EXPECT_TRUE(unticked) << "the sideband box still claims a mode the card refused\n" << out.text;
    EXPECT_EQ("0", out["exit"]);

    const std::string state = machineState();
    EXPECT_EQ(0u, agpCommand(state, 0x03) & (1u << 9)) << "graphics card";
    EXPECT_EQ(0u, agpCommand(state, 0x06) & (1u << 9)) << "the bridge was left with sideband on";
    EXPECT_EQ(0x102u, agpCommand(state, 0x06) & 0x107u) << "the bridge lost its rate or enable";
    EXPECT_EQ(std::to_string(2 * 32), wine::helper({"reg-get", kSettingsKey, "Settings"})["dword"])
        << "the stored settings claim sideband";
    expectNoServiceLeft();
}

// Both ends of the 875P with the Radeon 9200 run in AGP 3.0 mode: the dialog lists 4X and 8X
// with 8X selected and sideband addressing ticked for good, and 4X is rate value 1 on both ends,
// written without a value AGP 3.0 does not allow.
TEST_P(ProgramUnderWine, Agp3LinkShowsFourXAndEightXAndFourXIsRateValueOne) {
    const std::string agp3Driver = wine::winFile("wine/TAVROL-vm-agp3.sys");
    ASSERT_FALSE(agp3Driver.empty()) << "TAVROL-vm-agp3.sys is not built";
    folder = wine::makeProgramFolder(
        kFolder, {{exe, "Tavrol.exe"}, {tvx, "Tavrol.tvx"}, {agp3Driver, "TAVROL.sys"}});
    const wine::Output out =
        run("", {"dialog", "dump", "select:1002:4X (1064Mb/s)", "click:1", "exit"});
    ASSERT_EQ("found", out["dialog"]) << out.text;
    bool listed = false, sidebandFixed = false;
    for (const std::string& control : out.all("control")) {
        listed |= control == "id=1002 class=ComboBox enabled=1 selected=8X (2128Mb/s) "
                             "items=4X (1064Mb/s)|8X (2128Mb/s)";
        sidebandFixed |= control.rfind("id=1003 class=Button enabled=0 checked=1 ", 0) == 0;
    }
    EXPECT_TRUE(listed) << "the rate box does not list 4X and 8X with 8X selected\n" << out.text;
    EXPECT_TRUE(sidebandFixed) << "sideband addressing is not shown on and fixed\n" << out.text;
    EXPECT_EQ("0", out["selected"]) << "4X is not the first item";
    EXPECT_EQ("0", out["exit"]) << out.text;

    const std::string state = machineState();
    const unsigned modes = 0x7u | (1u << 8) | (1u << 9);
    const unsigned wanted = 1u | (1u << 8) | (1u << 9);
    EXPECT_EQ(wanted, agpCommand(state, 0x03) & modes) << "graphics card";
    EXPECT_EQ(wanted, agpCommand(state, 0x06) & modes) << "host bridge";
    EXPECT_EQ(0u, reservedAgpWrites(state)) << "a value AGP 3.0 does not allow was written";
    EXPECT_EQ(std::to_string(1 * 32 + 1 * 8),
              wine::helper({"reg-get", kSettingsKey, "Settings"})["dword"])
        << "the stored word is not the register value";
    expectNoServiceLeft();
}

WINE_FLAVORS(ProgramUnderWine);

} // namespace
