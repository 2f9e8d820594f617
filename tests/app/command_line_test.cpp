// "-startup" on the command line: an argument of its own after the program's path, quoted or not.
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

} // namespace
