// Dumps a person hands the simulated PC that once corrupted its memory or did not survive being
// saved: each is kept in fuzz/regressions/profile/.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "regression_input.h"
#include "sim/boot.h"
#include "sim/machine.h"

namespace {

sim::Profile load(const std::string& name) {
    sim::Profile profile;
    std::string error;
    EXPECT_TRUE(sim::loadProfileFile(regression::path("profile", name), &profile, &error)) << error;
    return profile;
}

sim::Profile reparsed(const std::string& text) {
    sim::Profile profile;
    std::string error;
    EXPECT_TRUE(sim::parseProfile(text, "hardware.lspci", &profile, &error)) << error << "\n"
                                                                             << text;
    return profile;
}

void expectSameFunctions(const sim::Profile& expected, const sim::Profile& actual) {
    ASSERT_EQ(expected.functions.size(), actual.functions.size());
    for (size_t i = 0; i < expected.functions.size(); ++i) {
        const sim::PciFunctionImage& a = expected.functions[i];
        const sim::PciFunctionImage& b = actual.functions[i];
        SCOPED_TRACE("function " + std::to_string(i));
        EXPECT_EQ(a.bus, b.bus);
        EXPECT_EQ(a.device, b.device);
        EXPECT_EQ(a.function, b.function);
        EXPECT_EQ(a.description, b.description);
        EXPECT_EQ(0, std::memcmp(a.config, b.config, sizeof a.config));
    }
}

// The AGP ID sits at 0xFC: its status and command registers would lie past the 256 bytes. The
// machine found it there and stored the status at 0x100, past a 256-byte buffer when reading the
// configuration space, and over the next function's address in lspci output.
TEST(HostileProfile, AnAgpCapabilityInTheLastDwordIsNone) {
    sim::Profile profile = load("capability-pointer-at-0xfc.lspci");
    ASSERT_EQ(2u, profile.functions.size());
    ASSERT_EQ(0xFC, profile.functions[0].config[0x34]);
    sim::TestPc pc = sim::bootProfileForTest(profile);
    ASSERT_TRUE(pc.ok()) << pc.error();
    sim::Machine& m = sim::machine();
    EXPECT_EQ(0, m.agpCapability(0, 0, 0));

    uint8_t config[256];
    ASSERT_TRUE(m.readConfig(0, 0, 0, 0, config, sizeof config));
    EXPECT_EQ(0, std::memcmp(profile.functions[0].config, config, sizeof config));
    // No register of the function takes a write, the last dword included.
    ASSERT_TRUE(m.writeConfigDword(0, 0, 0, 0xFC, 0xFFFFFFFF));
    EXPECT_EQ(0x00200002u, m.configDword(0, 0, 0, 0xFC));

    expectSameFunctions(profile, reparsed(m.lspciText()));
}

// A CRLF dump converted to CRLF once more ends its lines in two CRs. The one the parser left in
// the description was dropped when the state file was written and read again.
TEST(HostileProfile, AHeaderEndingInTwoCarriageReturnsSurvivesTheStateFile) {
    sim::Profile profile = load("header-ending-in-two-crs.lspci");
    ASSERT_EQ(1u, profile.functions.size());
    EXPECT_EQ("Host bridge: Intel Corporation 82845 845 [Brookdale] Chipset Host Bridge",
              profile.functions[0].description);
    sim::TestPc pc = sim::bootProfileForTest(profile);
    ASSERT_TRUE(pc.ok()) << pc.error();
    std::string saved = sim::machine().hardwareText();
    sim::Profile back = reparsed(saved);
    expectSameFunctions(profile, back);
    EXPECT_EQ(saved, sim::formatProfile(back)) << "saving again changes nothing";
}

} // namespace
