// Machine profiles: lspci dumps in their several forms, directives, and every refusal.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "sim/boot.h"
#include "sim/machine.h"

namespace {

const char* const kHostRows = "00: 86 80 30 1a 06 01 90 00 04 00 00 06 00 00 00 00\n"
                              "10: 08 00 00 e8 00 00 00 00 00 00 00 00 00 00 00 00\n"
                              "20: 00 00 00 00 00 00 00 00 00 00 00 00 43 10 88 80\n"
                              "30: 00 00 00 00 a0 00 00 00 00 00 00 00 00 00 00 00\n";

std::string rows(const char* firstRow) {
    std::string text = firstRow;
    for (int row = 0x10; row < 0x100; row += 0x10) {
        char line[80];
        std::snprintf(line, sizeof line, "%02x: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n",
                      row);
        text += line;
    }
    return text;
}

std::string parseError(const std::string& text) {
    sim::Profile profile;
    std::string error;
    EXPECT_FALSE(sim::parseProfile(text, "machines/x.lspci", &profile, &error)) << "accepted:\n"
                                                                                << text;
    return error;
}

sim::Profile parsed(const std::string& text) {
    sim::Profile profile;
    std::string error;
    EXPECT_TRUE(sim::parseProfile(text, "machines/x.lspci", &profile, &error)) << error;
    return profile;
}

TEST(ProfileDump, PlainXxxDumpGivesAllBytes) {
    sim::Profile p = parsed("00:00.0 Host bridge: Intel Corporation 82845\n" +
                            rows("00: 86 80 30 1a 06 01 90 00 04 00 00 06 00 00 00 00\n"));
    ASSERT_EQ(1u, p.functions.size());
    EXPECT_EQ("Host bridge: Intel Corporation 82845", p.functions[0].description);
    EXPECT_EQ(0x86, p.functions[0].config[0]);
    EXPECT_EQ(0x1a, p.functions[0].config[3]);
    EXPECT_EQ(0x06, p.functions[0].config[0x0B]);
}

TEST(ProfileDump, SixtyFourByteDumpZeroesTheRest) {
    sim::Profile p = parsed(std::string("00:00.0 Host bridge\n") + kHostRows);
    ASSERT_EQ(1u, p.functions.size());
    EXPECT_EQ(0xa0, p.functions[0].config[0x34]);
    for (int i = 0x40; i < 0x100; ++i)
        ASSERT_EQ(0, p.functions[0].config[i]) << "byte " << i;
}

TEST(ProfileDump, VerboseDumpWithDomainsAndExtendedRows) {
    std::string text = "0000:00:00.0 Host bridge: Intel Corporation 82845 (rev 04)\n"
                       "\tSubsystem: ASUSTeK Computer Inc. Device 8088\n"
                       "\tControl: I/O- Mem+ BusMaster+\n"
                       "\tCapabilities: [a0] AGP version 2.0\n"
                       "\t\tStatus: RQ=32 Iso- ArqSz=0 Cal=0 SBA+ FW+ Rate=x1,x2,x4\n";
    text += rows("00: 86 80 30 1a 06 01 90 00 04 00 00 06 00 00 00 00\n");
    text += "100: 01 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00\n";
    text += "\n0000:01:00.0 VGA compatible controller: NVIDIA\n";
    text += rows("00: de 10 10 01 07 00 b0 02 b2 00 00 03 00 20 00 00\n");
    sim::Profile p = parsed(text);
    ASSERT_EQ(2u, p.functions.size());
    EXPECT_EQ(1, p.functions[1].bus);
    EXPECT_EQ(0xde, p.functions[1].config[0]);
}

TEST(ProfileDump, FunctionsComeOutInBusDeviceFunctionOrder) {
    std::string text;
    const char* headers[] = {"01:00.0 a", "00:1f.3 b", "00:1f.0 c", "00:00.0 d", "00:01.0 e"};
    for (const char* header : headers)
        text += std::string(header) + "\n" + kHostRows;
    sim::Profile p = parsed(text);
    ASSERT_EQ(5u, p.functions.size());
    const char* order[] = {"d", "e", "c", "b", "a"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(order[i], p.functions[i].description) << "position " << i;
}

TEST(ProfileDump, CommentsAndCrLfLinesAreFine) {
    sim::Profile p = parsed("# a comment\r\n00:00.0 Host\r\n00: 86 80 30 1a 06 01 90 00 04 00 00 "
                            "06 00 00 00 00\r\n\r\n");
    ASSERT_EQ(1u, p.functions.size());
    EXPECT_EQ("Host", p.functions[0].description);
    EXPECT_EQ(0x06, p.functions[0].config[0x0B]);
}

TEST(ProfileErrors, EachNamesFileAndLine) {
    struct Case {
        std::string text;
        std::string expected;
    };
    const std::string header = "00:00.0 Host\n";
    const Case cases[] = {
        {header + "00: 86 80 zz 1a 06 01 90 00 04 00 00 06 00 00 00 00\n",
         "machines/x.lspci:2: bad hex byte 'zz' in row 00"},
        {header + "00: 86 80 30 1a 06 01 90 00 04 00 00 06 00 00 00\n",
         "machines/x.lspci:2: row 00 has 15 bytes, expected 16"},
        {header + "00: 86 80 30 1a 06 01 90 00 04 00 00 06 00 00 00 00 00\n",
         "machines/x.lspci:2: row 00 has 17 bytes, expected 16"},
        {header + "00: 86 80 30 1a 06 01 90 00 04 00 00 06 00 00 00 0\n",
         "machines/x.lspci:2: bad hex byte '0' in row 00"},
        {"# nothing yet\n00: 86 80 30 1a 06 01 90 00 04 00 00 06 00 00 00 00\n",
         "machines/x.lspci:2: configuration row before any function header"},
        {header + "0g: 86 80 30 1a 06 01 90 00 04 00 00 06 00 00 00 00\n",
         "machines/x.lspci:2: bad row offset '0g'"},
        {header + "08: 86 80 30 1a 06 01 90 00 04 00 00 06 00 00 00 00\n",
         "machines/x.lspci:2: row offset 08 is not a multiple of 0x10"},
        {header + kHostRows + "10: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n",
         "machines/x.lspci:6: row 10 appears twice"},
        {header + kHostRows + header + kHostRows,
         "machines/x.lspci:6: function 00:00.0 appears twice"},
        {std::string("00:20.0 Host\n") + kHostRows,
         "machines/x.lspci:1: device number 20 out of range (00..1f)"},
        {std::string("00:00.8 Host\n") + kHostRows,
         "machines/x.lspci:1: function number 8 out of range (0..7)"},
        {std::string("00:0x.0 Host\n") + kHostRows,
         "machines/x.lspci:1: bad PCI function address '00:0x.0' (expected BB:DD.F)"},
        {header, "machines/x.lspci: function 00:00.0 has no configuration rows"},
        {header + kHostRows + "#! frobnicate 1\n",
         "machines/x.lspci:6: unknown directive 'frobnicate'"},
        {"#!\n", "machines/x.lspci:1: empty directive"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.expected, parseError(c.text));
    }
}

TEST(ProfileErrors, ARefusedProfileLeavesTheOldOneAlone) {
    sim::Profile profile = parsed(std::string("00:00.0 Host\n") + kHostRows);
    std::string error;
    EXPECT_FALSE(sim::parseProfile("01:00.0 VGA\n00: zz\n", "y", &profile, &error));
    ASSERT_EQ(1u, profile.functions.size());
    EXPECT_EQ("Host", profile.functions[0].description);
}

TEST(ProfileDirectives, KnownDirectivesKeepTheirArgumentsAndLines) {
    sim::Profile p = parsed("#! windows 9x\n"
                            "#! phys 0xE0101000 0x00000E00\n"
                            "#! open-fail \\\\.\\Tavrol 5\n"
                            "#! hklm-readonly\n"
                            "00:00.0 Host\n" +
                            std::string(kHostRows) + "#! stuck 00:00.0 0x200\n");
    ASSERT_EQ(5u, p.directives.size());
    EXPECT_EQ("windows", p.directives[0].name);
    EXPECT_EQ(std::vector<std::string>{"9x"}, p.directives[0].args);
    EXPECT_EQ(2, p.directives[1].line);
    EXPECT_EQ("\\\\.\\Tavrol", p.directives[2].args[0]);
    EXPECT_TRUE(p.has("hklm-readonly"));
    EXPECT_EQ(10, p.find("stuck")->line);
    EXPECT_EQ(nullptr, p.find("safe-mode"));
}

TEST(ProfileDirectives, BadArgumentsAreRefused) {
    struct Case {
        const char* line;
        const char* expected;
    };
    const Case cases[] = {
        {"#! windows 95",
         "machines/x.lspci:1: windows takes 'nt', 'xp', 'vista', '7' or '9x', not '95'"},
        {"#! uac maybe", "machines/x.lspci:1: uac takes 'on' or 'off', not 'maybe'"},
        {"#! task-fail Run 0x80004005", "machines/x.lspci:1: unknown Task Scheduler step 'Run'"},
        {"#! windows", "machines/x.lspci:1: windows takes 1 argument(s), got 0"},
        {"#! safe-mode now", "machines/x.lspci:1: safe-mode takes 0 argument(s), got 1"},
        {"#! phys 0xE0101002 0",
         "machines/x.lspci:1: physical address 0xE0101002 is not dword-aligned"},
        {"#! phys 0xE0101000 0x1FFFFFFFF", "machines/x.lspci:1: bad value '0x1FFFFFFFF'"},
        {"#! phys E0101000 1", "machines/x.lspci:1: bad physical address 'E0101000'"},
        {"#! ddraw nope", "machines/x.lspci:1: bad HRESULT 'nope'"},
        {"#! ddraw 0 maybe",
         "machines/x.lspci:1: ddraw's second argument is 'object' or 'null', not 'maybe'"},
        {"#! ddraw 0 object null", "machines/x.lspci:1: ddraw takes 1 to 2 argument(s), got 3"},
        {"#! vxd gone", "machines/x.lspci:1: expected 'absent' or 'present', not 'gone'"},
        {"#! bios-fail B109 any",
         "machines/x.lspci:1: unknown PCI BIOS function 'B109' (B101, B103, B108, B10A, B10D)"},
        {"#! bios-fail B108 reg", "machines/x.lspci:1: bad register or index 'reg'"},
        {"#! open-fail Tavrol 5",
         "machines/x.lspci:1: open-fail names a device such as \\\\.\\Tavrol, not 'Tavrol'"},
        {"#! open-fail \\\\.\\Tavrol five", "machines/x.lspci:1: bad error code 'five'"},
        {"#! request-fail 0x80012410 x", "machines/x.lspci:1: bad error code 'x'"},
        {"#! open-fail \\\\.\\Tavrol 2 x", "machines/x.lspci:1: bad count of opens 'x'"},
        {"#! request-fail 0x80012408 31 0g:00.0",
         "machines/x.lspci:1: bad PCI function address '0g:00.0' (expected BB:DD.F)"},
        {"#! request-fail 1 2 any 0 1 9",
         "machines/x.lspci:1: request-fail takes 1 to 5 argument(s), got 6"},
        {"#! request-fail 1 2 any x", "machines/x.lspci:1: bad count of requests served first 'x'"},
        {"#! request-fail 1 2 00:00.0 0 -1", "machines/x.lspci:1: bad count of failures '-1'"},
        {"#! open-fail \\\\.\\Tavrol 2 0 y", "machines/x.lspci:1: bad count of failures 'y'"},
        {"#! scm-fail OpenSCManagerW 5",
         "machines/x.lspci:1: unknown service-manager function 'OpenSCManagerW'"},
        {"#! stuck 01:00 0x200",
         "machines/x.lspci:1: bad PCI function address '01:00' (expected BB:DD.F)"},
        {"#! stuck 01:00.0 0x200",
         "machines/x.lspci:1: stuck names function 01:00.0, which the profile lacks"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(c.expected, parseError(std::string(c.line) + "\n"));
    }
}

std::string checkColour(const std::vector<std::string>& args) {
    return args[0] == "blue" ? "" : "colour must be blue";
}

TEST(ProfileDirectives, OtherComponentsCanAddNames) {
    EXPECT_EQ("machines/x.lspci:1: unknown directive 'desk-colour'",
              parseError("#! desk-colour blue\n"));
    sim::addDirectiveName("desk-colour", 1, 1, checkColour);
    EXPECT_TRUE(parsed("#! desk-colour blue\n").has("desk-colour"));
    EXPECT_EQ("machines/x.lspci:1: colour must be blue", parseError("#! desk-colour red\n"));
}

TEST(ProfileDirectives, Numbers) {
    uint32_t value = 0;
    EXPECT_TRUE(sim::parseDirectiveNumber("0xFFFFFFFF", &value));
    EXPECT_EQ(0xFFFFFFFFu, value);
    EXPECT_TRUE(sim::parseDirectiveNumber("4294967295", &value));
    EXPECT_EQ(0xFFFFFFFFu, value);
    EXPECT_TRUE(sim::parseDirectiveNumber("0X1f", &value));
    EXPECT_EQ(0x1Fu, value);
    value = 7;
    for (const char* bad : {"4294967296", "0x", "", "-1", "12a", "0x1G", "0x100000000"}) {
        EXPECT_FALSE(sim::parseDirectiveNumber(bad, &value)) << bad;
        EXPECT_EQ(7u, value) << bad;
    }
}

TEST(ProfileText, FormatParsesBackToTheSameProfile) {
    sim::Profile original;
    std::string error;
    ASSERT_TRUE(sim::loadProfileFile(sim::machinesDir() + "/default.lspci", &original, &error))
        << error;
    sim::Profile again = parsed(sim::formatProfile(original));
    ASSERT_EQ(original.functions.size(), again.functions.size());
    for (size_t i = 0; i < original.functions.size(); ++i) {
        EXPECT_EQ(original.functions[i].description, again.functions[i].description);
        EXPECT_EQ(0, std::memcmp(original.functions[i].config, again.functions[i].config, 256))
            << "function " << i;
    }
    ASSERT_EQ(original.directives.size(), again.directives.size());
    for (size_t i = 0; i < original.directives.size(); ++i) {
        EXPECT_EQ(original.directives[i].name, again.directives[i].name);
        EXPECT_EQ(original.directives[i].args, again.directives[i].args);
    }
}

TEST(ProfileText, MissingFileIsAClearError) {
    sim::Profile profile;
    std::string error;
    EXPECT_FALSE(sim::loadProfileFile("/nonexistent/pc.lspci", &profile, &error));
    EXPECT_EQ("/nonexistent/pc.lspci: cannot be read", error);
    sim::TestPc pc = sim::bootMachineForTest("no-such-machine");
    EXPECT_FALSE(pc.ok());
    EXPECT_NE(std::string::npos, pc.error().find("no-such-machine.lspci: cannot be read"))
        << pc.error();
}

} // namespace
