// TAVROL.VXD's configuration requests, which the Windows 9x channel uses in place of the PCI BIOS:
// each table runs against the VxD on the emulated CPU and against the kernel driver's request core
// over the same fake bus, and the two must answer alike.
#include <cstring>
#include <vector>

#include "built_vxd.h"
#include "driver/fake_bus.h"

namespace {

// Host bridge with AGP at 00:00.0, a multi-function ISA bridge at 00:07 with IDE at 00:07.1, a
// network card at 00:09.0, an AGP card at 01:00.0 whose AGP capability follows power management,
// a display function at 01:00.3 that the walk never reaches (function 0 is single-function), and
// a second card at 20:1F.0.
struct ConfigPc {
    FakeBus fake;
    ConfigPc() {
        FakeBus::addAgp(fake.add(0, 0, 0, 0x060000), 0xA0, 0x00000102);
        fake.add(0, 7, 0, 0x060100, 0x80);
        fake.add(0, 7, 1, 0x01018A);
        FakeBus::setDword(fake.add(0, 9, 0, 0x020000), 0x10, 0xE4000000);
        FakeBus::Function& vga = fake.add(1, 0, 0, 0x030000, 0, 0x10DE);
        FakeBus::addAgp(vga, 0x44, 0x1F000102);
        vga.config[0x34] = 0x60;
        vga.config[0x60] = 1;
        vga.config[0x61] = 0x44;
        fake.add(1, 0, 3, 0x030000, 0, 0x10DE);
        fake.add(0x20, 0x1F, 0, 0x030000, 0, 0x1002);
    }
};

uint32_t busOf(uint32_t address) {
    return address >> 8;
}

uint32_t slotOf(uint32_t address) {
    return ((address >> 3) & 0x1F) | ((address & 7) << 5);
}

// The core's find-class list, as PCI addresses.
std::vector<uint32_t> coreMatches(FakeBus& fake, uint32_t classCode) {
    PciClassQuery query = {};
    query.classCode = classCode;
    uint32_t written = 0;
    EXPECT_EQ(TAVROL_STATUS_OK, tavrolHandleRequest(fake.bus(), IOCTL_PCI_FIND_CLASS, &query,
                                                    sizeof query, &query, sizeof query, &written));
    std::vector<uint32_t> matches;
    for (uint32_t i = 0; i < query.count; ++i)
        matches.push_back(query.entries[i].bus << 8 | (query.entries[i].slot & 0x1F) << 3 |
                          query.entries[i].slot >> 5);
    return matches;
}

TEST(VxdConfig, FindClassListsWhatTheCoreListsInItsOrder) {
    ConfigPc pc;
    LoadedVxd vxd(*pc.fake.bus());
    for (uint32_t classCode : {0x060000u, 0x030000u, 0x01018Au, 0x060100u, 0x0C0300u}) {
        SCOPED_TRACE(testing::Message() << std::hex << "class 0x" << classCode);
        const std::vector<uint32_t> expected = coreMatches(pc.fake, classCode);
        for (uint32_t index = 0; index <= expected.size(); ++index) {
            VxdPciClassRequest out;
            const uint32_t error =
                vxd.send(VXD_PCI_FIND_CLASS, VxdPciClassRequest{classCode, index, 0xBEEF}, &out);
            if (index == expected.size()) {
                EXPECT_EQ(static_cast<uint32_t>(ERROR_NO_MORE_ITEMS), error);
                EXPECT_EQ(0u, vxd.returned());
                continue;
            }
            ASSERT_EQ(0u, error) << "index " << index;
            EXPECT_EQ(expected[index], out.address) << "index " << index;
            EXPECT_EQ(12u, vxd.returned());
        }
    }
    EXPECT_EQ(2u, coreMatches(pc.fake, 0x030000).size()) << "01:00.3 is not reached";
}

TEST(VxdConfig, ReadSpaceAnswersTheWholeFunction) {
    ConfigPc pc;
    LoadedVxd vxd(*pc.fake.bus());
    VxdPciConfigBlock out;
    ASSERT_EQ(0u, vxd.send(VXD_PCI_READ_CONFIG_SPACE, VxdPciConfigBlock{0x0100, {}}, &out));
    EXPECT_EQ(0x0100u, out.address);
    uint8_t expected[256];
    uint32_t written = 0;
    PciConfigBlock block = {1, 0, {}};
    ASSERT_EQ(TAVROL_STATUS_OK,
              tavrolHandleRequest(pc.fake.bus(), IOCTL_PCI_READ_CONFIG_SPACE, &block, sizeof block,
                                  &block, sizeof block, &written));
    std::memcpy(expected, block.config, sizeof expected);
    EXPECT_EQ(0, std::memcmp(expected, out.config, 256));
    EXPECT_EQ(260u, vxd.returned());
}

// One configuration dword, read or written, on both drivers: reads anywhere in a function that
// exists, writes only to the AGP command register the capability walk finds.
struct DwordCase {
    const char* what;
    uint32_t code; // the VxD's; the core's is its namesake
    uint32_t address, offset;
    bool granted;
};

const DwordCase kDwordCases[] = {
    {"read the AGP status", VXD_PCI_READ_CONFIG_DWORD, 0x0100, 0x48, true},
    {"read the last register", VXD_PCI_READ_CONFIG_DWORD, 0x0100, 0xFC, true},
    {"read past the space", VXD_PCI_READ_CONFIG_DWORD, 0x0100, 0x100, false},
    {"read unaligned", VXD_PCI_READ_CONFIG_DWORD, 0x0100, 0x4A, false},
    {"read an absent function", VXD_PCI_READ_CONFIG_DWORD, 0x0300, 0x00, false},
    {"read with bits above the address", VXD_PCI_READ_CONFIG_DWORD, 0x10100, 0x48, false},
    {"write the card's AGP command", VXD_PCI_WRITE_CONFIG_DWORD, 0x0100, 0x4C, true},
    {"write the bridge's AGP command", VXD_PCI_WRITE_CONFIG_DWORD, 0x0000, 0xA8, true},
    {"write the AGP status", VXD_PCI_WRITE_CONFIG_DWORD, 0x0100, 0x48, false},
    {"write the PCI command", VXD_PCI_WRITE_CONFIG_DWORD, 0x0100, 0x04, false},
    {"write BAR 0", VXD_PCI_WRITE_CONFIG_DWORD, 0x0100, 0x10, false},
    {"write a function without AGP", VXD_PCI_WRITE_CONFIG_DWORD, 0x0048, 0x4C, false},
    {"write inside the command register", VXD_PCI_WRITE_CONFIG_DWORD, 0x0100, 0x4E, false},
    {"write an absent function", VXD_PCI_WRITE_CONFIG_DWORD, 0x0300, 0x4C, false},
};

TEST(VxdConfig, DwordRequestsGrantWhatTheCoreGrants) {
    for (const DwordCase& c : kDwordCases) {
        SCOPED_TRACE(c.what);
        const bool write = c.code == VXD_PCI_WRITE_CONFIG_DWORD;
        ConfigPc core;
        PciConfigDwordRequest record = {busOf(c.address), slotOf(c.address), c.offset, 0x104};
        uint32_t written = 0;
        const int status = tavrolHandleRequest(
            core.fake.bus(), write ? IOCTL_PCI_WRITE_CONFIG_DWORD : IOCTL_PCI_READ_CONFIG_DWORD,
            &record, sizeof record, &record, sizeof record, &written);
        EXPECT_EQ(c.granted, status == TAVROL_STATUS_OK) << "the core";

        ConfigPc pc;
        LoadedVxd vxd(*pc.fake.bus());
        VxdPciDwordRequest out;
        const uint32_t error =
            vxd.send(c.code, VxdPciDwordRequest{c.address, c.offset, 0x104}, &out);
        EXPECT_EQ(c.granted, error == 0) << "the VxD answered " << error;
        if (!c.granted) {
            EXPECT_EQ(0u, vxd.returned());
            EXPECT_TRUE(pc.fake.configWrites.empty());
            continue;
        }
        EXPECT_EQ(write ? 0x104 : record.value, out.value);
        if (write) {
            ASSERT_EQ(1u, pc.fake.configWrites.size());
            EXPECT_EQ(c.offset, pc.fake.configWrites[0].offset);
            EXPECT_EQ(0x104u, pc.fake.configWrites[0].value);
        }
        EXPECT_EQ(sim::VxdHost::kForeignConfigAddress, vxd.host().configAddress())
            << "the configuration address port is given back as it was";
    }
}

TEST(VxdConfig, PresentWhereConfigurationMechanismOneAnswers) {
    for (bool absent : {false, true}) {
        SCOPED_TRACE(absent ? "no mechanism #1" : "mechanism #1");
        ConfigPc pc;
        LoadedVxd vxd(*pc.fake.bus());
        vxd.host().withoutConfigMechanism(absent);
        VxdPciDwordRequest out;
        const uint32_t error = vxd.send(VXD_PCI_PRESENT, VxdPciDwordRequest{}, &out);
        EXPECT_EQ(absent ? static_cast<uint32_t>(ERROR_GEN_FAILURE) : 0u, error);
        EXPECT_EQ(absent ? 0xBDBDBDBDu : TAVROL_PCI_SIGNATURE, out.value);
        EXPECT_EQ(sim::VxdHost::kForeignConfigAddress, vxd.host().configAddress());
    }
}

} // namespace
