// The virtual machine's registers: AGP command write masks, stuck bits, NVIDIA straps, physical
// memory, the trace, and saving the hardware back to profile text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sim/boot.h"
#include "sim/machine.h"

namespace {

// default.lspci: AGP capability of the host bridge at 0xA0, of the GeForce2 at 0x44.
const uint32_t kBridgeCommand = 0xA8;
const uint32_t kCardStatus = 0x48;
const uint32_t kCardCommand = 0x4C;
const uint32_t kStraps = 0xE0101000;

uint32_t card(uint32_t offset) {
    return sim::machine().configDword(1, 0, 0, offset);
}

sim::TestPc bootDefaultWith(const std::string& extraDirectives) {
    sim::Profile profile;
    std::string error;
    EXPECT_TRUE(sim::loadProfileFile(sim::machinesDir() + "/default.lspci", &profile, &error))
        << error;
    std::string text = extraDirectives + sim::formatProfile(profile);
    sim::TestPc pc = sim::bootForTest(text);
    EXPECT_TRUE(pc.ok()) << pc.error();
    return pc;
}

TEST(AgpCommandRegister, OnlyTheWritableBitsTakeAWrite) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    ASSERT_TRUE(pc.ok()) << pc.error();
    sim::Machine& m = sim::machine();
    ASSERT_EQ(0x44, m.agpCapability(1, 0, 0));
    EXPECT_EQ(0x1F000102u, card(kCardCommand));

    ASSERT_TRUE(m.writeConfigDword(1, 0, 0, kCardCommand, 0xFFFFFFFF));
    EXPECT_EQ(0xFF000317u, card(kCardCommand));
    ASSERT_TRUE(m.writeConfigDword(1, 0, 0, kCardCommand, 0));
    EXPECT_EQ(0u, card(kCardCommand));

    // Reserved bits keep whatever they hold.
    m.pokeConfigDword(1, 0, 0, kCardCommand, 0x00FFFCE8);
    ASSERT_TRUE(m.writeConfigDword(1, 0, 0, kCardCommand, 0x1F000104));
    EXPECT_EQ(0x1FFFFDECu, card(kCardCommand));

    ASSERT_TRUE(m.writeConfigDword(0, 0, 0, kBridgeCommand, 0x00000304));
    EXPECT_EQ(0x00000304u, m.configDword(0, 0, 0, kBridgeCommand));
}

TEST(AgpCommandRegister, StuckBitsKeepTheirValue) {
    sim::TestPc pc = bootDefaultWith("#! stuck 01:00.0 0x201\n");
    sim::Machine& m = sim::machine();
    ASSERT_TRUE(m.writeConfigDword(1, 0, 0, kCardCommand, 0x1F000304));
    EXPECT_EQ(0x1F000104u, card(kCardCommand)) << "bit 9 stuck at 0, bit 0 stuck at 0";
    ASSERT_TRUE(m.writeConfigDword(1, 0, 0, kCardCommand, 0x1F000001));
    EXPECT_EQ(0x1F000000u, card(kCardCommand));
    // The bridge has no stuck bits.
    ASSERT_TRUE(m.writeConfigDword(0, 0, 0, kBridgeCommand, 0x00000301));
    EXPECT_EQ(0x00000301u, m.configDword(0, 0, 0, kBridgeCommand));
}

// A device in AGP 3.0 mode takes every value into its read/write bits, but the values AGP 3.0
// reserves or forbids are recorded so that tests can show they never happen. An AGP 2.0 device
// (the KT600's Radeon 7000) takes them all as ordinary values.
TEST(AgpCommandRegister, ReservedAgp3ValuesAreKeptAndRecorded) {
    struct Case {
        const char* machine;
        int bus;
        uint32_t command; // offset of the command register
        uint32_t value;
        bool reserved;
    };
    const Case cases[] = {
        {"i875p-radeon9200", 1, 0x60, 0x1F004301, false}, // 4X
        {"i875p-radeon9200", 1, 0x60, 0x1F004302, false}, // 8X
        {"i875p-radeon9200", 1, 0x60, 0x1F004202, false}, // taken down
        {"i875p-radeon9200", 1, 0x60, 0x1F004200, false}, // no rate yet
        {"i875p-radeon9200", 1, 0x60, 0x1F004304, true},  // reserved rate
        {"i875p-radeon9200", 1, 0x60, 0x1F004303, true},  // two rates
        {"i875p-radeon9200", 1, 0x60, 0x1F004102, true},  // sideband off
        {"i875p-radeon9200", 0, 0xA8, 0x00000B04, true},  // the bridge, reserved rate
        {"i875p-radeon9200", 0, 0xA8, 0x00000000, true},  // the bridge, all off
        {"kt600-radeon7000", 1, 0x60, 0x1F000104, false}, // AGP 2.0: 4X without sideband
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.machine) + " value " + std::to_string(c.value));
        sim::TestPc pc = sim::bootMachineForTest(c.machine);
        ASSERT_TRUE(pc.ok()) << pc.error();
        sim::Machine& m = sim::machine();
        ASSERT_TRUE(m.writeConfigDword(c.bus, 0, 0, c.command, c.value));
        EXPECT_EQ(c.value & sim::kAgpCommandWritable,
                  m.configDword(c.bus, 0, 0, c.command) & sim::kAgpCommandWritable)
            << "the bits were not kept as written";
        ASSERT_EQ(c.reserved ? 1u : 0u, m.reservedAgpWrites().size());
        if (c.reserved) {
            EXPECT_EQ(c.value, m.reservedAgpWrites()[0].value);
            EXPECT_EQ(c.bus, m.reservedAgpWrites()[0].bus);
        }
    }
}

