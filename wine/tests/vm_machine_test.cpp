// Tests of the virtual PC compiled into the Wine suite's driver: its register rules, its memory
// and the state record that carries it from one load of the driver to the next.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "vm_machine.h"

// The machine of every case is built here: links are for the generated table, unused.
VmFunction vmProfileFunctions[1];
const uint32_t vmProfileFunctionCount = 0;
const VmPhysWord vmProfilePhys[1] = {};
const uint32_t vmProfilePhysCount = 0;

namespace {

const uint32_t kBar0 = 0xE4000000u;
const uint32_t kStraps = kBar0 + VM_NVIDIA_STRAPS_OFFSET;
const uint32_t kGraphicsSlot = 0; // device 0, function 0 on bus 1
const uint32_t kAgpStatus = 0x1F000217u;

void putDword(uint8_t* config, uint32_t offset, uint32_t value) {
    std::memcpy(config + offset, &value, 4);
}

// A host bridge with its AGP capability at 0xa0 and an NVIDIA card with one at 0x44 behind a
// power-management capability, both offering 1X/2X/4X, sideband and fast writes.
struct Pc {
    VmFunction functions[2] = {};
    VmMachine machine = {};
    TavrolBus bus = {};

    explicit Pc(uint32_t straps, uint32_t agpStatus = kAgpStatus) {
        VmFunction& bridge = functions[0];
        putDword(bridge.config, 0, 0x71908086);
        putDword(bridge.config, 8, 0x06000003);
        bridge.config[0x06] = 0x10; // capability list
        bridge.config[0x34] = 0xa0;
        putDword(bridge.config, 0xa0, 0x00100002);
        putDword(bridge.config, 0xa4, agpStatus);
        putDword(bridge.config, 0xa8, 0x00000302);

        VmFunction& card = functions[1];
        card.bus = 1;
        putDword(card.config, 0, 0x011010DE);
        putDword(card.config, 4, 0x02B00007); // memory decoding on
        putDword(card.config, 8, 0x030000B2);
        putDword(card.config, 0x10, kBar0);
        card.config[0x06] = 0x10;
        card.config[0x34] = 0x60;
        putDword(card.config, 0x60, 0x00024401);
        putDword(card.config, 0x44, 0x00200002);
        putDword(card.config, 0x48, agpStatus);
        putDword(card.config, 0x4c, 0x1F000302);

        const VmPhysWord phys[] = {{kStraps, straps}};
        EXPECT_EQ(1, vmInit(&machine, functions, 2, phys, 1));
        bus = vmBus(&machine);
    }

    uint32_t config(uint32_t busNumber, uint32_t slot, uint32_t offset) {
        uint32_t value = 0xdeadbeef;
        EXPECT_EQ(1, bus.readConfig(bus.context, busNumber, slot, offset, &value, 4))
            << "offset 0x" << std::hex << offset;
        return value;
    }

    uint32_t phys(uint32_t address) {
        uint32_t value = 0xdeadbeef;
        EXPECT_EQ(1, bus.readPhys(bus.context, address, &value));
        return value;
    }

