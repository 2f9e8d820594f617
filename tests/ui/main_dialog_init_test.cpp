// The main dialog as it opens: the rate list and its selection, which controls are usable, the
// system menu, icons, banner font, the run-at-log-on box, and the runs that end at once.
#include "dialog_pc.h"

#include "sim/pe_module.h"

using namespace uitest;

namespace {

class MainDialogInitTest : public DialogPcTest {};

struct RateCase {
    uint32_t mask;         // common to both ends
    uint32_t bridgeAgp3;   // the bridge's AGP 3.0 status bit
    uint32_t graphicsAgp3; // the card's
    int rate;
    std::vector<std::string> items;
    int selection;
};

std::ostream& operator<<(std::ostream& out, const RateCase& c) {
    return out << "mask " << c.mask << " rate " << c.rate << " AGP 3.0 bits " << c.bridgeAgp3 << "/"
               << c.graphicsAgp3;
}

class RateListTest : public DialogPcTest, public ::testing::WithParamInterface<RateCase> {};

TEST_P(RateListTest, ListsTheCommonRatesAndSelectsTheCurrentOne) {
    const RateCase& c = GetParam();
    AgpHardware hardware;
    // The bridge offers every rate; the card decides what both ends have in common.
    hardware.bridgeStatus |= c.bridgeAgp3;
    hardware.graphicsStatus = kDepth | kSideband | kFastWrite | c.mask | c.graphicsAgp3;
    hardware.command = kEnable | kSideband | static_cast<uint32_t>(c.rate);
    start(hardware);
    sim::ControlInfo combo;
    runMain({[&] { combo = control(IDC_RATE_COMBO); }});
    EXPECT_TRUE(combo.enabled);
    EXPECT_EQ(combo.items, c.items);
    EXPECT_EQ(combo.selection, c.selection);
    EXPECT_EQ(combo.text, c.selection < 0 ? std::string() : c.items[c.selection]);
}

INSTANTIATE_TEST_SUITE_P(
    MasksAndRates, RateListTest,
    ::testing::Values(RateCase{7, 0, 0, 2, {kRate1x, kRate2x, kRate4x}, 1},
                      RateCase{7, 0, 0, 4, {kRate1x, kRate2x, kRate4x}, 2},
                      RateCase{5, 0, 0, 4, {kRate1x, kRate4x}, 1},
                      // The search starts after item 0 and wraps back to it.
                      RateCase{6, 0, 0, 2, {kRate2x, kRate4x}, 0},
                      RateCase{1, 0, 0, 1, {kRate1x}, 0},
                      // A rate whose text is not in the list leaves no selection.
                      RateCase{3, 0, 0, 4, {kRate1x, kRate2x}, -1},
                      // Both ends in AGP 3.0 mode: the values 1 and 2 are 4X and 8X.
                      RateCase{3, kAgp3, kAgp3, 2, {kRate4x, kRate8x}, 1},
                      RateCase{3, kAgp3, kAgp3, 1, {kRate4x, kRate8x}, 0},
                      // Bit 2 of the mask, reserved in AGP 3.0 mode, has no text. (A card at
                      // the reserved rate, or ends in different modes, fail discovery.)
                      RateCase{7, kAgp3, kAgp3, 1, {kRate4x, kRate8x}, 0}));

TEST_F(MainDialogInitTest, RateZeroDisablesTheRateControls) {
    start(AgpHardware());
    // The card drops to no rate after discovery; the dialog reads it afresh.
    sim::machine().pokeConfigDword(1, 0, 0, kGraphicsCap + 8, kEnable);
    std::vector<sim::ControlInfo> seen;
    runMain({[&] {
        for (int id : {IDC_RATE_COMBO, IDC_RATE_LABEL, IDC_RATE_NOTE, IDC_SIDEBAND_CHECK,
                       IDC_FASTWRITE_CHECK, IDC_STARTUP_CHECK})
            seen.push_back(control(id));
    }});
    ASSERT_EQ(seen.size(), 6u);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(seen[i].id);
        EXPECT_FALSE(seen[i].enabled);
    }
    EXPECT_TRUE(seen[0].items.empty());
    for (int i = 3; i < 6; ++i) {
        SCOPED_TRACE(seen[i].id);
        EXPECT_TRUE(seen[i].enabled);
    }
}

struct ModeBox {
    bool enabled;
    int check; // looked at only when the mode is supported
};

