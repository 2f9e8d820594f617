// TAVROL.sys's device-control requests on the emulated kernel. What does not depend on the
// driver's access rule (lengths, codes, IoStatus, the HAL's slot numbers) is expected explicitly;
// what the rule decides is expected from the request core run on a twin of the same PC, request
// by request, byte by byte.
#include <algorithm>
#include <cstring>

#include "sim/boot.h"
#include "agpcfg/agpcfg.h"
#include "ntdriver/driver_fixture.h"

namespace ntdriver {
namespace {

const uint8_t kUntouched = 0xBD; // what the emulated I/O manager fills unwritten buffers with
const uint32_t kLarge = 4096;
const uint32_t kStraps = 0xE0101000; // BAR 0 of the card at 01:00.0 + 0x101000

template <typename Record> std::vector<uint8_t> bytesOf(const Record& record) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&record);
    return std::vector<uint8_t>(bytes, bytes + sizeof record);
}

PciClassQuery classQuery(uint32_t classCode) {
    PciClassQuery query = {};
    query.classCode = classCode;
    return query;
}

uint32_t ntStatusOf(int coreStatus, uint32_t inputLength, uint32_t outputLength) {
    switch (coreStatus) {
    case TAVROL_STATUS_OK:
        return STATUS_SUCCESS;
    case TAVROL_STATUS_INVALID_REQUEST:
        return STATUS_INVALID_DEVICE_REQUEST;
    case TAVROL_STATUS_BAD_LENGTH:
        return outputLength < inputLength ? STATUS_BUFFER_TOO_SMALL : STATUS_INVALID_PARAMETER;
    case TAVROL_STATUS_ACCESS_DENIED:
        return STATUS_ACCESS_DENIED;
    default:
        return STATUS_UNSUCCESSFUL;
    }
}

class DeviceControl : public DriverTest {
  protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(startPair("default")); }

    // The driver over machines/<machine>.lspci, and the twin PC the request core runs on.
    void startPair(const std::string& machine) {
        ASSERT_NO_FATAL_FAILURE(start(machine));
        if (!IsSkipped())
            m_twin.reset(new HalModel(machine));
    }

    // Sets a configuration dword of the card at 01:00.0 on the PC and on its twin.
    void pokeCard(uint32_t offset, uint32_t value) {
        m_hal->machine().pokeConfigDword(1, 0, 0, offset, value);
        m_twin->machine().pokeConfigDword(1, 0, 0, offset, value);
    }

    // Sends the request to the driver, and the same to the request core on the twin PC through
    // one buffer as METHOD_BUFFERED passes it; "" when the IoStatus, the bytes returned and the
    // PCs afterwards are the same, else what differs.
    std::string compare(uint32_t code, const std::vector<uint8_t>& input, uint32_t outputLength,
                        IrpOutcome* outcome) {
        const IrpOutcome o = *outcome = m_kernel->deviceControl(code, input, outputLength);
        if (!o.completed)
            return "the driver faulted: " + m_kernel->fault();
        if (o.completions != 1 || o.boost != 0 || o.returned != o.status)
            return "not completed once with IO_NO_INCREMENT and its own status";
        std::vector<uint8_t> buffer(std::max<size_t>(input.size(), outputLength) + 1, kUntouched);
        std::copy(input.begin(), input.end(), buffer.begin());
        uint32_t written = 0;
        const uint32_t inputLength = static_cast<uint32_t>(input.size());
        const int core = tavrolHandleRequest(m_twin->coreBus(), code, buffer.data(), inputLength,
                                             buffer.data(), outputLength, &written);
        std::vector<uint8_t> output(outputLength, kUntouched);
        if (core == TAVROL_STATUS_OK)
            std::copy(buffer.begin(), buffer.begin() + written, output.begin());
        testing::Message differences;
        if (ntStatusOf(core, inputLength, outputLength) != o.status)
            differences << std::hex << "status 0x" << o.status << ", the core's " << core << "; ";
        if ((core == TAVROL_STATUS_OK ? written : 0u) != o.information)
            differences << "Information " << o.information << ", the core wrote " << written
                        << "; ";
        if (output != o.output)
            differences << "other output bytes; ";
        if (m_twin->machine().hardwareText() != m_hal->machine().hardwareText())
            differences << "the PCs' registers or memory differ afterwards";
        return differences.GetString();
    }

    IrpOutcome sendBoth(uint32_t code, const std::vector<uint8_t>& input, uint32_t outputLength) {
        IrpOutcome o;
        EXPECT_EQ("", compare(code, input, outputLength, &o));
        return o;
    }

    std::unique_ptr<HalModel> m_twin;
};

