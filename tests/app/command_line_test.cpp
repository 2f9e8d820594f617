// "-startup" and "-report FILE" on the command line: arguments of their own after the program's
// path, quoted or not.
#include <gtest/gtest.h>

#include "app/tavrol_app.h"

namespace {

struct CommandLine {
    const char* line;
    bool startup;
};

class StartupSwitch : public testing::TestWithParam<CommandLine> {};

TEST_P(StartupSwitch, CountsOnlyAsAnArgumentOfItsOwn) {
    EXPECT_EQ(GetParam().startup, isStartupRun(GetParam().line)) << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, StartupSwitch,
    testing::Values(
        // What the Run key holds, and what a person may type.
        CommandLine{"\"C:\\Program Files\\Vantorel Tech\\Tavrolin\\Tavrol.exe\" -startup", true},
        CommandLine{"C:\\Tavrolin\\Tavrol.exe -startup", true},
        CommandLine{"C:\\Tavrolin\\Tavrol.exe\t-startup", true},
        CommandLine{"\"C:\\Tavrolin\\Tavrol.exe\"   -startup  ", true},
        CommandLine{"\"C:\\Tavrolin\\Tavrol.exe\" /quiet -startup", true},
        CommandLine{"\"C:\\Tavrolin\\Tavrol.exe\" \"-startup\"", true},
        // The switch inside the program's path is part of the path.
        CommandLine{"\"C:\\tools-startup\\Tavrol.exe\"", false},
        CommandLine{"C:\\tools-startup\\Tavrol.exe", false},
        CommandLine{"\"C:\\Tavrolin -startup\\Tavrol.exe\"", false},
        CommandLine{"\"C:\\tools -startup\\Tavrol.exe\" -x", false},
        // Other arguments that merely contain it.
        CommandLine{"\"C:\\Tavrolin\\Tavrol.exe\" -startupx", false},
        CommandLine{"\"C:\\Tavrolin\\Tavrol.exe\" x-startup", false},
        CommandLine{"\"C:\\Tavrolin\\Tavrol.exe\" \"-startup now\"", false},
        CommandLine{"\"C:\\Tavrolin\\Tavrol.exe\" -Startup", false},
        // A path whose closing quote is missing holds everything after it.
        CommandLine{"\"C:\\Tavrolin\\Tavrol.exe -startup", false}, CommandLine{"", false},
        CommandLine{nullptr, false}));

struct ReportLine {
    const char* line;
    int result;
    const char* file; // "" unless a file is named
};

class ReportSwitchLines : public testing::TestWithParam<ReportLine> {};

TEST_P(ReportSwitchLines, NameTheArgumentAfterTheSwitch) {
    char file[MAX_PATH] = "untouched";
    EXPECT_EQ(GetParam().result, reportRunFile(GetParam().line, file, sizeof file))
        << GetParam().line;
    EXPECT_STREQ(GetParam().result == REPORT_SWITCH_WITH_FILE ? GetParam().file : "untouched",
                 file);
}

const std::string kLongName(MAX_PATH, 'x');
const std::string kLongLine = "Tavrol.exe -report " + kLongName;

INSTANTIATE_TEST_SUITE_P(
    Lines, ReportSwitchLines,
    testing::Values(
        ReportLine{"Tavrol.exe -report C:\\report.txt", REPORT_SWITCH_WITH_FILE, "C:\\report.txt"},
        ReportLine{"\"C:\\Tavrolin\\Tavrol.exe\" -report \"C:\\My Documents\\r.txt\"",
                   REPORT_SWITCH_WITH_FILE, "C:\\My Documents\\r.txt"},
        ReportLine{"Tavrol.exe /x -report r.txt -startup", REPORT_SWITCH_WITH_FILE, "r.txt"},
        ReportLine{"Tavrol.exe -report", REPORT_SWITCH_WITHOUT_FILE, ""},
        ReportLine{"Tavrol.exe -report \"\"", REPORT_SWITCH_WITHOUT_FILE, ""},
        // A name longer than any path is refused, never cut to another name.
        ReportLine{kLongLine.c_str(), REPORT_SWITCH_WITHOUT_FILE, ""},
        ReportLine{"\"C:\\x -report\\Tavrol.exe\" r.txt", REPORT_SWITCH_ABSENT, ""},
        ReportLine{"Tavrol.exe -reports r.txt", REPORT_SWITCH_ABSENT, ""},
        ReportLine{nullptr, REPORT_SWITCH_ABSENT, ""}));

} // namespace