TEST(ConfigRegisters, EverythingElseIsReadOnly) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    sim::Machine& m = sim::machine();
    uint8_t before[256], after[256];
    ASSERT_TRUE(m.readConfig(1, 0, 0, 0, before, 256));
    for (uint32_t offset = 0; offset < 256; offset += 4) {
        if (offset != kCardCommand) {
            ASSERT_TRUE(m.writeConfigDword(1, 0, 0, offset, 0x12345678));
        }
    }
    ASSERT_TRUE(m.readConfig(1, 0, 0, 0, after, 256));
    EXPECT_EQ(0, std::memcmp(before, after, 256));
    // A function without AGP has no writable register at all.
    uint32_t ide = m.configDword(0, 0x1F, 1, 0x04);
    ASSERT_TRUE(m.writeConfigDword(0, 0x1F, 1, 0x04, 0));
    EXPECT_EQ(ide, m.configDword(0, 0x1F, 1, 0x04));
}

TEST(ConfigRegisters, AbsentFunctionsAndBadOffsetsFail) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    sim::Machine& m = sim::machine();
    uint32_t value = 0xdeadbeef;
    EXPECT_FALSE(m.readConfig(1, 1, 0, 0, &value, 4));
    EXPECT_FALSE(m.readConfig(0, 0, 0, 254, &value, 4));
    EXPECT_EQ(0xdeadbeefu, value);
    EXPECT_FALSE(m.writeConfigDword(1, 0, 0, kCardCommand + 2, 0));
    EXPECT_FALSE(m.writeConfigDword(2, 0, 0, kCardCommand, 0));
    EXPECT_TRUE(m.trace().empty()) << m.traceText();
}

TEST(ConfigRegisters, FunctionsAreListedInOrder) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    const auto& functions = sim::machine().functions();
    ASSERT_EQ(9u, functions.size());
    for (size_t i = 1; i < functions.size(); ++i) {
        const sim::PciFunctionImage& a = functions[i - 1];
        const sim::PciFunctionImage& b = functions[i];
        EXPECT_LT((a.bus << 8) | (a.device << 3) | a.function,
                  (b.bus << 8) | (b.device << 3) | b.function)
            << "position " << i;
    }
}

TEST(NvidiaStraps, StatusFollowsTheEffectiveStraps) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    sim::Machine& m = sim::machine();
    EXPECT_EQ(0x00000EA3u, m.physWord(kStraps));
    EXPECT_EQ(0x1F000003u, card(kCardStatus)) << "4X, sideband and fast writes disabled";
    uint8_t space[256];
    ASSERT_TRUE(m.readConfig(1, 0, 0, 0, space, 256));
    EXPECT_EQ(0x03, space[kCardStatus]);
    EXPECT_EQ(0x00, space[kCardStatus + 1]);

    // Without the override bit the register does not change.
    ASSERT_TRUE(m.writePhys(kStraps, 0x000000A3));
    EXPECT_EQ(0x00000EA3u, m.physWord(kStraps));
    EXPECT_EQ(0x1F000003u, card(kCardStatus));

    ASSERT_TRUE(m.writePhys(kStraps, 0x800000A3));
    EXPECT_EQ(0x800000A3u, m.physWord(kStraps));
    EXPECT_EQ(0x1F000217u, card(kCardStatus));

    ASSERT_TRUE(m.writePhys(kStraps, 0x80000200));
    EXPECT_EQ(0x1F000213u, card(kCardStatus)) << "only 4X disabled";
    ASSERT_TRUE(m.writePhys(kStraps, 0x80000400));
    EXPECT_EQ(0x1F000017u, card(kCardStatus)) << "only sideband disabled";
    ASSERT_TRUE(m.writePhys(kStraps, 0x80000800));
    EXPECT_EQ(0x1F000207u, card(kCardStatus)) << "only fast writes disabled";
}

