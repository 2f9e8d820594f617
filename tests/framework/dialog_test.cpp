// The framework's dialog path on the simulated PC: the modal run, data exchange, message maps
// walked from class to base, handler results and default processing, painting and fonts.
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>

#include "framework/app.h"
#include "probe_dialog.h"
#include "sim/boot.h"
#include "sim/machine.h"
#include "sim/pe_module.h"
#include "sim/ui.h"

using namespace fwtest;

namespace {

WPARAM commandOf(int id, int code) {
    return static_cast<WPARAM>(static_cast<DWORD>(MAKELONG(id, code)));
}

class FrameworkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        pc = sim::bootForTest("");
        ASSERT_TRUE(pc.ok()) << pc.error();
        AfxSetResourceHandle(nullptr);
    }
    void TearDown() override { AfxSetResourceHandle(nullptr); }

    // Runs `dialog` from the probe template; `steps` run one by one inside its modal loop, and a
    // dialog still open after the last one is cancelled by the window manager.
    INT_PTR run(ProbeDialog& dialog, std::initializer_list<std::function<void()>> steps) {
        for (const auto& step : steps)
            sim::ui().queueStep(step);
        dialog.InitModalIndirect(m_template.get());
        return dialog.DoModal();
    }

    void click(int id) {
        sim::UiResult result = sim::ui().click(id);
        ASSERT_TRUE(result.ok) << "click " << id << ": " << result.error;
    }

    sim::TestPc pc;
    TestTemplate m_template = probeTemplate();
};

// A class one level further down: its own entries come first, its bases' still answer the rest.
class CancelCountingDialog : public ProbeDialog {
  public:
    ~CancelCountingDialog() override {}
    DECLARE_MESSAGE_MAP()

    int cancels = 0;
    int doubleCounts = 0;

  protected:
    void OnCancelPressed() {
        ++cancels;
        EndDialog(0x55);
    }
    void OnCountTwice() { doubleCounts += 2; }
};

BEGIN_MESSAGE_MAP(CancelCountingDialog, ProbeDialog)
ON_BN_CLICKED(IDCANCEL, &CancelCountingDialog::OnCancelPressed)
ON_BN_CLICKED(kCountButtonId, &CancelCountingDialog::OnCountTwice)
END_MESSAGE_MAP()

TEST_F(FrameworkTest, MissingTemplateEndsTheRunAtOnceWithMinusOne) {
    ASSERT_TRUE(sim::installResourceLibrary());
    HMODULE resources = LoadLibraryA("Tavrol.tvx");
    ASSERT_NE(resources, nullptr);
    AfxSetResourceHandle(resources);

    ProbeDialog dialog; // template 0 does not exist
    EXPECT_EQ(dialog.DoModal(), -1);
    EXPECT_EQ(dialog.initCount, 0);
    EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
    EXPECT_EQ(sim::ui().topDialog(), nullptr);
    FreeLibrary(resources);
}

TEST_F(FrameworkTest, RunReachesTheObjectAndReturnsTheEndDialogValue) {
    ProbeDialog dialog;
    dialog.stopResult = 0x1234;
    HWND during = nullptr;
    INT_PTR result = run(dialog, {[&] {
                             during = sim::ui().topDialog();
                             EXPECT_EQ(dialog.GetSafeHwnd(), during);
                             click(kStopButtonId);
                         }});
    EXPECT_EQ(result, 0x1234);
    EXPECT_EQ(dialog.initCount, 1);
    EXPECT_NE(during, nullptr);
    EXPECT_EQ(dialog.hwndAtInit, during);
    // The window is gone and the object no longer refers to it.
    EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
    EXPECT_FALSE(IsWindow(during));
}

