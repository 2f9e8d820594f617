// Tests of the converter that compiles a machine profile into the Wine suite's driver.
#include <gtest/gtest.h>

#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>

namespace {

struct Conversion {
    int status = -1;
    std::string messages;
    std::string table;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Conversion convert(const std::string& profilePath, const std::string& extra = "") {
    const std::string output = "/tmp/tavrol-vm-profile-" + std::to_string(getpid()) + ".cpp";
    std::remove(output.c_str());
    const std::string command = std::string("'") + TAVROL_CMAKE + "' -DPROFILE='" + profilePath +
                                "' -DOUTPUT='" + output + "' -DEXTRA='" + extra + "' -P '" +
                                TAVROL_WINE_DIR + "/profile_to_c.cmake' 2>&1";
    Conversion result;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[512];
    size_t got;
    while (pipe && (got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.messages.append(buffer, got);
    const int status = pipe ? pclose(pipe) : -1;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.table = readFile(output);
    std::remove(output.c_str());
    return result;
}

Conversion convertText(const std::string& text) {
    const std::string path = "/tmp/tavrol-profile-" + std::to_string(getpid()) + ".lspci";
    std::ofstream(path) << text;
    Conversion result = convert(path);
    std::remove(path.c_str());
    return result;
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

const std::string kRow0 = "00: de 10 10 01 07 00 b0 02 b2 00 00 03 00 20 00 00\n";

TEST(ProfileToC, EveryShippedProfileConvertsWithAllItsFunctions) {
    const std::string dir = TAVROL_SOURCE_DIR "/machines";
    DIR* listing = opendir(dir.c_str());
    ASSERT_NE(nullptr, listing) << dir;
    int profiles = 0;
    while (dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name.size() < 7 || name.substr(name.size() - 6) != ".lspci")
            continue;
        SCOPED_TRACE(name);
        ++profiles;
        const std::string text = readFile(dir + "/" + name);
        size_t headers = 0;
        for (size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
            const std::string line = text.substr(at, text.find('\n', at) - at);
            if (line.size() > 8 && line[2] == ':' && line[5] == '.')
                ++headers;
            if (text.find('\n', at) == std::string::npos)
                break;
        }
        const Conversion c = convert(dir + "/" + name);
        ASSERT_EQ(0, c.status) << c.messages;
        EXPECT_NE(std::string::npos,
                  c.table.find("vmProfileFunctionCount = " + std::to_string(headers) + ";"))
            << "expected " << headers << " functions";
    }
    closedir(listing);
    EXPECT_GE(profiles, 1);
}

TEST(ProfileToC, DefaultProfileKeepsEachFunctionsAddressAndTheNvidiaStrapsWord) {
    const Conversion c = convert(TAVROL_SOURCE_DIR "/machines/default.lspci");
    ASSERT_EQ(0, c.status) << c.messages;
    EXPECT_NE(std::string::npos, c.table.find("{0xE0101000u, 0x00000EA3u},"));
    EXPECT_NE(std::string::npos, c.table.find("vmProfilePhysCount = 1;"));
    // Bus, device, function, stuck mask, then the space: the host bridge, the card, the last.
    EXPECT_NE(std::string::npos, c.table.find("{0, 0, 0, 0, 0u, {0x86,0x80,0x30,0x1a,"));
    EXPECT_NE(std::string::npos, c.table.find("{1, 0, 0, 0, 0u, {0xde,0x10,0x10,0x01,"));
    EXPECT_NE(std::string::npos, c.table.find("{0, 31, 3, 0, 0u, {"));
}

TEST(ProfileToC, StuckDirectivesAddUpPerFunctionAndMayComeFromOutside) {
    const std::string profile = "#! stuck 01:00.0 0x200\n"
                                "00:00.0 Host bridge\n00: 86 80\n"
                                "01:00.0 VGA compatible controller\n" +
                                kRow0;
    const Conversion c = convertText(profile + "#! stuck 01:00.0 0x10\n");
    ASSERT_EQ(0, c.status) << c.messages;
    EXPECT_NE(std::string::npos, c.table.find("{0, 0, 0, 0, 0u, {0x86,")) << c.table;
    EXPECT_NE(std::string::npos, c.table.find("{1, 0, 0, 0, 528u, {0xde,")) << c.table;

    const std::string path = "/tmp/tavrol-profile-extra-" + std::to_string(getpid()) + ".lspci";
    std::ofstream(path) << profile;
    const Conversion extra = convert(path, "#! stuck 00:00.0 0x1");
    std::remove(path.c_str());
    ASSERT_EQ(0, extra.status) << extra.messages;
    EXPECT_NE(std::string::npos, extra.table.find("{0, 0, 0, 0, 1u, {0x86,")) << extra.table;
}

TEST(ProfileToC, ShortDumpsReadZeroAndExtendedRowsAreIgnored) {
    const Conversion c = convertText("01:00.0 VGA compatible controller: NVIDIA\n" + kRow0 +
                                     "100: ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff\n");
    ASSERT_EQ(0, c.status) << c.messages;
    EXPECT_NE(std::string::npos, c.table.find("{1, 0, 0, 0, 0u, {0xde,0x10,0x10,0x01,0x07,"));
    EXPECT_EQ(0u, count(c.table, "0xff")) << "an extended row reached the 256-byte space";
    // Fifteen rows of zeros, and the six zero bytes of row 0.
    EXPECT_EQ(15u * 16 + 6, count(c.table, "0x00,")) << c.table;
    EXPECT_NE(std::string::npos, c.table.find("vmProfilePhysCount = 0;"));
}

TEST(ProfileToC, MalformedProfilesAreRefusedWithTheirLine) {
    struct Case {
        const char* text;
        const char* message;
    } cases[] = {
        {"# nothing\n", "no PCI function"},
        {"# a row first\n00: 00 00\n", ":2: data row before any function"},
        {"00:20.0 Host bridge\n00: 00 00\n", ":1: device number out of range"},
        {"#! phys 0xE0101000\n00:00.0 Host bridge\n00: 00 00\n",
         ":1: phys needs an address and a value"},
        {"#! phys 0xE0101000 0xZZ\n00:00.0 Host bridge\n00: 00 00\n",
         ":1: phys needs an address and a value"},
        {"00:00.0 Host bridge\n00: 00 00\n#! stuck 00:00 0x200\n",
         ":3: stuck needs BB:DD.F and a mask"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Conversion result = convertText(c.text);
        EXPECT_NE(0, result.status);
        EXPECT_NE(std::string::npos, result.messages.find(c.message)) << result.messages;
        EXPECT_EQ("", result.table) << "a refused profile left a table behind";
    }
}

} // namespace
