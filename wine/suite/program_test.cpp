// Tavrol.exe end to end under Wine: the real program, its resource library and the driver built
// for the suite, whose virtual PC is the default machine profile. Windows are worked with window
// messages by tavrol-driver.exe; the registry, the service manager and the virtual PC's state are
// read afterwards.
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
const char kFolder[] = "tavrolin";
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

class ProgramUnderWine : public wine::FlavorTest {
  protected:
    void SetUp() override {
        WINE_SUITE_REQUIRED();
        exe = wine::winFile("src/Tavrol.exe");
        tvx = wine::winFile("src/Tavrol.tvx");
        vmDriver = wine::winFile("wine/TAVROL-vm.sys");
        ASSERT_FALSE(exe.empty() || tvx.empty())
            << "Tavrol.exe or Tavrol.tvx is not built in " << wine::env().winBuild;
        ASSERT_FALSE(vmDriver.empty()) << "TAVROL-vm.sys is not built";
        // Every case starts from a machine that never ran the program.
        wine::removeService();
        wine::deleteKey(kSettingsKey);
        wine::helper({"reg-delete", kRunKey, kRunValue});
        wine::deleteKey(kMachineKey);
        folder = wine::makeProgramFolder(
            kFolder, {{exe, "Tavrol.exe"}, {tvx, "Tavrol.tvx"}, {vmDriver, "TAVROL.sys"}});
    }

    void TearDown() override {
        if (!folder.empty()) {
            wine::removeService();
            wine::deleteKey(kMachineKey);
        }
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

    void expectNoServiceLeft() { EXPECT_EQ("absent", wine::serviceState()); }

    std::string exe, tvx, vmDriver, folder;
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

TEST_P(ProgramUnderWine, FourXWithOkProgramsBothEndsAndStoresSettingsAndRunValue) {
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
        kFolder, {{exe, "Tavrol.exe"}, {tvx, "Tavrol.tvx"}, {release, "TAVROL.sys"}});
    const wine::Output out = run("", {"box", "service", "answer:1", "exit"});
    EXPECT_EQ("Vantorel Tavrolin", out["box.title"]);
    EXPECT_EQ(resourceStringById(111) + " (0x1)", out["box.text"]);
    EXPECT_EQ("running", out["service"]) << "the driver was not serving while the box was up";
    EXPECT_EQ("0", out["exit"]);
    expectNoServiceLeft();
}

TEST_P(ProgramUnderWine, RestoreOnlyDeletesTheSettingsAndKeepsTheRunValueAndTheModes) {
    ASSERT_EQ("Settings", wine::helper({"reg-set", kSettingsKey, "Settings", "dword",
                                        std::to_string(4 * 32 + 1)})["set"]);
    ASSERT_EQ(kRunValue, wine::helper({"reg-set", kRunKey, kRunValue, "string",
                                       "\"C:\\tavrolin\\Tavrol.exe\" -startup"})["set"]);
    const wine::Output out = run("", {"dialog", "click:1006", "other:7", "exit"});
    ASSERT_EQ("found", out["dialog"]) << out.text;
    EXPECT_EQ("Restore defaults", out["other"]) << "no restore-defaults dialog";
    EXPECT_EQ("0", out["exit"]) << "the main dialog did not close after Restore only";

    EXPECT_EQ("absent", wine::helper({"reg-get", kSettingsKey, "Settings"})["key"]);
    EXPECT_EQ("1", wine::helper({"reg-get", kRunKey, kRunValue})["type"])
        << "restoring the defaults removed the Run value";
    const std::string state = machineState();
    EXPECT_EQ(0x102u, agpCommand(state, 0x03) & 0x307u) << "the modes in force were changed";
    EXPECT_EQ(0x102u, agpCommand(state, 0x06) & 0x307u);
    expectNoServiceLeft();
}

// Without TAVROL.sys the service is created but cannot start: the program reports AgpError 18
// (string 115) and still removes the service it made.
TEST_P(ProgramUnderWine, MissingDriverFileIsReportedAndItsServiceRemoved) {
    folder = wine::makeProgramFolder(kFolder, {{exe, "Tavrol.exe"}, {tvx, "Tavrol.tvx"}});
    const wine::Output out = run("", {"box", "service", "answer:1", "exit"});
    EXPECT_EQ("Vantorel Tavrolin", out["box.title"]);
    // The message names the AgpError in hexadecimal after the text.
    EXPECT_EQ(resourceStringById(115) + " (0x12)", out["box.text"]);
    EXPECT_EQ("stopped", out["service"]) << "the service should exist, not started";
    EXPECT_EQ("0", out["exit"]);
    expectNoServiceLeft();
}

TEST_P(ProgramUnderWine, SystemMenuAboutCommandShowsTheAboutBoxOverTheDialog) {
    const wine::Output out =
        run("", {"dialog", "syscommand:16", "other:1", "sleep:300", "no-box", "click:2", "exit"});
    ASSERT_EQ("found", out["dialog"]) << out.text;
    EXPECT_EQ("About Tavrolin", out["other"]) << "the About command showed no About box";
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

WINE_FLAVORS(ProgramUnderWine);

} // namespace
