// Tavrol.exe -report under Wine: the report of the suite's virtual PC is the profile it was
// compiled from, as pciutils reads both.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "host.h"
#include "wine_env.h"

namespace {

const char kFolder[] = "tavrolin-report";
const char kMachineKey[] = "Software\\Tavrolin Test Machine";

class ReportUnderWine : public wine::FlavorTest {
  protected:
    void SetUp() override {
        WINE_SUITE_REQUIRED();
        const std::string exe = wine::winFile("wine/Tavrol-test.exe");
        const std::string tvx = wine::winFile("src/Tavrol.tvx");
        const std::string driver = wine::winFile("wine/TAVROL-vm.sys");
        ASSERT_FALSE(exe.empty() || tvx.empty() || driver.empty())
            << "Tavrol-test.exe, Tavrol.tvx or TAVROL-vm.sys is not built";
        // The virtual PC as its profile has it: no state of earlier cases.
        wine::removeService();
        wine::deleteKey(kMachineKey);
        folder = wine::makeProgramFolder(
            kFolder, {{exe, "Tavrol.exe"}, {tvx, "Tavrol.tvx"}, {driver, "TAVROL.sys"}});
    }
    void TearDown() override {
        if (!folder.empty()) {
            wine::removeService();
            wine::deleteKey(kMachineKey);
        }
    }
    std::string folder;
};

// What pciutils makes of a dump: every function numerically, with its 256 bytes.
std::string pciutilsView(const std::string& dump, int* status) {
    return wine::host("lspci -F '" + dump + "' -n -xxx 2>&1", status);
}

TEST_P(ReportUnderWine, TheReportOfTheVirtualPcIsItsProfile) {
    if (std::system("lspci --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "pciutils is not installed";
    const wine::Output out =
        wine::helper({"session", folder + "\\Tavrol.exe",
                      std::string("-report C:\\") + kFolder + "\\report.txt", "box:3000", "exit"});
    EXPECT_EQ("none", out["box"]) << "the report run showed: " << out["box.text"];
    ASSERT_EQ("0", out["exit"]) << out.text;
    EXPECT_EQ("absent", wine::serviceState());

    const std::string report = wine::env().prefix + "/drive_c/" + kFolder + "/report.txt";
    std::ifstream in(report);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(0u, text.find("# Tavrolin machine report")) << text;
    EXPECT_NE(std::string::npos, text.find(wine::flavor().has9x ? " NT 32-bit" : " NT 64-bit"))
        << text;
    int reportStatus = -1, profileStatus = -1;
    const std::string fromReport = pciutilsView(report, &reportStatus);
    const std::string fromProfile = pciutilsView(TAVROL_WINE_PROFILE, &profileStatus);
    EXPECT_EQ(0, reportStatus) << fromReport;
    ASSERT_EQ(0, profileStatus) << fromProfile;
    EXPECT_EQ(fromProfile, fromReport);
}

WINE_FLAVORS(ReportUnderWine);

} // namespace
