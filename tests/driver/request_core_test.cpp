// The kernel driver's request core over a bus in memory: lengths, enumeration, access rules.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "driver/fake_bus.h"
#include "driver/straps_rule_cases.h"
#include "request_core.h"

namespace {

const uint32_t kSentinel = 0xdeadbeef;
const uint8_t kFill = 0xbd;

struct CodeAndSize {
    uint32_t code;
    uint32_t size;
};

const CodeAndSize kCodes[] = {
    {IOCTL_PCI_FIND_CLASS, sizeof(PciClassQuery)},
    {IOCTL_PCI_READ_CONFIG_SPACE, sizeof(PciConfigBlock)},
    {IOCTL_PCI_READ_CONFIG_DWORD, sizeof(PciConfigDwordRequest)},
    {IOCTL_PCI_WRITE_CONFIG_DWORD, sizeof(PciConfigDwordRequest)},
    {IOCTL_PHYS_READ_DWORD, sizeof(PhysDwordRequest)},
    {IOCTL_PHYS_WRITE_DWORD, sizeof(PhysDwordRequest)},
};

// Serves a request with separate input and output buffers; the output starts filled with kFill
// and one more kFill byte guards its end.
struct Call {
    int status = -1;
    uint32_t written = kSentinel;
    std::vector<uint8_t> output;
};

template <typename Record> Call serve(const FakeBus& fake, uint32_t code, const Record& input) {
    Call call;
    call.output.assign(sizeof(Record) + 1, kFill);
    call.status = tavrolHandleRequest(fake.bus(), code, &input, sizeof input, call.output.data(),
                                      sizeof(Record), &call.written);
    EXPECT_EQ(kFill, call.output.back()) << "written past the output record";
    return call;
}

template <typename Record> Record outputOf(const Call& call) {
    Record record;
    std::memcpy(&record, call.output.data(), sizeof record);
    return record;
}

bool untouched(const Call& call) {
    for (size_t i = 0; i + 1 < call.output.size(); ++i)
        if (call.output[i] != kFill)
            return false;
    return true;
}

// A machine: host bridge with AGP at 0:0.0, ISA bridge at 0:7.0 (multi-function) with IDE at
// 0:7.1, a network card with a memory BAR at 0:9.0, and an AGP VGA card at 1:0.0.
struct SmallPc {
    FakeBus fake;
    SmallPc() {
        FakeBus::addAgp(fake.add(0, 0, 0, 0x060000), 0xA0, 0x00000102);
        fake.add(0, 7, 0, 0x060100, 0x80);
        fake.add(0, 7, 1, 0x01018A);
        FakeBus::setDword(fake.add(0, 9, 0, 0x020000), 0x10, 0xE4000000);
        FakeBus::Function& vga = fake.add(1, 0, 0, 0x030000, 0, 0x10DE);
        FakeBus::setDword(vga, 0x04, 0x0007); // memory decoding on
        FakeBus::setDword(vga, 0x10, 0xE0000000);
        FakeBus::addAgp(vga, 0x44, 0x1F000102);
        vga.config[0x34] = 0x60; // power management first, then AGP
        vga.config[0x60] = 1;
        vga.config[0x61] = 0x44;
    }
};

TEST(RequestLengths, EveryCodeRefusesEveryWrongLengthBeforeTouchingAnything) {
    for (const CodeAndSize& c : kCodes) {
        const uint32_t wrong[][2] = {
            {c.size - 1, c.size}, {c.size + 1, c.size}, {0, c.size}, {c.size, c.size - 1},
            {c.size, c.size + 1}, {c.size, 0},          {0, 0}};
        for (const auto& lengths : wrong) {
            SCOPED_TRACE(testing::Message() << std::hex << "code 0x" << c.code << std::dec << " in "
                                            << lengths[0] << " out " << lengths[1]);
            SmallPc pc;
            std::vector<uint8_t> input(c.size + 2, 0);
            std::vector<uint8_t> output(c.size + 2, kFill);
            uint32_t written = kSentinel;
            int status = tavrolHandleRequest(pc.fake.bus(), c.code, input.data(), lengths[0],
                                             output.data(), lengths[1], &written);
            EXPECT_EQ(TAVROL_STATUS_BAD_LENGTH, status);
            EXPECT_EQ(0u, written);
            EXPECT_EQ(std::vector<uint8_t>(c.size + 2, kFill), output);
            EXPECT_EQ(0, pc.fake.configReads);
            EXPECT_EQ(0, pc.fake.physAccesses);
        }
    }
}

TEST(RequestLengths, UnknownCodesAreInvalidRequests) {
    const uint32_t unknown[] = {0, 1, 2, 0x80012418, 0x80012401, 0x800123FC, 0x00012400};
    for (uint32_t code : unknown) {
        SCOPED_TRACE(testing::Message() << std::hex << "code 0x" << code);
        SmallPc pc;
        PciConfigDwordRequest request = {1, 0, 0, 0};
        uint32_t written = kSentinel;
        EXPECT_EQ(TAVROL_STATUS_INVALID_REQUEST,
                  tavrolHandleRequest(pc.fake.bus(), code, &request, sizeof request, &request,
                                      sizeof request, &written));
        EXPECT_EQ(0u, written);
        EXPECT_EQ(0, pc.fake.configReads);
    }
}

TEST(RequestLengths, SuccessReportsExactlyTheRecordSize) {
    SmallPc pc;
    pc.fake.phys[0xE0101000] = 0xE00;
    PciClassQuery query = {};
    query.classCode = 0x030000;
    EXPECT_EQ(sizeof(PciClassQuery), serve(pc.fake, IOCTL_PCI_FIND_CLASS, query).written);
    PciConfigBlock block = {1, 0, {}};
    EXPECT_EQ(sizeof(PciConfigBlock), serve(pc.fake, IOCTL_PCI_READ_CONFIG_SPACE, block).written);
    PciConfigDwordRequest dword = {1, 0, 0x4C, 0x1F000104};
    EXPECT_EQ(16u, serve(pc.fake, IOCTL_PCI_READ_CONFIG_DWORD, dword).written);
    EXPECT_EQ(16u, serve(pc.fake, IOCTL_PCI_WRITE_CONFIG_DWORD, dword).written);
    EXPECT_EQ(16u, serve(pc.fake, IOCTL_PHYS_READ_DWORD, physRequest(1, 0xE0101000)).written);
    EXPECT_EQ(16u, serve(pc.fake, IOCTL_PHYS_WRITE_DWORD, physRequest(1, 0xE0101000)).written);
}

TEST(FindClass, ListsMatchesInBusDeviceFunctionOrder) {
    FakeBus fake;
    // Added out of order; function 1 of 0:3 is hidden because 0:3.0 is not multi-function.
    fake.add(2, 5, 0, 0x030000);
    fake.add(0, 3, 0, 0x030000);
    fake.add(0, 3, 1, 0x030000);
    fake.add(0, 0x1F, 0, 0x060100, 0x80);
    fake.add(0, 0x1F, 3, 0x030000);
    fake.add(255, 31, 0, 0x030000);
    fake.add(1, 0, 0, 0x030001);            // other programming interface
    fake.add(1, 2, 0, 0x030000, 0, 0xFFFF); // vendor 0xFFFF: no function there
    PciClassQuery query;
    std::memset(&query, 0xbd, sizeof query);
    query.classCode = 0x030000;
    Call call = serve(fake, IOCTL_PCI_FIND_CLASS, query);
    ASSERT_EQ(TAVROL_STATUS_OK, call.status);
    PciClassQuery result = outputOf<PciClassQuery>(call);
    ASSERT_EQ(4u, result.count);
    const PciClassEntry expected[] = {{0, 3}, {0, 0x1F | (3 << 5)}, {2, 5}, {255, 31}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(expected[i].bus, result.entries[i].bus) << "entry " << i;
        EXPECT_EQ(expected[i].slot, result.entries[i].slot) << "entry " << i;
    }
    EXPECT_EQ(0x030000u, result.classCode);
    EXPECT_EQ(0u, result.entries[4].bus) << "entries past the count carry input bytes";
    EXPECT_EQ(0u, result.entries[49].slot);
}

TEST(FindClass, StopsListingAtFifty) {
    FakeBus fake;
    for (uint32_t bus = 0; bus < 3; ++bus)
        for (uint32_t device = 0; device < 20; ++device)
            fake.add(bus, device, 0, 0x060000);
    PciClassQuery query = {};
    query.classCode = 0x060000;
    Call call = serve(fake, IOCTL_PCI_FIND_CLASS, query);
    ASSERT_EQ(TAVROL_STATUS_OK, call.status);
    PciClassQuery result = outputOf<PciClassQuery>(call);
    ASSERT_EQ(50u, result.count);
    EXPECT_EQ(0u, result.entries[0].bus);
    EXPECT_EQ(2u, result.entries[49].bus);
    EXPECT_EQ(9u, result.entries[49].slot) << "the fiftieth match is bus 2 device 9";
}

TEST(FindClass, NoMatchIsAnEmptyList) {
    SmallPc pc;
    PciClassQuery query = {};
    query.classCode = 0x0C0300;
    Call call = serve(pc.fake, IOCTL_PCI_FIND_CLASS, query);
    EXPECT_EQ(TAVROL_STATUS_OK, call.status);
    EXPECT_EQ(0u, outputOf<PciClassQuery>(call).count);
}

TEST(Aliasing, OneBufferForInputAndOutputWorks) {
    SmallPc pc;
    PciClassQuery query;
    std::memset(&query, 0, sizeof query);
    query.classCode = 0x030000;
    uint32_t written = kSentinel;
    ASSERT_EQ(TAVROL_STATUS_OK, tavrolHandleRequest(pc.fake.bus(), IOCTL_PCI_FIND_CLASS, &query,
                                                    sizeof query, &query, sizeof query, &written));
    EXPECT_EQ(1u, query.count);
    EXPECT_EQ(1u, query.entries[0].bus);
    EXPECT_EQ(0u, query.entries[0].slot);

    PciConfigBlock block;
    std::memset(&block, 0, sizeof block);
    block.bus = 1;
    ASSERT_EQ(TAVROL_STATUS_OK,
              tavrolHandleRequest(pc.fake.bus(), IOCTL_PCI_READ_CONFIG_SPACE, &block, sizeof block,
                                  &block, sizeof block, &written));
    EXPECT_EQ(0xDEu, block.config[0]);
    EXPECT_EQ(0x44u, block.config[0x61]);

    PhysDwordRequest phys = physRequest(1, 0xE0101000);
    pc.fake.phys[0xE0101000] = 0x00000E00;
    ASSERT_EQ(TAVROL_STATUS_OK, tavrolHandleRequest(pc.fake.bus(), IOCTL_PHYS_READ_DWORD, &phys,
                                                    sizeof phys, &phys, sizeof phys, &written));
    EXPECT_EQ(0x00000E00u, phys.value);
    EXPECT_EQ(0xE0101000u, phys.addressLow) << "the request fields come back unchanged";
}

TEST(ConfigRequests, ReadSpaceFillsTheWholeBlock) {
    SmallPc pc;
    PciConfigBlock block = {1, 0, {}};
    Call call = serve(pc.fake, IOCTL_PCI_READ_CONFIG_SPACE, block);
    ASSERT_EQ(TAVROL_STATUS_OK, call.status);
    PciConfigBlock result = outputOf<PciConfigBlock>(call);
    EXPECT_EQ(1u, result.bus);
    EXPECT_EQ(0u, result.slot);
    EXPECT_EQ(0x1F000102u, result.config[0x4C] | result.config[0x4D] << 8 |
                               result.config[0x4E] << 16 |
                               static_cast<uint32_t>(result.config[0x4F]) << 24);
}

TEST(ConfigRequests, AbsentOrFailingFunctionsAreDeviceErrors) {
    SmallPc pc;
    PciConfigBlock absent = {1, 1, {}};
    Call call = serve(pc.fake, IOCTL_PCI_READ_CONFIG_SPACE, absent);
    EXPECT_EQ(TAVROL_STATUS_DEVICE_ERROR, call.status);
    EXPECT_EQ(0u, call.written);
    EXPECT_TRUE(untouched(call));

    pc.fake.failingReads.push_back({1, 0});
    PciConfigDwordRequest read = {1, 0, 0x00, kSentinel};
    call = serve(pc.fake, IOCTL_PCI_READ_CONFIG_DWORD, read);
    EXPECT_EQ(TAVROL_STATUS_DEVICE_ERROR, call.status);
    EXPECT_EQ(0u, call.written);
    EXPECT_TRUE(untouched(call));
}

TEST(ConfigRequests, ReadDwordNeedsAnAlignedRegisterInsideTheSpace) {
    SmallPc pc;
    PciConfigDwordRequest request = {1, 0, 0x48, kSentinel};
    Call call = serve(pc.fake, IOCTL_PCI_READ_CONFIG_DWORD, request);
    ASSERT_EQ(TAVROL_STATUS_OK, call.status);
    EXPECT_EQ(0x1F000217u, outputOf<PciConfigDwordRequest>(call).value);

    request.offset = 0xFC;
    EXPECT_EQ(TAVROL_STATUS_OK, serve(pc.fake, IOCTL_PCI_READ_CONFIG_DWORD, request).status);
    const uint32_t refused[] = {0x100, 0x4A, 0x49, 0xFFFF, 0x10048};
    for (uint32_t offset : refused) {
        request.offset = offset;
        call = serve(pc.fake, IOCTL_PCI_READ_CONFIG_DWORD, request);
        EXPECT_EQ(TAVROL_STATUS_ACCESS_DENIED, call.status) << "offset 0x" << std::hex << offset;
        EXPECT_EQ(0u, call.written);
        EXPECT_TRUE(untouched(call));
    }
}

// A bus above 255 or a slot word with reserved bits names no function: refused before the bus
// is asked, where a platform would take the low bits and reach 01:00.0.
TEST(AccessRules, ConfigRequestsNeedABusAndSlotThatNameAFunction) {
    const uint32_t kCommand = 0x4C;
    const uint32_t refused[][2] = {{0x101, 0}, {0xFFFFFFFF, 0}, {1, 0x100}, {1, 0x80000000}};
    for (const auto& at : refused) {
        SCOPED_TRACE(testing::Message() << std::hex << "bus 0x" << at[0] << " slot 0x" << at[1]);
        SmallPc pc;
        PciConfigBlock block = {at[0], at[1], {}};
        PciConfigDwordRequest dword = {at[0], at[1], kCommand, 0x1F000104};
        const Call calls[] = {serve(pc.fake, IOCTL_PCI_READ_CONFIG_SPACE, block),
                              serve(pc.fake, IOCTL_PCI_READ_CONFIG_DWORD, dword),
                              serve(pc.fake, IOCTL_PCI_WRITE_CONFIG_DWORD, dword)};
        for (const Call& call : calls) {
            EXPECT_EQ(TAVROL_STATUS_ACCESS_DENIED, call.status);
            EXPECT_TRUE(untouched(call));
        }
        EXPECT_EQ(0, pc.fake.configReads);
        EXPECT_TRUE(pc.fake.configWrites.empty());
    }
}

TEST(AccessRules, ConfigWritesReachOnlyTheAgpCommandRegister) {
    SmallPc pc;
    PciConfigDwordRequest command = {1, 0, 0x4C, 0x1F000104};
    ASSERT_EQ(TAVROL_STATUS_OK, serve(pc.fake, IOCTL_PCI_WRITE_CONFIG_DWORD, command).status);
    ASSERT_EQ(1u, pc.fake.configWrites.size());
    EXPECT_EQ(0x4Cu, pc.fake.configWrites[0].offset);
    EXPECT_EQ(0x1F000104u, pc.fake.configWrites[0].value);

    PciConfigDwordRequest bridge = {0, 0, 0xA8, 0x104};
    EXPECT_EQ(TAVROL_STATUS_OK, serve(pc.fake, IOCTL_PCI_WRITE_CONFIG_DWORD, bridge).status);

    const PciConfigDwordRequest refused[] = {
        {1, 0, 0x48, 0x1F000217},     // AGP status
        {1, 0, 0x04, 0x0},            // PCI command
        {1, 0, 0x10, 0x0},            // BAR 0
        {1, 0, 0x4D, 0x0},            // unaligned inside the command register
        {0, 7 | (1 << 5), 0x4C, 0x0}, // IDE function without AGP
        {0, 9, 0x4C, 0x0},            // network card without AGP
        {1, 1, 0x4C, 0x0},            // absent function
    };
    for (const PciConfigDwordRequest& request : refused) {
        SCOPED_TRACE(testing::Message() << "bus " << request.bus << " slot " << request.slot
                                        << std::hex << " offset 0x" << request.offset);
        Call call = serve(pc.fake, IOCTL_PCI_WRITE_CONFIG_DWORD, request);
        EXPECT_NE(TAVROL_STATUS_OK, call.status);
        EXPECT_EQ(0u, call.written);
    }
    EXPECT_EQ(2u, pc.fake.configWrites.size()) << "a refused write reached the bus";
}

// The write rule finds the AGP command register by the PCI rule: a chain is followed only when
// the status register announces one and the header is of type 0 or 1. A CardBus bridge's I/O
// base registers can look like a chain that names 0x4C.
TEST(AccessRules, OnlyAnAnnouncedCapabilityListNamesTheCommandRegister) {
    struct Case {
        const char* name;
        uint8_t status;
        uint8_t headerType;
        bool accepted;
    } cases[] = {
        {"announced, type 0", 0x10, 0x00, true},
        {"announced, PCI-to-PCI bridge", 0x10, 0x01, true},
        {"no capability list", 0x00, 0x00, false},
        {"CardBus bridge", 0x10, 0x02, false},
        {"multi-function CardBus bridge", 0x10, 0x82, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeBus fake;
        FakeBus::Function& f = fake.add(0, 0, 0, 0x060700, c.headerType);
        FakeBus::addAgp(f, 0x44);
        f.config[0x06] = c.status;
        PciConfigDwordRequest request = {0, 0, 0x4C, 0x102};
        Call call = serve(fake, IOCTL_PCI_WRITE_CONFIG_DWORD, request);
        EXPECT_EQ(c.accepted ? TAVROL_STATUS_OK : TAVROL_STATUS_ACCESS_DENIED, call.status);
        EXPECT_EQ(c.accepted ? 1u : 0u, fake.configWrites.size());
    }
}

TEST(AccessRules, ALoopingCapabilityChainEndsWithoutAgp) {
    FakeBus fake;
    FakeBus::Function& f = fake.add(0, 0, 0, 0x060000);
    f.config[0x06] = 0x10;
    f.config[0x34] = 0x40;
    f.config[0x40] = 1;
    f.config[0x41] = 0x50;
    f.config[0x50] = 5;
    f.config[0x51] = 0x40; // back to the first entry
    PciConfigDwordRequest request = {0, 0, 0x48, 0x102};
    Call call = serve(fake, IOCTL_PCI_WRITE_CONFIG_DWORD, request);
    EXPECT_EQ(TAVROL_STATUS_ACCESS_DENIED, call.status);
    EXPECT_TRUE(fake.configWrites.empty());
    EXPECT_LT(fake.configReads, 200) << "the capability walk did not stop";
}

class PhysRule : public testing::TestWithParam<PhysCase> {};

TEST_P(PhysRule, ServesOnlyTheStrapsOfADecodedNvidiaBar) {
    const PhysCase& c = GetParam();
    FakeBus fake;
    addStrapsCard(fake, c);
    const uint64_t address = (uint64_t(c.request.addressHigh) << 32) | c.request.addressLow;
    fake.phys[address] = 0x00000E00;

    PhysDwordRequest read = c.request;
    Call call = serve(fake, IOCTL_PHYS_READ_DWORD, read);
    PhysDwordRequest write = c.request;
    write.value = 0x80000000;
    Call written = serve(fake, IOCTL_PHYS_WRITE_DWORD, write);
    if (c.served) {
        ASSERT_EQ(TAVROL_STATUS_OK, call.status);
        EXPECT_EQ(0x00000E00u, outputOf<PhysDwordRequest>(call).value);
        EXPECT_EQ(TAVROL_STATUS_OK, written.status);
        EXPECT_EQ(0x80000000u, fake.phys[address]);
        return;
    }
    for (const Call* refused : {&call, &written}) {
        EXPECT_EQ(TAVROL_STATUS_ACCESS_DENIED, refused->status);
        EXPECT_EQ(0u, refused->written);
        EXPECT_TRUE(untouched(*refused));
    }
    EXPECT_EQ(0, fake.physAccesses) << "a refused request reached memory";
    EXPECT_EQ(0x00000E00u, fake.phys[address]);
}

INSTANTIATE_TEST_SUITE_P(StrapsOnly, PhysRule, testing::ValuesIn(kPhysCases), physCaseName);

// A device has no namespace: only an open of the device itself goes on.
TEST(CreateRule, OnlyTheDeviceItselfOpens) {
    struct Case {
        uint32_t fileNameLength; // bytes of the name after "\Device\Tavrol"
        int related;
        int allowed;
    } cases[] = {
        {0, 0, 1},  // "\\.\Tavrol"
        {2, 0, 0},  // "\\.\Tavrol\"
        {18, 0, 0}, // "\\.\Tavrol\anything"
        {0, 1, 0},  // relative to another handle, no name
        {18, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "name length " << c.fileNameLength << ", related " << c.related);
        EXPECT_EQ(c.allowed, tavrolCreateAllowed(c.fileNameLength, c.related));
    }
}

} // namespace