    int request(uint32_t code, void* record, uint32_t size, uint32_t* written) {
        return tavrolHandleRequest(&bus, code, record, size, record, size, written);
    }
};

TEST(VmNvidiaStraps, DisabledModesLeaveTheCardsStatusUntilTheStrapsAreOverridden) {
    Pc pc(0x00000E00);
    EXPECT_EQ(kAgpStatus & ~(4u | (1u << 9) | (1u << 4)), pc.config(1, kGraphicsSlot, 0x48));
    // The bridge has no straps: it always shows what it has.
    EXPECT_EQ(kAgpStatus, pc.config(0, 0, 0xa4));

    ASSERT_EQ(1, pc.bus.writePhys(pc.bus.context, kStraps, 0x80000000u));
    EXPECT_EQ(kAgpStatus, pc.config(1, kGraphicsSlot, 0x48));
}

TEST(VmNvidiaStraps, WritesWithoutTheOverrideBitLeaveTheStrapsLatched) {
    Pc pc(0x00000EA3);
    ASSERT_EQ(1, pc.bus.writePhys(pc.bus.context, kStraps, 0x000000A3u));
    EXPECT_EQ(0xEA3u, pc.phys(kStraps));
    EXPECT_EQ(kAgpStatus & ~(4u | (1u << 9) | (1u << 4)), pc.config(1, kGraphicsSlot, 0x48));
    ASSERT_EQ(1, pc.bus.writePhys(pc.bus.context, kStraps, 0x800000A3u));
    EXPECT_EQ(0x800000A3u, pc.phys(kStraps));
    // Other words behind BAR 0 take any write.
    ASSERT_EQ(1, pc.bus.writePhys(pc.bus.context, kBar0 + 0x100, 0x1u));
    EXPECT_EQ(0x1u, pc.phys(kBar0 + 0x100));
}

TEST(VmNvidiaStraps, EachStrapBitRemovesOnlyItsOwnMode) {
    struct Case {
        uint32_t straps;
        uint32_t removed;
    } cases[] = {{1u << 9, 4u}, {1u << 10, 1u << 9}, {1u << 11, 1u << 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "straps 0x" << std::hex << c.straps);
        Pc pc(c.straps);
        EXPECT_EQ(kAgpStatus & ~c.removed, pc.config(1, kGraphicsSlot, 0x48));
    }
}

TEST(VmConfigSpace, CommandRegisterTakesOnlyItsWritableBits) {
    Pc pc(0);
    ASSERT_EQ(1, pc.bus.writeConfig(pc.bus.context, 1, kGraphicsSlot, 0x4c, 0xFFFFFFFFu));
    EXPECT_EQ(0x1F000302u | VM_AGP_COMMAND_WRITABLE, pc.config(1, kGraphicsSlot, 0x4c));
    ASSERT_EQ(1, pc.bus.writeConfig(pc.bus.context, 1, kGraphicsSlot, 0x4c, 0x00000104u));
    EXPECT_EQ(0x00000104u, pc.config(1, kGraphicsSlot, 0x4c));
}

TEST(VmConfigSpace, StuckBitsKeepTheirValueOnWrites) {
    Pc pc(0);
    pc.functions[1].stuck = 1u << 9; // sideband
    ASSERT_EQ(1, pc.bus.writeConfig(pc.bus.context, 1, kGraphicsSlot, 0x4c, 0x1F000114u));
    EXPECT_EQ(0x1F000314u, pc.config(1, kGraphicsSlot, 0x4c)) << "sideband was 1 and stays";
    // The bridge has no stuck bits.
    ASSERT_EQ(1, pc.bus.writeConfig(pc.bus.context, 0, 0, 0xa8, 0x00000104u));
    EXPECT_EQ(0x00000104u, pc.config(0, 0, 0xa8));
}

// As on the simulated PC: a device in AGP 3.0 mode keeps any value in its read/write bits, and
// the writes AGP 3.0 does not allow are counted, in the state record too.
TEST(VmConfigSpace, WritesAgp3DoesNotAllowAreKeptAndCounted) {
    const uint32_t agp3Status = 0x1F00021Bu;
    struct Case {
        uint32_t status;
        uint32_t value;
        uint32_t reserved;
    } cases[] = {
        {agp3Status, 0x1F000301u, 0}, {agp3Status, 0x1F000302u, 0}, {agp3Status, 0x1F000202u, 0},
        {agp3Status, 0x1F000304u, 1}, {agp3Status, 0x1F000303u, 1}, {agp3Status, 0x1F000102u, 1},
        {agp3Status, 0u, 1},          {kAgpStatus, 0x1F000104u, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << std::hex << "status 0x" << c.status << " value 0x" << c.value);
        Pc pc(0, c.status);
        ASSERT_EQ(1, pc.bus.writeConfig(pc.bus.context, 1, 0, 0x4c, c.value));
        EXPECT_EQ(c.value, pc.config(1, 0, 0x4c));
        EXPECT_EQ(c.reserved, pc.machine.reservedAgpWrites);

        std::vector<uint8_t> state(vmStateSize(&pc.machine));
        vmSaveState(&pc.machine, state.data());
        Pc fresh(0, c.status);
        ASSERT_EQ(1, vmLoadState(&fresh.machine, state.data(), state.size()));
        EXPECT_EQ(c.reserved, fresh.machine.reservedAgpWrites);
    }
}

TEST(VmConfigSpace, OtherRegistersIgnoreWrites) {
    Pc pc(0);
    const uint32_t offsets[] = {0x00, 0x10, 0x48, 0xa4};
    for (uint32_t offset : offsets) {
        SCOPED_TRACE(testing::Message() << "offset 0x" << std::hex << offset);
        const uint32_t busNumber = offset == 0xa4 ? 0 : 1;
        const uint32_t before = pc.config(busNumber, 0, offset);
        EXPECT_EQ(1, pc.bus.writeConfig(pc.bus.context, busNumber, 0, offset, 0x12345678));
        EXPECT_EQ(before, pc.config(busNumber, 0, offset));
    }
}

TEST(VmConfigSpace, MissingFunctionsAndReadsPastTheSpaceFail) {
    Pc pc(0);
    uint8_t buffer[16];
    std::memset(buffer, 0xbd, sizeof buffer);
    EXPECT_EQ(0, pc.bus.readConfig(pc.bus.context, 2, 0, 0, buffer, 4));     // no bus 2
    EXPECT_EQ(0, pc.bus.readConfig(pc.bus.context, 1, 1, 0, buffer, 4));     // no device 1
    EXPECT_EQ(0, pc.bus.readConfig(pc.bus.context, 1, 0x20, 0, buffer, 4));  // no function 1
    EXPECT_EQ(0, pc.bus.readConfig(pc.bus.context, 1, 0x100, 0, buffer, 4)); // not a slot word
    EXPECT_EQ(0, pc.bus.readConfig(pc.bus.context, 1, 0, 0xfc, buffer, 8));
    EXPECT_EQ(0, pc.bus.writeConfig(pc.bus.context, 1, 0, 0x4e, 0));
    for (uint8_t byte : buffer)
        EXPECT_EQ(0xbd, byte);
    EXPECT_EQ(1, pc.bus.readConfig(pc.bus.context, 1, 0, 0xfc, buffer, 4));
}

TEST(VmPhysicalMemory, UnwrittenWordsReadZeroAndTheMachineRunsOutOfRoomCleanly) {
    Pc pc(0x00000E00);
    EXPECT_EQ(0u, pc.phys(kBar0));
    EXPECT_EQ(0xE00u, pc.phys(kStraps));
    // One word is taken by the straps; the rest can be written once each.
    for (uint32_t i = 1; i < VM_MAX_PHYS_WORDS; ++i)
        ASSERT_EQ(1, pc.bus.writePhys(pc.bus.context, kBar0 + 4 * i, i)) << "word " << i;
    EXPECT_EQ(0, pc.bus.writePhys(pc.bus.context, kBar0 + 0x1000, 1));
    EXPECT_EQ(1, pc.bus.writePhys(pc.bus.context, kBar0 + 4, 77)); // rewriting needs no room
    EXPECT_EQ(77u, pc.phys(kBar0 + 4));
    EXPECT_EQ(0u, pc.phys(kBar0 + 0x1000));
}

TEST(VmState, SavedStateComesBackIntoAFreshMachine) {
    Pc first(0x00000E00);
    ASSERT_EQ(1, first.bus.writeConfig(first.bus.context, 1, 0, 0x4c, 0x1F000104u));
    ASSERT_EQ(1, first.bus.writePhys(first.bus.context, kStraps, 0x80000000u));
    ASSERT_EQ(1, first.bus.writePhys(first.bus.context, kBar0 + 8, 5));
    std::vector<uint8_t> state(vmStateSize(&first.machine) + 1, 0xbd);
    vmSaveState(&first.machine, state.data());
    EXPECT_EQ(0xbd, state.back()) << "the record ran past its size";

    Pc second(0x00000E00);
    ASSERT_EQ(1, vmLoadState(&second.machine, state.data(), state.size() - 1));
    EXPECT_EQ(0x1F000104u, second.config(1, 0, 0x4c));
    EXPECT_EQ(0x80000000u, second.phys(kStraps));
    EXPECT_EQ(5u, second.phys(kBar0 + 8));
}

TEST(VmState, ForeignOrTornRecordsChangeNothing) {
    Pc source(0);
    std::vector<uint8_t> state(vmStateSize(&source.machine));
    vmSaveState(&source.machine, state.data());

    std::vector<uint8_t> badMagic = state;
    badMagic[0] ^= 1;
    std::vector<uint8_t> otherShape = state;
    otherShape[4] = 3; // three functions
    std::vector<uint8_t> tooManyWords = state;
    tooManyWords[8] = VM_MAX_PHYS_WORDS + 1;
    struct Case {
        const char* name;
        const std::vector<uint8_t>& record;
        uint32_t length;
    } cases[] = {{"short", state, static_cast<uint32_t>(state.size() - 1)},
                 {"magic", badMagic, static_cast<uint32_t>(state.size())},
                 {"shape", otherShape, static_cast<uint32_t>(state.size())},
                 {"words", tooManyWords, static_cast<uint32_t>(state.size())}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Pc target(0x00000E00);
        ASSERT_EQ(1, target.bus.writeConfig(target.bus.context, 1, 0, 0x4c, 0x00000101u));
        EXPECT_EQ(0, vmLoadState(&target.machine, c.record.data(), c.length));
        EXPECT_EQ(0x00000101u, target.config(1, 0, 0x4c));
        EXPECT_EQ(0xE00u, target.phys(kStraps));
    }
}

// The driver for the Wine suite serves the request core over this machine: the core's rules must
// hold on it as on a real PC.
TEST(VmUnderTheRequestCore, PhysicalAccessReachesOnlyTheCardsStraps) {
    Pc pc(0x00000E00);
    struct Case {
        uint32_t bus;
        uint32_t address;
        int status;
    } cases[] = {
        {1, kStraps, TAVROL_STATUS_OK},
        {1, kBar0, TAVROL_STATUS_ACCESS_DENIED},
        {1, kStraps + 4, TAVROL_STATUS_ACCESS_DENIED},
        {1, 0x00001000, TAVROL_STATUS_ACCESS_DENIED}, // RAM
        {0, kStraps, TAVROL_STATUS_ACCESS_DENIED},    // the bridge's bus has no display function
        {1, kStraps + 2, TAVROL_STATUS_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "bus " << c.bus << " address 0x" << std::hex << c.address);
        PhysDwordRequest request = {c.bus, c.address, 0, 0xdeadbeef};
        uint32_t written = 0xdeadbeef;
        EXPECT_EQ(c.status, pc.request(IOCTL_PHYS_READ_DWORD, &request, sizeof request, &written));
        EXPECT_EQ(c.status == TAVROL_STATUS_OK ? sizeof request : 0u, written);
    }
}

TEST(VmUnderTheRequestCore, ConfigWritesReachOnlyAgpCommandRegisters) {
    Pc pc(0);
    PciConfigDwordRequest command = {1, 0, 0x4c, 0x1F000104u};
    uint32_t written = 0;
    EXPECT_EQ(TAVROL_STATUS_OK,
              pc.request(IOCTL_PCI_WRITE_CONFIG_DWORD, &command, sizeof command, &written));
    EXPECT_EQ(0x1F000104u, pc.config(1, 0, 0x4c));

    const uint32_t refused[] = {0x48, 0x04, 0x10, 0xa8 /* the bridge's offset, not the card's */};
    for (uint32_t offset : refused) {
        SCOPED_TRACE(testing::Message() << "offset 0x" << std::hex << offset);
        const uint32_t before = pc.config(1, 0, offset);
        PciConfigDwordRequest request = {1, 0, offset, 0};
        EXPECT_EQ(TAVROL_STATUS_ACCESS_DENIED,
                  pc.request(IOCTL_PCI_WRITE_CONFIG_DWORD, &request, sizeof request, &written));
        EXPECT_EQ(before, pc.config(1, 0, offset));
    }
}

} // namespace
