// The main dialog's looks: the navy banner, the icon when minimised and dragged, and the colours
// each control is given.
#include "dialog_pc.h"

using namespace uitest;

namespace {

constexpr COLORREF kWhite = 0x00FFFFFF;
constexpr COLORREF kNavy = 0x00800000;
constexpr COLORREF kGray = 0x00808080;

class PaintTest : public DialogPcTest {
  protected:
    void SetUp() override { start(AgpHardware()); }

    static const sim::PaintOp* lastOf(const std::vector<sim::PaintOp>& paint,
                                      sim::PaintOp::Kind kind) {
        const sim::PaintOp* found = nullptr;
        for (const sim::PaintOp& op : paint) {
            if (op.kind == kind)
                found = &op;
        }
        return found;
    }
};

TEST_F(PaintTest, BannerIsANavyRectangleAcrossTheTop) {
    std::vector<sim::PaintOp> paint;
    RECT client = {0, 0, 0, 0};
    runMain({[&] {
        HWND top = sim::ui().topDialog();
        GetClientRect(top, &client);
        InvalidateRect(top, nullptr, TRUE);
        UpdateWindow(top);
        paint = sim::ui().lastPaint(top);
    }});
    ASSERT_FALSE(paint.empty());
    EXPECT_EQ(paint.front().kind, sim::PaintOp::BeginPaint);
    EXPECT_EQ(paint.back().kind, sim::PaintOp::EndPaint);
    const sim::PaintOp* banner = lastOf(paint, sim::PaintOp::ExtTextOut);
    ASSERT_NE(banner, nullptr);
    EXPECT_NE(banner->options & ETO_OPAQUE, 0u);
    ASSERT_TRUE(banner->hasRect);
    EXPECT_EQ(banner->rect.left, 5);
    EXPECT_EQ(banner->rect.top, 5);
    EXPECT_EQ(banner->rect.right, client.right - 5);
    EXPECT_EQ(banner->rect.bottom, 70);
    EXPECT_EQ(banner->bkColor, kNavy);
    EXPECT_EQ(banner->text, "");
    EXPECT_EQ(lastOf(paint, sim::PaintOp::DrawIcon), nullptr);
}

TEST_F(PaintTest, MinimisedDialogDrawsItsIconCentred) {
    HICON icon = LoadIconA(m_resources, MAKEINTRESOURCEA(IDI_TAVROL));
    std::vector<sim::PaintOp> paint;
    RECT client = {0, 0, 0, 0};
    LRESULT dragIcon = 0;
    runMain({[&] {
        ASSERT_TRUE(sim::ui().minimize().ok);
        HWND top = sim::ui().topDialog();
        ASSERT_TRUE(IsIconic(top));
        GetClientRect(top, &client);
        InvalidateRect(top, nullptr, TRUE);
        UpdateWindow(top);
        paint = sim::ui().lastPaint(top);
        dragIcon = SendMessageA(top, WM_QUERYDRAGICON, 0, 0);
    }});
    const sim::PaintOp* drawn = lastOf(paint, sim::PaintOp::DrawIcon);
    ASSERT_NE(drawn, nullptr);
    EXPECT_EQ(drawn->icon, icon);
    int width = client.right - client.left, height = client.bottom - client.top;
    EXPECT_EQ(drawn->x, (width - GetSystemMetrics(SM_CXICON) + 1) / 2);
    EXPECT_EQ(drawn->y, (height - GetSystemMetrics(SM_CYICON) + 1) / 2);
    EXPECT_EQ(lastOf(paint, sim::PaintOp::ExtTextOut), nullptr) << "banner painted while iconic";
    EXPECT_EQ(reinterpret_cast<HICON>(dragIcon), icon);
}

// What a control-colour message left in a device context and returned.
struct Colouring {
    HBRUSH brush = nullptr;
    COLORREF text = 0;
    COLORREF back = 0;
    HGDIOBJ font = nullptr;
};

Colouring colourOf(HWND dialog, UINT message, int id, bool viaDialog) {
    Colouring c;
    HDC dc = GetDC(dialog);
    SetTextColor(dc, 0x00010203); // sentinels: whatever stays was not set
    SetBkColor(dc, 0x00040506);
    HGDIOBJ old = SelectObject(dc, GetStockObject(SYSTEM_FONT));
    WPARAM wParam = reinterpret_cast<WPARAM>(dc);
    LPARAM lParam = reinterpret_cast<LPARAM>(GetDlgItem(dialog, id));
    LRESULT result = viaDialog ? SendMessageA(dialog, message, wParam, lParam)
                               : DefWindowProcA(dialog, message, wParam, lParam);
    c.brush = reinterpret_cast<HBRUSH>(result);
    c.text = GetTextColor(dc);
    c.back = GetBkColor(dc);
    c.font = SelectObject(dc, old);
    ReleaseDC(dialog, dc);
    return c;
}

TEST_F(PaintTest, StaticColoursPerControl) {
    struct Row {
        int id;
        const char* expect; // "banner", "gray" or "default"
    };
    const Row rows[] = {{IDC_BANNER, "banner"},
                        {IDC_RATE_LABEL, "gray"},
                        {IDC_RATE_COMBO, "default"},
                        {IDC_SIDEBAND_CHECK, "gray"},
                        {IDC_FASTWRITE_CHECK, "gray"},
                        {IDC_STARTUP_CHECK, "gray"},
                        {IDC_RESTORE_DEFAULTS, "default"},
                        {IDC_APPLY, "default"},
                        {IDC_RATE_NOTE, "default"},
                        {IDC_SIDEBAND_NOTE, "default"},
                        {IDC_FASTWRITE_NOTE, "default"},
                        {IDOK, "default"}};
    HGDIOBJ systemFont = GetStockObject(SYSTEM_FONT);
    runMain({[&] {
        HWND top = sim::ui().topDialog();
        for (const Row& row : rows) {
            SCOPED_TRACE(row.id);
            Colouring got = colourOf(top, WM_CTLCOLORSTATIC, row.id, true);
            std::string kind = row.expect;
            if (kind == "banner") {
                EXPECT_EQ(got.brush, GetStockObject(NULL_BRUSH));
                EXPECT_EQ(got.text, kWhite);
                EXPECT_EQ(got.back, kNavy);
                EXPECT_EQ(sim::gdiObjectInfo(got.font).face, "Arial");
            } else if (kind == "gray") {
                EXPECT_EQ(got.brush, GetStockObject(GRAY_BRUSH));
                EXPECT_EQ(got.text, kWhite);
                EXPECT_EQ(got.back, kGray);
                EXPECT_EQ(got.font, systemFont);
            } else {
                Colouring def = colourOf(top, WM_CTLCOLORSTATIC, row.id, false);
                EXPECT_NE(def.brush, nullptr);
                EXPECT_EQ(got.brush, def.brush);
                EXPECT_EQ(got.text, def.text);
                EXPECT_EQ(got.back, def.back);
                EXPECT_EQ(got.font, systemFont);
            }
        }
    }});
}

TEST_F(PaintTest, OtherColourTypesGetTheDefaultEvenForColouredControls) {
    runMain({[&] {
        HWND top = sim::ui().topDialog();
        for (UINT message : {WM_CTLCOLORBTN, WM_CTLCOLOREDIT, WM_CTLCOLORDLG}) {
            for (int id : {IDC_BANNER, IDC_SIDEBAND_CHECK}) {
                SCOPED_TRACE(testing::Message()
                             << "message 0x" << std::hex << message << " id " << std::dec << id);
                Colouring got = colourOf(top, message, id, true);
                Colouring def = colourOf(top, message, id, false);
                EXPECT_EQ(got.brush, def.brush);
                EXPECT_EQ(got.text, def.text);
                EXPECT_EQ(got.back, def.back);
                EXPECT_EQ(got.font, GetStockObject(SYSTEM_FONT));
            }
        }
    }});
}

TEST_F(PaintTest, WindowManagerDrawsTheColouredControlsWithTheseColours) {
    sim::ControlInfo banner, sideband;
    runMain({[&] {
        HWND top = sim::ui().topDialog();
        InvalidateRect(top, nullptr, TRUE);
        UpdateWindow(top);
        banner = control(IDC_BANNER);
        sideband = control(IDC_SIDEBAND_CHECK);
    }});
    ASSERT_TRUE(banner.color.valid);
    EXPECT_EQ(banner.color.textColor, kWhite);
    EXPECT_EQ(banner.color.bkColor, kNavy);
    EXPECT_EQ(banner.color.brush, GetStockObject(NULL_BRUSH));
    ASSERT_TRUE(sideband.color.valid);
    EXPECT_EQ(sideband.color.textColor, kWhite);
    EXPECT_EQ(sideband.color.bkColor, kGray);
    EXPECT_EQ(sideband.color.brush, GetStockObject(GRAY_BRUSH));
}

} // namespace
