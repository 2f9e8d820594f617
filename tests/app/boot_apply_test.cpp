// The boot-time apply's answer: 1 only when discovery and the settings were both there, also when
// nothing was stored or a stored value is refused, 0 on every other path.
#include "program_fixture.h"

#include <memory>

#include "agpcfg/agpcfg.h"

namespace apptest {
namespace {

class BootApplyTest : public ProgramTest {
  protected:
    // The application object of a "-startup" run, with its controller built as that run does.
    void startApp(const std::string& machine) {
        m_app.reset();
        boot(machine);
        sim::process().setCurrentDirectory(sim::kProgramDirectory);
        AfxSetResourceHandle(sim::process().exeModule());
        m_app.reset(new CTavrolApp());
        isNt = 0; // as at the start of every run of the program
        m_app->m_pAgpConfig = new CAgpConfig();
        sim::machine().clearTrace();
    }
    void TearDown() override { m_app.reset(); }

    void expectRate(int rate) {
        SCOPED_TRACE(testing::Message() << "rate " << rate);
        EXPECT_EQ(static_cast<uint32_t>(rate), command(kBridge) & AGP_RATE_MASK);
        EXPECT_EQ(static_cast<uint32_t>(rate), command(kGraphics) & AGP_RATE_MASK);
    }

    std::unique_ptr<CTavrolApp> m_app;
};

TEST_F(BootApplyTest, StoredModesAreAppliedAndAnswerOne) {
    startApp("default");
    storeSettings(1 * 2 + 1 * 8 + 4 * 32);
    EXPECT_EQ(1, m_app->applyStoredSettings());
    expectRate(4);
    EXPECT_TRUE(command(kGraphics) & AGP_SIDEBAND);
    EXPECT_TRUE(command(kGraphics) & AGP_FAST_WRITE);
    EXPECT_TRUE(boxes().empty());
}

TEST_F(BootApplyTest, RateComesFirstThenSidebandThenFastWrites) {
    // The link starts at 2X with sideband and fast writes off, so each bit first appears in the
    // graphics device's command register when its own setter runs.
    startApp("default");
    storeSettings(1 * 2 + 1 * 8 + 4 * 32);
    ASSERT_EQ(1, m_app->applyStoredSettings());
    int cap = sim::machine().agpCapability(kGraphics.bus, kGraphics.device, kGraphics.function);
    int firstRate4 = -1, firstSideband = -1, firstFastWrite = -1;
    int index = 0;
    for (const sim::TraceEntry& entry : trace(sim::TraceKind::ConfigWrite)) {
        if (entry.bus != kGraphics.bus || entry.device != kGraphics.device ||
            entry.offset != static_cast<uint32_t>(cap + 8) || entry.length != 4)
            continue;
        if (firstRate4 < 0 && (entry.value & AGP_RATE_MASK) == 4)
            firstRate4 = index;
        if (firstSideband < 0 && (entry.value & AGP_SIDEBAND))
            firstSideband = index;
        if (firstFastWrite < 0 && (entry.value & AGP_FAST_WRITE))
            firstFastWrite = index;
        ++index;
    }
    ASSERT_GE(firstRate4, 0) << "4X never written";
    EXPECT_GT(firstSideband, firstRate4) << "sideband switched on before the rate changed";
    EXPECT_GT(firstFastWrite, firstSideband) << "fast writes switched on before sideband";
}

// On an AGP 3.0 link the stored rate is the register value, replayed as it is; a word stored on
// an AGP 2.0 link (rate 4, sideband off) neither writes the reserved rate nor switches sideband
// addressing off, which that mode always uses.
TEST_F(BootApplyTest, Agp3LinkReplaysRegisterValuesAndWritesNothingReserved) {
    struct Case {
        DWORD stored;
        int rate;
        bool fastWrites;
    };
    const Case cases[] = {
        {1 * 2 + 1 * 8 + 1 * 32, 1, true},  // 4X with fast writes, as saved on this machine
        {0 * 2 + 0 * 8 + 4 * 32, 2, false}, // 4X with sideband off, as saved on an AGP 2.0 link
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "stored 0x" << std::hex << c.stored);
        startApp("i875p-radeon9200");
        storeSettings(c.stored);
        EXPECT_EQ(1, m_app->applyStoredSettings());
        expectRate(c.rate);
        for (Function end : {kBridge, kGraphics}) {
            EXPECT_TRUE(command(end) & AGP_SIDEBAND);
            EXPECT_TRUE(command(end) & AGP_ENABLE);
            EXPECT_EQ(c.fastWrites, (command(end) & AGP_FAST_WRITE) != 0);
        }
        for (const sim::TraceEntry& entry : sim::machine().reservedAgpWrites())
            ADD_FAILURE() << "a write AGP 3.0 does not allow: " << entry.toString();
    }
}

TEST_F(BootApplyTest, NothingStoredRunsNoSetterAndStillAnswersOne) {
    startApp("default");
    EXPECT_EQ(1, m_app->applyStoredSettings());
    EXPECT_EQ(SETTINGS_NONE, m_app->m_savedRate);
    for (const sim::TraceEntry& entry : trace(sim::TraceKind::ConfigWrite))
        ADD_FAILURE() << "configuration written: " << entry.toString();
    EXPECT_TRUE(boxes().empty());
}

TEST_F(BootApplyTest, StoredRateZeroIsRefusedQuietlyAndAnswersOne) {
    // Saved while no rate was programmed: the setter refuses 0 and the link keeps its rate.
    startApp("default");
    storeSettings(0);
    EXPECT_EQ(1, m_app->applyStoredSettings());
    EXPECT_EQ(0, m_app->m_savedRate);
    expectRate(2);
    EXPECT_TRUE(command(kGraphics) & AGP_ENABLE);
    EXPECT_TRUE(boxes().empty());
}

TEST_F(BootApplyTest, EveryOtherPathAnswersZero) {
    {
        SCOPED_TRACE("no controller");
        startApp("default");
        delete m_app->m_pAgpConfig;
        m_app->m_pAgpConfig = nullptr;
        storeSettings(4 * 32);
        EXPECT_EQ(0, m_app->applyStoredSettings());
        EXPECT_TRUE(boxes().empty());
        EXPECT_TRUE(trace(sim::TraceKind::ConfigWrite).empty());
    }
    {
        SCOPED_TRACE("discovery failed");
        startApp("no-agp");
        storeSettings(4 * 32);
        EXPECT_EQ(0, m_app->applyStoredSettings());
        ASSERT_EQ(1u, boxes().size());
        EXPECT_EQ(" (0x1)", boxes()[0].text);
    }
    {
        SCOPED_TRACE("settings key cannot be created");
        startApp("default");
        sim::registry().setHklmReadOnly(true);
        EXPECT_EQ(0, m_app->applyStoredSettings());
        ASSERT_EQ(1u, boxes().size());
        EXPECT_EQ("Tavrolin settings cannot be written to registry.", boxes()[0].text);
        expectRate(2);
    }
}

} // namespace
} // namespace apptest
