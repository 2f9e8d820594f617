// tavrolin-sim as a person uses it: runs that follow each other on one virtual PC.
#include "sim_front_end.h"

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

using namespace sim_front_end;

class CliTest : public SimFrontEnd {
  protected:
    // The virtual PC's service database as the state directory keeps it.
    std::string services() { return slurp(m_state + "/services.txt"); }
};

TEST_F(CliTest, ChoosingFourXWithRunAtLogOnIsReappliedAfterAReboot) {
    std::string script = file("apply.txt", "check 1005 1\n"
                                           "select 1002 4X (1064Mb/s)\n"
                                           "click 1\n");
    Result run = sim("run --script '" + script + "'");
    ASSERT_EQ(0, run.status) << run.err << run.out;

    Result regedit = sim("regedit");
    EXPECT_NE(std::string::npos, regedit.out.find("\"Settings\"=dword:00000081"))
        << regedit.out; // run 1, fast writes 0, sideband 0, rate 4
    EXPECT_NE(std::string::npos,
              regedit.out.find("\\\"C:\\\\Program Files\\\\Vantorel Tech\\\\Tavrolin\\\\"
                               "Tavrol.exe\\\" -startup"))
        << regedit.out;

    Result reboot = sim("reboot");
    ASSERT_EQ(0, reboot.status) << reboot.err;
    EXPECT_NE(std::string::npos, reboot.out.find("\"event\":\"logon-run\"")) << reboot.out;

    Result probe = sim("probe");
    EXPECT_NE(std::string::npos, probe.out.find("data rate: 4X")) << probe.out;
    EXPECT_EQ(std::string::npos, services().find("TAVROL")) << "no driver service left";
}

// Windows 7 with User Account Control: the Run value of an older version is blocked at log-on,
// the task that the box now makes runs, and unticking the box ends it.
TEST_F(CliTest, OnWindows7TheLogOnTaskReappliesAndARunValueIsBlocked) {
    std::string machine = std::string(TAVROL_SOURCE_DIR) + "/machines/win7.lspci";
    std::string apply = file("apply.txt", "check 1005 1\nselect 1002 4X (1064Mb/s)\nclick 1\n");
    ASSERT_EQ(0, sim("--machine '" + machine + "' run --script '" + apply + "'").status);
    std::ifstream task(m_state + "/drive_c/Windows/System32/Tasks/Vantorel Tavrolin");
    EXPECT_TRUE(task.good()) << "no task file";
    EXPECT_EQ(std::string::npos, sim("regedit").out.find("-startup")) << "a Run value was made";

    Result reboot = sim("reboot");
    ASSERT_EQ(0, reboot.status) << reboot.err;
    EXPECT_NE(std::string::npos,
              reboot.out.find("{\"event\":\"logon-run\",\"from\":\"task\",\"task\":"
                              "\"Vantorel Tavrolin\""))
        << reboot.out;
    EXPECT_NE(std::string::npos, sim("probe").out.find("data rate: 4X"));

    std::string untick = file("untick.txt", "check 1005 0\nclick 1\n");
    ASSERT_EQ(0, sim("run --script '" + untick + "'").status);
    std::string regedit = file("old.reg", "REGEDIT4\n\n"
                                          "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\"
                                          "CurrentVersion\\Run]\n\"Vantorel Tavrolin\"=\"\\\"C:\\"
                                          "\\Program Files\\\\Vantorel Tech\\\\Tavrolin\\\\"
                                          "Tavrol.exe\\\" -startup\"\n");
    fs::copy_file(regedit, m_state + "/registry.reg", fs::copy_options::overwrite_existing);
    reboot = sim("reboot");
    EXPECT_NE(std::string::npos,
              reboot.out.find("\"event\":\"logon-blocked\",\"from\":\"run-key\""))
        << reboot.out;
    EXPECT_EQ(std::string::npos, reboot.out.find("logon-run")) << reboot.out;
    EXPECT_NE(std::string::npos, sim("probe").out.find("data rate: 2X"));
}

TEST_F(CliTest, ARebootWithoutRunValueKeepsTheProfilesRate) {
    std::string script = file("apply.txt", "select 1002 4X (1064Mb/s)\nclick 1\n");
    ASSERT_EQ(0, sim("run --script '" + script + "'").status);
    EXPECT_NE(std::string::npos, sim("probe").out.find("data rate: 4X"));
    Result reboot = sim("reboot");
    EXPECT_EQ(std::string::npos, reboot.out.find("logon-run")) << reboot.out;
    EXPECT_NE(std::string::npos, sim("probe").out.find("data rate: 2X"));
}

