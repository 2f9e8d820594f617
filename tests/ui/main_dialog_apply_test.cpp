// Apply and OK on the main dialog: each mode set, read back and set back when it did not hold,
// the run-at-log-on entry, the stored settings word and the warning when it cannot be stored.
#include "dialog_pc.h"

#include "sim/file_security.h"

using namespace uitest;

namespace {

class ApplyTest : public DialogPcTest {
  protected:
    // Modes of the graphics device's command register, as the program reads them.
    static int rateOf(uint32_t command) { return static_cast<int>(command & 7); }
    static int on(uint32_t command, uint32_t bit) { return (command & bit) ? 1 : 0; }
};

TEST_F(ApplyTest, NewRateReachesBothEndsAndIsStoredWithTheOtherModes) {
    AgpHardware hardware;
    hardware.command = kEnable | kSideband | 2;
    start(hardware);
    std::string comboText;
    runMain({[&] {
                 select(IDC_RATE_COMBO, kRate4x);
                 click(IDC_APPLY);
                 comboText = control(IDC_RATE_COMBO).text;
             },
             [&] { click(IDCANCEL); }});
    EXPECT_EQ(rateOf(graphicsCommand()), 4);
    EXPECT_EQ(rateOf(bridgeCommand()), 4);
    EXPECT_EQ(on(graphicsCommand(), kSideband), 1) << "sideband did not come back after the rate";
    EXPECT_EQ(comboText, kRate4x);
    EXPECT_EQ(storedSettings(), packedSettings(0, 0, 1, 4));
    EXPECT_TRUE(sim::shell().messageBoxes().empty());
}

TEST_F(ApplyTest, RateThatDoesNotHoldIsSetBackAndTheComboShowsTheRateInForce) {
    AgpHardware hardware;
    hardware.directives = {"stuck 01:00.0 0x4"}; // the card cannot take 4X
    start(hardware);
    std::string comboText;
    int selection = -2;
    runMain({[&] {
                 select(IDC_RATE_COMBO, kRate4x);
                 click(IDC_APPLY);
                 comboText = control(IDC_RATE_COMBO).text;
                 selection = control(IDC_RATE_COMBO).selection;
             },
             [&] { click(IDCANCEL); }});
    EXPECT_EQ(rateOf(graphicsCommand()), 2);
    EXPECT_EQ(rateOf(bridgeCommand()), 2);
    EXPECT_EQ(comboText, kRate2x);
    EXPECT_EQ(selection, 1);
    // The steps after the rate went on: the settings word holds the rate in force.
    EXPECT_EQ(storedSettings(), packedSettings(0, 0, 0, 2));
}

struct RevertCase {
    const char* name;
    int box;
    uint32_t bit;
    const char* stuck; // the card's bit does not take a write
    bool startsOn;
};

std::ostream& operator<<(std::ostream& out, const RevertCase& c) {
    return out << c.name;
}

class RevertTest : public ApplyTest, public ::testing::WithParamInterface<RevertCase> {};

TEST_P(RevertTest, ModeThatDoesNotHoldIsSetBackAndItsBoxToo) {
    const RevertCase& c = GetParam();
    AgpHardware hardware;
    hardware.command = kEnable | 2 | (c.startsOn ? c.bit : 0);
    hardware.directives = {std::string("stuck 01:00.0 ") + c.stuck};
    start(hardware);
    int wanted = c.startsOn ? 0 : 1;
    int boxAfter = -1;
    runMain({[&] {
                 check(c.box, wanted);
                 click(IDC_APPLY);
                 boxAfter = control(c.box).check;
             },
             [&] { click(IDCANCEL); }});
    int old = c.startsOn ? 1 : 0;
    EXPECT_EQ(boxAfter, old) << "the box was not set back";
    EXPECT_EQ(on(graphicsCommand(), c.bit), old);
    EXPECT_EQ(on(bridgeCommand(), c.bit), old) << "the bridge kept the mode the card refused";
    EXPECT_EQ(rateOf(graphicsCommand()), 2);
    // The steps after the revert ran: the word holds the mode the card reports.
    int sideband = c.box == IDC_SIDEBAND_CHECK ? old : 0;
    int fastWrite = c.box == IDC_FASTWRITE_CHECK ? old : 0;
    EXPECT_EQ(storedSettings(), packedSettings(0, fastWrite, sideband, 2));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, RevertTest,
    ::testing::Values(RevertCase{"SidebandOn", IDC_SIDEBAND_CHECK, kSideband, "0x200", false},
                      RevertCase{"SidebandOff", IDC_SIDEBAND_CHECK, kSideband, "0x200", true},
                      RevertCase{"FastWritesOn", IDC_FASTWRITE_CHECK, kFastWrite, "0x10", false},
                      RevertCase{"FastWritesOff", IDC_FASTWRITE_CHECK, kFastWrite, "0x10", true}),
    [](const ::testing::TestParamInfo<RevertCase>& info) { return std::string(info.param.name); });

TEST_F(ApplyTest, ModesThatHoldAreAppliedAndStoredFromFreshReads) {
    start(AgpHardware());
    runMain({[&] {
        select(IDC_RATE_COMBO, kRate4x);
        check(IDC_SIDEBAND_CHECK, 1);
        check(IDC_FASTWRITE_CHECK, 1);
        click(IDOK);
    }});
    EXPECT_EQ(rateOf(graphicsCommand()), 4);
    EXPECT_EQ(on(graphicsCommand(), kSideband), 1);
    EXPECT_EQ(on(graphicsCommand(), kFastWrite), 1);
    EXPECT_EQ(on(bridgeCommand(), kFastWrite), 1);
    EXPECT_EQ(storedSettings(), packedSettings(0, 1, 1, 4));
}

TEST_F(ApplyTest, ModeChangedBehindTheDialogIsSwitchedBackToTheBox) {
    start(AgpHardware());
    runMain({[&] {
                 // Something else turns fast writes on after the dialog has read the modes; the
                 // box still says off, and Apply compares it with a fresh read.
                 uint32_t command = graphicsCommand() | kFastWrite;
                 sim::machine().pokeConfigDword(1, 0, 0, kGraphicsCap + 8, command);
                 click(IDC_APPLY);
             },
             [&] { click(IDCANCEL); }});
    EXPECT_EQ(on(graphicsCommand(), kFastWrite), 0);
    EXPECT_EQ(storedSettings(), packedSettings(0, 0, 0, 2));
}

TEST_F(ApplyTest, RunAtLogOnBoxWritesAndRemovesTheRunValue) {
    start(AgpHardware());
    bool writtenAfterTick = false, keptRunning = false;
    std::string text;
    runMain({[&] {
                 check(IDC_STARTUP_CHECK, 1);
                 click(IDC_APPLY);
                 writtenAfterTick = runValueExists();
                 text = runValueText();
                 keptRunning = sim::ui().topDialog() != nullptr;
             },
             [&] {
                 EXPECT_EQ(storedSettings(), packedSettings(1, 0, 0, 2));
                 EXPECT_EQ(m_app->m_runAtStartup, 1);
                 check(IDC_STARTUP_CHECK, 0);
                 click(IDOK);
             }});
    EXPECT_TRUE(writtenAfterTick);
    EXPECT_TRUE(keptRunning) << "Apply closed the dialog";
    EXPECT_NE(text.find(sim::kProgramPath), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - 9), " -startup") << text;
    EXPECT_FALSE(runValueExists());
    EXPECT_EQ(m_app->m_runAtStartup, 0);
    EXPECT_EQ(storedSettings(), packedSettings(0, 0, 0, 2));
}

