// The hardware access channel on both platforms: address forms, request records, BIOS calls,
// and what each operation leaves behind when the device or the request fails.
#include <gtest/gtest.h>

#include <cstring>

#include "agp_pc.h"
#include "tavrol_ioctl.h"

using namespace agptest;

namespace {

// ---------------------------------------------------------------------------------------------
// Address forms

struct AddressForm {
    DWORD bus;
    DWORD slotWord;
    PciAddress address;
};

void PrintTo(const AddressForm& value, std::ostream* out) {
    *out << std::hex << "bus 0x" << value.bus << " slot 0x" << value.slotWord << " address 0x"
         << value.address;
}

class AddressForms : public testing::TestWithParam<AddressForm> {};

TEST_P(AddressForms, ConvertBothWays) {
    const AddressForm& form = GetParam();
    EXPECT_EQ(form.address, pciAddressOf(form.bus, form.slotWord));
    EXPECT_EQ(form.bus, pciBusOf(form.address));
    EXPECT_EQ(form.slotWord, pciSlotWordOf(form.address));
}

// Device and function sit in opposite places in the two forms: only asymmetric values show a
// swap, so device 5 function 2, device 31 function 0 and device 0 function 7 are all here.
INSTANTIATE_TEST_SUITE_P(Functions, AddressForms,
                         testing::Values(AddressForm{1, 0x45, 0x012A}, AddressForm{0, 0, 0},
                                         AddressForm{2, 0x1F, 0x02F8}, AddressForm{0, 0xE0, 0x0007},
                                         AddressForm{0xFF, 0xFF, 0xFFFF}));

TEST(AddressFormsLimits, KeepOnlyTheLowByteOfTheBus) {
    EXPECT_EQ(0x012A, pciAddressOf(0x101, 0x45));
    EXPECT_EQ(0x012A, pciAddressOf(1, 0x145)) << "slot bits above 7 leaked into the address";
}

// ---------------------------------------------------------------------------------------------
// A PC with a multi-function device at 01:05 so that 01:05.2 (0x012A) exists, and its driver
// started as a run of the program would leave it.

constexpr uint32_t kProbeRegister = 0x44;
constexpr uint32_t kProbeValue = 0xCAFEF00D;

PcSpec channelPc(bool nt) {
    PcSpec layout = agpPc(nt, kStatus4xSbaFw, kCommand2x, kStatus4xSbaFw, kCommand2x);
    sim::PciFunctionImage audio = pciFunction(1, 5, 0, 0x1102, 0x0002, 0x040100);
    audio.config[0x0E] = 0x80; // multi-function device
    sim::PciFunctionImage joystick = pciFunction(1, 5, 2, 0x1102, 0x7002, 0x098000);
    putDword(&joystick, kProbeRegister, kProbeValue);
    layout.functions.push_back(audio);
    layout.functions.push_back(joystick);
    return layout;
}

class ChannelTest : public testing::Test {
  protected:
    // Boots the PC and selects the back end; on NT the driver is installed and started first.
    void start(const PcSpec& layout) {
        m_pc = boot(layout);
        ASSERT_TRUE(m_pc.ok());
        isNt = layout.nt ? 1 : 0;
        if (layout.nt) {
            ASSERT_EQ(0, installDriver());
        }
        sim::machine().clearTrace();
    }

    // One device request with its opening and closing, and nothing else, was made.
    const sim::TraceEntry& onlyRequest(const char* device) {
        SCOPED_TRACE(sim::machine().traceText());
        std::vector<sim::TraceEntry> requests = hardwareRequests();
        EXPECT_EQ(1u, requests.size());
        EXPECT_EQ(1u, sim::machine().traceOf(sim::TraceKind::DeviceOpen).size());
        EXPECT_EQ(1u, sim::machine().traceOf(sim::TraceKind::DeviceClose).size());
        EXPECT_EQ(0, sim::machine().openDeviceCount(device)) << "the device was left open";
        static sim::TraceEntry none;
        if (requests.empty())
            return none;
        m_request = requests.front();
        EXPECT_EQ(device, m_request.name);
        return m_request;
    }

