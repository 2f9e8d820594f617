// Painting: control-colour messages and what they leave on the controls, the recorded drawing
// operations, device contexts and GDI objects.
#include "dialog_builder.h"

using namespace simui_test;

namespace {

const COLORREF kWhite = 0x00FFFFFF;
const COLORREF kNavy = 0x00800000;
const COLORREF kGray = 0x00808080;

Template colouredDialog() {
    Template t;
    t.items.push_back(label(1000, "banner", 4, 4, 150));
    t.items.push_back(label(1001, "rate"));
    t.items.push_back(combo(1002, CBS_DROPDOWNLIST));
    t.items.push_back(button(1003, "sideband", BS_AUTOCHECKBOX));
    t.items.push_back(button(1007, "Apply", BS_PUSHBUTTON));
    t.items.push_back(button(IDOK, "OK", BS_DEFPUSHBUTTON));
    return t;
}

// Colours like the main dialog's handler, and a navy banner painted with an opaque empty text.
struct BannerDialog {
    HFONT font = nullptr;
    Probe probe;

    BannerDialog() {
        probe.handler = [this](HWND d, UINT m, WPARAM w, LPARAM l) -> INT_PTR {
            if (m == WM_CTLCOLORSTATIC) {
                HDC dc = reinterpret_cast<HDC>(w);
                int id = GetDlgCtrlID(reinterpret_cast<HWND>(l));
                if (id == 1000) {
                    SelectObject(dc, font);
                    SetTextColor(dc, kWhite);
                    SetBkColor(dc, kNavy);
                    return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
                }
                if (id == 1001 || id == 1003) {
                    SetTextColor(dc, kWhite);
                    SetBkColor(dc, kGray);
                    return reinterpret_cast<INT_PTR>(GetStockObject(GRAY_BRUSH));
                }
                return FALSE;
            }
            if (m == WM_PAINT) {
                PAINTSTRUCT ps;
                HDC dc = BeginPaint(d, &ps);
                RECT client, banner;
                GetClientRect(d, &client);
                banner = {5, 5, client.right - 5, 70};
                SetBkColor(dc, kNavy);
                ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &banner, nullptr, 0, nullptr);
                EndPaint(d, &ps);
                return TRUE;
            }
            return m == WM_INITDIALOG;
        };
    }
};

std::vector<sim::PaintOp::Kind> kinds(const std::vector<sim::PaintOp>& ops) {
    std::vector<sim::PaintOp::Kind> out;
    for (const auto& op : ops)
        out.push_back(op.kind);
    return out;
}

} // namespace

class PaintTest : public UiTest {};

TEST_F(PaintTest, ControlColoursAreThoseTheDialogChose) {
    BannerDialog dlg;
    dlg.font = CreateFontA(15, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "Arial");
    step([&] {
        sim::ControlInfo banner = control(1000);
        ASSERT_TRUE(banner.color.valid);
        EXPECT_EQ(static_cast<UINT>(WM_CTLCOLORSTATIC), banner.color.message);
        EXPECT_EQ(kWhite, banner.color.textColor);
        EXPECT_EQ(kNavy, banner.color.bkColor);
        EXPECT_EQ(GetStockObject(NULL_BRUSH), banner.color.brush);
        EXPECT_EQ(dlg.font, banner.color.font);

        for (int id : {1001, 1003}) {
            SCOPED_TRACE(id);
            sim::ControlInfo c = control(id);
            EXPECT_EQ(static_cast<UINT>(WM_CTLCOLORSTATIC), c.color.message);
            EXPECT_EQ(kWhite, c.color.textColor);
            EXPECT_EQ(kGray, c.color.bkColor);
            EXPECT_EQ(GetStockObject(GRAY_BRUSH), c.color.brush);
        }
        // Controls the dialog leaves alone get the system colours from the default handler.
        sim::ControlInfo apply = control(1007);
        EXPECT_EQ(static_cast<UINT>(WM_CTLCOLORBTN), apply.color.message);
        EXPECT_EQ(GetSysColor(COLOR_WINDOWTEXT), apply.color.textColor);
        EXPECT_EQ(GetSysColor(COLOR_BTNFACE), apply.color.bkColor);
        EXPECT_EQ(GetSysColorBrush(COLOR_BTNFACE), apply.color.brush);
        sim::ControlInfo rate = control(1002);
        EXPECT_EQ(static_cast<UINT>(WM_CTLCOLOREDIT), rate.color.message);
        EXPECT_EQ(GetSysColorBrush(COLOR_WINDOW), rate.color.brush);
        EnableWindow(GetDlgItem(top(), 1002), FALSE);
    });
    step([&] {
        EXPECT_EQ(static_cast<UINT>(WM_CTLCOLORSTATIC), control(1002).color.message)
            << "a disabled combo box asks for static colours";
    });
    run(colouredDialog(), &dlg.probe);
    EXPECT_TRUE(DeleteObject(dlg.font));
}

