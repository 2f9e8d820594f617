// The AGP link of the virtual machine: the command register bits each end takes, and the
// checker that records states the AGP standard or a chipset erratum forbids.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/boot.h"
#include "sim/machine.h"

namespace {

// A shipped profile, optionally with its host bridge (00:00.0) made another chipset.
sim::TestPc bootAs(const std::string& machine, uint32_t bridgeId = 0, uint8_t revision = 0) {
    sim::Profile profile;
    std::string error;
    EXPECT_TRUE(
        sim::loadProfileFile(sim::machinesDir() + "/" + machine + ".lspci", &profile, &error))
        << error;
    for (sim::PciFunctionImage& f : profile.functions) {
        if (bridgeId && f.bus == 0 && f.device == 0 && f.function == 0) {
            for (int i = 0; i < 4; ++i)
                f.config[i] = static_cast<uint8_t>(bridgeId >> (8 * i));
            f.config[8] = revision;
        }
    }
    sim::TestPc pc = sim::bootProfileForTest(profile);
    EXPECT_TRUE(pc.ok()) << pc.error();
    return pc;
}

struct End {
    int bus, device, function;
};

uint32_t commandOffset(End end) {
    return sim::machine().agpCapability(end.bus, end.device, end.function) + 8;
}

// Every writable bit set, after a write of zero: reserved bits of the profiles are clear.
TEST(AgpLink, EachEndTakesTheBitsTheStandardMakesWritable) {
    struct Case {
        const char* machine;
        End end;
        uint32_t writable;
    };
    const Case cases[] = {
        {"kt600-radeon7000", {0, 0, 0}, 0x00000317},  // AGP 2.0 target: no request depth
        {"kt600-radeon7000", {1, 0, 0}, 0xFF000317},  // AGP 2.0 master
        {"i875p-radeon9200", {0, 0, 0}, 0x0000FF17},  // AGP 3.0: ARQSZ and calibration too
        {"i875p-radeon9200", {1, 0, 0}, 0xFF00FF17},  // ... and the master's request depth
        {"dual-opteron-8151", {8, 0, 0}, 0x0000FF37}, // a target that offers 4G
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.machine) + " bus " + std::to_string(c.end.bus));
        sim::TestPc pc = bootAs(c.machine);
        sim::Machine& m = sim::machine();
        uint32_t offset = commandOffset(c.end);
        ASSERT_TRUE(m.writeConfigDword(c.end.bus, c.end.device, c.end.function, offset, 0));
        ASSERT_TRUE(m.writeConfigDword(c.end.bus, c.end.device, c.end.function, offset, ~0u));
        EXPECT_EQ(c.writable, m.configDword(c.end.bus, c.end.device, c.end.function, offset));
    }
}

