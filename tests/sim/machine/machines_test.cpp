// The shipped machine profiles: each boots, has its AGP capabilities where its hardware has them,
// and pciutils decodes both the profile and the machine's own lspci output the same way.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "sim/boot.h"
#include "sim/machine.h"

namespace {

struct Expected {
    const char* machine;
    bool nt;
    // "BB:DD.F@cap" for every function with an AGP capability, in order.
    std::vector<std::string> agp;
};

const Expected kMachines[] = {
    {"default", true, {"00:00.0@a0", "01:00.0@44"}},
    {"ninex", false, {"00:00.0@a0", "01:00.0@44"}},
    {"ati", true, {"00:00.0@80", "01:00.0@58"}},
    {"pci-display", true, {"00:00.0@a0", "01:00.0@f0"}},
    {"no-agp", true, {}},
    {"win7", true, {"00:00.0@a0", "01:00.0@44"}},
    {"nforce2-fx5600", true, {"00:00.0@40", "03:00.0@44"}},
    {"i875p-radeon9200", true, {"00:00.0@a0", "01:00.0@58"}},
    {"kt600-radeon7000", true, {"00:00.0@80", "01:00.0@58"}},
    {"dual-opteron-8151", true, {"08:00.0@a0", "09:00.0@44"}},
    {"k8t800-dual-opteron", true, {"00:00.0@80", "01:00.0@44"}},
};

std::vector<std::string> agpFunctions() {
    std::vector<std::string> found;
    for (const sim::PciFunctionImage& f : sim::machine().functions()) {
        int cap = sim::machine().agpCapability(f.bus, f.device, f.function);
        if (!cap)
            continue;
        char text[32];
        std::snprintf(text, sizeof text, "%02x:%02x.%x@%02x", f.bus, f.device, f.function, cap);
        found.push_back(text);
    }
    return found;
}

bool haveLspci() {
    return std::system("lspci --version >/dev/null 2>&1") == 0;
}

// Functions that `lspci -F file -vv` shows with an AGP capability, as "BB:DD.F@cap".
std::vector<std::string> lspciAgp(const std::string& file) {
    std::vector<std::string> found;
    std::string command = "lspci -F '" + file + "' -vv 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return found;
    char line[512];
    std::string function;
    while (std::fgets(line, sizeof line, pipe)) {
        std::string text = line;
        if (!text.empty() && text[0] != '\t' && text.size() > 7)
            function = text.substr(0, 7);
        size_t at = text.find("Capabilities: [");
        if (at != std::string::npos && text.find("AGP version") != std::string::npos)
            found.push_back(function + "@" + text.substr(at + 15, 2));
    }
    pclose(pipe);
    return found;
}

TEST(Machines, EachProfileBootsWithItsAgpCapabilities) {
    for (const Expected& e : kMachines) {
        SCOPED_TRACE(e.machine);
        sim::TestPc pc = sim::bootMachineForTest(e.machine);
        ASSERT_TRUE(pc.ok()) << pc.error();
        EXPECT_EQ(e.nt, sim::machine().isNt());
        EXPECT_EQ(e.agp, agpFunctions());
        // Every profile has a host bridge and a VGA-compatible display.
        bool host = false, vga = false;
        for (const sim::PciFunctionImage& f : sim::machine().functions()) {
            uint32_t classCode = (f.config[0x0B] << 16) | (f.config[0x0A] << 8) | f.config[0x09];
            host = host || classCode == 0x060000;
            vga = vga || classCode == 0x030000;
        }
        EXPECT_TRUE(host);
        EXPECT_TRUE(vga);
    }
}

TEST(Machines, NvidiaProfilesStartWithTheirModesStrappedOff) {
    for (const char* name : {"default", "ninex", "win7"}) {
        SCOPED_TRACE(name);
        sim::TestPc pc = sim::bootMachineForTest(name);
        ASSERT_TRUE(pc.ok()) << pc.error();
        EXPECT_EQ(0x10DEu, sim::machine().configDword(1, 0, 0, 0) & 0xFFFF);
        EXPECT_EQ(0x1F000003u, sim::machine().configDword(1, 0, 0, 0x48));
        EXPECT_EQ(0x1F000102u, sim::machine().configDword(1, 0, 0, 0x4C)) << "2X, AGP enabled";
    }
}

TEST(Machines, PciutilsDecodesProfilesAndTheMachinesOwnDump) {
    if (!haveLspci())
        GTEST_SKIP() << "lspci is not installed";
    for (const Expected& e : kMachines) {
        SCOPED_TRACE(e.machine);
        std::string file = sim::machinesDir() + "/" + e.machine + ".lspci";
        EXPECT_EQ(e.agp, lspciAgp(file));

        sim::TestPc pc = sim::bootMachineForTest(e.machine);
        ASSERT_TRUE(pc.ok()) << pc.error();
        std::string dump = pc.root() + "/lspci.txt";
        std::ofstream(dump) << sim::machine().lspciText();
        EXPECT_EQ(e.agp, lspciAgp(dump));
    }
}

// Output of `lspci -F file OPTIONS`, or "" when it cannot run.
std::string lspciOutput(const std::string& file, const std::string& options) {
    std::string command = "lspci -F '" + file + "' " + options + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return "";
    std::string text;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        text.append(buffer, got);
    pclose(pipe);
    return text;
}

TEST(Machines, WhatLspciPrintsIsAProfile) {
    if (!haveLspci())
        GTEST_SKIP() << "lspci is not installed";
    const std::string file = sim::machinesDir() + "/default.lspci";
    sim::Profile original;
    std::string error;
    ASSERT_TRUE(sim::loadProfileFile(file, &original, &error)) << error;
    struct Form {
        const char* options;
        size_t bytes; // configuration bytes the form carries
    };
    for (const Form& form : {Form{"-xxx", 256}, Form{"-vvxxx", 256}, Form{"-D -vvxxx", 256},
                             Form{"-xxxx", 256}, Form{"-x", 64}, Form{"-D -x", 64}}) {
        SCOPED_TRACE(form.options);
        std::string text = lspciOutput(file, form.options);
        ASSERT_FALSE(text.empty());
        sim::Profile again;
        ASSERT_TRUE(sim::parseProfile(text, "lspci output", &again, &error)) << error;
        ASSERT_EQ(original.functions.size(), again.functions.size());
        for (size_t i = 0; i < original.functions.size(); ++i) {
            const sim::PciFunctionImage& a = original.functions[i];
            const sim::PciFunctionImage& b = again.functions[i];
            EXPECT_EQ(std::make_tuple(a.bus, a.device, a.function),
                      std::make_tuple(b.bus, b.device, b.function));
            for (size_t at = 0; at < 256; ++at)
                ASSERT_EQ(at < form.bytes ? a.config[at] : 0, b.config[at])
                    << "function " << i << " byte " << at;
        }
    }
}

} // namespace
