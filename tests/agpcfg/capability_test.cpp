// The capability walk over configuration images: found, absent, looping and truncated chains.
#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "agpcfg/agpcfg.h"

namespace {

struct CapabilityEntry {
    int offset;
    int id;
    int next;
};

struct ChainCase {
    const char* name;
    int capabilitiesPointer;
    std::vector<CapabilityEntry> entries;
    int expected;
    // Status register bit 4 (the function has a capability list) and the header type.
    bool listAnnounced = true;
    int headerType = 0;
};

// Exactly 256 bytes on the heap: a read past the image is an ASan report, not a silent pass.
std::vector<BYTE> imageOf(const ChainCase& chain) {
    std::vector<BYTE> image(256, 0);
    image[0x34] = (BYTE)chain.capabilitiesPointer;
    image[0x06] = chain.listAnnounced ? 0x10 : 0x00;
    image[0x0E] = (BYTE)chain.headerType;
    for (const CapabilityEntry& entry : chain.entries) {
        image[entry.offset] = (BYTE)entry.id;
        if (entry.offset < 255)
            image[entry.offset + 1] = (BYTE)entry.next;
    }
    return image;
}

void PrintTo(const ChainCase& value, std::ostream* out) {
    *out << value.name;
}

class CapabilityWalk : public testing::TestWithParam<ChainCase> {};

TEST_P(CapabilityWalk, FindsTheAgpEntryOrNone) {
    const ChainCase& chain = GetParam();
    std::vector<BYTE> image = imageOf(chain);
    int found = findAgpCapability(image.data());
    EXPECT_EQ(chain.expected, found) << "got offset 0x" << std::hex << found;
}

// Power management (1), MSI (5), vendor-specific (9) and AGP (2) entries as real chips chain them.
INSTANTIATE_TEST_SUITE_P(
    Chains, CapabilityWalk,
    testing::Values(
        ChainCase{"FirstEntryIsAgp", 0x58, {{0x58, 2, 0x40}, {0x40, 1, 0}}, 0x58},
        ChainCase{"AgpAfterPowerManagement", 0x60, {{0x60, 1, 0x44}, {0x44, 2, 0}}, 0x44},
        ChainCase{"AgpThirdInChain", 0x40, {{0x40, 1, 0x50}, {0x50, 5, 0xA0}, {0xA0, 2, 0}}, 0xA0},
        ChainCase{"NoCapabilityList", 0x00, {{0x40, 2, 0}}, 0},
        ChainCase{"ChainEndsWithoutAgp", 0x40, {{0x40, 1, 0x50}, {0x50, 5, 0}}, 0},
        ChainCase{"AgpEntryNotLinkedIn", 0x40, {{0x40, 1, 0}, {0x60, 2, 0}}, 0},
        ChainCase{"EntryPointsToItself", 0x40, {{0x40, 1, 0x40}}, 0},
        ChainCase{"LoopBackToTheFirstEntry",
                  0x40,
                  {{0x40, 1, 0x50}, {0x50, 5, 0x60}, {0x60, 9, 0x40}},
                  0},
        ChainCase{"LoopFoundAgpBeforeRepeating", 0x40, {{0x40, 1, 0x50}, {0x50, 2, 0x40}}, 0x50},
        ChainCase{"LastByteEntryWithoutAgp", 0xFF, {{0xFF, 1, 0}}, 0},
        ChainCase{"ChainRunsIntoTheLastByte", 0x40, {{0x40, 1, 0xFF}, {0xFF, 9, 0}}, 0},
        // The low two bits of every pointer are reserved: a chip may set them.
        ChainCase{"PointerLowBitsAreMasked", 0x43, {{0x40, 1, 0x62}, {0x60, 2, 0}}, 0x60},
        ChainCase{"PointerIntoTheHeaderEndsTheList", 0x40, {{0x40, 1, 0x20}, {0x20, 2, 0}}, 0},
        ChainCase{"FirstPointerIntoTheHeader", 0x30, {{0x30, 2, 0}}, 0},
        // An AGP entry whose command register would lie past the space is no AGP capability.
        ChainCase{"AgpRegistersPastTheSpace", 0xFC, {{0xFC, 2, 0}}, 0},
        ChainCase{"AgpRegistersJustInside", 0xF4, {{0xF4, 2, 0}}, 0xF4},
        ChainCase{"StatusAnnouncesNoList", 0x58, {{0x58, 2, 0}}, 0, false},
        ChainCase{"BridgeHeader", 0x58, {{0x58, 2, 0}}, 0x58, true, 0x01},
        ChainCase{"MultiFunctionBridgeHeader", 0x58, {{0x58, 2, 0}}, 0x58, true, 0x81},
        // In a CardBus bridge's header register 0x34 is not a capabilities pointer.
        ChainCase{"CardBusHeader", 0x58, {{0x58, 2, 0}}, 0, true, 0x02}),
    [](const testing::TestParamInfo<ChainCase>& info) { return std::string(info.param.name); });

// A chain may legitimately visit every dword of the device-specific area: a walk bounded by a
// small step count would give up before it reaches the AGP entry, the 48th and last.
TEST(CapabilityWalkLength, FollowsALongChainToTheEnd) {
    ChainCase chain{"Long", 0x40, {}, 0xF4};
    std::vector<int> order;
    for (int offset = 0x40; offset <= 0xFC; offset += 4)
        if (offset != 0xF4)
            order.push_back(offset);
    order.push_back(0xF4);
    for (size_t i = 0; i + 1 < order.size(); ++i)
        chain.entries.push_back({order[i], 9, order[i + 1]});
    chain.entries.push_back({0xF4, 2, 0});
    ASSERT_EQ(48u, chain.entries.size());
    std::vector<BYTE> image = imageOf(chain);
    EXPECT_EQ(0xF4, findAgpCapability(image.data()));
}

} // namespace