// Where accounts other than administrators may change the program, ticking the box only says
// why and where to install it: the box goes back, and no log-on entry is written.
TEST_F(ApplyTest, RunAtLogOnIsRefusedWhereOthersMayChangeTheProgram) {
    start(AgpHardware());
    sim::FileSecurity open = sim::fileSecurity(sim::kProgramDirectory);
    open.dacl.push_back({sim::kSidAuthenticatedUsers, 0x001301BF, 0, true});
    sim::setFileSecurity(sim::kProgramDirectory, open);
    int boxAfter = -1;
    runMain({[&] {
                 check(IDC_STARTUP_CHECK, 1);
                 click(IDC_APPLY);
                 boxAfter = control(IDC_STARTUP_CHECK).check;
             },
             [&] { click(IDCANCEL); }});
    EXPECT_EQ(0, boxAfter);
    ASSERT_EQ(1u, sim::shell().messageBoxes().size());
    const sim::MessageBoxRecord& box = sim::shell().messageBoxes()[0];
    EXPECT_STREQ("warning", box.icon());
    EXPECT_NE(std::string::npos, box.text.find(std::string("change\n") + sim::kProgramDirectory))
        << box.text;
    EXPECT_NE(std::string::npos, box.text.find("C:\\Program Files\\Vantorel Tech\\Tavrolin"));
    EXPECT_FALSE(runValueExists());
    EXPECT_EQ(m_app->m_runAtStartup, 0);
    EXPECT_EQ(storedSettings(), packedSettings(0, 0, 0, 2));
}

