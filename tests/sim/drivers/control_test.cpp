// TAVROL.VXD's control procedure, run on the emulated CPU under the VMM stand-in over a fake PCI
// bus: the messages Windows sends, reads and writes of the straps register, and every request it
// must refuse without touching the hardware. The host faults the run (completed false) on any
// access to unmapped memory, an unknown service, a register the VMM expects kept, or interrupts
// left off; configuration writes reach the fake, which records them.
#include <cstring>

#include "built_vxd.h"
#include "driver/fake_bus.h"

namespace {

const uint32_t kBar0 = 0xE4000000;
const uint32_t kStraps = kBar0 + 0x101000;
const uint32_t kStrapsValue = 0x00000E00;
const uint32_t kCommandIoMemoryMaster = 0x0007;
const uint32_t kNvidia = 0x10DE;
const uint32_t kDisplayClass = 0x030000;
const uint32_t kSystemExit = 0x05, kPowerEvent = 0x1A;

// A PC with an Intel host bridge and an NVIDIA display function at 01:00.0.
struct Pc {
    FakeBus bus;
    FakeBus::Function* card;
    Pc() {
        bus.add(0, 0, 0, 0x060000);
        card = &bus.add(1, 0, 0, kDisplayClass, 0, kNvidia);
        FakeBus::setDword(*card, 0x04, kCommandIoMemoryMaster);
        FakeBus::setDword(*card, 0x10, kBar0);
        bus.phys[kStraps] = kStrapsValue;
    }
};

class VxdControl : public testing::Test {
  protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(load(sim::VxdHost::kDefaultBase)); }

    // A fresh copy of the driver over the current PC.
    void load(uint32_t base) {
        BUILT_VXD_IMAGE(image);
        m_host.reset(new sim::VxdHost(*m_pc->bus.bus()));
        std::string error;
        ASSERT_TRUE(m_host->load(image, base, &error)) << error;
    }

    // One request. Both buffers are 300 bytes, so that every size a case names is a size the
    // caller has; the output starts with 0xBD in every byte and the byte count as 0xDEADBEEF.
    struct Outcome {
        sim::VxdHost::Result result;
        uint8_t outBytes[300];
        VxdPhysDwordRequest out;
        uint32_t returned;
        bool untouched() const {
            for (uint8_t b : outBytes)
                if (b != 0xBD)
                    return false;
            return true;
        }
    };
    Outcome send(uint32_t code, const VxdPhysDwordRequest& in, uint32_t inSize = 12,
                 uint32_t outSize = 12, bool nullIn = false, bool nullOut = false) {
        uint8_t inBytes[300] = {};
        std::memcpy(inBytes, &in, sizeof in);
        Outcome o;
        std::memset(o.outBytes, 0xBD, sizeof o.outBytes);
        o.returned = 0xDEADBEEF;
        o.result = m_host->deviceIoControl(code, nullIn ? nullptr : inBytes, inSize,
                                           nullOut ? nullptr : o.outBytes, outSize, &o.returned);
        std::memcpy(&o.out, o.outBytes, sizeof o.out);
        EXPECT_TRUE(o.result.completed) << m_host->fault();
        EXPECT_FALSE(o.result.carry);
        return o;
    }

    // Nothing reached the hardware but configuration reads.
    void expectHardwareUntouched() {
        EXPECT_TRUE(m_host->mappings().empty());
        EXPECT_EQ(0, m_pc->bus.physAccesses);
        EXPECT_EQ(kStrapsValue, m_pc->bus.phys[kStraps]);
    }

    std::unique_ptr<Pc> m_pc{new Pc};
    std::unique_ptr<sim::VxdHost> m_host;
};

TEST_F(VxdControl, SystemMessagesSucceedWithTheCarryClear) {
    EXPECT_EQ("TAVROL", m_host->deviceName());
    for (uint32_t message :
         {sim::kSysDynamicDeviceInit, kSystemExit, kPowerEvent, sim::kSysDynamicDeviceExit}) {
        SCOPED_TRACE(message);
        sim::VxdHost::Result r = m_host->control(message);
        EXPECT_TRUE(r.completed) << m_host->fault();
        EXPECT_FALSE(r.carry);
    }
}