TEST_F(CliTest, SafeModeRunAsksAndKeepsTheSettingsOnNo) {
    std::string script = file("apply.txt", "select 1002 1X (266Mb/s)\nclick 1\n");
    ASSERT_EQ(0, sim("run --script '" + script + "'").status);
    Result safe = sim("--safe-mode run");
    EXPECT_EQ(0, safe.status) << safe.err;
    EXPECT_NE(std::string::npos, safe.out.find("Tavrolin cannot run in safe mode")) << safe.out;
    EXPECT_NE(std::string::npos, sim("regedit").out.find("\"Settings\"=dword:00000020"));
}

TEST_F(CliTest, ScriptErrorsStopTheRunWithTheLine) {
    std::string script = file("bad.txt", "select 1002 8X (2128Mb/s)\n");
    Result run = sim("run --script '" + script + "'");
    EXPECT_NE(0, run.status);
    EXPECT_NE(std::string::npos, run.err.find("bad.txt:1")) << run.err;
    // The program tore down as usual: no driver service is left.
    EXPECT_EQ(std::string::npos, services().find("TAVROL")) << services();
}

TEST_F(CliTest, AMalformedProfileIsRefusedWithItsLineAndBuildsNothing) {
    std::string profile = file("bad.lspci", "00:00.0 Host bridge: test\n00: 86 80 zz\n");
    Result r = sim("--machine '" + profile + "' probe");
    EXPECT_NE(0, r.status);
    EXPECT_NE(std::string::npos, r.err.find("bad.lspci:2")) << r.err;
    EXPECT_FALSE(fs::exists(m_state + "/hardware.lspci"));
}

TEST_F(CliTest, AnotherProfileForAnExistingPcIsRefused) {
    ASSERT_EQ(0, sim("probe").status);
    std::string other = std::string(TAVROL_SOURCE_DIR) + "/machines/ati.lspci";
    Result r = sim("--machine '" + other + "' probe");
    EXPECT_NE(0, r.status);
    EXPECT_NE(std::string::npos, r.err.find("another profile")) << r.err;
}

TEST_F(CliTest, LspciPrintsEveryFunctionAsADump) {
    Result r = sim("lspci");
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ(0u, r.out.find("00:00.0 Host bridge")) << r.out.substr(0, 200);
    EXPECT_NE(std::string::npos, r.out.find("\n01:00.0 VGA compatible controller"));
    EXPECT_NE(std::string::npos, r.out.find("\nf0: "));
}

TEST_F(CliTest, ASecondInstanceBringsTheFirstToTheFrontAndLeavesNoDriverBehind) {
    ASSERT_EQ(0, sim("probe").status); // build the PC before two runs share it
    std::string script = file("wait.txt", "wait foreground\nclick 2\n");
    std::string firstOut = m_dir + "/first.txt";
    std::string command = "'" + kSim + "' --state '" + m_state + "' run --script '" + script +
                          "' </dev/null >'" + firstOut + "' 2>&1";
    pid_t first = 0;
    const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
    ASSERT_EQ(0,
              posix_spawn(&first, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ));
    // The first instance's dialog is up once its window is registered for other processes.
    std::string windows = m_state + "/objects/windows";
    for (int i = 0; i < 500 && (!fs::exists(windows) || fs::is_empty(windows)); ++i)
        usleep(20000);
    ASSERT_FALSE(fs::is_empty(windows)) << slurp(firstOut);

    Result second = sim("run");
    int raw = 0;
    waitpid(first, &raw, 0);
    EXPECT_EQ(0, second.status) << second.err;
    EXPECT_EQ(std::string::npos, second.out.find("\"title\"")) << "no message box expected";
    EXPECT_EQ(0, WIFEXITED(raw) ? WEXITSTATUS(raw) : -1) << slurp(firstOut);
    EXPECT_NE(std::string::npos, slurp(firstOut).find("\"event\":\"foreground\""))
        << slurp(firstOut);
    EXPECT_EQ(std::string::npos, services().find("TAVROL")) << services();
}

TEST_F(CliTest, UnknownCommandsAndOptionsAreUsageErrors) {
    EXPECT_EQ(2, sim("frobnicate").status);
    EXPECT_EQ(2, sim("--colour run").status);
    EXPECT_EQ(2, sim("").status);
    EXPECT_EQ(2, sim("probe --xml").status);
}