TEST_F(ApplyTest, RateWithoutSelectionStopsBeforeAnythingIsTouched) {
    AgpHardware hardware;
    hardware.graphicsStatus = kDepth | kSideband | kFastWrite | 3;
    hardware.command = kEnable | 4; // in force, but not common to both ends
    start(hardware);
    sim::machine().clearTrace();
    INT_PTR result = runMain({[&] {
        check(IDC_SIDEBAND_CHECK, 1);
        check(IDC_STARTUP_CHECK, 1);
        click(IDC_APPLY);
        click(IDOK);
    }});
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(graphicsCommand(), kEnable | 4u);
    EXPECT_FALSE(runValueExists());
    EXPECT_EQ(storedSettings(), -1);
    EXPECT_EQ(m_app->m_runAtStartup, 0);
    for (const sim::TraceEntry& entry : sim::machine().traceOf(sim::TraceKind::ConfigWrite))
        ADD_FAILURE() << "configuration written: " << entry.toString();
}

TEST_F(ApplyTest, RateZeroIsSkippedAndTheOtherModesStillApply) {
    start(AgpHardware());
    sim::machine().pokeConfigDword(1, 0, 0, kGraphicsCap + 8, kEnable);
    runMain({[&] {
        check(IDC_FASTWRITE_CHECK, 1);
        click(IDOK);
    }});
    EXPECT_EQ(rateOf(graphicsCommand()), 0);
    EXPECT_EQ(on(graphicsCommand(), kFastWrite), 1);
    EXPECT_EQ(storedSettings(), packedSettings(0, 1, 0, 0));
}

TEST_F(ApplyTest, UnsupportedModesAreLeftAlone) {
    AgpHardware hardware;
    hardware.bridgeStatus = kDepth | 7; // neither sideband nor fast writes on the bridge
    start(hardware);
    runMain({[&] {
        select(IDC_RATE_COMBO, kRate4x);
        click(IDOK);
    }});
    EXPECT_EQ(rateOf(graphicsCommand()), 4);
    EXPECT_EQ(on(graphicsCommand(), kSideband | kFastWrite), 0);
    EXPECT_EQ(storedSettings(), packedSettings(0, 2, 2, 4));
}

// Template 102 with a combo box that takes typing and three-state mode boxes.
const std::vector<std::pair<int, DWORD>> kEditableStyles = {
    {IDC_RATE_COMBO, WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN},
    {IDC_SIDEBAND_CHECK, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTO3STATE},
    {IDC_FASTWRITE_CHECK, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTO3STATE}};

TEST_F(ApplyTest, TypedZeroRateIsRefusedAndTheRestGoesOn) {
    start(AgpHardware());
    sim::machine().clearTrace();
    runMainWithStyles(kEditableStyles, {[&] {
                          ASSERT_TRUE(sim::ui().type(IDC_RATE_COMBO, "0X").ok);
                          check(IDC_FASTWRITE_CHECK, 1);
                          click(IDOK);
                      }});
    EXPECT_EQ(rateOf(graphicsCommand()), 2) << "the hardware lost its rate";
    EXPECT_EQ(rateOf(bridgeCommand()), 2);
    EXPECT_EQ(on(graphicsCommand(), kFastWrite), 1);
    EXPECT_EQ(storedSettings(), packedSettings(0, 1, 0, 2));
}

