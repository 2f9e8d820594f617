// `-report FILE`: a report that cannot be written leaves no file, or the old one, and says why.
#include "program_fixture.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

namespace fs = std::filesystem;
using apptest::ProgramTest;

std::string machineText(const std::string& name) {
    std::ifstream in(sim::machinesDir() + "/" + name + ".lspci");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string hostText(const std::string& windowsPath) {
    std::ifstream in(sim::drive().hostPathOf(windowsPath));
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct FailedWrite {
    const char* name;
    const char* machine;
    const char* extraDirective; // appended to the profile, "" for none
    const char* file;           // the -report argument
    bool readOnlyOldFile;       // FILE exists beforehand, read-only, with "old report"
    const char* reason;         // what the message box says
};

const FailedWrite kFailedWrites[] = {
    {"DiskFull", "default", "#! disk-full 1000\n", "C:\\report.txt", false,
     "There is not enough space on the disk."},
    {"MissingFolder", "default", "", "C:\\No such folder\\report.txt", false,
     "The folder does not exist."},
    {"ReadOnlyFile", "default", "", "C:\\report.txt", true, "The file is read-only or in use"},
    // Without the driver the channel reaches nothing: no report, and discovery's code says why.
    {"NoDriver", "default", "#! scm-fail OpenSCManagerA 5\n", "C:\\report.txt", false,
     "could not read the PCI devices of this computer. (0x9)"},
    // Windows 9x replaces by deleting first: the read-only file refuses that as well.
    {"ReadOnlyFileOn9x", "ninex", "", "C:\\report.txt", true, "The file is read-only or in use"},
};

class ReportRunFailure : public ProgramTest, public ::testing::WithParamInterface<FailedWrite> {};

TEST_P(ReportRunFailure, LeavesNoPartialFileAndSaysWhy) {
    const FailedWrite& c = GetParam();
    boot(machineText(c.machine) + c.extraDirective, true);
    const std::string host = sim::drive().hostPathOf("C:\\report.txt");
    if (c.readOnlyOldFile) {
        ASSERT_TRUE(sim::drive().writeFile("C:\\report.txt", "old report"));
        ASSERT_EQ(0, chmod(host.c_str(), 0444));
    }

    run(std::string("-report \"") + c.file + "\"");

    EXPECT_EQ(1, m_exitStatus);
    ASSERT_EQ(1u, boxes().size());
    EXPECT_NE(std::string::npos, boxes()[0].text.find(c.file)) << boxes()[0].text;
    EXPECT_NE(std::string::npos, boxes()[0].text.find(c.reason)) << boxes()[0].text;
    EXPECT_STREQ("warning", boxes()[0].icon());
    if (c.readOnlyOldFile)
        EXPECT_EQ("old report", hostText("C:\\report.txt"));
    else
        EXPECT_FALSE(sim::drive().fileExists(c.file));
    EXPECT_FALSE(sim::drive().fileExists(std::string(c.file) + ".tmp")) << "temporary file left";
    EXPECT_EQ(0, sim::machine().services().services().size()) << "driver service left";
}

INSTANTIATE_TEST_SUITE_P(Writes, ReportRunFailure, ::testing::ValuesIn(kFailedWrites),
                         [](const ::testing::TestParamInfo<FailedWrite>& info) {
                             return std::string(info.param.name);
                         });

// A relative name is taken from where the program was started, not from the program's folder
// that start-up moves to; a report replaces an older one without a word.
TEST_F(ProgramTest, ARelativeReportNameIsSavedWhereTheProgramWasStarted) {
    boot("default");
    ASSERT_TRUE(sim::drive().createDirectories("C:\\Work"));
    ASSERT_TRUE(sim::drive().writeFile("C:\\Work\\report.txt", "old report"));
    sim::process().setCurrentDirectory("C:\\Work");

    run("-report report.txt");

    EXPECT_EQ(0, m_exitStatus);
    EXPECT_TRUE(boxes().empty());
    EXPECT_EQ(0u, hostText("C:\\Work\\report.txt").find("# Tavrolin machine report"));
}

TEST_F(ProgramTest, AReportSwitchWithoutAFileSaysHowToNameOne) {
    boot("default");
    run("-report");
    EXPECT_EQ(1, m_exitStatus);
    ASSERT_EQ(1u, boxes().size());
    EXPECT_NE(std::string::npos, boxes()[0].text.find("Tavrol.exe -report FILE"));
    EXPECT_TRUE(trace(sim::TraceKind::DeviceOpen).empty()) << "no hardware access";
}

} // namespace