std::string machine(const std::string& name) {
    return std::string(TAVROL_SOURCE_DIR) + "/machines/" + name + ".lspci";
}

// What scripts rely on: one JSON object with the getters' results, the mode, the combo box's
// items and selection, and where the two ends were found.
TEST_F(CliTest, ProbeJsonIsOneObjectWithTheDialogsRateTexts) {
    struct Case {
        const char* machine;
        const char* json;
    };
    const Case cases[] = {
        {"nforce2-fx5600",
         "{\"initError\":0,\"supportedRates\":3,\"rate\":2,\"sideband\":1,\"fastWrite\":1,"
         "\"agp3\":true,\"rateTexts\":[\"4X (1064Mb/s)\",\"8X (2128Mb/s)\"],"
         "\"rateText\":\"8X (2128Mb/s)\","
         "\"bridge\":{\"address\":\"00:00.0\",\"id\":\"01e010de\",\"cap\":64},"
         "\"graphics\":{\"address\":\"03:00.0\",\"id\":\"031210de\",\"cap\":68},"
         "\"linkFaults\":[]}\n"},
        // The AGP bridge behind the two processors' host bridges, the card behind its bridge.
        {"dual-opteron-8151",
         "{\"initError\":0,\"supportedRates\":3,\"rate\":2,\"sideband\":1,\"fastWrite\":1,"
         "\"agp3\":true,\"rateTexts\":[\"4X (1064Mb/s)\",\"8X (2128Mb/s)\"],"
         "\"rateText\":\"8X (2128Mb/s)\","
         "\"bridge\":{\"address\":\"08:00.0\",\"id\":\"74541022\",\"cap\":160},"
         "\"graphics\":{\"address\":\"09:00.0\",\"id\":\"034e10de\",\"cap\":68},"
         "\"linkFaults\":[]}\n"},
        {"no-agp", "{\"initError\":1,\"supportedRates\":0,\"rate\":0,\"sideband\":2,"
                   "\"fastWrite\":2,\"agp3\":false,\"rateTexts\":[],\"rateText\":null,"
                   "\"bridge\":null,\"graphics\":null,\"linkFaults\":[]}\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.machine);
        Result r = sim("--machine '" + machine(c.machine) + "' probe --json");
        EXPECT_EQ(0, r.status) << r.err;
        EXPECT_EQ(c.json, r.out);
        TearDown();
        SetUp();
    }
}

// Functions and their AGP command rates as `lspci -F FILE -vv` decodes a dump.
std::string lspciCommandRates(const std::string& dump) {
    std::string command = "lspci -F '" + dump + "' -vv 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    std::string rates;
    char line[512];
    std::string function;
    while (pipe && std::fgets(line, sizeof line, pipe)) {
        std::string text = line;
        if (text[0] != '\t')
            function = text.substr(0, 7);
        size_t at = text.find("Command: RQ=");
        if (at != std::string::npos)
            rates += function + " " + text.substr(text.rfind("Rate="));
    }
    if (pipe)
        pclose(pipe);
    return rates;
}

// "4X (1064Mb/s)" on an AGP 3.0 link is rate value 1 on both ends, which pciutils reads as x4;
// the probe then shows the same text selected.
TEST_F(CliTest, FourXOnAnAgp3LinkIsWhatPciutilsCallsX4) {
    if (std::system("lspci --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "lspci is not installed";
    ASSERT_EQ(0, sim("--machine '" + machine("i875p-radeon9200") + "' probe").status);
    std::string script = file("apply.txt", "select 1002 4X (1064Mb/s)\nclick 1\n");
    Result run = sim("run --script '" + script + "'");
    ASSERT_EQ(0, run.status) << run.err << run.out;
    Result dump = sim("lspci");
    ASSERT_EQ(0, dump.status) << dump.err;
    EXPECT_EQ("00:00.0 Rate=x4\n01:00.0 Rate=x4\n",
              lspciCommandRates(file("after.lspci", dump.out)));
    EXPECT_NE(std::string::npos, sim("probe --json")
                                     .out.find("\"rate\":1,\"sideband\":1,\"fastWrite\":0,\"agp3\":"
                                               "true,\"rateTexts\":[\"4X (1064Mb/s)\",\"8X "
                                               "(2128Mb/s)\"],\"rateText\":\"4X (1064Mb/s)\""));
}

} // namespace
