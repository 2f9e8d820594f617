// The terminal face drawn on a canvas: the layout and colour mappings, a coloured dialog, the
// message box and the system menu.
#include "dialog_builder.h"

using namespace simui_test;
using sim::term::CellRect;

namespace {

void expectCells(const CellRect& r, int left, int top, int right, int bottom) {
    EXPECT_EQ(left, r.left);
    EXPECT_EQ(top, r.top);
    EXPECT_EQ(right, r.right);
    EXPECT_EQ(bottom, r.bottom);
}

const int kNavy = 4, kGray = 8, kWhite = 15;

} // namespace

TEST(TerminalLayout, DialogUnitsMapToCellsFourByEight) {
    {
        SCOPED_TRACE("aligned");
        expectCells(sim::term::dluToCells({8, 16, 48, 24}), 2, 2, 12, 3);
    }
    {
        SCOPED_TRACE("partial cells are covered");
        expectCells(sim::term::dluToCells({7, 20, 50, 34}), 1, 2, 13, 5);
    }
    {
        SCOPED_TRACE("tiny controls keep a cell");
        expectCells(sim::term::dluToCells({40, 40, 40, 40}), 10, 5, 11, 6);
    }
    {
        SCOPED_TRACE("pixels of MS Sans Serif 8");
        expectCells(sim::term::pixelsToCells({5, 5, 295, 70}, 6, 13), 0, 0, 50, 6);
    }
}

TEST(TerminalLayout, ColoursMapToTheNearestOfSixteen) {
    EXPECT_EQ(kNavy, sim::term::nearestColour(0x00800000));
    EXPECT_EQ(kGray, sim::term::nearestColour(0x00808080));
    EXPECT_EQ(kWhite, sim::term::nearestColour(0x00FFFFFF));
    EXPECT_EQ(7, sim::term::nearestColour(0x00C0C0C0));
    EXPECT_EQ(0, sim::term::nearestColour(0x00101010));
    EXPECT_EQ(1, sim::term::nearestColour(RGB(140, 10, 0))) << "maroon is red 128";
    EXPECT_EQ(12, sim::term::nearestColour(RGB(0, 0, 250)));
    // Eight-colour terminals fold the bright half.
    EXPECT_EQ(7, sim::term::foldColour(kWhite, 8));
    EXPECT_EQ(7, sim::term::foldColour(kGray, 8));
    EXPECT_EQ(4, sim::term::foldColour(12, 8));
    EXPECT_EQ(kGray, sim::term::foldColour(kGray, 256));
    EXPECT_EQ(sim::term::kDefault, sim::term::foldColour(sim::term::kDefault, 8));
    EXPECT_EQ("About & more", sim::term::withoutMnemonics("&About && more"));
}

TEST(TerminalCanvas, ClipsEverythingToItsSize) {
    sim::term::Canvas c(10, 3);
    c.text(7, 1, "abcdef", 1, 2);
    c.text(-2, 0, "xyz", 1, 2);
    c.put(50, 50, '!', 1, 2);
    c.put(0, 2, '\n', 1, 2);
    EXPECT_EQ(' ', c.at(0, 2).ch) << "control characters would move the cursor";
    c.fill({-5, 2, 50, 9}, kNavy);
    EXPECT_EQ("z         ", c.row(0));
    EXPECT_EQ("       abc", c.row(1));
    EXPECT_EQ(kNavy, c.at(9, 2).bg);
    EXPECT_EQ(' ', c.at(-1, -1).ch);
}

class TerminalDialogTest : public UiTest {};

