// A template's size is a 16-bit number of dialog units: a dialog of 32767 by 32767 units is 8194
// by 4097 cells, of which the terminal shows a screenful. Kept in fuzz/regressions/dialog/.
#include "dialog_builder.h"
#include "regression_input.h"

#include <chrono>

using namespace simui_test;

namespace {

class HugeDialog : public UiTest {};

// Drawing visited every cell of the dialog and its controls, on the screen or not: seconds for
// each redraw, which the terminal face makes at every key.
TEST_F(HugeDialog, IsDrawnAsFastAsTheScreenItCovers) {
    std::string bytes = regression::contents("dialog", "32767-units.dlg");
    ASSERT_FALSE(bytes.empty());
    Probe probe;
    step([&] {
        sim::DialogInfo dialog = sim::ui().describe(top());
        ASSERT_EQ(32767, dialog.templateCx);
        ASSERT_EQ(3u, dialog.controls.size());
        sim::term::Canvas canvas(80, 24);
        auto start = std::chrono::steady_clock::now();
        for (int redraw = 0; redraw < 20; ++redraw)
            sim::term::drawDialog(canvas, dialog, sim::ui().lastPaint(top()));
        auto took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 1000)
            << "milliseconds for 20 redraws";
        // What is on the screen is still drawn.
        std::string screen;
        for (int y = 0; y < canvas.height(); ++y)
            screen += canvas.row(y) + "\n";
        EXPECT_NE(std::string::npos, screen.find("A dialog of 32767 by 32767 units")) << screen;
        expectOk(sim::ui().click(IDOK));
    });
    std::string error;
    EXPECT_EQ(IDOK, sim::dialogBoxFromBytes(nullptr, bytes.data(), bytes.size(), nullptr, probeProc,
                                            reinterpret_cast<LPARAM>(&probe), &error));
    EXPECT_EQ("", error);
}

} // namespace