TEST(NvidiaStraps, OtherCardsAndAddressesAreOrdinaryMemory) {
    sim::TestPc pc = sim::bootMachineForTest("ati");
    ASSERT_TRUE(pc.ok()) << pc.error();
    sim::Machine& m = sim::machine();
    // The Radeon's BAR 0 is at 0xD8000000: no straps there, its status is what the profile says.
    ASSERT_TRUE(m.writePhys(0xD8101000, 0x00000E00));
    EXPECT_EQ(0x00000E00u, m.physWord(0xD8101000));
    EXPECT_EQ(0x1F000217u, m.configDword(1, 0, 0, 0x5C));
    uint32_t value = 0xdeadbeef;
    EXPECT_TRUE(m.readPhys(0x12345678, &value));
    EXPECT_EQ(0u, value) << "unwritten memory reads 0";
    EXPECT_FALSE(m.readPhys(0x12345679, &value));
    EXPECT_FALSE(m.writePhys(0x12345672, 1));
}

TEST(Trace, RecordsHardwareAccesses) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    sim::Machine& m = sim::machine();
    uint32_t value;
    ASSERT_TRUE(m.readConfig(1, 0, 0, kCardCommand, &value, 4));
    ASSERT_TRUE(m.writeConfigDword(1, 0, 0, kCardCommand, 0x1F000104));
    ASSERT_TRUE(m.writePhys(kStraps, 0x80000000));
    ASSERT_EQ(3u, m.trace().size()) << m.traceText();
    const sim::TraceEntry& read = m.trace()[0];
    EXPECT_EQ(sim::TraceKind::ConfigRead, read.kind);
    EXPECT_EQ(1, read.bus);
    EXPECT_EQ(kCardCommand, read.offset);
    EXPECT_EQ(0x1F000102u, read.value);
    EXPECT_EQ("config-write 01:00.0 offset=0x4C length=4 value=0x1F000104",
              m.trace()[1].toString());
    EXPECT_EQ("phys-write 0xE0101000 value=0x80000000", m.trace()[2].toString());
    EXPECT_EQ(1u, m.traceOf(sim::TraceKind::PhysWrite).size());
}

TEST(HardwareText, SavedStateBootsIntoTheSameMachine) {
    sim::TestPc first = bootDefaultWith("#! stuck 01:00.0 0x200\n");
    sim::Machine& m = sim::machine();
    ASSERT_TRUE(m.writeConfigDword(1, 0, 0, kCardCommand, 0x1F000104));
    ASSERT_TRUE(m.writePhys(kStraps, 0x800000A3));
    ASSERT_TRUE(m.writePhys(0xE0000010, 0x55));
    std::string saved = m.hardwareText();
    std::vector<sim::PciFunctionImage> before = m.functions();

    sim::TestPc second = sim::bootForTest(saved);
    ASSERT_TRUE(second.ok()) << second.error() << "\n" << saved;
    ASSERT_EQ(before.size(), m.functions().size());
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(0, std::memcmp(before[i].config, m.functions()[i].config, 256))
            << "function " << i;
    EXPECT_EQ(0x1F000104u, card(kCardCommand));
    EXPECT_EQ(0x800000A3u, m.physWord(kStraps));
    EXPECT_EQ(0x55u, m.physWord(0xE0000010));
    EXPECT_EQ(0x1F000217u, card(kCardStatus));
    EXPECT_TRUE(m.profile().has("stuck"));
    EXPECT_EQ(saved, m.hardwareText());
}

TEST(HardwareText, LspciShowsRegistersAsTheProgramReadsThem) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    std::string text = sim::machine().lspciText();
    EXPECT_NE(std::string::npos, text.find("01:00.0 VGA compatible controller: NVIDIA"));
    // Row 40 of the GeForce2: AGP header at 0x44, status 0x1F000003 with the straps in force.
    EXPECT_NE(std::string::npos, text.find("40: 00 00 00 00 02 00 20 00 03 00 00 1f 02 01 00 1f"))
        << text;
    EXPECT_EQ(std::string::npos, text.find("#!"));
}

} // namespace