// Both ends written, the bridge first, then the card with AGP enable: what the checker records.
TEST(AgpLink, RecordsEveryStateTheStandardOrAnErratumForbids) {
    struct Case {
        const char* name;
        const char* machine;
        uint32_t bridgeId;
        uint8_t revision;
        uint32_t bridge;
        uint32_t card;
        uint32_t sleptMs; // between the two writes
        std::vector<std::string> faults;
        uint32_t cardStatusBits = 0; // set in the card's status before the writes
    };
    const Case cases[] = {
        {"sound 4X", "ati", 0, 0, 0x314, 0x314, 0, {}},
        {"rates differ",
         "ati",
         0,
         0,
         0x102,
         0x104,
         0,
         {"ends disagree on the rate (bridge 2, card 4)"}},
        {"bridge off", "ati", 0, 0, 0x004, 0x104, 0, {"card enabled while the bridge is not"}},
        {"no rate", "ati", 0, 0, 0x100, 0x100, 0, {"enabled with rate 0"}},
        {"two rates", "ati", 0, 0, 0x103, 0x103, 0, {"several rate bits (3)"}},
        {"fast writes at 1X", "ati", 0, 0, 0x111, 0x111, 0, {"fast writes at 1X"}},
        {"AGP 3.0 rate 4", "i875p-radeon9200", 0, 0, 0x304, 0x304, 0, {"reserved AGP 3.0 rate 4"}},
        {"AGP 3.0 without sideband",
         "i875p-radeon9200",
         0,
         0,
         0x102,
         0x102,
         0,
         {"sideband off in AGP 3.0 mode"}},
        {"fast writes the card lacks",
         "kt600-radeon7000",
         0,
         0,
         0x314,
         0x314,
         0,
         {"fast writes set that one end lacks"}},
        {"AMD-761 B0 at 4X",
         "ati",
         0x700E1022,
         0x10,
         0x314,
         0x314,
         0,
         {"AMD-761 B0/B1 erratum: rate 4", "AMD-761 B0/B1 erratum: sideband addressing",
          "AMD-761 B0/B1 erratum: fast writes"}},
        {"AMD-761 C0 at 4X", "ati", 0x700E1022, 0x20, 0x314, 0x314, 0, {}},
        {"AMD-751, NVIDIA card at 2X",
         "default",
         0x70061022,
         0x25,
         0x102,
         0x102,
         0,
         {"AMD-751 erratum: rate 2"}},
        {"AMD-751, ATI card at 2X", "ati", 0x70061022, 0x25, 0x102, 0x102, 0, {}},
        {"SiS 648 card too soon",
         "ati",
         0x06481039,
         0,
         0x104,
         0x104,
         9,
         {"card written 9 ms after the SiS 648 bridge"}},
        {"SiS 648 card after 10 ms", "ati", 0x06481039, 0, 0x104, 0x104, 10, {}},
        {"card in AGP 3.0 mode",
         "ati",
         0,
         0,
         0x302,
         0x302,
         0,
         {"ends disagree on AGP 3.0 mode"},
         sim::kAgpStatusAgp3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::TestPc pc = bootAs(c.machine, c.bridgeId, c.revision);
        sim::Machine& m = sim::machine();
        uint32_t status = commandOffset({1, 0, 0}) - 4;
        m.pokeConfigDword(1, 0, 0, status, m.configDword(1, 0, 0, status) | c.cardStatusBits);
        ASSERT_TRUE(m.writeConfigDword(0, 0, 0, commandOffset({0, 0, 0}), c.bridge));
        m.noteSleep(c.sleptMs);
        ASSERT_TRUE(m.writeConfigDword(1, 0, 0, commandOffset({1, 0, 0}), c.card));
        EXPECT_EQ(c.faults, m.linkFaults());
    }
}

// Until both command registers have been written the link is the profile's, not ours; the
// faults then recorded stay in the state the virtual PC is saved to.
TEST(AgpLink, ChecksOnceBothEndsWereWrittenAndKeepsTheFaultsInTheState) {
    sim::TestPc pc = bootAs("ati");
    sim::Machine& m = sim::machine();
    ASSERT_TRUE(m.writeConfigDword(1, 0, 0, commandOffset({1, 0, 0}), 0x111));
    EXPECT_TRUE(m.linkFaults().empty());
    ASSERT_TRUE(m.writeConfigDword(0, 0, 0, commandOffset({0, 0, 0}), 0x111));
    ASSERT_TRUE(m.writeConfigDword(1, 0, 0, commandOffset({1, 0, 0}), 0x111));
    ASSERT_EQ(std::vector<std::string>{"fast writes at 1X"}, m.linkFaults());

    sim::Profile saved;
    std::string error;
    ASSERT_TRUE(sim::parseProfile(m.hardwareText(), "state", &saved, &error)) << error;
    sim::TestPc again = sim::bootProfileForTest(saved);
    EXPECT_EQ(std::vector<std::string>{"fast writes at 1X"}, sim::machine().linkFaults());
}

} // namespace
