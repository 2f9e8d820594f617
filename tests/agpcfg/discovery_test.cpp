// Discovery of the AGP pair: every code it can end with, the DirectDraw probe, the choice of the
// host bridge and graphics device, the NVIDIA straps fix-up and the modes derived afterwards.
#include <gtest/gtest.h>

#include <memory>
#include <new>

#include "agp_pc.h"
#include "tavrol_ioctl.h"

using namespace agptest;

namespace {

// Opening the VxD fails, with the error and after the opens that follow.
const std::string kStrapsOpenFails = "open-fail \\\\.\\TAVROL.VXD";

constexpr uint32_t kGraphicsCommand = kGraphicsCap + AGP_COMMAND_OFFSET;
constexpr uint32_t kStrapsAddress = 0xE0000000u + 0x101000u;

PcSpec ntPc() {
    return agpPc(true, kStatus4xSbaFw, kCommand2x, kStatus4xSbaFw, kCommand2x);
}
PcSpec ninexPc() {
    return agpPc(false, kStatus4xSbaFw, kCommand2x, kStatus4xSbaFw, kCommand2x);
}

PcSpec with(PcSpec layout, const std::string& directive) {
    layout.directives.push_back(directive);
    return layout;
}

// Replaces the functions of one class, or drops them with an empty list.
PcSpec replacing(PcSpec layout, uint32_t classCode,
                 const std::vector<sim::PciFunctionImage>& functions) {
    std::vector<sim::PciFunctionImage> kept;
    for (const sim::PciFunctionImage& function : layout.functions)
        if ((dwordOf(function, 0x08) >> 8) != classCode)
            kept.push_back(function);
    kept.insert(kept.end(), functions.begin(), functions.end());
    layout.functions = kept;
    return layout;
}

sim::PciFunctionImage withoutCapabilities(sim::PciFunctionImage image) {
    image.config[0x06] &= ~0x10;
    image.config[0x34] = 0;
    return image;
}

// A PCI display card in slot 0a of bus 0, enumerated before the AGP card on bus 1.
sim::PciFunctionImage pciDisplayCard() {
    sim::PciFunctionImage card = pciFunction(0, 0x0A, 0, 0x5333, 0x8A22, PCI_CLASS_VGA);
    linkCapabilities(&card, {{0xDC, 1}}); // power management only
    return card;
}

// The failed-discovery contract: the getters answer without touching the hardware.
void expectInertGetters(CAgpConfig& config) {
    SCOPED_TRACE("getters of a failed discovery");
    sim::machine().clearTrace();
    EXPECT_EQ(0, config.getDataRate());
    EXPECT_EQ(AGP_MODE_UNSUPPORTED, config.getSideband());
    EXPECT_EQ(AGP_MODE_UNSUPPORTED, config.getFastWrite());
    EXPECT_TRUE(hardwareRequests().empty()) << sim::machine().traceText();
}

// ---------------------------------------------------------------------------------------------
// Every code discovery ends with

struct CodeCase {
    const char* name;
    PcSpec layout;
    AgpError expected;
};

void PrintTo(const CodeCase& value, std::ostream* out) {
    *out << value.name;
}

class DiscoveryCodes : public testing::TestWithParam<CodeCase> {};

TEST_P(DiscoveryCodes, EndWithTheCodeOfTheFailingStep) {
    sim::TestPc pc = boot(GetParam().layout);
    ASSERT_TRUE(pc.ok());
    std::unique_ptr<CAgpConfig> config(new (std::nothrow) CAgpConfig);
    ASSERT_NE(nullptr, config);
    EXPECT_EQ(GetParam().expected, config->getInitError()) << sim::machine().traceText();
    if (GetParam().expected != AGP_OK)
        expectInertGetters(*config);
}

std::vector<CodeCase> codeCases() {
    sim::PciFunctionImage secondBridge = hostBridge(kStatus4xSbaFw, kCommand2x);
    secondBridge.device = 0x1E;
    return {
        {"Usable", ntPc(), AGP_OK},
        {"UsableOn9x", ninexPc(), AGP_OK},
        {"NoHostBridge", replacing(ntPc(), PCI_CLASS_HOST_BRIDGE, {}), AGP_ERR_NO_AGP},
        {"HostBridgeWithoutAgp",
         replacing(ntPc(), PCI_CLASS_HOST_BRIDGE,
                   {withoutCapabilities(hostBridge(kStatus4xSbaFw, kCommand2x))}),
         AGP_ERR_NO_AGP},
        // The AGP target is the first host bridge with AGP, wherever it comes; none with AGP
        // leaves code 1.
        {"SecondHostBridgeCarriesAgp",
         replacing(ntPc(), PCI_CLASS_HOST_BRIDGE,
                   {withoutCapabilities(hostBridge(kStatus4xSbaFw, kCommand2x)), secondBridge}),
         AGP_OK},
        {"NoHostBridgeWithAgp",
         replacing(ntPc(), PCI_CLASS_HOST_BRIDGE,
                   {withoutCapabilities(hostBridge(kStatus4xSbaFw, kCommand2x)),
                    withoutCapabilities(secondBridge)}),
         AGP_ERR_NO_AGP},
        // A link that does not run: ends in different AGP modes, AGP enable off on either end,
        // or a card rate field that is no single rate valid in the link's mode.
        {"EndsDisagreeOnAgp3Mode", agpPc(true, kStatusAgp3, 0x302, kStatus4xSbaFw, 0x302),
         AGP_ERR_RATE_ZERO},
        {"BridgeNotEnabled", agpPc(true, kStatus4xSbaFw, 0x002, kStatus4xSbaFw, 0x102),
         AGP_ERR_RATE_ZERO},
        {"CardNotEnabled", agpPc(true, kStatus4xSbaFw, 0x102, kStatus4xSbaFw, 0x002),
         AGP_ERR_RATE_ZERO},
        {"SeveralRateBits", agpPc(true, kStatus4xSbaFw, 0x103, kStatus4xSbaFw, 0x103),
         AGP_ERR_RATE_ZERO},
        {"ReservedAgp3Rate", agpPc(true, kStatusAgp3, 0x304, kStatusAgp3, 0x304),
         AGP_ERR_RATE_ZERO},
        {"NoDisplay", replacing(ntPc(), PCI_CLASS_VGA, {}), AGP_ERR_NO_AGP},
        {"NoDisplayWithAgp",
         replacing(ntPc(), PCI_CLASS_VGA,
                   {pciDisplayCard(), withoutCapabilities(atiCard(kStatus4xSbaFw, kCommand2x))}),
         AGP_ERR_NO_AGP},
        // A function whose configuration space cannot be read counts as one without AGP.
        {"ConfigSpaceUnreadableOn9x", with(ninexPc(), "request-fail 5"), AGP_ERR_NO_AGP},
        {"ConfigSpaceUnreadableOnNt", with(ntPc(), "request-fail 0x80012404"), AGP_ERR_NO_AGP},
        // On Windows 9x configuration space is the VxD's: without it there is none.
        {"VxdMissingOn9x", with(ninexPc(), "vxd absent"), AGP_ERR_NO_PCI_BIOS},
        {"ConfigMechanismRefusedOn9x", with(ninexPc(), "request-fail 3"), AGP_ERR_NO_PCI_BIOS},
        {"RateZero", agpPc(true, kStatus4xSbaFw, 0x100, kStatus4xSbaFw, 0x300), AGP_ERR_RATE_ZERO},
        {"VersionFails", with(ntPc(), "version-fails"), AGP_ERR_VERSION},
        {"DirectDrawOutOfMemory", with(ntPc(), "ddraw 0x8007000E"), AGP_ERR_DDRAW_OUT_OF_MEMORY},
        {"DirectDrawInvalidGuid", with(ntPc(), "ddraw 0x88760231"), AGP_ERR_DDRAW_INVALID_GUID},
        {"DirectDrawInvalidArg", with(ntPc(), "ddraw 0x80070057"), AGP_ERR_DDRAW_INVALID_ARG},
        {"DirectDrawNoHardware", with(ntPc(), "ddraw 0x88760233"), AGP_ERR_DDRAW_NO_HARDWARE},
        {"DirectDrawOtherError", with(ntPc(), "ddraw 0x80004005"), AGP_ERR_DDRAW_OTHER},
        {"DirectDrawSuccessCodeOne", with(ntPc(), "ddraw 1"), AGP_ERR_DDRAW_OTHER},
        {"DirectDrawAlreadyCreated", with(ntPc(), "ddraw 0x88760232 object"), AGP_OK},
        {"DirectDrawAlreadyCreatedNoObject", with(ntPc(), "ddraw 0x88760232 null"), AGP_OK},
        // The sixth open of the VxD is the straps read's, after the probe, two class searches and
        // two configuration spaces.
        {"NvidiaVxdMissing", with(nvidiaPc(false, 0xE00), kStrapsOpenFails + " 2 5"),
         AGP_ERR_PHYS_NOT_FOUND},
        {"NvidiaVxdNotSupported", with(nvidiaPc(false, 0xE00), kStrapsOpenFails + " 50 5"),
         AGP_ERR_PHYS_NOT_SUPPORTED},
        {"NvidiaVxdOtherOpenError", with(nvidiaPc(false, 0xE00), kStrapsOpenFails + " 5 5"),
         AGP_ERR_PHYS_OTHER},
        {"NvidiaRequestFailsOn9x", with(nvidiaPc(false, 0xE00), "request-fail 1"),
         AGP_ERR_PHYS_REQUEST},
        {"NvidiaRequestFailsOnNt", with(nvidiaPc(true, 0xE00), "request-fail 0x80012410"),
         AGP_ERR_PHYS_REQUEST},
        // Status registers: the bridge's capability is at 0xA0, the graphics device's at 0x44.
        // The status registers are the first dwords discovery reads of either function.
        {"BridgeStatusUnreadable", with(ninexPc(), "request-fail 6 31 00:00.0"),
         AGP_ERR_BRIDGE_STATUS},
        {"GraphicsStatusUnreadable", with(ninexPc(), "request-fail 6 31 01:00.0"),
         AGP_ERR_GRAPHICS_STATUS},
        {"GraphicsStatusUnreadableOnNt", with(ntPc(), "request-fail 0x80012408"),
         AGP_ERR_GRAPHICS_STATUS},
    };
}

INSTANTIATE_TEST_SUITE_P(Steps, DiscoveryCodes, testing::ValuesIn(codeCases()),
                         [](const testing::TestParamInfo<CodeCase>& info) {
                             return std::string(info.param.name);
                         });

// A failed driver installation is reported as its result plus 8.
struct InstallCase {
    const char* directive;
    AgpError expected;
};

void PrintTo(const InstallCase& value, std::ostream* out) {
    *out << value.directive;
}

class DriverInstallCodes : public testing::TestWithParam<InstallCase> {};

TEST_P(DriverInstallCodes, EndDiscoveryBeforeAnyProbe) {
    sim::TestPc pc = boot(with(ntPc(), GetParam().directive));
    ASSERT_TRUE(pc.ok());
    CAgpConfig config;
    EXPECT_EQ(GetParam().expected, config.getInitError());
    EXPECT_EQ(1, isNt);
    EXPECT_TRUE(sim::machine().traceOf(sim::TraceKind::DirectDrawCreate).empty());
    EXPECT_TRUE(hardwareRequests().empty()) << sim::machine().traceText();
}

INSTANTIATE_TEST_SUITE_P(Results, DriverInstallCodes,
                         testing::Values(InstallCase{"scm-fail OpenSCManagerA 5", 9},
                                         InstallCase{"scm-fail OpenSCManagerA 1065", 10},
                                         InstallCase{"scm-fail OpenSCManagerA 87", 11},
                                         InstallCase{"scm-fail CreateServiceA 5", 12},
                                         InstallCase{"scm-fail OpenServiceA 5", 13},
                                         InstallCase{"scm-fail OpenServiceA 6", 14},
                                         InstallCase{"scm-fail OpenServiceA 123", 15},
                                         InstallCase{"scm-fail OpenServiceA 1060", 16},
                                         InstallCase{"scm-fail OpenServiceA 1072", 17},
                                         InstallCase{"driver-file absent", 18}));

// ---------------------------------------------------------------------------------------------
// Platform, driver and DirectDraw

// A failed version query leaves the platform unknown: no driver, no probe, and isNt stays
// false even on an NT machine, so the destructor touches no service either.
TEST(Discovery, VersionFailureStopsBeforeEverything) {
    sim::TestPc pc = boot(with(ntPc(), "version-fails"));
    ASSERT_TRUE(pc.ok());
    {
        CAgpConfig config;
        EXPECT_EQ(AGP_ERR_VERSION, config.getInitError());
        EXPECT_EQ(0, isNt);
    }
    EXPECT_TRUE(serviceCalls().empty()) << sim::machine().traceText();
    EXPECT_TRUE(sim::machine().traceOf(sim::TraceKind::DirectDrawCreate).empty());
    EXPECT_EQ(0, sim::machine().directDrawCreated());
    EXPECT_TRUE(hardwareRequests().empty());
}

TEST(Discovery, SetsThePlatformFromTheVersion) {
    for (bool nt : {true, false}) {
        SCOPED_TRACE(nt ? "NT" : "Windows 9x");
        sim::TestPc pc = boot(nt ? ntPc() : ninexPc());
        ASSERT_TRUE(pc.ok());
        CAgpConfig config;
        EXPECT_EQ(AGP_OK, config.getInitError());
        EXPECT_EQ(nt ? 1 : 0, isNt);
        EXPECT_EQ(nt, sim::machine().services().find("TAVROL") != nullptr);
    }
}

// A display driver that DirectDraw refuses ends discovery before the PCI bus is searched; on
// Windows 9x only the PCI BIOS probe came before it.
TEST(Discovery, DirectDrawFailureStopsBeforeThePciBus) {
    for (bool nt : {true, false}) {
        SCOPED_TRACE(nt ? "NT" : "Windows 9x");
        sim::TestPc pc = boot(with(nt ? ntPc() : ninexPc(), "ddraw 0x88760233"));
        ASSERT_TRUE(pc.ok());
        CAgpConfig config;
        EXPECT_EQ(AGP_ERR_DDRAW_NO_HARDWARE, config.getInitError());
        EXPECT_EQ(1u, sim::machine().traceOf(sim::TraceKind::DirectDrawCreate).size());
        std::vector<sim::TraceEntry> requests = hardwareRequests();
        ASSERT_EQ(nt ? 0u : 1u, requests.size()) << sim::machine().traceText();
        if (!nt) {
            EXPECT_EQ(static_cast<uint32_t>(VXD_PCI_PRESENT), requests[0].code);
        }
    }
}

// The service manager's calls by name, with the DirectDraw probe among them where it ran.
std::vector<std::string> serviceCallsAndTheProbe() {
    std::vector<std::string> calls;
    for (const sim::TraceEntry& entry : sim::machine().trace()) {
        if (entry.kind == sim::TraceKind::DirectDrawCreate)
            calls.push_back("DirectDrawCreate");
        else if (entry.kind == sim::TraceKind::ServiceCall)
            calls.push_back(entry.name);
    }
    return calls;
}

// On NT the probe runs beside the driver's start, which keeps the program waiting: it is begun
// just before StartServiceA, and discovery takes its result once the driver is up. Without a
// thread for it, it runs after the start, as the one step it is.
TEST(Discovery, ProbesDirectDrawWhileTheDriverStarts) {
    for (bool threads : {true, false}) {
        SCOPED_TRACE(threads ? "with a thread" : "no thread to be had");
        PcSpec layout = with(ntPc(), "ddraw 0x88760233");
        sim::TestPc pc = boot(threads ? layout : with(layout, "thread-fails"));
        ASSERT_TRUE(pc.ok());
        CAgpConfig config;
        EXPECT_EQ(AGP_ERR_DDRAW_NO_HARDWARE, config.getInitError());
        const std::vector<std::string> expectedEnd =
            threads ? std::vector<std::string>{"OpenServiceA", "DirectDrawCreate", "StartServiceA",
                                               "CloseServiceHandle"}
                    : std::vector<std::string>{"OpenServiceA", "StartServiceA",
                                               "CloseServiceHandle", "DirectDrawCreate"};
        const std::vector<std::string> calls = serviceCallsAndTheProbe();
        ASSERT_GE(calls.size(), expectedEnd.size()) << sim::machine().traceText();
        EXPECT_EQ(expectedEnd,
                  std::vector<std::string>(calls.end() - expectedEnd.size(), calls.end()))
            << sim::machine().traceText();
        EXPECT_TRUE(hardwareRequests().empty()) << sim::machine().traceText();
    }
}

// A start that fails after the probe has begun ends discovery with the driver's code, whatever
// the probe found; its object was released all the same.
TEST(Discovery, AFailedStartOutranksTheProbeBesideIt) {
    for (const char* ddraw : {"ddraw 0", "ddraw 0x88760233"}) {
        SCOPED_TRACE(ddraw);
        sim::TestPc pc = boot(with(with(ntPc(), "scm-fail StartServiceA 5"), ddraw));
        ASSERT_TRUE(pc.ok());
        CAgpConfig config;
        EXPECT_EQ(AGP_ERR_DRIVER_BASE + 10, config.getInitError());
        EXPECT_EQ(sim::machine().directDrawCreated(), sim::machine().directDrawReleased());
        EXPECT_TRUE(hardwareRequests().empty()) << sim::machine().traceText();
    }
}

// The DirectDraw object only proves that a display driver is there: it is released at once.
TEST(Discovery, ReleasesTheDirectDrawObject) {
    for (const char* directive : {"ddraw 0", "ddraw 0x88760232 object"}) {
        SCOPED_TRACE(directive);
        sim::TestPc pc = boot(with(ntPc(), directive));
        ASSERT_TRUE(pc.ok());
        CAgpConfig config;
        EXPECT_EQ(AGP_OK, config.getInitError());
        EXPECT_EQ(1, sim::machine().directDrawCreated());
        EXPECT_EQ(1, sim::machine().directDrawReleased());
    }
}

// The graphics device is the first VGA function with AGP, not the first VGA function.
TEST(Discovery, SkipsAPciDisplayCardBeforeTheAgpCard) {
    PcSpec layout = ntPc();
    layout.functions.push_back(pciDisplayCard());
    sim::TestPc pc = boot(layout);
    ASSERT_TRUE(pc.ok());
    CAgpConfig config;
    ASSERT_EQ(AGP_OK, config.getInitError());
    sim::machine().clearTrace();
    EXPECT_EQ(2, config.getDataRate());
    EXPECT_EQ((std::vector<RegisterAccess>{readOf(kGraphics, kGraphicsCommand)}),
              registerAccesses());
}

// ---------------------------------------------------------------------------------------------
// The destructor

TEST(Discovery, DestructorRemovesTheServiceOnNt) {
    for (PcSpec layout : {ntPc(), replacing(ntPc(), PCI_CLASS_VGA, {})}) {
        sim::TestPc pc = boot(layout);
        ASSERT_TRUE(pc.ok());
        {
            CAgpConfig config;
            ASSERT_NE(nullptr, sim::machine().services().find("TAVROL"));
        }
        EXPECT_EQ(nullptr, sim::machine().services().find("TAVROL")) << sim::machine().traceText();
        EXPECT_EQ(0, sim::machine().services().openHandleCount());
    }
}

TEST(Discovery, DestructorTouchesNoServiceOn9x) {
    sim::TestPc pc = boot(ninexPc());
    ASSERT_TRUE(pc.ok());
    {
        CAgpConfig config;
        ASSERT_EQ(AGP_OK, config.getInitError());
    }
    EXPECT_TRUE(serviceCalls().empty()) << sim::machine().traceText();
}

// ---------------------------------------------------------------------------------------------
// NVIDIA straps fix-up

struct StrapsCase {
    const char* name;
    uint32_t straps;
    bool written;
    uint32_t after;
};

void PrintTo(const StrapsCase& value, std::ostream* out) {
    *out << value.name;
}

class NvidiaStraps : public testing::TestWithParam<std::tuple<bool, StrapsCase>> {};

// The straps word is read and, when it holds back a mode, rewritten with bits 11..9 cleared and
// the override bit set; the chip's status, read afterwards, then offers every mode.
TEST_P(NvidiaStraps, ClearsTheDisableBitsBeforeTheStatusIsRead) {
    bool nt = std::get<0>(GetParam());
    const StrapsCase& test = std::get<1>(GetParam());
    sim::TestPc pc = boot(nvidiaPc(nt, test.straps));
    ASSERT_TRUE(pc.ok());
    CAgpConfig config;
    ASSERT_EQ(AGP_OK, config.getInitError()) << sim::machine().traceText();
    std::vector<sim::TraceEntry> writes = sim::machine().traceOf(sim::TraceKind::PhysWrite);
    if (test.written) {
        ASSERT_EQ(1u, writes.size()) << sim::machine().traceText();
        EXPECT_EQ(kStrapsAddress, writes[0].address);
        EXPECT_EQ(test.after, writes[0].value) << std::hex << "wrote 0x" << writes[0].value;
    } else {
        EXPECT_TRUE(writes.empty()) << sim::machine().traceText();
    }
    EXPECT_EQ(test.after, sim::machine().physWord(kStrapsAddress));
    // The straps word is reached on the graphics device's bus, 1 here.
    uint32_t readCode = nt ? (uint32_t)IOCTL_PHYS_READ_DWORD : (uint32_t)VXD_PHYS_READ_DWORD;
    std::vector<sim::TraceEntry> reads;
    for (const sim::TraceEntry& request : hardwareRequests())
        if (request.kind == sim::TraceKind::DeviceRequest && request.code == readCode)
            reads.push_back(request);
    ASSERT_EQ(1u, reads.size()) << sim::machine().traceText();
    ASSERT_LE(8u, reads[0].input.size());
    EXPECT_EQ(bytesOf({1, kStrapsAddress}),
              std::vector<uint8_t>(reads[0].input.begin(), reads[0].input.begin() + 8));
    EXPECT_EQ(7, config.getSupportedRates());
    EXPECT_NE(AGP_MODE_UNSUPPORTED, config.getSideband());
    EXPECT_NE(AGP_MODE_UNSUPPORTED, config.getFastWrite());
}

// A prefetchable BAR 0 carries flag bits in its low nibble: the straps word is still found at
// the memory base plus its offset, not at an address shifted by the flags.
TEST(NvidiaStrapsBehindFlaggedBar, AreReachedAtTheMemoryBase) {
    PcSpec layout = nvidiaPc(true, 0xE00);
    for (sim::PciFunctionImage& function : layout.functions)
        if (function.bus == 1)
            putDword(&function, 0x10, 0xE0000008); // memory, 32-bit, prefetchable
    sim::TestPc pc = boot(layout);
    ASSERT_TRUE(pc.ok());
    CAgpConfig config;
    ASSERT_EQ(AGP_OK, config.getInitError()) << sim::machine().traceText();
    EXPECT_EQ(0x80000000u, sim::machine().physWord(kStrapsAddress)) << sim::machine().traceText();
    EXPECT_EQ(0u, sim::machine().physWord(kStrapsAddress + 8)) << "wrote into another register";
    EXPECT_EQ(7, config.getSupportedRates());
}

INSTANTIATE_TEST_SUITE_P(
    Words, NvidiaStraps,
    testing::Combine(testing::Bool(),
                     testing::Values(StrapsCase{"AllDisabled", 0xE00, true, 0x80000000},
                                     StrapsCase{"OnlyFourX", 0x200, true, 0x80000000},
                                     StrapsCase{"OtherBitsKept", 0x12345E67, true, 0x92345067},
                                     StrapsCase{"NoneDisabled", 0x100, false, 0x100},
                                     StrapsCase{"Zero", 0, false, 0})),
    [](const testing::TestParamInfo<std::tuple<bool, StrapsCase>>& info) {
        return std::string(std::get<0>(info.param) ? "Nt" : "Win9x") + std::get<1>(info.param).name;
    });

// The drivers serve the straps only behind a 32-bit memory BAR 0 that the card decodes. For a card
// whose BAR 0 is of another kind the program's request is refused, and discovery says so.
struct RefusedBar {
    const char* name;
    uint32_t bar0;
    uint32_t command; // PCI command and status dword
};

void PrintTo(const RefusedBar& value, std::ostream* out) {
    *out << value.name;
}

class NvidiaStrapsTheDriversRefuse : public testing::TestWithParam<std::tuple<bool, RefusedBar>> {};

TEST_P(NvidiaStrapsTheDriversRefuse, EndDiscoveryWithTheRequestError) {
    bool nt = std::get<0>(GetParam());
    const RefusedBar& bar = std::get<1>(GetParam());
    PcSpec layout = nvidiaPc(nt, 0xE00);
    for (sim::PciFunctionImage& function : layout.functions)
        if (function.bus == 1) {
            putDword(&function, 0x04, bar.command);
            putDword(&function, 0x10, bar.bar0);
        }
    sim::TestPc pc = boot(layout);
    ASSERT_TRUE(pc.ok());
    CAgpConfig config;
    EXPECT_EQ(AGP_ERR_PHYS_REQUEST, config.getInitError()) << sim::machine().traceText();
    EXPECT_TRUE(sim::machine().traceOf(sim::TraceKind::PhysRead).empty());
    EXPECT_TRUE(sim::machine().traceOf(sim::TraceKind::PhysWrite).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Bars, NvidiaStrapsTheDriversRefuse,
    testing::Combine(testing::Bool(),
                     testing::Values(RefusedBar{"SixtyFourBit", 0xE000000C, 0x02B00007},
                                     RefusedBar{"DecodingOff", 0xE0000000, 0x02B00005})),
    [](const testing::TestParamInfo<std::tuple<bool, RefusedBar>>& info) {
        return std::string(std::get<0>(info.param) ? "Nt" : "Win9x") + std::get<1>(info.param).name;
    });

// A write that does not reach the chip is not checked: discovery goes on with what the chip
// then reports.
TEST(NvidiaStrapsWriteFails, DiscoveryUsesTheChipAsItIs) {
    sim::TestPc pc = boot(with(nvidiaPc(true, 0xE00), "request-fail 0x8001A414"));
    ASSERT_TRUE(pc.ok());
    CAgpConfig config;
    ASSERT_EQ(AGP_OK, config.getInitError());
    EXPECT_EQ(0xE00u, sim::machine().physWord(kStrapsAddress));
    EXPECT_EQ(3, config.getSupportedRates());
    EXPECT_EQ(AGP_MODE_UNSUPPORTED, config.getSideband());
    EXPECT_EQ(AGP_MODE_UNSUPPORTED, config.getFastWrite());
}

TEST(NvidiaStrapsOpenFails, StopsBeforeTheStatusRegisters) {
    sim::TestPc pc = boot(with(nvidiaPc(false, 0xE00), kStrapsOpenFails + " 2 5"));
    ASSERT_TRUE(pc.ok());
    CAgpConfig config;
    EXPECT_EQ(AGP_ERR_PHYS_NOT_FOUND, config.getInitError());
    EXPECT_TRUE(registerAccesses().empty()) << sim::machine().traceText();
}

TEST(NvidiaStrapsOtherVendors, AreNotTouched) {
    sim::TestPc pc = boot(ntPc());
    ASSERT_TRUE(pc.ok());
    CAgpConfig config;
    ASSERT_EQ(AGP_OK, config.getInitError());
    EXPECT_TRUE(sim::machine().traceOf(sim::TraceKind::PhysRead).empty());
    EXPECT_TRUE(sim::machine().traceOf(sim::TraceKind::PhysWrite).empty());
}

// ---------------------------------------------------------------------------------------------
// Modes derived from both status registers and the graphics command register

struct ModesCase {
    const char* name;
    uint32_t bridgeStatus;
    uint32_t graphicsStatus;
    uint32_t graphicsCommand;
    int supportedRates;
    int rate;
    int sideband;
    int fastWrite;
    int agp3;
};

void PrintTo(const ModesCase& value, std::ostream* out) {
    *out << value.name;
}

class DerivedModes : public testing::TestWithParam<ModesCase> {};

TEST_P(DerivedModes, FollowBothEndsAndTheCommandRegister) {
    const ModesCase& test = GetParam();
    sim::TestPc pc =
        boot(agpPc(true, test.bridgeStatus, kCommand2x, test.graphicsStatus, test.graphicsCommand));
    ASSERT_TRUE(pc.ok());
    CAgpConfig config;
    ASSERT_EQ(AGP_OK, config.getInitError());
    EXPECT_EQ(test.supportedRates, config.getSupportedRates());
    EXPECT_EQ(test.rate, config.getDataRate());
    EXPECT_EQ(test.sideband, config.getSideband());
    EXPECT_EQ(test.fastWrite, config.getFastWrite());
    EXPECT_EQ(test.agp3, config.isAgp3());
}

INSTANTIATE_TEST_SUITE_P(
    Registers, DerivedModes,
    testing::Values(
        // Graphics 1X/2X with sideband, bridge everything: fast writes are not common.
        ModesCase{"SidebandOnFastWritesNotCommon", 0x1F000217, 0x1F000203, 0x302, 3, 2, 1, 2, 0},
        ModesCase{"SidebandOff", 0x1F000217, 0x1F000203, 0x102, 3, 2, 0, 2, 0},
        ModesCase{"EverythingOn", 0x1F000217, 0x1F000217, 0x314, 7, 4, 1, 1, 0},
        ModesCase{"FastWritesOff", 0x1F000217, 0x1F000217, 0x301, 7, 1, 1, 0, 0},
        // Enable bits of modes one end lacks do not count.
        ModesCase{"BridgeLacksSidebandAndFastWrites", 0x1F000007, 0x1F000217, 0x314, 7, 4, 2, 2, 0},
        ModesCase{"NothingInCommon", 0x1F000201, 0x1F000016, 0x112, 0, 2, 2, 2, 0},
        // Both ends in AGP 3.0 mode: rate value 2 is 8X, bit 2 of the mask is reserved, and
        // sideband addressing is in use whatever the enable bit says.
        ModesCase{"Agp3", 0x1F00421B, 0x1F000E1B, 0x1F004312, 3, 2, 1, 1, 1},
        ModesCase{"Agp3ReservedRateBitIgnored", 0x1F00021F, 0x1F00021F, 0x311, 3, 1, 1, 1, 1},
        ModesCase{"Agp3SidebandBitClear", 0x1F00021B, 0x1F00001B, 0x112, 3, 2, 1, 1, 1},
        // Fast writes do not run at 1X in AGP 2.0 mode, whatever the bit says.
        ModesCase{"FastWriteBitAt1x", 0x1F000217, 0x1F000217, 0x311, 7, 1, 1, 0, 0}),
    [](const testing::TestParamInfo<ModesCase>& info) { return std::string(info.param.name); });

// The graphics command register is read three times at the end of discovery (rate, sideband,
// fast writes). Whichever read fails, no mode is reported as on: a rate that cannot be read ends
// discovery, a mode that cannot be read is one the program leaves alone.
struct FailedReadCase {
    const char* name;
    const char* served; // graphics dword reads served before the failing one
    AgpError error;
    int sideband;
    int fastWrite;
};

void PrintTo(const FailedReadCase& value, std::ostream* out) {
    *out << value.name;
}

class FailedDiscoveryRead : public testing::TestWithParam<FailedReadCase> {};

TEST_P(FailedDiscoveryRead, NeverReportsAModeAsOn) {
    const FailedReadCase& test = GetParam();
    // The first graphics dword read is its status register; then rate, sideband, fast writes.
    sim::TestPc pc =
        boot(with(agpPc(true, kStatus4xSbaFw, 0x312, kStatus4xSbaFw, 0x312),
                  std::string("request-fail 0x80012408 31 01:00.0 ") + test.served + " 1"));
    ASSERT_TRUE(pc.ok());
    CAgpConfig config;
    EXPECT_EQ(test.error, config.getInitError());
    EXPECT_EQ(test.sideband, config.getSideband());
    EXPECT_EQ(test.fastWrite, config.getFastWrite());
}

INSTANTIATE_TEST_SUITE_P(EachCommandRead, FailedDiscoveryRead,
                         testing::Values(FailedReadCase{"Rate", "1", AGP_ERR_RATE_ZERO, 2, 2},
                                         FailedReadCase{"Sideband", "2", AGP_OK, 2, 1},
                                         FailedReadCase{"FastWrites", "3", AGP_OK, 1, 2}),
                         [](const testing::TestParamInfo<FailedReadCase>& info) {
                             return std::string(info.param.name);
                         });

// The getters read the graphics device afresh. A read that fails answers with the cached mode
// only while nothing has cast doubt on it; once a read found the card changed behind the
// program's back, a failed read answers rate 0 and "not supported", never the last mode seen.
TEST(Getters, AnswerAFailedReadOnlyWithAModeBothEndsHold) {
    sim::TestPc pc = boot(agpPc(true, kStatus4xSbaFw, 0x302, kStatus4xSbaFw, 0x302));
    ASSERT_TRUE(pc.ok());
    CAgpConfig config;
    ASSERT_EQ(AGP_OK, config.getInitError());
    sim::Profile profile = sim::machine().profile();
    profile.directives.push_back({"request-fail", {"0x80012408", "31", "01:00.0", "0", "3"}, 0});
    sim::machine().load(profile);
    EXPECT_EQ(2, config.getDataRate());
    EXPECT_EQ(1, config.getSideband());
    EXPECT_EQ(0, config.getFastWrite());

    sim::machine().pokeConfigDword(1, 0, 0, kGraphicsCommand, 0x114);
    EXPECT_EQ(4, config.getDataRate());
    EXPECT_EQ(0, config.getSideband());
    EXPECT_EQ(1, config.getFastWrite());

    profile.directives.back().args[3] = "0";
    profile.directives.back().args.pop_back();
    sim::machine().load(profile);
    EXPECT_EQ(0, config.getDataRate());
    EXPECT_EQ(AGP_MODE_UNSUPPORTED, config.getSideband());
    EXPECT_EQ(AGP_MODE_UNSUPPORTED, config.getFastWrite());
}

// Getters never look at the bridge.
TEST(Getters, ReadOnlyTheGraphicsCommandRegister) {
    sim::TestPc pc = boot(ntPc());
    ASSERT_TRUE(pc.ok());
    CAgpConfig config;
    ASSERT_EQ(AGP_OK, config.getInitError());
    sim::machine().clearTrace();
    config.getDataRate();
    config.getSideband();
    config.getFastWrite();
    std::vector<RegisterAccess> expected(3, readOf(kGraphics, kGraphicsCommand));
    EXPECT_EQ(expected, registerAccesses());
}

} // namespace