TEST_F(TerminalDialogTest, DialogIsDrawnInTheColoursItsHandlerChose) {
    Probe probe;
    probe.handler = [](HWND d, UINT m, WPARAM w, LPARAM l) -> INT_PTR {
        HDC dc = reinterpret_cast<HDC>(w);
        if (m == WM_CTLCOLORSTATIC && GetDlgCtrlID(reinterpret_cast<HWND>(l)) == 1000) {
            SetTextColor(dc, 0x00FFFFFF);
            SetBkColor(dc, 0x00800000);
            return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
        }
        if (m == WM_CTLCOLORSTATIC && GetDlgCtrlID(reinterpret_cast<HWND>(l)) == 1003) {
            SetTextColor(dc, 0x00FFFFFF);
            SetBkColor(dc, 0x00808080);
            return reinterpret_cast<INT_PTR>(GetStockObject(GRAY_BRUSH));
        }
        if (m == WM_PAINT) {
            PAINTSTRUCT ps;
            HDC paint = BeginPaint(d, &ps);
            RECT client, banner;
            GetClientRect(d, &client);
            banner = {5, 5, client.right - 5, 70};
            SetBkColor(paint, 0x00800000);
            ExtTextOutA(paint, 0, 0, ETO_OPAQUE, &banner, nullptr, 0, nullptr);
            EndPaint(d, &ps);
            return TRUE;
        }
        return m == WM_INITDIALOG;
    };
    Template t;
    t.title = "Vantorel Tavrolin";
    t.cx = 160;
    t.cy = 96;
    Item banner = label(1000, "Tavrolin\nAGP data rate and sideband", 8, 16, 72);
    banner.cy = 24; // three rows
    t.items.push_back(banner);
    Item sideband = button(1003, "Sideband", BS_AUTOCHECKBOX, 8, 64);
    sideband.cx = 60;
    t.items.push_back(sideband);
    t.items.push_back(button(IDOK, "OK", BS_DEFPUSHBUTTON, 100, 80));
    step([&] { expectOk(sim::ui().check(1003, 1)); });
    step([&] {
        sim::term::Canvas c(60, 20);
        sim::term::DialogLayout layout =
            sim::term::drawDialog(c, sim::ui().describe(top()), sim::ui().lastPaint(top()));
        // 160 x 96 dialog units are 40 x 12 cells inside a frame, centred on 60 x 20.
        expectCells(layout.frame, 9, 3, 51, 17);
        expectCells(layout.client, 10, 4, 50, 16);
        EXPECT_NE(std::string::npos, c.row(3).find("Vantorel Tavrolin")) << c.row(3);
        // The banner: pixels (5,5)-(235,70) of MS Sans Serif 8 are cells 0..39 x 0..5.
        EXPECT_EQ(kNavy, c.at(10, 4).bg);
        EXPECT_EQ(kNavy, c.at(49, 9).bg);
        EXPECT_EQ(sim::term::kDefault, c.at(10, 10).bg) << "below the banner";
        // Control 1000 at (8,16) dialog units: cell (2,2) of the client, 18 cells wide, white on
        // navy; its lines break at the newline and at blanks.
        EXPECT_EQ("Tavrolin          |", c.row(6).substr(12, 18) + "|");
        EXPECT_EQ("AGP data rate and |", c.row(7).substr(12, 18) + "|");
        EXPECT_EQ("sideband          |", c.row(8).substr(12, 18) + "|");
        EXPECT_EQ(kWhite, c.at(12, 6).fg);
        EXPECT_EQ(kNavy, c.at(12, 6).bg);
        // Check box 1003 at (8,64): white on gray, ticked.
        EXPECT_EQ("[x] Sideband", c.row(12).substr(12, 12));
        EXPECT_EQ(kWhite, c.at(13, 12).fg);
        EXPECT_EQ(kGray, c.at(13, 12).bg);
        EXPECT_TRUE(c.at(12, 12).reverse) << "the focused control";
        // The default button in the terminal's own colours.
        std::string okRow = c.row(14);
        EXPECT_NE(std::string::npos, okRow.find("<OK>")) << okRow;
        EXPECT_EQ(sim::term::kDefault, c.at(static_cast<int>(okRow.find("<OK>")), 14).bg);
    });
    run(t, &probe);
}

TEST_F(TerminalDialogTest, MinimisedDialogIsDrawnAsItsIcon) {
    Probe probe;
    Template t;
    t.style |= WS_MINIMIZEBOX;
    t.items.push_back(button(IDOK, "OK", BS_DEFPUSHBUTTON));
    step([&] { expectOk(sim::ui().minimize()); });
    step([&] {
        sim::term::Canvas c(40, 10);
        sim::term::drawDialog(c, sim::ui().describe(top()), sim::ui().lastPaint(top()));
        EXPECT_EQ(0u, c.row(8).find("|[#] Test dialog|")) << c.row(8);
        EXPECT_EQ(std::string(40, ' '), c.row(2)) << "nothing of the dialog itself";
    });
    run(t, &probe);
}

TEST(TerminalBoxes, MessageBoxShowsTitleTextAndTheChosenButton) {
    sim::MessageBoxRecord box{};
    box.title = "Vantorel Tavrolin";
    box.text = "Registry cannot be written to.\nTavrolin will not be able to run on bootup.";
    box.type = MB_YESNO | MB_ICONWARNING;
    sim::term::Canvas c(80, 14);
    sim::term::drawMessageBox(c, box, 1);
    std::string all;
    for (int y = 0; y < c.height(); ++y)
        all += c.row(y) + "\n";
    EXPECT_NE(std::string::npos, all.find(" Vantorel Tavrolin ")) << all;
    EXPECT_NE(std::string::npos, all.find("Registry cannot be written to.")) << all;
    EXPECT_NE(std::string::npos, all.find("Tavrolin will not be able to run on bootup.")) << all;
    EXPECT_NE(std::string::npos, all.find("(warning)")) << all;
    size_t row = all.find("[ Yes ]  [ No ]");
    ASSERT_NE(std::string::npos, row) << all;
    int y = static_cast<int>(row / 81), x = static_cast<int>(row % 81);
    EXPECT_FALSE(c.at(x, y).reverse);
    EXPECT_TRUE(c.at(x + 9, y).reverse) << "No is highlighted";
    EXPECT_EQ((std::vector<int>{IDYES, IDNO}), sim::messageBoxButtons(MB_YESNO));
}

TEST(TerminalBoxes, SystemMenuGraysAndHighlightsItems) {
    std::vector<sim::MenuItemInfo> items = {{MF_STRING, SC_RESTORE, "&Restore", true},
                                            {MF_SEPARATOR, 0, "", false},
                                            {MF_STRING, SC_CLOSE, "&Close\tAlt+F4", false},
                                            {MF_STRING, 0x10, "&About Tavrolin...", false}};
    sim::term::Canvas c(40, 10);
    sim::term::DialogLayout at;
    at.frame = {2, 1, 30, 9};
    sim::term::drawMenu(c, at, items, 3);
    EXPECT_NE(std::string::npos, c.row(3).find("Restore")) << c.row(3);
    EXPECT_TRUE(c.at(5, 3).dim);
    EXPECT_NE(std::string::npos, c.row(4).find("------")) << c.row(4);
    EXPECT_NE(std::string::npos, c.row(5).find("Close")) << c.row(5);
    EXPECT_NE(std::string::npos, c.row(5).find("Alt+F4")) << c.row(5);
    EXPECT_NE(std::string::npos, c.row(6).find("About Tavrolin...")) << c.row(6);
    EXPECT_TRUE(c.at(5, 6).reverse);
    EXPECT_FALSE(c.at(5, 5).reverse);
}
