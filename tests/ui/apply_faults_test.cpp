// Apply meeting a failing request wherever it comes: whichever device open or configuration
// request of an Apply fails, and whichever end refuses its writes, the link is left enabled with
// both ends in the same modes, each mode either as it was or as chosen, and the stored settings
// name only modes in force.
#include "dialog_pc.h"

#include "tavrol_ioctl.h"

using namespace uitest;

namespace {

const uint32_t kModeBits = 7 | kSideband | kFastWrite | kEnable;
const char kDriverDevice[] = "\\\\.\\Tavrol";

struct Scenario {
    const char* name;
    AgpHardware hardware;
    const char* rateText; // chosen in the combo box
    uint32_t before;      // both ends' modes before the Apply
    uint32_t chosen;      // and as the Apply asks for them
};

std::ostream& operator<<(std::ostream& out, const Scenario& s) {
    return out << s.name;
}

AgpHardware agp2Link() {
    AgpHardware hardware;
    hardware.command = kEnable | kSideband | 2;
    return hardware;
}

AgpHardware agp3Link() {
    AgpHardware hardware;
    hardware.bridgeStatus = kDepth | kSideband | kFastWrite | kAgp3 | 3;
    hardware.graphicsStatus = kDepth | kSideband | kFastWrite | kAgp3 | 3;
    hardware.command = kEnable | kSideband | 2;
    return hardware;
}

// The requests of one Apply without faults, counted from the boot as the directives count them.
struct ApplyRequests {
    int opensBefore = 0, opensAfter = 0;
    int readsBefore = 0, readsAfter = 0;
    int writesBefore = 0, writesAfter = 0;
};

int requestsOf(uint32_t code) {
    int count = 0;
    for (const sim::TraceEntry& entry : sim::machine().traceOf(sim::TraceKind::DeviceRequest))
        count += entry.code == code ? 1 : 0;
    return count;
}

class ApplyFaultTest : public DialogPcTest, public ::testing::WithParamInterface<Scenario> {
  protected:
    // Chooses the scenario's modes and applies them; `measured` gets the request counts around
    // the Apply.
    void apply(ApplyRequests* measured) {
        const Scenario& s = GetParam();
        runMain({[&] {
                     select(IDC_RATE_COMBO, s.rateText);
                     check(IDC_FASTWRITE_CHECK, (s.chosen & kFastWrite) ? 1 : 0);
                     measured->opensBefore = sim::machine().deviceOpenTotal(kDriverDevice);
                     measured->readsBefore = requestsOf(IOCTL_PCI_READ_CONFIG_DWORD);
                     measured->writesBefore = requestsOf(IOCTL_PCI_WRITE_CONFIG_DWORD);
                     click(IDC_APPLY);
                     measured->opensAfter = sim::machine().deviceOpenTotal(kDriverDevice);
                     measured->readsAfter = requestsOf(IOCTL_PCI_READ_CONFIG_DWORD);
                     measured->writesAfter = requestsOf(IOCTL_PCI_WRITE_CONFIG_DWORD);
                 },
                 [&] { click(IDCANCEL); }});
    }

    void expectLinkWhole(const std::string& fault) {
        SCOPED_TRACE(fault);
        const Scenario& s = GetParam();
        uint32_t graphics = graphicsCommand() & kModeBits;
        uint32_t bridge = bridgeCommand() & kModeBits;
        EXPECT_TRUE((graphics & kEnable) && (bridge & kEnable))
            << std::hex << "AGP left off: bridge 0x" << bridge << ", graphics 0x" << graphics;
        EXPECT_EQ(bridge, graphics) << "the two ends are in different modes";
        for (uint32_t field : {7u, kSideband, kFastWrite}) {
            uint32_t mode = graphics & field;
            EXPECT_TRUE(mode == (s.before & field) || mode == (s.chosen & field))
                << std::hex << "mode 0x" << mode << " of field 0x" << field
                << " was neither before nor chosen";
        }
        int rate = static_cast<int>(graphics & 7);
        int sideband = (graphics & kSideband) ? 1 : 0;
        int fastWrite = (graphics & kFastWrite) ? 1 : 0;
        EXPECT_EQ(storedSettings(), packedSettings(0, fastWrite, sideband, rate))
            << "the stored settings name modes not in force";
        for (const sim::TraceEntry& entry : sim::machine().reservedAgpWrites())
            ADD_FAILURE() << "a write AGP 3.0 does not allow: " << entry.toString();
    }

    void applyWith(const std::string& directive) {
        AgpHardware hardware = GetParam().hardware;
        hardware.directives.push_back(directive);
        start(hardware);
        ApplyRequests ignored;
        apply(&ignored);
        expectLinkWhole(directive);
        TearDown();
    }
};

TEST_P(ApplyFaultTest, EveryFailingRequestLeavesTheLinkWhole) {
    const Scenario& s = GetParam();
    start(s.hardware);
    ApplyRequests counts;
    apply(&counts);
    ASSERT_EQ(s.chosen, graphicsCommand() & kModeBits) << "the Apply without faults failed";
    ASSERT_GT(counts.opensAfter, counts.opensBefore);
    expectLinkWhole("no fault");
    TearDown();

    // One failure at each position: an open of the driver's device (one per mode cycle and per
    // getter), a read request, a write request.
    for (int open = counts.opensBefore; open < counts.opensAfter; ++open)
        applyWith("open-fail " + std::string(kDriverDevice) + " 31 " + std::to_string(open) + " 1");
    for (int read = counts.readsBefore; read < counts.readsAfter; ++read)
        applyWith("request-fail 0x80012408 31 any " + std::to_string(read) + " 1");
    for (int write = counts.writesBefore; write < counts.writesAfter; ++write)
        applyWith("request-fail 0x8001A40C 31 any " + std::to_string(write) + " 1");
    // One end refuses every write.
    applyWith("request-fail 0x8001A40C 31 00:00.0");
    applyWith("request-fail 0x8001A40C 31 01:00.0");
}

INSTANTIATE_TEST_SUITE_P(
    Links, ApplyFaultTest,
    ::testing::Values(
        // 2X to 4X with sideband addressing on: it goes off and on again around the rate.
        Scenario{"Agp2", agp2Link(), kRate4x, kEnable | kSideband | 2,
                 kEnable | kSideband | kFastWrite | 4},
        // 8X to 4X, which is rate value 1 there; sideband addressing stays on throughout.
        Scenario{"Agp3", agp3Link(), kRate4x, kEnable | kSideband | 2,
                 kEnable | kSideband | kFastWrite | 1}),
    [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

// On Windows 98 SE the VxD refuses the writes to one end's command register (the bridge's at
// 00:00.0, the card's at 01:00.0): nothing changes, and the link stays as it was.
class RefusedBiosWriteTest : public ApplyFaultTest {};

TEST_P(RefusedBiosWriteTest, LeavesTheLinkWhole) {
    for (const char* fault : {"request-fail 7 31 00:00.0", "request-fail 7 31 01:00.0"}) {
        AgpHardware hardware = GetParam().hardware;
        hardware.nt = false;
        hardware.directives.push_back(fault);
        start(hardware);
        ApplyRequests ignored;
        apply(&ignored);
        EXPECT_EQ(GetParam().before, graphicsCommand() & kModeBits) << fault;
        expectLinkWhole(fault);
        TearDown();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Links, RefusedBiosWriteTest,
    ::testing::Values(Scenario{"Agp2", agp2Link(), kRate4x, kEnable | kSideband | 2,
                               kEnable | kSideband | kFastWrite | 4}),
    [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

} // namespace