    sim::TestPc m_pc;
    sim::TraceEntry m_request;
};

const char kDriverDevice[] = "\\\\.\\Tavrol";
const char kVxdDevice[] = "\\\\.\\TAVROL.VXD";

// ---------------------------------------------------------------------------------------------
// NT: one request per operation with the exact records

TEST_F(ChannelTest, NtReadConfigDwordSendsBusSlotAndOffset) {
    ASSERT_NO_FATAL_FAILURE(start(channelPc(true)));
    DWORD value = 0xdeadbeef;
    ASSERT_EQ(1, readConfigDword(0x012A, kProbeRegister, &value));
    EXPECT_EQ(kProbeValue, value) << std::hex << "got 0x" << value;
    const sim::TraceEntry& request = onlyRequest(kDriverDevice);
    EXPECT_EQ((uint32_t)IOCTL_PCI_READ_CONFIG_DWORD, request.code);
    ASSERT_EQ(16u, request.input.size());
    std::vector<uint8_t> head(request.input.begin(), request.input.begin() + 12);
    EXPECT_EQ(bytesOf({1, 0x45, 0x44}), head);
}

TEST_F(ChannelTest, NtWriteConfigDwordSendsTheValue) {
    ASSERT_NO_FATAL_FAILURE(start(channelPc(true)));
    ASSERT_EQ(1, writeConfigDword(kGraphics, kGraphicsCap + 8, 0x00000104));
    const sim::TraceEntry& request = onlyRequest(kDriverDevice);
    EXPECT_EQ((uint32_t)IOCTL_PCI_WRITE_CONFIG_DWORD, request.code);
    EXPECT_EQ(bytesOf({1, 0, kGraphicsCap + 8, 0x104}), request.input);
    EXPECT_EQ(0x104u, sim::machine().configDword(1, 0, 0, kGraphicsCap + 8) & 0x7FF);
}

// The offset is widened without sign: 0xFFFC is a register offset, not -4.
TEST_F(ChannelTest, NtRegisterOffsetIsZeroExtended) {
    ASSERT_NO_FATAL_FAILURE(start(channelPc(true)));
    DWORD value = 0xdeadbeef;
    readConfigDword(kGraphics, 0xFFFC, &value);
    writeConfigDword(kGraphics, 0x8004, 0);
    std::vector<RegisterAccess> accesses = registerAccesses();
    ASSERT_EQ(2u, accesses.size()) << sim::machine().traceText();
    EXPECT_EQ(0xFFFCu, accesses[0].offset);
    EXPECT_EQ(0x8004u, accesses[1].offset);
}

TEST_F(ChannelTest, NtReadConfigSpaceCopiesTheWholeSpace) {
    ASSERT_NO_FATAL_FAILURE(start(channelPc(true)));
    BYTE buffer[257];
    memset(buffer, 0xbd, sizeof buffer);
    ASSERT_EQ(1, readConfigSpace(0x012A, buffer));
    const sim::PciFunctionImage* joystick = sim::machine().function(1, 5, 2);
    ASSERT_NE(nullptr, joystick);
    EXPECT_EQ(0, memcmp(joystick->config, buffer, 256));
    EXPECT_EQ(0xbd, buffer[256]) << "written past the 256-byte buffer";
    const sim::TraceEntry& request = onlyRequest(kDriverDevice);
    EXPECT_EQ((uint32_t)IOCTL_PCI_READ_CONFIG_SPACE, request.code);
    ASSERT_EQ(sizeof(PciConfigBlock), request.input.size());
    EXPECT_EQ(bytesOf({1, 0x45}),
              std::vector<uint8_t>(request.input.begin(), request.input.begin() + 8));
}

// Reads that fail leave the caller's buffer or value as they were.
TEST_F(ChannelTest, NtFailedReadsLeaveTheOutputsAlone) {
    PcSpec layout = channelPc(true);
    layout.directives.push_back("request-fail 0x80012404");
    layout.directives.push_back("request-fail 0x80012408");
    ASSERT_NO_FATAL_FAILURE(start(layout));
    BYTE buffer[256];
    memset(buffer, 0xbd, sizeof buffer);
    EXPECT_EQ(0, readConfigSpace(kGraphics, buffer));
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(0xbd, buffer[i]) << "byte " << i << " was written";
    DWORD value = 0xdeadbeef;
    EXPECT_EQ(0, readConfigDword(kGraphics, 0, &value));
    EXPECT_EQ(0xdeadbeefu, value);
    EXPECT_EQ(0, sim::machine().openDeviceCount(kDriverDevice));
}

// A function the driver does not know: the request fails and the value is untouched.
TEST_F(ChannelTest, NtReadOfAMissingFunctionFails) {
    ASSERT_NO_FATAL_FAILURE(start(channelPc(true)));
    DWORD value = 0xdeadbeef;
    EXPECT_EQ(0, readConfigDword(0x0738, 0, &value)); // 07:07.0
    EXPECT_EQ(0xdeadbeefu, value);
}

// ---------------------------------------------------------------------------------------------
// NT: the find-class list and the index into it

PcSpec threeDisplaysPc(bool nt) {
    PcSpec layout = channelPc(nt);
    layout.functions.push_back(pciFunction(0, 0x0A, 0, 0x5333, 0x8A22, PCI_CLASS_VGA));
    layout.functions.push_back(pciFunction(0, 0x0B, 0, 0x102B, 0x0525, PCI_CLASS_VGA));
    return layout; // VGA functions: 00:0a.0, 00:0b.0, 01:00.0
}

struct IndexCase {
    DWORD classCode;
    DWORD index;
    int expected;
    PciAddress address; // when found
};

void PrintTo(const IndexCase& value, std::ostream* out) {
    *out << std::hex << "class 0x" << value.classCode << " index 0x" << value.index;
}

class FindClassIndex : public ChannelTest, public testing::WithParamInterface<IndexCase> {};

TEST_P(FindClassIndex, TakesTheIndexedMatchOrLeavesTheOutput) {
    const IndexCase& test = GetParam();
    ASSERT_NO_FATAL_FAILURE(start(threeDisplaysPc(true)));
    PciAddress address = 0xBEEF;
    EXPECT_EQ(test.expected, findPciClass(test.classCode, test.index, &address));
    EXPECT_EQ(test.expected ? test.address : 0xBEEF, address) << std::hex << "got 0x" << address;
    const sim::TraceEntry& request = onlyRequest(kDriverDevice);
    EXPECT_EQ((uint32_t)IOCTL_PCI_FIND_CLASS, request.code);
    ASSERT_EQ(sizeof(PciClassQuery), request.input.size());
    EXPECT_EQ(bytesOf({test.classCode}),
              std::vector<uint8_t>(request.input.begin(), request.input.begin() + 4));
}

INSTANTIATE_TEST_SUITE_P(
    Indexes, FindClassIndex,
    testing::Values(IndexCase{PCI_CLASS_VGA, 0, 1, 0x0050},         // first listed
                    IndexCase{PCI_CLASS_VGA, 2, 1, 0x0100},         // count - 1: the last
                    IndexCase{PCI_CLASS_VGA, 3, 0, 0},              // count
                    IndexCase{PCI_CLASS_VGA, 0x10000, 0, 0},        // far beyond
                    IndexCase{PCI_CLASS_HOST_BRIDGE, 0, 1, 0x0000}, // the host bridge
                    IndexCase{0x0C0300, 0, 0, 0}));                 // count 0: no USB here

// The list holds 50 entries: the 50th match is the last one that can be asked for. (The driver
// lists no more than 50, so its count never exceeds the list here.)
TEST(FindClassLimit, IndexBeyondTheListIsRefused) {
    PcSpec layout;
    layout.nt = true;
    for (int device = 0; device < 31; ++device) {
        layout.functions.push_back(pciFunction(2, device, 0, 0x5333, 0x8811, PCI_CLASS_VGA));
        layout.functions.push_back(pciFunction(3, device, 0, 0x5333, 0x8811, PCI_CLASS_VGA));
    }
    sim::TestPc pc = boot(layout);
    ASSERT_TRUE(pc.ok());
    isNt = 1;
    ASSERT_EQ(0, installDriver());
    PciAddress address = 0xBEEF;
    EXPECT_EQ(1, findPciClass(PCI_CLASS_VGA, 49, &address));
    EXPECT_EQ(0x0390, address) << std::hex << "got 0x" << address; // 03:12.0, the 50th
    address = 0xBEEF;
    EXPECT_EQ(0, findPciClass(PCI_CLASS_VGA, 50, &address));
    EXPECT_EQ(0xBEEF, address);
}

// ---------------------------------------------------------------------------------------------
// Physical memory, both platforms

struct PhysCase {
    bool nt;
    const char* device;
    uint32_t readCode;
    uint32_t writeCode;
};

void PrintTo(const PhysCase& value, std::ostream* out) {
    *out << value.device;
}

// The channel's PC with an NVIDIA card in place of the ATI one: the drivers serve its straps.
class PhysicalMemory : public ChannelTest, public testing::WithParamInterface<PhysCase> {
  protected:
    PcSpec physPc() {
        PcSpec layout = channelPc(GetParam().nt);
        layout.functions[2] = nvidiaCard(kStatus4xSbaFw, kCommand2x);
        return layout;
    }
};

// The straps register: the NVIDIA card's BAR 0 (0xE0000000) + 0x101000.
constexpr DWORD kCardRegisters = 0xE0101000;

// The drivers serve only the card's straps, so the well-known example address is refused after
// the request went out; the straps themselves are written.
TEST_P(PhysicalMemory, WriteSendsTheRecordOfThePlatform) {
    ASSERT_NO_FATAL_FAILURE(start(physPc()));
    EXPECT_EQ(0, writePhysDword(1, 0x101000, 0x80000000));
    const sim::TraceEntry& request = onlyRequest(GetParam().device);
    EXPECT_EQ(GetParam().writeCode, request.code);
    if (GetParam().nt)
        EXPECT_EQ(bytesOf({1, 0x101000, 0, 0x80000000}), request.input);
    else
        EXPECT_EQ(bytesOf({1, 0x101000, 0x80000000}), request.input);

    EXPECT_EQ(1, writePhysDword(1, kCardRegisters, 0x80000000)) << sim::machine().traceText();
    EXPECT_EQ(0x80000000u, sim::machine().physWord(kCardRegisters));
}

TEST_P(PhysicalMemory, ReadTakesTheValueField) {
    PcSpec layout = physPc();
    layout.directives.push_back("phys 0xE0101000 0x12345E67");
    ASSERT_NO_FATAL_FAILURE(start(layout));
    DWORD value = 0xdeadbeef;
    ASSERT_EQ(0, readPhysDword(1, kCardRegisters, &value)) << sim::machine().traceText();
    EXPECT_EQ(0x12345E67u, value) << std::hex << "got 0x" << value;
    const sim::TraceEntry& request = onlyRequest(GetParam().device);
    EXPECT_EQ(GetParam().readCode, request.code);
    std::vector<uint8_t> head(request.input.begin(), request.input.begin() + 8);
    EXPECT_EQ(bytesOf({1, kCardRegisters}), head);
}

// The kernel driver's device is opened for reading and writing, unshared; the virtual device
// driver with no access and delete-on-close, so that the system unloads it at the close.
TEST_P(PhysicalMemory, DeviceIsOpenedTheWayItsDriverNeeds) {
    ASSERT_NO_FATAL_FAILURE(start(physPc()));
    DWORD value = 0;
    ASSERT_EQ(0, readPhysDword(1, kCardRegisters, &value));
    std::vector<sim::TraceEntry> opens = sim::machine().traceOf(sim::TraceKind::DeviceOpen);
    ASSERT_EQ(1u, opens.size());
    const char* expected = GetParam().nt
                               ? "access=0xC0000000 share=0x0 security=null disposition=3 "
                                 "flags=0x00000080 template=null"
                               : "access=0x00000000 share=0x0 security=null disposition=3 "
                                 "flags=0x04000000 template=null";
    EXPECT_EQ(expected, opens[0].detail);
}

// The 64-bit address of the kernel driver's record carries 0 in its high half, whatever the low
// half holds (no sign extension of an address above 2 GiB).
TEST_P(PhysicalMemory, HighHalfOfTheAddressIsZero) {
    ASSERT_NO_FATAL_FAILURE(start(physPc()));
    DWORD value = 0xdeadbeef;
    readPhysDword(1, 0xFFFFFFFC, &value);
    writePhysDword(1, 0x80000000, 0);
    std::vector<sim::TraceEntry> requests = hardwareRequests();
    ASSERT_EQ(2u, requests.size());
    size_t size = GetParam().nt ? 16 : 12;
    for (const sim::TraceEntry& request : requests)
        ASSERT_EQ(size, request.input.size()) << request.toString();
    std::vector<uint8_t> readAddress(requests[0].input.begin() + 4,
                                     requests[0].input.begin() + (GetParam().nt ? 12 : 8));
    std::vector<uint8_t> writeAddress(requests[1].input.begin() + 4,
                                      requests[1].input.begin() + (GetParam().nt ? 12 : 8));
    if (GetParam().nt) {
        EXPECT_EQ(bytesOf({0xFFFFFFFC, 0}), readAddress);
        EXPECT_EQ(bytesOf({0x80000000, 0}), writeAddress);
    } else {
        EXPECT_EQ(bytesOf({0xFFFFFFFC}), readAddress);
        EXPECT_EQ(bytesOf({0x80000000}), writeAddress);
    }
}

TEST_P(PhysicalMemory, FailedRequestGivesTwoAndLeavesTheValue) {
    PcSpec layout = physPc();
    layout.directives.push_back(GetParam().nt ? "request-fail 0x80012410" : "request-fail 1");
    layout.directives.push_back(GetParam().nt ? "request-fail 0x8001A414" : "request-fail 2");
    ASSERT_NO_FATAL_FAILURE(start(layout));
    DWORD value = 0xdeadbeef;
    EXPECT_EQ(2, readPhysDword(1, kCardRegisters, &value));
    EXPECT_EQ(0xdeadbeefu, value);
    EXPECT_EQ(0, writePhysDword(1, kCardRegisters, 0x80000000));
    EXPECT_EQ(0, sim::machine().openDeviceCount(GetParam().device));
}

// With no device the read reports 1 and leaves the open's error for the caller; the write
// reports 0. Neither sends a request.
TEST_P(PhysicalMemory, MissingDeviceKeepsTheOpenError) {
    PcSpec layout = physPc();
    if (!GetParam().nt)
        layout.directives.push_back("vxd absent");
    m_pc = boot(layout);
    ASSERT_TRUE(m_pc.ok());
    isNt = GetParam().nt ? 1 : 0; // on NT the driver is not started, so its device is missing
    DWORD value = 0xdeadbeef;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(1, readPhysDword(1, 0x101000, &value));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_EQ(0xdeadbeefu, value);
    EXPECT_EQ(0, writePhysDword(1, 0x101000, 0x80000000));
    EXPECT_TRUE(hardwareRequests().empty()) << sim::machine().traceText();
}

// Another open error comes through unchanged, so that the caller can tell the two apart.
TEST_P(PhysicalMemory, OpenErrorOtherThanMissingIsKept) {
    PcSpec layout = physPc();
    layout.directives.push_back(std::string("open-fail ") + GetParam().device + " 50");
    ASSERT_NO_FATAL_FAILURE(start(layout));
    DWORD value = 0xdeadbeef;
    EXPECT_EQ(1, readPhysDword(1, 0x101000, &value));
    EXPECT_EQ((DWORD)ERROR_NOT_SUPPORTED, GetLastError());
    EXPECT_EQ(0xdeadbeefu, value);
}

INSTANTIATE_TEST_SUITE_P(
    Platforms, PhysicalMemory,
    testing::Values(PhysCase{true, kDriverDevice, IOCTL_PHYS_READ_DWORD, IOCTL_PHYS_WRITE_DWORD},
                    PhysCase{false, kVxdDevice, VXD_PHYS_READ_DWORD, VXD_PHYS_WRITE_DWORD}),
    [](const testing::TestParamInfo<PhysCase>& info) {
        return std::string(info.param.nt ? "Nt" : "Win9x");
    });

// ---------------------------------------------------------------------------------------------
// Windows 9x: configuration space through the virtual device driver, one request an operation

// The VxD's input dwords of a request.
std::vector<uint32_t> inputDwords(const sim::TraceEntry& request) {
    std::vector<uint32_t> dwords(request.input.size() / 4);
    memcpy(dwords.data(), request.input.data(), dwords.size() * 4);
    return dwords;
}

TEST_F(ChannelTest, DetectAsksTheVxdForConfigurationSpace) {
    ASSERT_NO_FATAL_FAILURE(start(channelPc(false)));
    EXPECT_EQ(1, detectPciBios());
    EXPECT_EQ(static_cast<uint32_t>(VXD_PCI_PRESENT), onlyRequest(kVxdDevice).code);
}

// No VxD, a VxD that cannot be opened and a refused probe all count as no configuration space.
TEST(ConfigSpaceAbsentOn9x, DetectFails) {
    for (const char* directive :
         {"vxd absent", "open-fail \\\\.\\TAVROL.VXD 50", "request-fail 3"}) {
        SCOPED_TRACE(directive);
        PcSpec layout = channelPc(false);
        layout.directives.push_back(directive);
        sim::TestPc pc = boot(layout);
        ASSERT_TRUE(pc.ok());
        EXPECT_EQ(0, detectPciBios());
    }
}

TEST_F(ChannelTest, VxdFindClassTakesA16BitIndex) {
    ASSERT_NO_FATAL_FAILURE(start(threeDisplaysPc(false)));
    PciAddress address = 0xBEEF;
    ASSERT_EQ(1, findPciClass(PCI_CLASS_VGA, 2, &address));
    EXPECT_EQ(0x0100, address) << std::hex << "got 0x" << address;
    // The index is 16 bits, as the PCI BIOS took it in SI: bits above 15 are not part of it.
    address = 0xBEEF;
    ASSERT_EQ(1, findPciClass(PCI_CLASS_VGA, 0x10001, &address));
    EXPECT_EQ(0x0058, address) << std::hex << "got 0x" << address;
    address = 0xBEEF;
    EXPECT_EQ(0, findPciClass(PCI_CLASS_VGA, 3, &address));
    EXPECT_EQ(0xBEEF, address);
    std::vector<sim::TraceEntry> requests = hardwareRequests();
    ASSERT_EQ(3u, requests.size());
    EXPECT_EQ(static_cast<uint32_t>(VXD_PCI_FIND_CLASS), requests[0].code);
    EXPECT_EQ((std::vector<uint32_t>{PCI_CLASS_VGA, 2, 0}), inputDwords(requests[0]));
    EXPECT_EQ((std::vector<uint32_t>{PCI_CLASS_VGA, 1, 0}), inputDwords(requests[1]));
}

TEST_F(ChannelTest, VxdReadConfigSpaceIsOneRequest) {
    ASSERT_NO_FATAL_FAILURE(start(channelPc(false)));
    BYTE buffer[257];
    memset(buffer, 0xbd, sizeof buffer);
    ASSERT_EQ(1, readConfigSpace(0x012A, buffer));
    const sim::PciFunctionImage* joystick = sim::machine().function(1, 5, 2);
    ASSERT_NE(nullptr, joystick);
    EXPECT_EQ(0, memcmp(joystick->config, buffer, 256));
    EXPECT_EQ(0xbd, buffer[256]) << "written past the 256-byte buffer";
    const sim::TraceEntry& request = onlyRequest(kVxdDevice);
    EXPECT_EQ(static_cast<uint32_t>(VXD_PCI_READ_CONFIG_SPACE), request.code);
    ASSERT_EQ(260u, request.input.size());
    EXPECT_EQ(0x012Au, inputDwords(request)[0]);
}

TEST_F(ChannelTest, VxdConfigDwordAccess) {
    ASSERT_NO_FATAL_FAILURE(start(channelPc(false)));
    DWORD value = 0xdeadbeef;
    ASSERT_EQ(1, readConfigDword(0x012A, kProbeRegister, &value));
    EXPECT_EQ(kProbeValue, value) << std::hex << "got 0x" << value;
    ASSERT_EQ(1, writeConfigDword(kGraphics, kGraphicsCap + 8, 0x104));
    EXPECT_EQ(0x104u, sim::machine().configDword(1, 0, 0, kGraphicsCap + 8) & 0x7FF);
    EXPECT_EQ((std::vector<RegisterAccess>{readOf(0x012A, kProbeRegister),
                                           writeOf(kGraphics, kGraphicsCap + 8, 0x104)}),
              registerAccesses());
}

// A failed request leaves every output as it was: the value, the address and the whole buffer.
TEST_F(ChannelTest, VxdFailuresLeaveTheOutputs) {
    PcSpec layout = channelPc(false);
    for (const char* directive :
         {"request-fail 4", "request-fail 5", "request-fail 6", "request-fail 7"})
        layout.directives.push_back(directive);
    ASSERT_NO_FATAL_FAILURE(start(layout));
    DWORD value = 0xdeadbeef;
    EXPECT_EQ(0, readConfigDword(kGraphics, 0, &value));
    EXPECT_EQ(0xdeadbeefu, value);
    EXPECT_EQ(0, writeConfigDword(kGraphics, kGraphicsCap + 8, 0));
    PciAddress address = 0xBEEF;
    EXPECT_EQ(0, findPciClass(PCI_CLASS_VGA, 0, &address));
    EXPECT_EQ(0xBEEF, address);
    BYTE buffer[256];
    memset(buffer, 0xbd, sizeof buffer);
    EXPECT_EQ(0, readConfigSpace(0x012A, buffer));
    EXPECT_EQ(std::vector<BYTE>(256, 0xbd), std::vector<BYTE>(buffer, buffer + 256));
}

} // namespace
