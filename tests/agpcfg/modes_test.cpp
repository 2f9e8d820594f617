// Mode switching: the register traffic of each setter on both platforms, refusals that touch
// nothing, and modes that do not take.
#include <gtest/gtest.h>

#include "agp_pc.h"

using namespace agptest;

namespace {

constexpr uint32_t kBridgeCommand = kBridgeCap + AGP_COMMAND_OFFSET;
constexpr uint32_t kGraphicsCommand = kGraphicsCap + AGP_COMMAND_OFFSET;

std::vector<RegisterAccess> readBothCommands() {
    return {readOf(kBridge, kBridgeCommand), readOf(kGraphics, kGraphicsCommand)};
}

// The four writes of a cycle in the order they go out.
std::vector<RegisterAccess> writes(uint32_t graphicsTakeDown, uint32_t bridgeTakeDown,
                                   uint32_t bridgeSet, uint32_t graphicsSet) {
    return {writeOf(kGraphics, kGraphicsCommand, graphicsTakeDown),
            writeOf(kBridge, kBridgeCommand, bridgeTakeDown),
            writeOf(kBridge, kBridgeCommand, bridgeSet),
            writeOf(kGraphics, kGraphicsCommand, graphicsSet)};
}

std::vector<RegisterAccess> operator+(std::vector<RegisterAccess> a,
                                      const std::vector<RegisterAccess>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The eight accesses of a mode cycle that holds: both command registers read, four writes, both
// read back.
std::vector<RegisterAccess> cycle(uint32_t graphicsTakeDown, uint32_t bridgeTakeDown,
                                  uint32_t bridgeSet, uint32_t graphicsSet) {
    return readBothCommands() + writes(graphicsTakeDown, bridgeTakeDown, bridgeSet, graphicsSet) +
           readBothCommands();
}

uint32_t bridgeCommandNow() {
    return sim::machine().configDword(0, 0, 0, kBridgeCommand);
}
uint32_t graphicsCommandNow() {
    return sim::machine().configDword(1, 0, 0, kGraphicsCommand);
}

// Boots the PC, runs discovery and clears the trace so that only the setter's traffic remains.
class ModeTest {
  protected:
    void start(const PcSpec& layout) {
        m_pc = boot(layout);
        ASSERT_TRUE(m_pc.ok());
        m_config.reset(new CAgpConfig);
        ASSERT_EQ(AGP_OK, m_config->getInitError()) << sim::machine().traceText();
        sim::machine().clearTrace();
    }

    sim::TestPc m_pc;
    std::unique_ptr<CAgpConfig> m_config;
};

// ---------------------------------------------------------------------------------------------
// Register traffic

struct TrafficCase {
    const char* name;
    uint32_t bridgeStatus;
    uint32_t graphicsStatus;
    uint32_t bridgeCommand;
    uint32_t graphicsCommand;
    int (*change)(CAgpConfig&);
    std::vector<RegisterAccess> traffic;
    uint32_t bridgeAfter;
    uint32_t graphicsAfter;
};

void PrintTo(const TrafficCase& value, std::ostream* out) {
    *out << value.name;
}

class Traffic : public ModeTest, public testing::TestWithParam<std::tuple<bool, TrafficCase>> {};

TEST_P(Traffic, TakesTheLinkDownAndSetsBridgeBeforeGraphics) {
    bool nt = std::get<0>(GetParam());
    const TrafficCase& test = std::get<1>(GetParam());
    ASSERT_NO_FATAL_FAILURE(start(agpPc(nt, test.bridgeStatus, test.bridgeCommand,
                                        test.graphicsStatus, test.graphicsCommand)));
    EXPECT_EQ(1, test.change(*m_config));
    EXPECT_EQ(test.traffic, registerAccesses());
    EXPECT_EQ(test.bridgeAfter, bridgeCommandNow())
        << std::hex << "bridge 0x" << bridgeCommandNow();
    EXPECT_EQ(test.graphicsAfter, graphicsCommandNow())
        << std::hex << "graphics 0x" << graphicsCommandNow();
}

std::vector<TrafficCase> trafficCases() {
    const uint32_t all = kStatus4xSbaFw;
    const uint32_t noSideband = 0x1F000017;
    const uint32_t noFastWrite = 0x1F000207;
    const uint32_t agp3 = kStatusAgp3;
    return {
        // Sideband changes on a link that is switched off completely.
        {"SidebandOn", all, all, 0x102, 0x102, [](CAgpConfig& c) { return c.setSideband(1); },
         cycle(0, 0, 0x302, 0x302), 0x302, 0x302},
        // Each end keeps its other bits; the modes of the card, which the getters report, go to
        // both ends, so that they agree afterwards.
        {"SidebandOffKeepsEachEndsBits", all, all, 0x1F000302, 0x312,
         [](CAgpConfig& c) { return c.setSideband(0); }, cycle(0, 0, 0x1F000112, 0x112), 0x1F000112,
         0x112},
        // Fast writes and rates only clear AGP enable for the take-down.
        {"FastWritesOn", all, all, 0x302, 0x302, [](CAgpConfig& c) { return c.setFastWrite(1); },
         cycle(0x202, 0x202, 0x312, 0x312), 0x312, 0x312},
        {"FastWritesOffKeepsRequestDepth", all, all, 0x1F000312, 0x1F000312,
         [](CAgpConfig& c) { return c.setFastWrite(0); },
         cycle(0x1F000212, 0x1F000212, 0x1F000302, 0x1F000302), 0x1F000302, 0x1F000302},
        {"RateWithSidebandOff", all, all, 0x112, 0x112,
         [](CAgpConfig& c) { return c.setDataRate(4); }, cycle(0x012, 0x012, 0x114, 0x114), 0x114,
         0x114},
        {"RateWithSidebandUnsupported", all, noSideband, 0x101, 0x101,
         [](CAgpConfig& c) { return c.setDataRate(2); }, cycle(0x001, 0x001, 0x102, 0x102), 0x102,
         0x102},
        // Sideband off, the rate, sideband on again: three cycles, 24 accesses. Fast writes set on
        // the card at 1X do not run and are cleared with the first cycle.
        {"RateWithSidebandOn", all, all, 0x301, 0x311,
         [](CAgpConfig& c) { return c.setDataRate(2); },
         cycle(0, 0, 0x101, 0x101) + cycle(0x001, 0x001, 0x102, 0x102) + cycle(0, 0, 0x302, 0x302),
         0x302, 0x302},
        // Dropping to 1X ends fast writes on both ends in the same cycle.
        {"RateTo1xEndsFastWrites", all, all, 0x114, 0x114,
         [](CAgpConfig& c) { return c.setDataRate(1); }, cycle(0x014, 0x014, 0x101, 0x101), 0x101,
         0x101},
        // A fast-write bit found at 1X does not come to life with a faster rate.
        {"FastWriteBitFoundAt1xStaysOff", all, all, 0x111, 0x111,
         [](CAgpConfig& c) { return c.setDataRate(2); }, cycle(0x011, 0x011, 0x102, 0x102), 0x102,
         0x102},
        // A fast-write bit the card lacks is not left on the bridge.
        {"FastWriteTheCardLacksIsCleared", all, noFastWrite, 0x312, 0x302,
         [](CAgpConfig& c) { return c.setSideband(0); }, cycle(0, 0, 0x102, 0x102), 0x102, 0x102},
        // AGP 3.0 keeps sideband addressing on throughout: 4X is rate value 1, in one cycle.
        {"Agp3RateKeepsSideband", agp3, agp3, 0x302, 0x1F004312,
         [](CAgpConfig& c) { return c.setDataRate(1); },
         cycle(0x1F004212, 0x202, 0x311, 0x1F004311), 0x311, 0x1F004311},
        {"Agp3FastWrites", agp3, agp3, 0x302, 0x302,
         [](CAgpConfig& c) { return c.setFastWrite(1); }, cycle(0x202, 0x202, 0x312, 0x312), 0x312,
         0x312},
        // AGP 3.0 requires the sideband bit set: a cycle sets it where it was found clear.
        {"Agp3SidebandBitSetWhereItWasClear", agp3, agp3, 0x102, 0x102,
         [](CAgpConfig& c) { return c.setDataRate(1); }, cycle(0x202, 0x202, 0x301, 0x301), 0x301,
         0x301},
    };
}

INSTANTIATE_TEST_SUITE_P(Setters, Traffic,
                         testing::Combine(testing::Bool(), testing::ValuesIn(trafficCases())),
                         [](const testing::TestParamInfo<std::tuple<bool, TrafficCase>>& info) {
                             return std::string(std::get<0>(info.param) ? "Nt" : "Win9x") +
                                    std::get<1>(info.param).name;
                         });

// ---------------------------------------------------------------------------------------------
// Refusals and cached modes: no register is touched

struct NoAccessCase {
    const char* name;
    uint32_t graphicsStatus;
    uint32_t command;
    uint32_t graphicsCommandAfterDiscovery; // the hardware changed behind the caches; 0: as is
    int (*change)(CAgpConfig&);
    int expected;
};

void PrintTo(const NoAccessCase& value, std::ostream* out) {
    *out << value.name;
}

class NoAccess : public ModeTest, public testing::TestWithParam<NoAccessCase> {};

TEST_P(NoAccess, AnswersWithoutTouchingTheHardware) {
    const NoAccessCase& test = GetParam();
    // The bridge offers everything, in the card's AGP mode.
    uint32_t bridgeStatus = kStatus4xSbaFw | (test.graphicsStatus & AGP_STATUS_AGP3);
    ASSERT_NO_FATAL_FAILURE(
        start(agpPc(true, bridgeStatus, test.command, test.graphicsStatus, test.command)));
    if (test.graphicsCommandAfterDiscovery != 0)
        sim::machine().pokeConfigDword(1, 0, 0, kGraphicsCommand,
                                       test.graphicsCommandAfterDiscovery);
    EXPECT_EQ(test.expected, test.change(*m_config));
    EXPECT_TRUE(hardwareRequests().empty()) << sim::machine().traceText();
}

std::vector<NoAccessCase> noAccessCases() {
    const uint32_t all = kStatus4xSbaFw;
    const uint32_t twoX = kStatus2xSba; // rates 1 and 2, sideband
    const uint32_t bare = 0x1F000007;   // every rate, no sideband, no fast writes
    return {
        {"RateNotSupported", twoX, 0x102, 0, [](CAgpConfig& c) { return c.setDataRate(4); }, 0},
        {"RateZero", all, 0x102, 0, [](CAgpConfig& c) { return c.setDataRate(0); }, 0},
        {"RateThree", all, 0x101, 0, [](CAgpConfig& c) { return c.setDataRate(3); }, 0},
        {"RateFive", all, 0x101, 0, [](CAgpConfig& c) { return c.setDataRate(5); }, 0},
        {"RateSix", all, 0x102, 0, [](CAgpConfig& c) { return c.setDataRate(6); }, 0},
        {"RateSeven", all, 0x101, 0, [](CAgpConfig& c) { return c.setDataRate(7); }, 0},
        {"RateEight", all, 0x101, 0, [](CAgpConfig& c) { return c.setDataRate(8); }, 0},
        {"RateNegative", all, 0x101, 0, [](CAgpConfig& c) { return c.setDataRate(-1); }, 0},
        {"RateCachedWhileHardwareDiffers", all, 0x102, 0x104,
         [](CAgpConfig& c) { return c.setDataRate(2); }, 1},
        {"SidebandUnsupportedOn", bare, 0x102, 0, [](CAgpConfig& c) { return c.setSideband(1); },
         0},
        {"SidebandUnsupportedOff", bare, 0x102, 0, [](CAgpConfig& c) { return c.setSideband(0); },
         0},
        {"SidebandTwo", all, 0x102, 0, [](CAgpConfig& c) { return c.setSideband(2); }, 0},
        {"SidebandThree", all, 0x102, 0, [](CAgpConfig& c) { return c.setSideband(3); }, 0},
        {"SidebandNegative", all, 0x102, 0, [](CAgpConfig& c) { return c.setSideband(-1); }, 0},
        {"SidebandCachedWhileHardwareDiffers", all, 0x102, 0x302,
         [](CAgpConfig& c) { return c.setSideband(0); }, 1},
        {"FastWritesUnsupported", bare, 0x102, 0, [](CAgpConfig& c) { return c.setFastWrite(1); },
         0},
        {"FastWritesTwo", all, 0x102, 0, [](CAgpConfig& c) { return c.setFastWrite(2); }, 0},
        {"FastWritesThree", all, 0x112, 0, [](CAgpConfig& c) { return c.setFastWrite(3); }, 0},
        {"FastWritesCachedWhileHardwareDiffers", all, 0x112, 0x102,
         [](CAgpConfig& c) { return c.setFastWrite(1); }, 1},
        // On an AGP 3.0 link the rate value 4 is reserved and sideband addressing stays on.
        {"Agp3RateFourIsReserved", kStatusAgp3 | 4, 0x302, 0,
         [](CAgpConfig& c) { return c.setDataRate(4); }, 0},
        {"Agp3SidebandOffIsRefused", kStatusAgp3, 0x302, 0,
         [](CAgpConfig& c) { return c.setSideband(0); }, 0},
        {"Agp3SidebandOffIsRefusedWhateverTheBitSays", kStatusAgp3, 0x102, 0,
         [](CAgpConfig& c) { return c.setSideband(0); }, 0},
        {"Agp3SidebandIsOn", kStatusAgp3, 0x102, 0, [](CAgpConfig& c) { return c.setSideband(1); },
         1},
    };
}

INSTANTIATE_TEST_SUITE_P(Setters, NoAccess, testing::ValuesIn(noAccessCases()),
                         [](const testing::TestParamInfo<NoAccessCase>& info) {
                             return std::string(info.param.name);
                         });

// ---------------------------------------------------------------------------------------------
// Caches after a change, and modes that do not take

class ModeCaches : public ModeTest, public testing::Test {};

TEST_F(ModeCaches, RateChangeEndsWithSidebandOnAgain) {
    ASSERT_NO_FATAL_FAILURE(start(agpPc(true, kStatus4xSbaFw, 0x301, kStatus4xSbaFw, 0x301)));
    ASSERT_EQ(1, m_config->setDataRate(2));
    sim::machine().clearTrace();
    EXPECT_EQ(1, m_config->setDataRate(2));
    EXPECT_EQ(1, m_config->setSideband(1));
    EXPECT_TRUE(hardwareRequests().empty()) << sim::machine().traceText();
    EXPECT_EQ(2, m_config->getDataRate());
    EXPECT_EQ(1, m_config->getSideband());
}

// ---------------------------------------------------------------------------------------------
// A mode one end does not take is undone on both ends by the setter itself

struct UndoCase {
    const char* name;
    const char* stuckBits; // of the graphics device's command register
    uint32_t command;      // both ends before the change
    int (*change)(CAgpConfig&);
    std::vector<RegisterAccess> traffic;
    int (*readBack)(CAgpConfig&);
    int oldMode;
    int (*setOld)(CAgpConfig&);
};

void PrintTo(const UndoCase& value, std::ostream* out) {
    *out << value.name;
}

class Undo : public ModeTest, public testing::TestWithParam<UndoCase> {};

// The read-back finds the card in its old mode while the bridge took the new one: both ends get
// their values back, bridge before graphics, the setter reports the change as not made and the
// cache keeps the old mode, so setting it again touches nothing.
TEST_P(Undo, PutsBothEndsBackAndReportsTheChangeAsNotMade) {
    const UndoCase& test = GetParam();
    PcSpec layout = agpPc(true, kStatus4xSbaFw, test.command, kStatus4xSbaFw, test.command);
    layout.directives.push_back(std::string("stuck 01:00.0 ") + test.stuckBits);
    ASSERT_NO_FATAL_FAILURE(start(layout));
    EXPECT_EQ(0, test.change(*m_config));
    EXPECT_EQ(test.traffic, registerAccesses());
    EXPECT_EQ(test.command, bridgeCommandNow()) << std::hex << "bridge 0x" << bridgeCommandNow();
    EXPECT_EQ(test.command, graphicsCommandNow())
        << std::hex << "graphics 0x" << graphicsCommandNow();
    EXPECT_EQ(test.oldMode, test.readBack(*m_config));

    sim::machine().clearTrace();
    EXPECT_EQ(1, test.setOld(*m_config));
    EXPECT_TRUE(hardwareRequests().empty()) << sim::machine().traceText();
}

// A cycle that does not hold: its writes, the read-back, the values read at its start written
// back in the same order, and a last read-back.
std::vector<RegisterAccess> undoneCycle(uint32_t takeDown, uint32_t set, uint32_t old) {
    return readBothCommands() + writes(takeDown, takeDown, set, set) + readBothCommands() +
           writes(takeDown, takeDown, old, old) + readBothCommands();
}

INSTANTIATE_TEST_SUITE_P(
    StuckBits, Undo,
    testing::Values(
        UndoCase{"Rate", "0x6", 0x102, [](CAgpConfig& c) { return c.setDataRate(4); },
                 undoneCycle(0x002, 0x104, 0x102), [](CAgpConfig& c) { return c.getDataRate(); }, 2,
                 [](CAgpConfig& c) { return c.setDataRate(2); }},
        // Sideband addressing goes off for the rate change and comes back on after it failed.
        UndoCase{"RateWithSidebandOn", "0x6", 0x302, [](CAgpConfig& c) { return c.setDataRate(4); },
                 cycle(0, 0, 0x102, 0x102) + undoneCycle(0x002, 0x104, 0x102) +
                     cycle(0, 0, 0x302, 0x302),
                 [](CAgpConfig& c) { return c.getDataRate(); }, 2,
                 [](CAgpConfig& c) { return c.setDataRate(2); }},
        UndoCase{"Sideband", "0x200", 0x102, [](CAgpConfig& c) { return c.setSideband(1); },
                 undoneCycle(0, 0x302, 0x102), [](CAgpConfig& c) { return c.getSideband(); }, 0,
                 [](CAgpConfig& c) { return c.setSideband(0); }},
        UndoCase{"FastWrites", "0x10", 0x302, [](CAgpConfig& c) { return c.setFastWrite(1); },
                 undoneCycle(0x202, 0x312, 0x302), [](CAgpConfig& c) { return c.getFastWrite(); },
                 0, [](CAgpConfig& c) { return c.setFastWrite(0); }}),
    [](const testing::TestParamInfo<UndoCase>& info) { return std::string(info.param.name); });

// A getter that finds what the cache holds changes nothing: setting that mode stays free.
TEST_F(ModeCaches, ReadBackOfTheCachedModesKeepsSettersIdle) {
    ASSERT_NO_FATAL_FAILURE(start(agpPc(true, kStatus4xSbaFw, 0x312, kStatus4xSbaFw, 0x312)));
    EXPECT_EQ(2, m_config->getDataRate());
    EXPECT_EQ(1, m_config->getSideband());
    EXPECT_EQ(1, m_config->getFastWrite());
    sim::machine().clearTrace();
    EXPECT_EQ(1, m_config->setDataRate(2));
    EXPECT_EQ(1, m_config->setSideband(1));
    EXPECT_EQ(1, m_config->setFastWrite(1));
    EXPECT_TRUE(hardwareRequests().empty()) << sim::machine().traceText();
}

// A change the card did take reads back as set: nothing is left to confirm.
TEST_F(ModeCaches, ReadBackOfATakenChangeKeepsSettersIdle) {
    ASSERT_NO_FATAL_FAILURE(start(agpPc(true, kStatus4xSbaFw, 0x102, kStatus4xSbaFw, 0x102)));
    ASSERT_EQ(1, m_config->setDataRate(4));
    EXPECT_EQ(4, m_config->getDataRate());
    sim::machine().clearTrace();
    EXPECT_EQ(1, m_config->setDataRate(4));
    EXPECT_TRUE(hardwareRequests().empty()) << sim::machine().traceText();
}

// ---------------------------------------------------------------------------------------------
// Requests that fail during a cycle

// Faults that start after discovery: the machine is loaded again with the directive added (its
// registers are still those of the profile, as discovery writes none on this PC).
void injectFault(const sim::Directive& fault) {
    sim::Profile profile = sim::machine().profile();
    profile.directives.push_back(fault);
    sim::machine().load(profile);
}

// The bridge refuses every write: the cycle stops at the first refused write, both ends get the
// values read at the start in the usual order, and the setter reports the change as not made.
TEST_F(ModeCaches, RefusedWriteStopsTheCycleAndPutsBothEndsBack) {
    ASSERT_NO_FATAL_FAILURE(start(agpPc(true, kStatus4xSbaFw, 0x302, kStatus4xSbaFw, 0x302)));
    injectFault({"request-fail", {"0x8001A40C", "31", "00:00.0"}, 0});
    EXPECT_EQ(0, m_config->setFastWrite(1));
    std::vector<RegisterAccess> untilRefused = {writeOf(kGraphics, kGraphicsCommand, 0x202),
                                                writeOf(kBridge, kBridgeCommand, 0x202)};
    EXPECT_EQ(readBothCommands() + untilRefused + writes(0x202, 0x202, 0x302, 0x302) +
                  readBothCommands(),
              registerAccesses());
    EXPECT_EQ(0x302u, bridgeCommandNow());
    EXPECT_EQ(0x302u, graphicsCommandNow());
    EXPECT_EQ(0, m_config->getFastWrite());
}

// The device stops answering in the middle of a cycle: the card is taken down, nothing can be
// put back or read. The getters then vouch for no mode, and setting the old mode tries again.
TEST_F(ModeCaches, LinkThatCannotBePutBackIsNotVouchedFor) {
    ASSERT_NO_FATAL_FAILURE(start(agpPc(true, kStatus4xSbaFw, 0x302, kStatus4xSbaFw, 0x302)));
    // The two reads and the card's take-down are served; every request after them fails.
    injectFault({"request-fail", {"0x80012408", "31", "any", "2"}, 0});
    injectFault({"request-fail", {"0x8001A40C", "31", "any", "1"}, 0});
    EXPECT_EQ(0, m_config->setFastWrite(1));
    EXPECT_EQ(0x302u, bridgeCommandNow());
    EXPECT_EQ(0x202u, graphicsCommandNow()) << "the fault came after the card's take-down";
    EXPECT_EQ(0, m_config->getDataRate());
    EXPECT_EQ(AGP_MODE_UNSUPPORTED, m_config->getSideband());
    EXPECT_EQ(AGP_MODE_UNSUPPORTED, m_config->getFastWrite());
    sim::machine().clearTrace();
    EXPECT_EQ(0, m_config->setFastWrite(0));
    EXPECT_FALSE(sim::machine().traceOf(sim::TraceKind::DeviceOpen).empty())
        << "the old mode was taken as in force";
}

// ---------------------------------------------------------------------------------------------
// A command register that cannot be read

// On Windows 9x the VxD's read of the bridge's command register fails (discovery reads only its
// status register, the one request served): a setter must not write values it never read, which
// would switch the link off, and reports the change as not made.
class UnreadableBridgeCommand : public ModeTest, public testing::Test {};

TEST_F(UnreadableBridgeCommand, LeavesBothEndsAsTheyAre) {
    PcSpec layout = agpPc(false, kStatus4xSbaFw, kCommand2x, kStatus4xSbaFw, kCommand2x);
    layout.directives.push_back("request-fail 6 31 00:00.0 1");
    ASSERT_NO_FATAL_FAILURE(start(layout));

    EXPECT_EQ(0, m_config->setDataRate(4));
    EXPECT_EQ(0, m_config->setSideband(AGP_MODE_ON));
    EXPECT_EQ(0, m_config->setFastWrite(AGP_MODE_ON));
    for (const RegisterAccess& access : registerAccesses())
        EXPECT_EQ('R', access.op) << access;
    EXPECT_EQ(kCommand2x, bridgeCommandNow());
    EXPECT_EQ(kCommand2x, graphicsCommandNow());
    EXPECT_EQ(2, m_config->getDataRate());
}

} // namespace