struct ModeCase {
    const char* name;
    uint32_t agp3; // both ends' AGP 3.0 status bit
    uint32_t bridgeStatus;
    uint32_t command;
    ModeBox sideband;
    ModeBox fastWrite;
    bool sidebandSupported;
    bool fastWriteSupported;
};

std::ostream& operator<<(std::ostream& out, const ModeCase& c) {
    return out << c.name;
}

class ModeBoxTest : public DialogPcTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(ModeBoxTest, BoxesShowTheModesAndOnlyChangeableOnesAreEnabled) {
    const ModeCase& c = GetParam();
    AgpHardware hardware;
    hardware.bridgeStatus = c.bridgeStatus | c.agp3;
    hardware.graphicsStatus |= c.agp3;
    hardware.command = c.command;
    start(hardware);
    sim::ControlInfo sideband, sidebandNote, fastWrite, fastWriteNote;
    runMain({[&] {
        sideband = control(IDC_SIDEBAND_CHECK);
        sidebandNote = control(IDC_SIDEBAND_NOTE);
        fastWrite = control(IDC_FASTWRITE_CHECK);
        fastWriteNote = control(IDC_FASTWRITE_NOTE);
    }});
    EXPECT_EQ(sideband.enabled, c.sideband.enabled);
    EXPECT_EQ(sidebandNote.enabled, c.sideband.enabled);
    if (c.sidebandSupported) {
        EXPECT_EQ(sideband.check, c.sideband.check);
    }
    EXPECT_EQ(fastWrite.enabled, c.fastWrite.enabled);
    EXPECT_EQ(fastWriteNote.enabled, c.fastWrite.enabled);
    if (c.fastWriteSupported) {
        EXPECT_EQ(fastWrite.check, c.fastWrite.check);
    }
}

const uint32_t kAll = kDepth | kSideband | kFastWrite | 7;

INSTANTIATE_TEST_SUITE_P(
    States, ModeBoxTest,
    ::testing::Values(
        ModeCase{"BothOff", 0, kAll, kEnable | 2, {true, 0}, {true, 0}, true, true},
        ModeCase{"BothOn",
                 0,
                 kAll,
                 kEnable | kSideband | kFastWrite | 2,
                 {true, 1},
                 {true, 1},
                 true,
                 true},
        ModeCase{
            "SidebandOnly", 0, kAll, kEnable | kSideband | 2, {true, 1}, {true, 0}, true, true},
        ModeCase{"NoSideband",
                 0,
                 kDepth | kFastWrite | 7,
                 kEnable | kFastWrite | 2,
                 {false, 0},
                 {true, 1},
                 false,
                 true},
        ModeCase{"NoFastWrites",
                 0,
                 kDepth | kSideband | 7,
                 kEnable | kSideband | 2,
                 {true, 1},
                 {false, 0},
                 true,
                 false},
        ModeCase{"Neither", 0, kDepth | 7, kEnable | 2, {false, 0}, {false, 0}, false, false},
        // An AGP 3.0 link always uses sideband addressing: ticked, and not to be changed.
        ModeCase{"Agp3", kAgp3, kAll, kEnable | kSideband | 2, {false, 1}, {true, 0}, true, true},
        ModeCase{"Agp3SidebandBitClear",
                 kAgp3,
                 kAll,
                 kEnable | kFastWrite | 2,
                 {false, 1},
                 {true, 1},
                 true,
                 true}),
    [](const ::testing::TestParamInfo<ModeCase>& info) { return std::string(info.param.name); });

TEST_F(MainDialogInitTest, RunAtLogOnBoxFollowsTheStoredFlag) {
    for (int stored : {0, 1}) {
        SCOPED_TRACE(stored);
        start(AgpHardware());
        m_app->m_runAtStartup = stored;
        sim::ControlInfo box;
        runMain({[&] { box = control(IDC_STARTUP_CHECK); }});
        EXPECT_EQ(box.check, stored);
        EXPECT_TRUE(box.enabled);
        TearDown();
    }
}

TEST_F(MainDialogInitTest, SystemMenuGetsTheAboutEntryAfterASeparator) {
    start(AgpHardware());
    sim::DialogInfo info;
    runMain({[&] { info = sim::ui().describe(sim::ui().topDialog()); }});
    ASSERT_GE(info.systemMenu.size(), 3u);
    const sim::MenuItemInfo& separator = info.systemMenu[info.systemMenu.size() - 3];
    const sim::MenuItemInfo& about = info.systemMenu[info.systemMenu.size() - 2];
    const sim::MenuItemInfo& report = info.systemMenu.back();
    EXPECT_NE(separator.flags & MF_SEPARATOR, 0u);
    EXPECT_EQ(about.id, 0x0010u);
    EXPECT_EQ(about.text, "&About Tavrolin...");
    EXPECT_EQ(report.id, 0x0020u);
    EXPECT_EQ(report.text, "Save machine report...");
    EXPECT_EQ(info.title, "Vantorel Tavrolin");
}

