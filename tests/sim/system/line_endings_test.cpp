// Line endings of the registry file as a person's editor leaves them: regedit ends a line at CR LF,
// at LF or at a CR alone, and so does the simulated registry; no CR ever reaches a key name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "regression_input.h"
#include "sim/registry.h"
#include "sim_win32.h"

namespace {

const std::vector<std::string> kLines = {
    "REGEDIT4",
    "",
    "[HKEY_LOCAL_MACHINE\\Software\\Vantorel Tech\\Tavrolin]",
    "\"Settings\"=dword:00000089",
    "\"Blob\"=hex:01,02,\\",
    "  03,04",
    "",
    "[HKEY_CURRENT_USER\\Software\\Test]",
    "@=\"text\"",
};

std::string joined(const std::vector<std::string>& lines, const std::string& ending) {
    std::string text;
    for (const std::string& line : lines)
        text += line + ending;
    return text;
}

struct Ending {
    const char* what;
    const char* text;
};

void PrintTo(const Ending& ending, std::ostream* out) {
    *out << ending.what;
}

class RegFileLineEndings : public ::testing::TestWithParam<Ending> {};

TEST_P(RegFileLineEndings, GiveTheSameKeysAndValuesAndTheSameLineNumbers) {
    std::vector<sim::RegFileKey> expected, keys;
    std::string error;
    ASSERT_TRUE(sim::parseRegFile(joined(kLines, "\n"), "a.reg", &expected, &error)) << error;
    ASSERT_TRUE(sim::parseRegFile(joined(kLines, GetParam().text), "a.reg", &keys, &error))
        << error;
    ASSERT_EQ(expected.size(), keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(expected[i].path, keys[i].path);
        ASSERT_EQ(expected[i].values.size(), keys[i].values.size());
        for (size_t v = 0; v < keys[i].values.size(); ++v) {
            EXPECT_EQ(expected[i].values[v].name, keys[i].values[v].name);
            EXPECT_EQ(expected[i].values[v].type, keys[i].values[v].type);
            EXPECT_EQ(expected[i].values[v].data, keys[i].values[v].data);
        }
    }
    std::vector<std::string> broken = kLines;
    broken[5] = "  03,zz";
    EXPECT_FALSE(sim::parseRegFile(joined(broken, GetParam().text), "a.reg", &keys, &error));
    EXPECT_EQ(0u, error.find("a.reg:6: ")) << error;
}

INSTANTIATE_TEST_SUITE_P(Styles, RegFileLineEndings,
                         ::testing::Values(Ending{"Windows", "\r\n"}, Ending{"OldMac", "\r"},
                                           Ending{"Unix", "\n"}),
                         [](const ::testing::TestParamInfo<Ending>& info) {
                             return std::string(info.param.what);
                         });

// A CR inside a key line used to stay in the key's name, which the store refused: the values fell
// to the hive's root, which the file does not keep, and the next save dropped them.
TEST(RegFileLineEndings, ACarriageReturnInsideAKeyLineEndsItAndTheFileIsRefused) {
    std::string text = regression::contents("regedit", "cr-inside-key-line.reg");
    ASSERT_NE(std::string::npos, text.find("\\Software\rVantorel Tech\\Tavrolin]"));
    std::vector<sim::RegFileKey> keys;
    std::string error;
    EXPECT_FALSE(sim::parseRegFile(text, "registry.reg", &keys, &error));
    EXPECT_EQ("registry.reg:3: key line without its closing ']'", error);
}

TEST(RegFileLineEndings, ANulCharacterIsRefusedRatherThanCuttingANameShort) {
    const std::string nul(1, '\0');
    const std::string lines[] = {
        "[HKEY_CURRENT_USER\\Software\\A" + nul + "B]\n",
        "[HKEY_CURRENT_USER\\Software\\A]\n\"x" + nul + "y\"=dword:1\n",
    };
    for (const std::string& line : lines) {
        std::vector<sim::RegFileKey> keys;
        std::string error;
        EXPECT_FALSE(sim::parseRegFile("REGEDIT4\n" + line, "a.reg", &keys, &error));
        EXPECT_NE(std::string::npos, error.find("NUL")) << error;
    }
}

} // namespace