TEST_F(PaintTest, DialogPaintIsRecordedWithTheDcState) {
    BannerDialog dlg;
    step([&] {
        std::vector<sim::PaintOp> ops = sim::ui().lastPaint(top());
        using K = sim::PaintOp;
        // The background is erased in the colours of the default dialog colouring first.
        std::vector<K::Kind> expected = {K::BeginPaint, K::SetTextColor, K::SetBkColor, K::FillRect,
                                         K::SetBkColor, K::ExtTextOut,   K::EndPaint};
        ASSERT_EQ(expected, kinds(ops));
        EXPECT_EQ(GetSysColorBrush(COLOR_BTNFACE), ops[3].brush) << "the erased background";
        const sim::PaintOp& banner = ops[5];
        EXPECT_EQ(static_cast<UINT>(ETO_OPAQUE), banner.options);
        EXPECT_EQ(kNavy, banner.bkColor);
        ASSERT_TRUE(banner.hasRect);
        RECT client;
        GetClientRect(top(), &client);
        EXPECT_EQ(5, banner.rect.left);
        EXPECT_EQ(5, banner.rect.top);
        EXPECT_EQ(client.right - 5, banner.rect.right);
        EXPECT_EQ(70, banner.rect.bottom);
        EXPECT_EQ("", banner.text);

        std::vector<sim::PaintOp> text = sim::ui().lastPaint(GetDlgItem(top(), 1000));
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(K::DrawText, text[text.size() - 2].kind);
        EXPECT_EQ("banner", text[text.size() - 2].text);
        EXPECT_EQ(kWhite, text[text.size() - 2].textColor);
        EXPECT_EQ(kNavy, text[text.size() - 2].bkColor);
    });
    run(colouredDialog(), &dlg.probe);
    // The whole log holds the dialog's paint before its controls'.
    const auto& log = sim::ui().paintLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(dlg.probe.dialog, log.front().window);
}

TEST_F(PaintTest, ControlsRepaintAfterAChangeAndTheDialogAfterInvalidation) {
    BannerDialog dlg;
    size_t before = 0;
    step([&] {
        before = sim::ui().paintLog().size();
        expectOk(sim::ui().click(1003));
    });
    step([&] {
        std::vector<sim::PaintOp> ops = sim::ui().lastPaint(GetDlgItem(top(), 1003));
        ASSERT_FALSE(ops.empty());
        size_t after = sim::ui().paintLog().size();
        EXPECT_GT(after, before) << "the clicked box painted again";
        for (size_t i = before; i < after; ++i)
            EXPECT_EQ(GetDlgItem(top(), 1003), sim::ui().paintLog()[i].window);
        InvalidateRect(top(), nullptr, TRUE);
        before = after;
    });
    step([&] {
        EXPECT_EQ(top(), sim::ui().paintLog()[before].window) << "the dialog paints first";
    });
    run(colouredDialog(), &dlg.probe);
}