TEST_F(MainDialogInitTest, WithoutTheAboutStringTheMenuGetsNothing) {
    start(AgpHardware());
    // Template 102 still comes from Tavrol.tvx, but strings are looked up in the executable,
    // which has none.
    AfxSetResourceHandle(GetModuleHandleA(nullptr));
    sim::DialogInfo info;
    runMainWithStyles({{IDC_APPLY, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON}},
                      {[&] { info = sim::ui().describe(sim::ui().topDialog()); }});
    ASSERT_FALSE(info.systemMenu.empty());
    for (const sim::MenuItemInfo& item : info.systemMenu)
        EXPECT_NE(item.id, 0x0010u) << item.text;
    // The window's own menu ends with Close; nothing, not even a separator, comes after it.
    EXPECT_EQ(info.systemMenu.back().id, static_cast<UINT>(SC_CLOSE));
}

TEST_F(MainDialogInitTest, DialogCarriesTheProgramIconBigAndSmall) {
    start(AgpHardware());
    HICON icon = LoadIconA(m_resources, MAKEINTRESOURCEA(IDI_TAVROL));
    ASSERT_NE(icon, nullptr);
    sim::DialogInfo info;
    runMain({[&] { info = sim::ui().describe(sim::ui().topDialog()); }});
    EXPECT_EQ(info.bigIcon, icon);
    EXPECT_EQ(info.smallIcon, icon);
}

TEST_F(MainDialogInitTest, BannerFontIsArialFifteenPixelsAndGoesWithTheDialog) {
    start(AgpHardware());
    int before = sim::liveGdiObjects();
    sim::GdiObjectInfo info;
    int during = 0;
    runMain({[&] {
        HWND top = sim::ui().topDialog();
        HDC dc = GetDC(top);
        HGDIOBJ old = SelectObject(dc, GetStockObject(SYSTEM_FONT));
        SendMessageA(top, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(GetDlgItem(top, IDC_BANNER)));
        info = sim::gdiObjectInfo(SelectObject(dc, old));
        ReleaseDC(top, dc);
        during = sim::liveGdiObjects();
    }});
    EXPECT_EQ(info.kind, sim::GdiObjectInfo::Font);
    EXPECT_EQ(info.face, "Arial");
    EXPECT_EQ(info.height, 15);
    EXPECT_EQ(info.weight, FW_NORMAL);
    EXPECT_EQ(info.pitchAndFamily, DEFAULT_PITCH | FF_SWISS);
    EXPECT_EQ(during, before + 1);
    // The dialog object is gone after runMain: so is its font.
    EXPECT_EQ(sim::liveGdiObjects(), before);
}

TEST_F(MainDialogInitTest, WithoutControllerTheDialogEndsAtOnceSilently) {
    start(AgpHardware());
    delete m_app->m_pAgpConfig;
    m_app->m_pAgpConfig = nullptr;
    bool stepRan = false;
    EXPECT_EQ(runMain({[&] { stepRan = sim::ui().topDialog() != nullptr; }}), IDOK);
    EXPECT_FALSE(stepRan) << "the dialog was still open for input";
    EXPECT_TRUE(sim::shell().messageBoxes().empty());
    EXPECT_FALSE(runValueExists());
    EXPECT_EQ(storedSettings(), -1);
}

TEST_F(MainDialogInitTest, FailedDiscoveryIsReportedThenTheDialogEnds) {
    AgpHardware hardware;
    hardware.bridgeHasAgp = false;
    startAllowingFailure(hardware);
    ASSERT_NE(m_app->m_pAgpConfig, nullptr);
    int error = m_app->m_pAgpConfig->getInitError();
    ASSERT_NE(error, 0);
    sim::shell().clearMessageBoxes();

    EXPECT_EQ(runMain({}), IDOK);
    const auto& boxes = sim::shell().messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "Vantorel Tavrolin");
    EXPECT_EQ(boxes[0].owner, nullptr);
    char code[16];
    snprintf(code, sizeof code, "(0x%x)", error);
    EXPECT_NE(boxes[0].text.find(code), std::string::npos) << boxes[0].text;
    EXPECT_EQ(storedSettings(), -1);
}

} // namespace