// Every code the driver serves, with a request it serves whatever its access rule, at input and
// output lengths of 0, one less, exact, one more and large: only the exact pair is served, with
// the record's size as Information; every other pair fails before the driver touches the bus or
// the buffer, with STATUS_BUFFER_TOO_SMALL when the output is the shorter one.
TEST_P(DeviceControl, ServesExactLengthsOnly) {
    PciConfigDwordRequest bridgeCommand = {0, 0, 0xA8, 0};
    bridgeCommand.value = m_hal->machine().configDword(0, 0, 0, 0xA8);
    const struct {
        uint32_t code;
        std::vector<uint8_t> record;
    } requests[] = {
        {IOCTL_PCI_FIND_CLASS, bytesOf(classQuery(0x030000))},
        {IOCTL_PCI_READ_CONFIG_SPACE, bytesOf(PciConfigBlock{1, 0, {}})},
        {IOCTL_PCI_READ_CONFIG_DWORD, bytesOf(PciConfigDwordRequest{1, 0, 0, 0})},
        {IOCTL_PCI_WRITE_CONFIG_DWORD, bytesOf(bridgeCommand)},
        {IOCTL_PHYS_READ_DWORD, bytesOf(PhysDwordRequest{1, kStraps, 0, 0})},
        {IOCTL_PHYS_WRITE_DWORD, bytesOf(PhysDwordRequest{1, kStraps, 0, 0x80000EA3})},
    };
    for (const auto& r : requests) {
        const uint32_t size = static_cast<uint32_t>(r.record.size());
        for (uint32_t in : {0u, size - 1, size, size + 1, kLarge})
            for (uint32_t out : {0u, size - 1, size, size + 1, kLarge}) {
                SCOPED_TRACE(testing::Message() << std::hex << "code 0x" << r.code << std::dec
                                                << " in " << in << " out " << out);
                std::vector<uint8_t> input = r.record;
                input.resize(in, 0x5A);
                const size_t halCalls = m_hal->calls().size(),
                             mappings = m_kernel->mappings().size();
                const IrpOutcome o = sendBoth(r.code, input, out);
                if (in == size && out == size) {
                    EXPECT_EQ(STATUS_SUCCESS, o.status);
                    EXPECT_EQ(size, o.information);
                    continue;
                }
                EXPECT_EQ(out < in ? STATUS_BUFFER_TOO_SMALL : STATUS_INVALID_PARAMETER, o.status);
                EXPECT_EQ(0u, o.information);
                input.resize(std::max(in, out), kUntouched);
                EXPECT_EQ(input, o.systemBuffer) << "the system buffer was written";
                EXPECT_EQ(halCalls, m_hal->calls().size());
                EXPECT_EQ(mappings, m_kernel->mappings().size());
            }
    }
}

// Codes the driver does not serve fail as invalid requests at every length, before it touches
// the bus or the buffer.
TEST_P(DeviceControl, RefusesCodesItDoesNotServe) {
    for (uint32_t code :
         {0u, 0x80012418u, 0x800123FCu, 0x80012401u, 0x80022400u, 0x00012400u, 0xFFFFFFFFu})
        for (uint32_t in : {0u, 15u, 16u, 17u, kLarge})
            for (uint32_t out : {0u, 15u, 16u, 17u, kLarge}) {
                SCOPED_TRACE(testing::Message() << std::hex << "code 0x" << code << std::dec
                                                << " in " << in << " out " << out);
                std::vector<uint8_t> input = bytesOf(PciConfigDwordRequest{1, 0, 0, 0});
                input.resize(in, 0x5A);
                const IrpOutcome o = sendBoth(code, input, out);
                EXPECT_EQ(STATUS_INVALID_DEVICE_REQUEST, o.status);
                EXPECT_EQ(0u, o.information);
                input.resize(std::max(in, out), kUntouched);
                EXPECT_EQ(input, o.systemBuffer) << "the system buffer was written";
            }
    EXPECT_TRUE(m_hal->calls().empty());
}

