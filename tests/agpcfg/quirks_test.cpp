// Chipset errata: which bridge and card a row applies to, what the pair then offers, and the
// wait between the bridge's command write and the card's.
#include <gtest/gtest.h>

#include "agp_pc.h"

using namespace agptest;

namespace {

struct QuirkCase {
    const char* name;
    uint32_t bridgeId;
    uint8_t revision;
    bool nvidia; // the card: NVIDIA (straps holding nothing back) or ATI
    int supportedRates;
    int sideband;
    int fastWrite;
};

void PrintTo(const QuirkCase& value, std::ostream* out) {
    *out << value.name;
}

class Quirks : public testing::TestWithParam<QuirkCase> {};

// Both ends offer 1X to 4X, sideband and fast writes, and run 1X with both off.
TEST_P(Quirks, LimitWhatThePairOffers) {
    const QuirkCase& test = GetParam();
    PcSpec layout =
        test.nvidia ? nvidiaPc(true, 0) : agpPc(true, kStatus4xSbaFw, 0x101, kStatus4xSbaFw, 0x101);
    for (sim::PciFunctionImage& f : layout.functions) {
        if (f.bus == 0 && f.device == 0) {
            putDword(&f, 0, test.bridgeId);
            f.config[8] = test.revision;
        } else if (f.bus == 1) {
            putDword(&f, kGraphicsCap + 8, 0x101);
        }
    }
    sim::TestPc pc = boot(layout);
    ASSERT_TRUE(pc.ok());
    CAgpConfig config;
    ASSERT_EQ(AGP_OK, config.getInitError());
    EXPECT_EQ(test.supportedRates, config.getSupportedRates());
    EXPECT_EQ(test.sideband, config.getSideband());
    EXPECT_EQ(test.fastWrite, config.getFastWrite());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Quirks,
    testing::Values(QuirkCase{"NoErratum", 0x1A308086, 0x04, false, 7, 0, 0},
                    QuirkCase{"Amd761B0", 0x700E1022, 0x10, false, 1, 2, 2},
                    QuirkCase{"Amd761B1", 0x700E1022, 0x11, false, 1, 2, 2},
                    QuirkCase{"Amd761C0", 0x700E1022, 0x12, false, 7, 0, 0},
                    QuirkCase{"Amd751WithNvidia", 0x70061022, 0x25, true, 1, 0, 0},
                    QuirkCase{"Amd751WithAti", 0x70061022, 0x25, false, 7, 0, 0},
                    QuirkCase{"Sis648", 0x06481039, 0x00, false, 7, 0, 0}),
    [](const testing::TestParamInfo<QuirkCase>& info) { return std::string(info.param.name); });

// The SiS 648 and 746 cannot take the card's command for a while after their own: the program
// waits between the two writes that bring the link up, and only there.
TEST(Quirks, SisBridgesGetTimeBeforeTheCardIsWritten) {
    PcSpec layout = agpPc(true, kStatus4xSbaFw, kCommand2x, kStatus4xSbaFw, kCommand2x);
    putDword(&layout.functions[0], 0, 0x07461039);
    sim::TestPc pc = boot(layout);
    CAgpConfig config;
    ASSERT_EQ(AGP_OK, config.getInitError());
    sim::machine().clearTrace();
    ASSERT_EQ(1, config.setDataRate(4));
    std::vector<std::string> steps;
    for (const sim::TraceEntry& entry : sim::machine().trace()) {
        if (entry.kind == sim::TraceKind::Sleep)
            steps.push_back("sleep " + std::to_string(entry.value));
        else if (entry.kind == sim::TraceKind::DeviceRequest &&
                 entry.code == IOCTL_PCI_WRITE_CONFIG_DWORD)
            steps.push_back(entry.input[0] == 0 ? "bridge" : "card");
    }
    EXPECT_EQ((std::vector<std::string>{"card", "bridge", "bridge", "sleep 10", "card"}), steps);
}

} // namespace