TEST_F(FrameworkTest, DataExchangeBindsControlsByIdForOneRunOnly) {
    ProbeDialog dialog;
    for (int runNumber = 1; runNumber <= 2; ++runNumber) {
        SCOPED_TRACE(runNumber);
        HWND check = nullptr, combo = nullptr;
        run(dialog, {[&] {
                HWND top = sim::ui().topDialog();
                check = GetDlgItem(top, kCheckId);
                combo = GetDlgItem(top, kComboId);
                EXPECT_NE(check, nullptr);
                EXPECT_EQ(dialog.m_check.GetSafeHwnd(), check);
                EXPECT_EQ(dialog.m_combo.GetSafeHwnd(), combo);
                EXPECT_EQ(dialog.m_missing.GetSafeHwnd(), nullptr);
            }});
        EXPECT_NE(check, nullptr);
        EXPECT_EQ(dialog.m_check.GetSafeHwnd(), nullptr);
        EXPECT_EQ(dialog.m_combo.GetSafeHwnd(), nullptr);
    }
    EXPECT_EQ(dialog.initCount, 2);
}

TEST_F(FrameworkTest, OkExchangesDataBeforeEndingAndCancelDoesNot) {
    ProbeDialog okDialog;
    EXPECT_EQ(run(okDialog, {[&] { click(IDOK); }}), IDOK);
    EXPECT_EQ(okDialog.exchanges, (std::vector<BOOL>{FALSE, TRUE}));

    ProbeDialog cancelDialog;
    EXPECT_EQ(run(cancelDialog, {[&] { ASSERT_TRUE(sim::ui().key(sim::Key::Esc).ok); }}), IDCANCEL);
    EXPECT_EQ(cancelDialog.exchanges, (std::vector<BOOL>{FALSE}));
}

TEST_F(FrameworkTest, CommandReachesOnlyTheHandlerOfItsIdAndCode) {
    ProbeDialog dialog;
    dialog.stopResult = 7;
    HWND stillOpen = nullptr;
    INT_PTR result =
        run(dialog, {[&] {
                         click(kCountButtonId);
                         click(kCountButtonId);
                         HWND top = sim::ui().topDialog();
                         HWND button = GetDlgItem(top, kCountButtonId);
                         SendMessageA(top, WM_COMMAND, commandOf(kCountButtonId, BN_DBLCLK),
                                      reinterpret_cast<LPARAM>(button));
                         click(kUnmappedButtonId);
                         stillOpen = sim::ui().topDialog();
                     },
                     [&] { click(kStopButtonId); }});
    EXPECT_EQ(result, 7);
    EXPECT_EQ(dialog.countClicks, 2);
    EXPECT_NE(stillOpen, nullptr) << "an unmapped command closed the dialog";
}

TEST_F(FrameworkTest, DerivedEntriesComeFirstAndBasesAnswerTheRest) {
    CancelCountingDialog dialog;
    dialog.stopResult = 9;
    EXPECT_EQ(run(dialog, {[&] { click(kCountButtonId); }, [&] { click(IDCANCEL); }}), 0x55);
    EXPECT_EQ(dialog.cancels, 1);
    EXPECT_EQ(dialog.doubleCounts, 2);
    EXPECT_EQ(dialog.countClicks, 0) << "the base's entry for the same command also ran";

    // The middle class's entry and the root dialog's IDOK entry are still found.
    CancelCountingDialog stopped;
    stopped.stopResult = 9;
    EXPECT_EQ(run(stopped, {[&] { click(kStopButtonId); }}), 9);
    CancelCountingDialog confirmed;
    EXPECT_EQ(run(confirmed, {[&] { click(IDOK); }}), IDOK);
    EXPECT_EQ(confirmed.exchanges, (std::vector<BOOL>{FALSE, TRUE}));
}

