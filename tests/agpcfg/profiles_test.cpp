// Discovery and a full change of modes on the shipped machine profiles.
#include <gtest/gtest.h>

#include "agp_pc.h"

using namespace agptest;

namespace {

struct MachineCase {
    const char* machine;
    AgpError error;
    int supportedRates;
    int rate;
    int sideband;
    int fastWrite;
    PciAddress graphics;
    int agp3;
};

void PrintTo(const MachineCase& value, std::ostream* out) {
    *out << value.machine;
}

class ShippedMachines : public testing::TestWithParam<MachineCase> {};

TEST_P(ShippedMachines, DiscoverTheAgpPair) {
    const MachineCase& test = GetParam();
    sim::TestPc pc = sim::bootMachineForTest(test.machine);
    ASSERT_TRUE(pc.ok()) << pc.error();
    isNt = 0;
    CAgpConfig config;
    ASSERT_EQ(test.error, config.getInitError()) << sim::machine().traceText();
    if (test.error == AGP_OK) {
        EXPECT_EQ(test.supportedRates, config.getSupportedRates());
    }
    EXPECT_EQ(test.agp3, config.isAgp3());
    sim::machine().clearTrace();
    EXPECT_EQ(test.rate, config.getDataRate());
    EXPECT_EQ(test.sideband, config.getSideband());
    EXPECT_EQ(test.fastWrite, config.getFastWrite());
    std::vector<RegisterAccess> reads = registerAccesses();
    if (test.error != AGP_OK) {
        EXPECT_TRUE(reads.empty()) << "a failed discovery's getters read " << reads.front();
        return;
    }
    ASSERT_FALSE(reads.empty());
    EXPECT_EQ(test.graphics, reads.front().address) << reads.front();
}

// NVIDIA cards start with 4X, sideband and fast writes held back by their straps; after the
// fix-up both ends offer everything. On the AGP 3.0 links the rate values are 4X (1) and 8X (2).
INSTANTIATE_TEST_SUITE_P(
    Profiles, ShippedMachines,
    testing::Values(MachineCase{"default", AGP_OK, 7, 2, 0, 0, 0x0100, 0},
                    MachineCase{"ninex", AGP_OK, 7, 2, 0, 0, 0x0100, 0},
                    MachineCase{"ati", AGP_OK, 7, 2, 0, 0, 0x0100, 0},
                    MachineCase{"pci-display", AGP_OK, 3, 2, 0, 2, 0x0100, 0},
                    MachineCase{"no-agp", AGP_ERR_NO_AGP, 0, 0, 2, 2, 0, 0},
                    MachineCase{"nforce2-fx5600", AGP_OK, 3, 2, 1, 1, 0x0300, 1},
                    MachineCase{"i875p-radeon9200", AGP_OK, 3, 2, 1, 0, 0x0100, 1},
                    MachineCase{"kt600-radeon7000", AGP_OK, 7, 4, 1, 2, 0x0100, 0},
                    // Two-socket AMD64: the AGP bridge behind the K8 host bridges, and before.
                    MachineCase{"dual-opteron-8151", AGP_OK, 3, 2, 1, 1, 0x0900, 1},
                    MachineCase{"k8t800-dual-opteron", AGP_OK, 3, 2, 1, 0, 0x0100, 1}),
    [](const testing::TestParamInfo<MachineCase>& info) {
        std::string name = info.param.machine;
        for (char& c : name)
            if (c == '-')
                c = '_';
        return name;
    });

// What a user does on the default machine: 4X, sideband and fast writes, each read back, and
// the straps fix-up left in the chip.
TEST(DefaultMachine, TakesEveryModeTheCardOffers) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    ASSERT_TRUE(pc.ok()) << pc.error();
    isNt = 0;
    CAgpConfig config;
    ASSERT_EQ(AGP_OK, config.getInitError());
    EXPECT_EQ(0x800000A3u, sim::machine().physWord(0xE0101000));
    EXPECT_EQ(1, config.setDataRate(4));
    EXPECT_EQ(1, config.setSideband(1));
    EXPECT_EQ(1, config.setFastWrite(1));
    EXPECT_EQ(4, config.getDataRate());
    EXPECT_EQ(1, config.getSideband());
    EXPECT_EQ(1, config.getFastWrite());
    uint32_t bridge = sim::machine().configDword(0, 0, 0, 0xA0 + AGP_COMMAND_OFFSET);
    EXPECT_EQ(0x314u, bridge & 0x3FF) << std::hex << "bridge command 0x" << bridge;
}

} // namespace