TEST_F(PaintTest, DefaultColouringSetsTheDcAndReturnsTheSystemBrush) {
    Probe probe;
    step([&] {
        HDC dc = GetDC(top());
        ASSERT_NE(nullptr, dc);
        SetTextColor(dc, 0x00123456);
        SetBkColor(dc, 0x00654321);
        LRESULT brush = DefWindowProcA(top(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                       reinterpret_cast<LPARAM>(GetDlgItem(top(), 1000)));
        EXPECT_EQ(reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE)), brush);
        EXPECT_EQ(GetSysColor(COLOR_WINDOWTEXT), GetTextColor(dc));
        EXPECT_EQ(GetSysColor(COLOR_BTNFACE), GetBkColor(dc));
        brush = DefWindowProcA(top(), WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc), 0);
        EXPECT_EQ(reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW)), brush);
        EXPECT_EQ(GetSysColor(COLOR_WINDOW), GetBkColor(dc));
        EXPECT_EQ(1, ReleaseDC(top(), dc));
        EXPECT_EQ(CLR_INVALID, SetBkColor(dc, 0)) << "a released DC";
        EXPECT_FALSE(ExtTextOutA(dc, 0, 0, 0, nullptr, "x", 1, nullptr));
    });
    Template t = colouredDialog();
    t.style |= WS_MINIMIZEBOX;
    run(t, &probe);
}

TEST_F(PaintTest, FontsAndBrushesLiveUntilDeleted) {
    int live = sim::liveGdiObjects();
    HFONT font = CreateFontA(15, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, 0x20, "Arial");
    HBRUSH brush = CreateSolidBrush(kNavy);
    EXPECT_EQ(live + 2, sim::liveGdiObjects());
    sim::GdiObjectInfo info = sim::gdiObjectInfo(font);
    EXPECT_EQ(sim::GdiObjectInfo::Font, info.kind);
    EXPECT_EQ("Arial", info.face);
    EXPECT_EQ(15, info.height);
    EXPECT_EQ(0x20, info.pitchAndFamily);
    EXPECT_EQ(kNavy, sim::gdiObjectInfo(brush).colour);
    EXPECT_TRUE(sim::gdiObjectInfo(GetStockObject(NULL_BRUSH)).hollow);
    EXPECT_EQ(kGray, sim::gdiObjectInfo(GetStockObject(GRAY_BRUSH)).colour);
    EXPECT_TRUE(DeleteObject(font));
    EXPECT_FALSE(DeleteObject(font)) << "deleted twice";
    EXPECT_TRUE(DeleteObject(brush));
    EXPECT_TRUE(DeleteObject(GetStockObject(GRAY_BRUSH))) << "stock objects stay";
    EXPECT_EQ(sim::GdiObjectInfo::Brush, sim::gdiObjectInfo(GetStockObject(GRAY_BRUSH)).kind);
    EXPECT_EQ(live, sim::liveGdiObjects());
}

TEST_F(PaintTest, IconsGoToTheDialogAndAreDrawnWhereAsked) {
    Probe probe;
    HICON icon = reinterpret_cast<HICON>(0x5550);
    probe.handler = [&](HWND d, UINT m, WPARAM, LPARAM) -> INT_PTR {
        if (m == WM_INITDIALOG) {
            SendMessageA(d, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
            return TRUE;
        }
        if (m == WM_PAINT && IsIconic(d)) {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(d, &ps);
            SendMessageA(d, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
            DrawIcon(dc, 7, 9, icon);
            EndPaint(d, &ps);
            return TRUE;
        }
        return FALSE;
    };
    step([&] {
        EXPECT_EQ(icon, sim::ui().describe(top()).bigIcon);
        EXPECT_EQ(nullptr, sim::ui().describe(top()).smallIcon);
        expectOk(sim::ui().minimize());
    });
    step([&] {
        std::vector<sim::PaintOp> ops = sim::ui().lastPaint(top());
        ASSERT_GE(ops.size(), 3u);
        const sim::PaintOp& draw = ops[ops.size() - 2];
        EXPECT_EQ(sim::PaintOp::DrawIcon, draw.kind);
        EXPECT_EQ(7, draw.x);
        EXPECT_EQ(9, draw.y);
        EXPECT_EQ(icon, draw.icon);
    });
    Template t = colouredDialog();
    t.style |= WS_MINIMIZEBOX;
    run(t, &probe);
}