TEST_F(FrameworkTest, DragIconAndBrushComeBackAsTheMessageResult) {
    ProbeDialog dialog;
    LRESULT dragIcon = 0;
    LRESULT colouredBrush = 0, plainBrush = 0, defaultBrush = 0;
    COLORREF text = 0, back = 0;
    run(dialog, {[&] {
            HWND top = sim::ui().topDialog();
            dragIcon = SendMessageA(top, WM_QUERYDRAGICON, 0, 0);
            HDC dc = GetDC(top);
            colouredBrush =
                SendMessageA(top, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                             reinterpret_cast<LPARAM>(GetDlgItem(top, kColouredStaticId)));
            text = GetTextColor(dc);
            back = GetBkColor(dc);
            HWND plain = GetDlgItem(top, kPlainStaticId);
            plainBrush = SendMessageA(top, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                      reinterpret_cast<LPARAM>(plain));
            defaultBrush = DefWindowProcA(top, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                          reinterpret_cast<LPARAM>(plain));
            ReleaseDC(top, dc);
        }});
    EXPECT_EQ(reinterpret_cast<HICON>(dragIcon), dragIconSentinel());
    EXPECT_EQ(reinterpret_cast<HGDIOBJ>(colouredBrush), GetStockObject(DKGRAY_BRUSH));
    EXPECT_EQ(text, kProbeText);
    EXPECT_EQ(back, kProbeBack);
    // The base handler's colouring is the window's default colouring.
    EXPECT_NE(defaultBrush, 0);
    EXPECT_EQ(plainBrush, defaultBrush);
}

class ColourTypeTest : public FrameworkTest, public ::testing::WithParamInterface<UINT> {};

TEST_P(ColourTypeTest, HandlerGetsTheColourTypeOfTheMessage) {
    UINT message = GetParam();
    ProbeDialog dialog;
    run(dialog, {[&] {
            HWND top = sim::ui().topDialog();
            dialog.colorTypes.clear();
            dialog.colorControls.clear();
            HDC dc = GetDC(top);
            SendMessageA(top, message, reinterpret_cast<WPARAM>(dc),
                         reinterpret_cast<LPARAM>(GetDlgItem(top, kPlainStaticId)));
            ReleaseDC(top, dc);
        }});
    ASSERT_EQ(dialog.colorTypes.size(), 1u);
    EXPECT_EQ(dialog.colorTypes[0], message - WM_CTLCOLORMSGBOX);
    EXPECT_EQ(dialog.colorControls[0], kPlainStaticId);
}

INSTANTIATE_TEST_SUITE_P(EveryControlColourMessage, ColourTypeTest,
                         ::testing::Values(WM_CTLCOLORMSGBOX, WM_CTLCOLOREDIT, WM_CTLCOLORLISTBOX,
                                           WM_CTLCOLORBTN, WM_CTLCOLORDLG, WM_CTLCOLORSCROLLBAR,
                                           WM_CTLCOLORSTATIC));

TEST_F(FrameworkTest, HandlerThatAsksForDefaultProcessingGetsIt) {
    ProbeDialog dialog;
    BOOL iconicAfterOwnCommand = TRUE, iconicAfterMinimize = FALSE;
    run(dialog, {[&] {
            HWND top = sim::ui().topDialog();
            ASSERT_TRUE(sim::ui().sysCommand(kProbeCommand).ok);
            iconicAfterOwnCommand = IsIconic(top);
            ASSERT_TRUE(sim::ui().sysCommand(SC_MINIMIZE).ok);
            iconicAfterMinimize = IsIconic(top);
        }});
    EXPECT_EQ(dialog.sysCommands, (std::vector<UINT>{kProbeCommand, SC_MINIMIZE}));
    EXPECT_FALSE(iconicAfterOwnCommand);
    EXPECT_TRUE(iconicAfterMinimize) << "SC_MINIMIZE did not reach the default processing";
}