TEST_F(ApplyTest, TypedTextThatIsNoRateStopsTheApply) {
    start(AgpHardware());
    for (const char* text : {"4x (1064Mb/s)", "4X", "", "4X (1064Mb/s) "}) {
        SCOPED_TRACE(text);
        runMainWithStyles(kEditableStyles, {[&] {
                              ASSERT_TRUE(sim::ui().type(IDC_RATE_COMBO, text).ok);
                              check(IDC_STARTUP_CHECK, 1);
                              click(IDOK);
                          }});
        EXPECT_EQ(rateOf(graphicsCommand()), 2);
        EXPECT_FALSE(runValueExists());
        EXPECT_EQ(storedSettings(), -1);
    }
}

TEST_F(ApplyTest, ThirdStateOfAModeBoxStopsThereKeepingWhatWasApplied) {
    start(AgpHardware());
    runMainWithStyles(kEditableStyles, {[&] {
                          select(IDC_RATE_COMBO, kRate4x);
                          check(IDC_SIDEBAND_CHECK, BST_INDETERMINATE);
                          check(IDC_FASTWRITE_CHECK, 1);
                          check(IDC_STARTUP_CHECK, 1);
                          click(IDOK);
                      }});
    EXPECT_EQ(rateOf(graphicsCommand()), 4) << "the rate applied before the stop was undone";
    EXPECT_EQ(on(graphicsCommand(), kFastWrite), 0) << "fast writes applied after the stop";
    EXPECT_FALSE(runValueExists());
    EXPECT_EQ(storedSettings(), -1);

    start(AgpHardware());
    runMainWithStyles(kEditableStyles, {[&] {
                          check(IDC_SIDEBAND_CHECK, 1);
                          check(IDC_FASTWRITE_CHECK, BST_INDETERMINATE);
                          click(IDOK);
                      }});
    EXPECT_EQ(on(graphicsCommand(), kSideband), 1);
    EXPECT_EQ(storedSettings(), -1);
}

TEST_F(ApplyTest, FailedSaveWarnsFromTheDialogWhichStaysOpenAfterApply) {
    AgpHardware hardware;
    hardware.directives = {"reg-write-fails"};
    start(hardware);
    HWND dialog = nullptr;
    bool openAfterApply = false;
    INT_PTR result = runMain({[&] {
                                  dialog = sim::ui().topDialog();
                                  click(IDC_APPLY);
                                  openAfterApply = sim::ui().topDialog() == dialog;
                              },
                              [&] { click(IDOK); }});
    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(openAfterApply);
    const auto& boxes = sim::shell().messageBoxes();
    ASSERT_EQ(boxes.size(), 2u) << "one warning after Apply, one after OK";
    for (const sim::MessageBoxRecord& box : boxes) {
        EXPECT_EQ(box.owner, dialog);
        EXPECT_EQ(box.title, "Tavrolin");
        EXPECT_EQ(box.text, "Tavrolin settings cannot be written to registry.");
        EXPECT_EQ(box.type, MB_ICONWARNING | MB_OK);
    }
}

TEST_F(ApplyTest, CancelAppliesAndStoresNothing) {
    start(AgpHardware());
    sim::machine().clearTrace();
    EXPECT_EQ(runMain({[&] {
                  select(IDC_RATE_COMBO, kRate4x);
                  check(IDC_SIDEBAND_CHECK, 1);
                  check(IDC_STARTUP_CHECK, 1);
                  ASSERT_TRUE(sim::ui().key(sim::Key::Esc).ok);
              }}),
              IDCANCEL);
    EXPECT_EQ(graphicsCommand(), kEnable | 2u);
    EXPECT_FALSE(runValueExists());
    EXPECT_EQ(storedSettings(), -1);
    EXPECT_TRUE(sim::machine().traceOf(sim::TraceKind::ConfigWrite).empty());
}

} // namespace