// The open asks whether the driver takes device I/O control (EAX 0: yes, or CreateFile fails
// with ERROR_NOT_SUPPORTED); the close must answer 0 too, or Windows does not unload it.
TEST_F(VxdControl, OpenAndCloseAnswerZeroAndTouchNothing) {
    for (uint32_t code : {sim::kDiocOpen, sim::kDiocCloseHandle}) {
        SCOPED_TRACE(code);
        Outcome o = send(code, VxdPhysDwordRequest{1, kStraps, 0}, 0, 0, true, true);
        EXPECT_EQ(0u, o.result.eax);
        EXPECT_EQ(0xDEADBEEFu, o.returned);
        expectHardwareUntouched();
    }
}

TEST_F(VxdControl, ReadAnswersTheRecordWithTheStrapsValue) {
    Outcome o = send(VXD_PHYS_READ_DWORD, VxdPhysDwordRequest{1, kStraps, 0x12345678});
    EXPECT_EQ(0u, o.result.eax);
    EXPECT_EQ(1u, o.out.bus);
    EXPECT_EQ(kStraps, o.out.address);
    EXPECT_EQ(kStrapsValue, o.out.value);
    EXPECT_EQ(12u, o.returned);
    for (size_t i = sizeof o.out; i < sizeof o.outBytes; ++i)
        EXPECT_EQ(0xBD, o.outBytes[i]) << "written past the record at " << i;
    ASSERT_EQ(1u, m_host->mappings().size());
    EXPECT_EQ(kStraps, m_host->mappings()[0].physical);
    EXPECT_EQ(4u, m_host->mappings()[0].size) << "map the one dword";
    EXPECT_EQ(0u, m_host->mappings()[0].flags) << "_MapPhysToLinear's flags must be 0";
    EXPECT_EQ(1, m_pc->bus.physAccesses);
    EXPECT_TRUE(m_pc->bus.configWrites.empty());
    EXPECT_EQ(sim::VxdHost::kForeignConfigAddress, m_host->configAddress())
        << "the configuration address port is given back as it was";
}

// A write answers its record as a read does, as the kernel driver's core does.
TEST_F(VxdControl, WriteStoresTheValueAndAnswersTheRecord) {
    Outcome o = send(VXD_PHYS_WRITE_DWORD, VxdPhysDwordRequest{1, kStraps, 0x80000000u});
    EXPECT_EQ(0u, o.result.eax);
    EXPECT_EQ(0x80000000u, m_pc->bus.phys[kStraps]);
    EXPECT_EQ(0x80000000u, o.out.value);
    EXPECT_EQ(12u, o.returned);
    EXPECT_EQ(1, m_pc->bus.physAccesses);
}

// Without a place for the byte count (lpcbBytesReturned null) the read still answers.
TEST_F(VxdControl, ReadWithoutAByteCountStillAnswers) {
    VxdPhysDwordRequest in = {1, kStraps, 0}, out = {};
    sim::VxdHost::Result r =
        m_host->deviceIoControl(VXD_PHYS_READ_DWORD, &in, 12, &out, 12, nullptr);
    ASSERT_TRUE(r.completed) << m_host->fault();
    EXPECT_EQ(0u, r.eax);
    EXPECT_EQ(kStrapsValue, out.value);
}

struct BadRecord {
    const char* name;
    uint32_t code, inSize, outSize;
    bool nullIn, nullOut;
};