TEST_F(FrameworkTest, PaintDcBracketsTheSolidFill) {
    ProbeDialog dialog;
    std::vector<sim::PaintOp> paint;
    run(dialog, {[&] {
            HWND top = sim::ui().topDialog();
            InvalidateRect(top, nullptr, TRUE);
            UpdateWindow(top);
            paint = sim::ui().lastPaint(top);
        }});
    ASSERT_GE(dialog.paints, 1);
    ASSERT_GE(paint.size(), 3u);
    EXPECT_EQ(paint.front().kind, sim::PaintOp::BeginPaint);
    EXPECT_EQ(paint.back().kind, sim::PaintOp::EndPaint);
    const sim::PaintOp* fill = nullptr;
    for (const sim::PaintOp& op : paint) {
        if (op.kind == sim::PaintOp::ExtTextOut)
            fill = &op;
    }
    ASSERT_NE(fill, nullptr);
    EXPECT_EQ(fill->options & ETO_OPAQUE, static_cast<UINT>(ETO_OPAQUE));
    ASSERT_TRUE(fill->hasRect);
    EXPECT_EQ(fill->rect.left, kProbeFill.left);
    EXPECT_EQ(fill->rect.top, kProbeFill.top);
    EXPECT_EQ(fill->rect.right, kProbeFill.right);
    EXPECT_EQ(fill->rect.bottom, kProbeFill.bottom);
    EXPECT_EQ(fill->bkColor, kProbeFillColour);
    EXPECT_EQ(fill->text, "");
}

TEST_F(FrameworkTest, FontObjectOwnsTheFontItHolds) {
    auto newFont = [] {
        return CreateFontA(15, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_SWISS,
                           "Arial");
    };
    int before = sim::liveGdiObjects();
    {
        CFont font;
        EXPECT_EQ(font.GetSafeHandle(), nullptr);
        HFONT first = newFont();
        ASSERT_TRUE(font.Attach(first));
        EXPECT_EQ(font.GetSafeHandle(), first);
        // Attaching another font gives the first one back to GDI.
        HFONT second = newFont();
        ASSERT_TRUE(font.Attach(second));
        EXPECT_EQ(sim::liveGdiObjects(), before + 1);
        // A null handle is refused and the font held stays.
        EXPECT_FALSE(font.Attach(nullptr));
        EXPECT_EQ(font.GetSafeHandle(), second);
    }
    EXPECT_EQ(sim::liveGdiObjects(), before);

    CFont font;
    HFONT kept = newFont();
    font.Attach(kept);
    EXPECT_EQ(font.Detach(), kept);
    EXPECT_EQ(font.GetSafeHandle(), nullptr);
    EXPECT_EQ(sim::liveGdiObjects(), before + 1) << "Detach deleted the font";
    DeleteObject(kept);
}

TEST_F(FrameworkTest, ControlWrappersTalkToTheBoundControls) {
    ProbeDialog dialog;
    int checkSeen = -1, selected = -1, wrapped = -1, whole = -1, missing = 0, afterMissing = -1;
    char text[32];
    memset(text, 0xbd, sizeof text);
    run(dialog, {[&] {
            dialog.m_check.SetCheck(BST_CHECKED);
            sim::ControlInfo info;
            ASSERT_TRUE(sim::ui().findControl(sim::ui().topDialog(), kCheckId, &info));
            checkSeen = info.check;
            EXPECT_EQ(dialog.m_check.GetCheck(), BST_CHECKED);

            EXPECT_EQ(dialog.m_combo.AddString("Alpha"), 0);
            EXPECT_EQ(dialog.m_combo.AddString("Beta"), 1);
            EXPECT_EQ(dialog.m_combo.AddString("Alps"), 2);
            EXPECT_EQ(dialog.m_combo.GetCount(), 3);
            // The search starts after the given index and wraps.
            wrapped = dialog.m_combo.SelectString(0, "Al");
            dialog.m_combo.GetWindowText(text, sizeof text);
            whole = dialog.m_combo.SelectString(-1, "Al");
            missing = dialog.m_combo.SelectString(0, "Gamma");
            afterMissing = dialog.m_combo.GetCurSel();
            selected = dialog.m_combo.SetCurSel(1);
        }});
    EXPECT_EQ(checkSeen, BST_CHECKED);
    EXPECT_EQ(wrapped, 2);
    EXPECT_STREQ(text, "Alps");
    EXPECT_EQ(whole, 0);
    EXPECT_EQ(missing, CB_ERR);
    EXPECT_EQ(afterMissing, 0) << "a failed search changed the selection";
    EXPECT_EQ(selected, 1);
}

} // namespace
