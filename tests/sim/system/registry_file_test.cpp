// The registry's REGEDIT4 text: what it looks like, exact round trips, and refused hand edits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/boot.h"
#include "sim/machine.h"
#include "sim/registry.h"
#include "sim_win32.h"

namespace {

std::vector<uint8_t> bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> dword(DWORD value) {
    return {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
}

const char kSettingsPath[] = "Software\\Vantorel Tech\\Tavrolin";
const char kRunPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

class RegistryFile : public ::testing::Test {
  protected:
    void SetUp() override {
        pc = sim::bootForTest("");
        ASSERT_TRUE(pc.ok()) << pc.error();
    }
    void put(HKEY root, const std::string& path, const sim::RegValue& value) {
        SCOPED_TRACE(path + " " + value.name);
        ASSERT_TRUE(sim::registry().createKey(root, path));
        ASSERT_TRUE(sim::registry().setValue(root, path, value));
    }
    sim::TestPc pc;
};

TEST_F(RegistryFile, ReadsAsAPersonWouldWriteIt) {
    put(HKEY_LOCAL_MACHINE, kSettingsPath, {"Settings", REG_DWORD, dword(0x89)});
    std::string command = "\"C:\\Program Files\\Vantorel Tech\\Tavrolin\\Tavrol.exe\" -startup";
    std::vector<uint8_t> data = bytes(command);
    data.push_back(0);
    put(HKEY_LOCAL_MACHINE, kRunPath, {"Vantorel Tavrolin", REG_SZ, data});
    put(HKEY_CURRENT_USER, "Software\\Test", {"", REG_BINARY, {0x01, 0xab}});

    EXPECT_EQ("REGEDIT4\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\Software]\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Microsoft]\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows]\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion]\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\n"
              "\"Vantorel Tavrolin\"=\"\\\"C:\\\\Program Files\\\\Vantorel Tech\\\\Tavrolin\\\\"
              "Tavrol.exe\\\" -startup\"\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Vantorel Tech]\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Vantorel Tech\\Tavrolin]\n"
              "\"Settings\"=dword:00000089\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software]\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software\\Test]\n"
              "@=hex:01,ab\n",
              sim::registry().toText());
}

TEST_F(RegistryFile, AStringWithPaddingIsWrittenInHexWithTheTextInAComment) {
    std::vector<uint8_t> data = bytes("\"C:\\T.exe\" -startup");
    data.resize(40, 0);
    put(HKEY_LOCAL_MACHINE, kRunPath, {"Vantorel Tavrolin", REG_SZ, data});
    std::string text = sim::registry().toText();
    EXPECT_NE(std::string::npos,
              text.find("; the text \"\\\"C:\\\\T.exe\\\" -startup\" and its terminator, then 20 "
                        "zero bytes\n\"Vantorel Tavrolin\"=hex(1):22,43,3a,5c,54,2e,65,78,65,22,"))
        << text;
    // Long hex data is wrapped like regedit does it, and every line stays short.
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
        start = end + 1;
    }
}

TEST_F(RegistryFile, EveryKindOfValueSurvivesTheRoundTripByteForByte) {
    std::vector<uint8_t> padded = bytes("\"C:\\Program Files\\Tavrol.exe\" -startup");
    padded.resize(260, 0);
    std::vector<uint8_t> binary;
    for (int i = 0; i < 300; ++i)
        binary.push_back(uint8_t(i * 7));
    std::vector<sim::RegValue> values = {
        {"Settings", REG_DWORD, dword(0x89)},
        {"Padded", REG_SZ, padded},
        {"Quotes \"and\" \\slashes\\", REG_SZ, bytes(std::string("a \"b\" \\c\\\0", 10))},
        {"Embedded", REG_SZ, bytes(std::string("one\0two\0", 8))},
        {"Unterminated", REG_SZ, bytes("abc")},
        {"Garbage after", REG_SZ, bytes(std::string("ab\0\x7f\x01", 5))},
        {"Empty", REG_SZ, {}},
        {"Control", REG_SZ, bytes(std::string("tab\there\nnewline\0", 17))},
        {"Latin", REG_SZ, bytes(std::string("caf\xe9\0", 5))},
        {"Short dword", REG_DWORD, {1, 2}},
        {"Expand", REG_EXPAND_SZ, bytes(std::string("%SystemRoot%\0", 13))},
        {"Binary", REG_BINARY, binary},
        {"", REG_DWORD, dword(0xffffffff)},
        {"Odd type", 0x12345, {9}},
    };
    for (const sim::RegValue& value : values)
        put(HKEY_CURRENT_USER, "Software\\Round\\Trip", value);
    ASSERT_TRUE(sim::registry().createKey(HKEY_CURRENT_USER, "Software\\Empty key"));
    std::string text = sim::registry().toText();

    sim::TestPc other = sim::bootForTest("");
    ASSERT_TRUE(other.ok());
    std::string error;
    ASSERT_TRUE(sim::registry().parseText(text, "registry.reg", &error)) << error << "\n" << text;
    std::vector<sim::RegValue> back =
        sim::registry().values(HKEY_CURRENT_USER, "Software\\Round\\Trip");
    ASSERT_EQ(values.size(), back.size()) << text;
    for (size_t i = 0; i < values.size(); ++i) {
        SCOPED_TRACE("value \"" + values[i].name + "\"");
        EXPECT_EQ(values[i].name, back[i].name);
        EXPECT_EQ(values[i].type, back[i].type);
        EXPECT_EQ(values[i].data, back[i].data);
    }
    EXPECT_TRUE(sim::registry().keyExists(HKEY_CURRENT_USER, "Software\\Empty key"));
    EXPECT_EQ(text, sim::registry().toText()) << "writing again gives the same text";
}

TEST_F(RegistryFile, HandEditedFilesInRegeditsOwnFormsAreAccepted) {
    std::string text = "REGEDIT4\r\n"
                       "\r\n"
                       "; settings written by hand\r\n"
                       "[HKEY_LOCAL_MACHINE\\Software\\Vantorel Tech\\Tavrolin]\r\n"
                       "\"Settings\"=dword:55\r\n"
                       "  \"Blob\" = hex:01,02,\\\r\n"
                       "    FF,0a\r\n"
                       "\r\n"
                       "[hkey_local_machine\\software\\vantorel tech\\TAVROLIN]\r\n"
                       "\"Wide\"=hex(2):25,00\r\n";
    std::string error;
    ASSERT_TRUE(sim::registry().parseText(text, "registry.reg", &error)) << error;
    sim::RegValue value;
    ASSERT_TRUE(sim::registry().getValue(HKEY_LOCAL_MACHINE, kSettingsPath, "Settings", &value));
    EXPECT_EQ(dword(0x55), value.data);
    ASSERT_TRUE(sim::registry().getValue(HKEY_LOCAL_MACHINE, kSettingsPath, "Blob", &value));
    EXPECT_EQ((std::vector<uint8_t>{0x01, 0x02, 0xff, 0x0a}), value.data);
    ASSERT_TRUE(sim::registry().getValue(HKEY_LOCAL_MACHINE, kSettingsPath, "Wide", &value));
    EXPECT_EQ(DWORD(REG_EXPAND_SZ), value.type);
    EXPECT_EQ(std::vector<std::string>{"Tavrolin"},
              sim::registry().subkeyNames(HKEY_LOCAL_MACHINE, "Software\\Vantorel Tech"))
        << "the two sections name one key";
    // Keys the file does not list are gone: the file is the whole registry.
    EXPECT_FALSE(sim::registry().keyExists(HKEY_LOCAL_MACHINE, kRunPath));
}

struct BadFile {
    const char* what;
    const char* text;
    int line;
    const char* reason;
};

void PrintTo(const BadFile& bad, std::ostream* out) {
    *out << bad.what;
}

class RegistryFileRefused : public RegistryFile, public ::testing::WithParamInterface<BadFile> {};

TEST_P(RegistryFileRefused, WithItsLineNumberAndNothingLoaded) {
    const BadFile& bad = GetParam();
    put(HKEY_LOCAL_MACHINE, kSettingsPath, {"Settings", REG_DWORD, dword(0x89)});
    std::string before = sim::registry().toText();
    std::string error;
    EXPECT_FALSE(sim::registry().parseText(bad.text, "registry.reg", &error));
    std::string prefix = "registry.reg:" + std::to_string(bad.line) + ": ";
    EXPECT_EQ(0u, error.find(prefix)) << error;
    EXPECT_NE(std::string::npos, error.find(bad.reason)) << error;
    EXPECT_EQ(before, sim::registry().toText());
}

#define KEY "[HKEY_LOCAL_MACHINE\\Software\\T]\n"

INSTANTIATE_TEST_SUITE_P(
    Lines, RegistryFileRefused,
    ::testing::Values(
        BadFile{"NoHeader", "REGEDIT5\n\n" KEY, 1, "REGEDIT4"}, BadFile{"Empty", "", 1, "empty"},
        BadFile{"UnclosedKey", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\n", 3, "']'"},
        BadFile{"UnknownRoot", "REGEDIT4\n[HKEY_USERS\\x]\n", 2, "HKEY_USERS"},
        BadFile{"EmptyKeyName", "REGEDIT4\n[HKEY_CURRENT_USER\\a\\\\b]\n", 2, "empty key name"},
        BadFile{"TrailingBackslash", "REGEDIT4\n[HKEY_CURRENT_USER\\a\\]\n", 2, "empty key name"},
        BadFile{"DeletedKey", "REGEDIT4\n[-HKEY_CURRENT_USER\\a]\n", 2, "deleting a key"},
        BadFile{"ValueFirst", "REGEDIT4\n\n\"a\"=dword:1\n", 3, "before the first [key]"},
        BadFile{"ValueAtRoot", "REGEDIT4\n[HKEY_CURRENT_USER]\n\"a\"=dword:1\n", 3, "root key"},
        BadFile{"OpenString", "REGEDIT4\n" KEY "\"a\"=\"abc\n", 3, "closing quote"},
        BadFile{"OpenName", "REGEDIT4\n" KEY "\n\"a=dword:1\n", 4, "closing quote"},
        BadFile{"BadEscape", "REGEDIT4\n" KEY "\"a\"=\"x\\n\"\n", 3, "backslash"},
        BadFile{"NoEquals", "REGEDIT4\n" KEY "\"a\" dword:1\n", 3, "'='"},
        BadFile{"NoData", "REGEDIT4\n" KEY "\"a\"=\n", 3, "without data"},
        BadFile{"AfterQuote", "REGEDIT4\n" KEY "\"a\"=\"x\" y\n", 3, "after the closing quote"},
        BadFile{"DwordDigits", "REGEDIT4\n" KEY "\"a\"=dword:0000000g\n", 3, "hex dword"},
        BadFile{"DwordLong", "REGEDIT4\n" KEY "\"a\"=dword:123456789\n", 3, "1 to 8"},
        BadFile{"HexByte", "REGEDIT4\n" KEY "\"a\"=hex:01,zz\n", 3, "'zz'"},
        BadFile{"HexLong", "REGEDIT4\n" KEY "\"a\"=hex:123\n", 3, "'123'"},
        BadFile{"HexType", "REGEDIT4\n" KEY "\"a\"=hex(q):01\n", 3, "hex type"},
        BadFile{"HexComma", "REGEDIT4\n" KEY "\"a\"=hex:01,\n", 3, "ends with a comma"},
        BadFile{"HexOnNextLine", "REGEDIT4\n" KEY "\"a\"=hex:01,\\\n  02,\\\n  0x\n", 5, "'0x'"},
        BadFile{"HexPastEnd", "REGEDIT4\n" KEY "\"a\"=hex:01,\\\n", 3, "past the end"},
        BadFile{"UnknownData", "REGEDIT4\n" KEY "\"a\"=qword:1\n", 3, "unknown data"},
        BadFile{"DeletedValue", "REGEDIT4\n" KEY "\"a\"=-\n", 3, "deleting a value"},
        BadFile{"Twice", "REGEDIT4\n" KEY "\"a\"=dword:1\n" KEY "\"A\"=dword:2\n", 5,
                "given twice"},
        BadFile{"Garbage", "REGEDIT4\n" KEY "Settings=1\n", 3, "expected a [key]"}),
    [](const ::testing::TestParamInfo<BadFile>& info) { return std::string(info.param.what); });

TEST(RegFileCodec, ParseLeavesTheOutputAloneOnFailure) {
    std::vector<sim::RegFileKey> keys = {{"HKEY_CURRENT_USER\\Kept", {}}};
    std::string error;
    EXPECT_FALSE(
        sim::parseRegFile("REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=bad\n", "f.reg", &keys, &error));
    ASSERT_EQ(1u, keys.size());
    EXPECT_EQ("HKEY_CURRENT_USER\\Kept", keys[0].path);
}

} // namespace