TEST_F(VxdControl, RecordsOfAnotherSizeOrMissingAreRefused) {
    const BadRecord cases[] = {
        {"read, input 11", VXD_PHYS_READ_DWORD, 11, 12, false, false},
        {"read, input 13", VXD_PHYS_READ_DWORD, 13, 12, false, false},
        {"read, input 16 (the kernel driver's record)", VXD_PHYS_READ_DWORD, 16, 12, false, false},
        {"read, no input", VXD_PHYS_READ_DWORD, 12, 12, true, false},
        {"read, output 11", VXD_PHYS_READ_DWORD, 12, 11, false, false},
        {"read, output 16", VXD_PHYS_READ_DWORD, 12, 16, false, false},
        {"read, output 0", VXD_PHYS_READ_DWORD, 12, 0, false, false},
        {"read, no output", VXD_PHYS_READ_DWORD, 12, 12, false, true},
        {"write, input 11", VXD_PHYS_WRITE_DWORD, 11, 12, false, false},
        {"write, input 16", VXD_PHYS_WRITE_DWORD, 16, 12, false, false},
        {"write, input 0", VXD_PHYS_WRITE_DWORD, 0, 12, false, false},
        {"write, no input", VXD_PHYS_WRITE_DWORD, 12, 12, true, false},
        {"write, output 0", VXD_PHYS_WRITE_DWORD, 12, 0, false, false},
        {"write, output 11", VXD_PHYS_WRITE_DWORD, 12, 11, false, false},
        {"write, no output", VXD_PHYS_WRITE_DWORD, 12, 12, false, true},
        {"configuration dword, output 16", VXD_PCI_READ_CONFIG_DWORD, 12, 16, false, false},
        {"configuration space, input 264 (the kernel driver's block)", VXD_PCI_READ_CONFIG_SPACE,
         264, 260, false, false},
        {"find class, no output", VXD_PCI_FIND_CLASS, 12, 12, false, true},
    };
    for (const BadRecord& c : cases) {
        SCOPED_TRACE(c.name);
        Outcome o = send(c.code, VxdPhysDwordRequest{1, kStraps, 0x80000000}, c.inSize, c.outSize,
                         c.nullIn, c.nullOut);
        EXPECT_EQ(static_cast<uint32_t>(ERROR_INVALID_PARAMETER), o.result.eax);
        EXPECT_EQ(0u, o.returned);
        EXPECT_TRUE(o.untouched());
        expectHardwareUntouched();
    }
}

TEST_F(VxdControl, OtherCodesAreRefused) {
    for (uint32_t code : {8u, 0x80012410u, 0x8001A414u, 0x7FFFFFFFu, 0xFFFFFFFEu}) {
        SCOPED_TRACE(code);
        Outcome o = send(code, VxdPhysDwordRequest{1, kStraps, 0x80000000});
        EXPECT_EQ(static_cast<uint32_t>(ERROR_INVALID_FUNCTION), o.result.eax);
        EXPECT_EQ(0u, o.returned);
        EXPECT_TRUE(o.untouched());
        expectHardwareUntouched();
    }
}

// The driver maps nothing but the straps register of an NVIDIA display function that decodes
// memory on the bus the request names: BAR 0 (32-bit memory) + 0x101000.
struct Reach {
    const char* name;
    void (*setUp)(Pc&);
    uint32_t bus, address;
    bool reached;
};

void asIs(Pc&) {}
void barIs(Pc& pc, uint32_t bar0) {
    FakeBus::setDword(*pc.card, 0x10, bar0);
}