// The slot word reaches the HAL as PCI_SLOT_NUMBER (device in bits 4..0, function in bits 7..5),
// and the HAL's answers for a bus the PC lacks (0) and an empty slot (2) are failures.
TEST_P(DeviceControl, NamesFunctionsToTheHalByPciSlotNumber) {
    const struct {
        const char* what;
        uint32_t bus, slot, id; // id 0: the read fails
        uint32_t halResult;
    } cases[] = {
        {"00:1d.1", 0, 0x3D, 0x24848086, 4},
        {"00:1f.3", 0, 0x7F, 0x24838086, 4},
        {"01:00.0", 1, 0x00, 0x011010DE, 4},
        {"an empty slot, 00:05.0", 0, 0x05, 0, 2},
        {"a function of a single-function device, 00:1e.1", 0, 0x3E, 0, 2},
        {"bus 2, behind a bridge and empty", 2, 0x00, 0, 2},
        {"bus 7, which the PC lacks", 7, 0x00, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const size_t first = m_hal->calls().size();
        const IrpOutcome o = sendBoth(IOCTL_PCI_READ_CONFIG_DWORD,
                                      bytesOf(PciConfigDwordRequest{c.bus, c.slot, 0, 0}), 16);
        // The last HAL call that names the function; a driver may skip an empty slot's own.
        const HalModel::Call* call = nullptr;
        for (size_t i = first; i < m_hal->calls().size(); ++i)
            if (m_hal->calls()[i].bus == c.bus && m_hal->calls()[i].slot == c.slot)
                call = &m_hal->calls()[i];
        if (c.id || c.halResult == 0) {
            ASSERT_NE(nullptr, call) << "the HAL was never asked for the function";
        }
        if (call) {
            EXPECT_FALSE(call->set);
            EXPECT_EQ(kPciConfiguration, call->type);
            EXPECT_EQ(c.halResult, call->result);
        }
        if (c.id) {
            EXPECT_EQ(STATUS_SUCCESS, o.status);
            PciConfigDwordRequest reply;
            std::memcpy(&reply, o.output.data(), sizeof reply);
            EXPECT_EQ(c.id, reply.value);
        } else {
            EXPECT_EQ(STATUS_UNSUCCESSFUL, o.status);
        }
    }
}

TEST_P(DeviceControl, FindsClassesInSlotOrder) {
    const struct {
        uint32_t classCode;
        std::vector<PciClassEntry> entries;
    } cases[] = {
        {0x060000, {{0, 0x00}}},
        {0x060400, {{0, 0x01}}},
        {0x060401, {{0, 0x1E}}}, // subtractive decode
        {0x0C0300, {{0, 0x1D}, {0, 0x3D}}},
        {0x0C0500, {{0, 0x7F}}},
        {0x030000, {{1, 0x00}}},
        {0xFF0000, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << "class 0x" << c.classCode);
        const IrpOutcome o =
            sendBoth(IOCTL_PCI_FIND_CLASS, bytesOf(classQuery(c.classCode)), sizeof(PciClassQuery));
        PciClassQuery reply;
        ASSERT_EQ(sizeof reply, o.output.size());
        std::memcpy(&reply, o.output.data(), sizeof reply);
        EXPECT_EQ(c.classCode, reply.classCode);
        ASSERT_EQ(c.entries.size(), reply.count);
        for (size_t i = 0; i < c.entries.size(); ++i) {
            EXPECT_EQ(c.entries[i].bus, reply.entries[i].bus);
            EXPECT_EQ(c.entries[i].slot, reply.entries[i].slot);
        }
    }
    for (const HalModel::Call& call : m_hal->calls())
        EXPECT_GE(0xFFu, call.slot) << "a slot number with reserved bits";
}

// Configuration registers: reads anywhere, writes where the access rule allows them.
TEST_P(DeviceControl, ConfigRegistersFollowTheAccessRule) {
    const uint32_t bridgeCommand = m_hal->machine().configDword(0, 0, 0, 0xA8);
    const struct {
        uint32_t code;
        PciConfigDwordRequest request;
    } cases[] = {
        {IOCTL_PCI_READ_CONFIG_DWORD, {0, 0, 0xA8, 0}},
        {IOCTL_PCI_READ_CONFIG_DWORD, {0, 0, 0xFC, 0}},
        {IOCTL_PCI_READ_CONFIG_DWORD, {0, 0, 0x100, 0}},
        {IOCTL_PCI_READ_CONFIG_DWORD, {0, 0, 0xA9, 0}},
        {IOCTL_PCI_READ_CONFIG_DWORD, {0, 0x17F, 0, 0}},
        {IOCTL_PCI_READ_CONFIG_DWORD, {0x100, 0, 0, 0}},
        {IOCTL_PCI_WRITE_CONFIG_DWORD, {0, 0, 0xA8, bridgeCommand & ~0x100u}},
        {IOCTL_PCI_WRITE_CONFIG_DWORD, {1, 0, 0x4C, 0x1F000104}},
        {IOCTL_PCI_WRITE_CONFIG_DWORD, {0, 0, 0xA4, 0}},
        {IOCTL_PCI_WRITE_CONFIG_DWORD, {0, 0, 0x04, 0}},
        {IOCTL_PCI_WRITE_CONFIG_DWORD, {0, 0x1D, 0x20, 0}},
        {IOCTL_PCI_WRITE_CONFIG_DWORD, {0, 0x100, 0xA8, 0}},
        {IOCTL_PCI_WRITE_CONFIG_DWORD, {0, 0x05, 0xA8, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << std::hex << "code 0x" << c.code << " bus 0x" << c.request.bus << " slot 0x"
                     << c.request.slot << " offset 0x" << c.request.offset);
        sendBoth(c.code, bytesOf(c.request), 16);
    }
}

// The straps rule's records: the one physical dword the driver maps, and what it must refuse.
// Each case changes the card at 01:00.0 on the PC and its twin, then reads and writes.
TEST_P(DeviceControl, PhysicalMemoryFollowsTheStrapsRule) {
    const struct {
        const char* what;
        std::vector<std::pair<uint32_t, uint32_t>> card; // configuration dwords to set
        PhysDwordRequest request;
    } cases[] = {
        {"the straps", {}, {1, kStraps, 0, 0}},
        {"the BAR's base", {}, {1, 0xE0000000, 0, 0}},
        {"the dword after the straps", {}, {1, kStraps + 4, 0, 0}},
        {"inside the straps dword", {}, {1, kStraps + 2, 0, 0}},
        {"the straps address with the high half set", {}, {1, kStraps, 1, 0}},
        {"another bus", {}, {0, kStraps, 0, 0}},
        {"a bus the PC lacks", {}, {9, kStraps, 0, 0}},
        {"a bus beyond 255", {}, {0x101, kStraps, 0, 0}},
        {"another vendor", {{0x00, 0x51571002}}, {1, kStraps, 0, 0}},
        {"a 64-bit BAR, low dword", {{0x10, 0xE000000C}, {0x14, 0}}, {1, kStraps, 0, 0}},
        {"a 64-bit BAR above 4 GiB", {{0x10, 0x0000000C}, {0x14, 1}}, {1, 0x00101000, 1, 0}},
        {"a prefetchable BAR", {{0x10, 0xE0000008}}, {1, kStraps, 0, 0}},
        {"a legacy BAR below 1 MiB", {{0x10, 0x000C0002}}, {1, 0x001C1000, 0, 0}},
        {"an I/O BAR", {{0x10, 0x0000D001}}, {1, 0x0010E000, 0, 0}},
        {"memory decoding off", {{0x04, 0x02B00005}}, {1, kStraps, 0, 0}},
        {"a small BAR next to the IOAPIC", {{0x10, 0xFEAFF000}}, {1, 0xFEC00000, 0, 0}},
        {"a small BAR next to the HPET", {{0x10, 0xFEBFF000}}, {1, 0xFED00000, 0, 0}},
        {"a small BAR next to the local APIC", {{0x10, 0xFECFF000}}, {1, 0xFEE00000, 0, 0}},
        {"a BAR 16 MiB aligned high up", {{0x10, 0xFD000000}}, {1, 0xFD101000, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(SetUp());
        for (const auto& dword : c.card)
            pokeCard(dword.first, dword.second);
        const uint64_t address = uint64_t(c.request.addressHigh) << 32 | c.request.addressLow;
        m_hal->machine().pokePhysWord(address, 0xEA3);
        m_twin->machine().pokePhysWord(address, 0xEA3);
        const IrpOutcome read = sendBoth(IOCTL_PHYS_READ_DWORD, bytesOf(c.request), 16);
        PhysDwordRequest write = c.request;
        write.value = 0x80000E00;
        sendBoth(IOCTL_PHYS_WRITE_DWORD, bytesOf(write), 16);
        EXPECT_EQ(m_twin->machine().physWord(address), m_hal->machine().physWord(address));
        // A served request maps the one dword uncached and unmaps it before it completes.
        const std::vector<Mapping>& mappings = m_kernel->mappings();
        EXPECT_EQ(read.status == STATUS_SUCCESS ? 2u : 0u, mappings.size());
        for (const Mapping& m : mappings) {
            EXPECT_EQ(address, m.physical);
            EXPECT_EQ(4u, m.size);
            EXPECT_EQ(0u, m.cacheType) << "MmNonCached";
            EXPECT_TRUE(m.unmapped);
        }
    }
}

// The program's own requests for a whole discovery and a rate change, as the simulated PC saw
// them, sent to the driver: each is served as the simulated PC served it, and the PC's registers
// and straps end as the simulated PC's did.
TEST_P(DeviceControl, TheProgramsDiscoveryAndRateChangeEndAsOnTheSimulatedPc) {
    const struct {
        const char* machine;
        int rate;
    } cases[] = {{"default", 4}, {"default", 1}, {"nforce2-fx5600", 1}, {"kt600-radeon7000", 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.machine << " at rate " << c.rate);
        sim::TestPc pc = sim::bootMachineForTest(c.machine);
        ASSERT_TRUE(pc.ok()) << pc.error();
        isNt = 0;
        {
            CAgpConfig config;
            ASSERT_EQ(AGP_OK, config.getInitError()) << sim::machine().traceText();
            config.setDataRate(c.rate);
            EXPECT_EQ(c.rate, config.getDataRate());
        }
        ASSERT_NO_FATAL_FAILURE(startPair(c.machine));
        int sent = 0;
        for (const sim::TraceEntry& request :
             sim::machine().traceOf(sim::TraceKind::DeviceRequest)) {
            SCOPED_TRACE(testing::Message()
                         << "request " << sent << std::hex << ", code 0x" << request.code);
            ASSERT_TRUE(request.ok);
            const IrpOutcome o =
                sendBoth(request.code, request.input, static_cast<uint32_t>(request.input.size()));
            EXPECT_EQ(STATUS_SUCCESS, o.status);
            ++sent;
        }
        EXPECT_LT(10, sent);
        EXPECT_EQ(sim::machine().hardwareText(), m_hal->machine().hardwareText());
        EXPECT_NE(HalModel(c.machine).machine().hardwareText(), m_hal->machine().hardwareText())
            << "the change never reached the registers";
    }
}

// The comparison with the request core catches a driver whose access rule differs by one byte:
// here the straps offset, 0x101000 in the code, made 0x102000.
TEST_P(DeviceControl, CatchesADriverWithAChangedAccessRule) {
    PeFile pe;
    std::string error;
    ASSERT_TRUE(parsePe(m_file, &pe, &error)) << error;
    const PeSection* text = pe.section(".text");
    ASSERT_NE(nullptr, text);
    const uint8_t offset[] = {0x00, 0x10, 0x10, 0x00};
    const auto begin = m_file.begin() + text->rawOffset, end = begin + text->rawSize;
    const auto found = std::search(begin, end, offset, offset + 4);
    ASSERT_NE(end, found) << "the straps offset is no immediate of the code";
    std::vector<uint8_t> changed = m_file;
    changed[found - m_file.begin() + 1] = 0x20;
    m_kernel.reset(new NtKernel(*m_hal));
    ASSERT_TRUE(m_kernel->load(changed, 0, &error)) << error;
    bool completed = false;
    ASSERT_EQ(STATUS_SUCCESS, m_kernel->driverEntry(&completed));
    IrpOutcome o;
    EXPECT_NE("",
              compare(IOCTL_PHYS_READ_DWORD, bytesOf(PhysDwordRequest{1, kStraps, 0, 0}), 16, &o));
}

NT_DRIVER_FLAVORS(DeviceControl);

} // namespace
} // namespace ntdriver
