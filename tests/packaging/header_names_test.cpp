// The reader that hands the program's names to the set-up script: packaging/header_names.cmake
// turns `#define NAME "text"` lines of the program's headers into NSIS defines.
#include <gtest/gtest.h>

#include <stdio.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "agpcfg/agpcfg.h"
#include "host.h"
#include "app/tavrol_app.h"
#include "settings/logon_task.h"
#include "settings/settings.h"

namespace {

struct Reading {
    int status = -1;
    std::string nsh;
    std::string messages;
};

Reading readNames(const std::string& header, const std::string& names) {
    const std::string output = "/tmp/tavrol-names-" + std::to_string(getpid()) + ".nsh";
    std::remove(output.c_str());
    Reading reading;
    reading.messages = wine::host(
        wine::quote(TAVROL_CMAKE) + " -DHEADER=" + wine::quote(header) +
            " -DNAMES=" + wine::quote(names) + " -DOUTPUT=" + wine::quote(output) + " -P " +
            wine::quote(std::string(TAVROL_SOURCE_DIR) + "/packaging/header_names.cmake") + " 2>&1",
        &reading.status);
    std::ifstream in(output);
    reading.nsh.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::remove(output.c_str());
    return reading;
}

// The set-up script gets exactly the names this program is compiled with.
TEST(HeaderNames, SetUpGetsTheNamesTheProgramIsBuiltWith) {
    const struct {
        const char* header;
        const char* name;
        const char* compiled;
    } names[] = {
        {"src/app/tavrol_app.h", "TAVROL_TITLE", TAVROL_TITLE},
        {"src/app/tavrol_app.h", "TAVROL_MUTEX_NAME", TAVROL_MUTEX_NAME},
        {"src/settings/settings.h", "SETTINGS_KEY_PATH", SETTINGS_KEY_PATH},
        {"src/settings/settings.h", "RUN_KEY_PATH", RUN_KEY_PATH},
        {"src/settings/settings.h", "RUN_VALUE_NAME", RUN_VALUE_NAME},
        {"src/settings/logon_task.h", "LOGON_TASK_NAME", LOGON_TASK_NAME},
        {"src/agpcfg/agpcfg.h", "DRIVER_SERVICE_NAME", DRIVER_SERVICE_NAME},
        {"src/agpcfg/agpcfg.h", "DRIVER_FILE_NAME", DRIVER_FILE_NAME},
    };
    for (const auto& name : names) {
        const Reading reading =
            readNames(std::string(TAVROL_SOURCE_DIR) + "/" + name.header, name.name);
        EXPECT_EQ(0, reading.status) << reading.messages;
        EXPECT_EQ(std::string("!define ") + name.name + " \"" + name.compiled + "\"\n",
                  reading.nsh);
    }
}

// NSIS text of a define, or a refusal that stops the build; nothing is guessed.
TEST(HeaderNames, GivesNsisTextOrStopsTheBuild) {
    const struct {
        const char* header;
        const char* nsis; // nullptr: refused
    } cases[] = {
        {"#define NAME \"Software\\\\Vantorel Tech\"\n", "Software\\Vantorel Tech"},
        {"#define NAME \"a\\\\\\\\b\"\n", "a\\\\b"},
        {"#define NAME \"TAVROL\" \".sys\"\n", "TAVROL.sys"},
        {"#define NAME \"co$t\" // a comment\n", "co$$t"},
        {"#define NAMES \"other\"\n#define NAME \"this\"\n", "this"},
        {"#define NAME \"line\\n\"\n", nullptr},
        {"#define NAME \"a \\\"quote\\\"\"\n", nullptr},
        {"#define NAME 5\n", nullptr},
        {"#define NAME\n", nullptr},
        {"#define NAMES \"other\"\n", nullptr},
        {"#define NAME \"one\"\n#define NAME \"two\"\n", nullptr},
    };
    const std::string header = "/tmp/tavrol-names-" + std::to_string(getpid()) + ".h";
    for (const auto& c : cases) {
        std::ofstream(header) << c.header;
        const Reading reading = readNames(header, "NAME");
        if (c.nsis) {
            EXPECT_EQ(0, reading.status) << c.header << reading.messages;
            EXPECT_EQ(std::string("!define NAME \"") + c.nsis + "\"\n", reading.nsh) << c.header;
        } else {
            EXPECT_NE(0, reading.status) << c.header << " was read as " << reading.nsh;
            EXPECT_NE(std::string::npos, reading.messages.find(header)) << reading.messages;
        }
    }
    std::remove(header.c_str());
}

} // namespace