TEST_F(VxdControl, OnlyTheStrapsRegisterIsReached) {
    const Reach cases[] = {
        {"the straps register", asIs, 1, kStraps, true},
        {"unaligned", asIs, 1, kStraps + 2, false},
        {"the next dword", asIs, 1, kStraps + 4, false},
        {"the dword before", asIs, 1, kStraps - 4, false},
        {"BAR 0 itself", asIs, 1, kBar0, false},
        {"RAM", asIs, 1, 0x00100000, false},
        {"another bus", asIs, 0, kStraps, false},
        {"a bus number above 255", asIs, 0x101, kStraps, false},
        {"an ATI card", [](Pc& pc) { FakeBus::setDword(*pc.card, 0x00, 0x51441002); }, 1, kStraps,
         false},
        {"an NVIDIA function of another class", [](Pc& pc) { pc.card->config[11] = 0x0C; }, 1,
         kStraps, false},
        {"memory decoding off", [](Pc& pc) { FakeBus::setDword(*pc.card, 0x04, 0x0005); }, 1,
         kStraps, false},
        {"an I/O BAR 0", [](Pc& pc) { barIs(pc, kBar0 | 1); }, 1, kStraps, false},
        {"a 64-bit BAR 0", [](Pc& pc) { barIs(pc, kBar0 | 4); }, 1, kStraps, false},
        {"BAR 0 unassigned", [](Pc& pc) { barIs(pc, 0); }, 1, 0x101000, false},
        {"BAR 0 so high the sum wraps", [](Pc& pc) { barIs(pc, 0xFFF00000); }, 1, 0x00001000,
         false},
        {"a prefetchable BAR 0", [](Pc& pc) { barIs(pc, kBar0 | 8); }, 1, kStraps, true},
        {"the last function of bus 2",
         [](Pc& pc) {
             pc.bus.add(2, 31, 0, 0x040000, 0x80, kNvidia); // multi-function
             FakeBus::Function& f = pc.bus.add(2, 31, 7, kDisplayClass, 0, kNvidia);
             FakeBus::setDword(f, 0x04, kCommandIoMemoryMaster);
             FakeBus::setDword(f, 0x10, 0xD0000000);
         },
         2, 0xD0101000, true},
    };
    for (const Reach& c : cases) {
        SCOPED_TRACE(c.name);
        m_pc.reset(new Pc);
        c.setUp(*m_pc);
        ASSERT_NO_FATAL_FAILURE(load(sim::VxdHost::kDefaultBase));
        m_pc->bus.phys[c.address] = 0x5A5A5A5A;
        Outcome read = send(VXD_PHYS_READ_DWORD, VxdPhysDwordRequest{c.bus, c.address, 0});
        Outcome write = send(VXD_PHYS_WRITE_DWORD, VxdPhysDwordRequest{c.bus, c.address, 0x1});
        if (c.reached) {
            EXPECT_EQ(0u, read.result.eax);
            EXPECT_EQ(0x5A5A5A5Au, read.out.value);
            EXPECT_EQ(0u, write.result.eax);
            EXPECT_EQ(0x1u, m_pc->bus.phys[c.address]);
        } else {
            EXPECT_EQ(static_cast<uint32_t>(ERROR_ACCESS_DENIED), read.result.eax);
            EXPECT_EQ(static_cast<uint32_t>(ERROR_ACCESS_DENIED), write.result.eax);
            EXPECT_TRUE(read.untouched());
            EXPECT_EQ(0u, read.returned);
            EXPECT_TRUE(m_host->mappings().empty());
            EXPECT_EQ(0, m_pc->bus.physAccesses);
            EXPECT_EQ(0x5A5A5A5Au, m_pc->bus.phys[c.address]);
        }
        EXPECT_TRUE(m_pc->bus.configWrites.empty());
    }
}

// _MapPhysToLinear answers 0FFFFFFFFh for a range it cannot address.
TEST_F(VxdControl, UnmappableRegisterIsAFailure) {
    m_host->refuseMappings(true);
    for (uint32_t code : {VXD_PHYS_READ_DWORD, VXD_PHYS_WRITE_DWORD}) {
        Outcome o = send(code, VxdPhysDwordRequest{1, kStraps, 0x80000000});
        EXPECT_EQ(static_cast<uint32_t>(ERROR_GEN_FAILURE), o.result.eax);
        EXPECT_TRUE(o.untouched());
        EXPECT_EQ(0u, o.returned);
    }
    EXPECT_EQ(0, m_pc->bus.physAccesses);
    EXPECT_EQ(kStrapsValue, m_pc->bus.phys[kStraps]);
}

// The VMM places a dynamic VxD wherever it has room: the fixups must cover every absolute
// address, or the driver would run at one base only.
TEST_F(VxdControl, ServesWhereverItIsLoaded) {
    for (uint32_t base : {0x80000000u, 0xC8F3D000u}) {
        SCOPED_TRACE(base);
        ASSERT_NO_FATAL_FAILURE(load(base));
        EXPECT_EQ(base, m_host->ddbAddress());
        ASSERT_TRUE(m_host->control(sim::kSysDynamicDeviceInit).completed) << m_host->fault();
        Outcome o = send(VXD_PHYS_READ_DWORD, VxdPhysDwordRequest{1, kStraps, 0});
        EXPECT_EQ(0u, o.result.eax);
        EXPECT_EQ(kStrapsValue, o.out.value);
    }
}

} // namespace
