// "Save machine report..." of the system menu: the Save As dialog, the report, and a box that
// says where it went.
#include "dialog_pc.h"

#include <fstream>
#include <iterator>

namespace {

using namespace uitest;

const char kProposedFile[] = "C:\\Program Files\\Vantorel Tech\\Tavrolin\\Tavrolin report.txt";

struct SaveAsAnswer {
    const char* name;
    int answer; // the Save As dialog's button
    bool saved;
};

class ReportMenuTest : public DialogPcTest, public ::testing::WithParamInterface<SaveAsAnswer> {};

TEST_P(ReportMenuTest, SavesWhereTheSaveAsDialogSays) {
    start(AgpHardware());
    sim::shell().queueAnswer(GetParam().answer);
    HWND main = nullptr;
    bool mainStaysOpen = false;
    INT_PTR result = runMain({[&] {
        main = sim::ui().topDialog();
        SendMessageA(main, WM_SYSCOMMAND, 0x0020, 0);
        mainStaysOpen = sim::ui().topDialog() == main;
    }});
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_TRUE(mainStaysOpen);

    const std::vector<sim::MessageBoxRecord>& boxes = sim::shell().messageBoxes();
    ASSERT_EQ(GetParam().saved ? 2u : 1u, boxes.size());
    EXPECT_EQ("Save As", boxes[0].title);
    EXPECT_EQ(main, boxes[0].owner) << "the dialog owns the Save As dialog";
    EXPECT_EQ(std::string("File name: ") + kProposedFile, boxes[0].text);
    EXPECT_EQ(GetParam().saved, sim::drive().fileExists(kProposedFile));
    if (!GetParam().saved)
        return;
    EXPECT_EQ("Vantorel Tavrolin", boxes[1].title);
    EXPECT_STREQ("information", boxes[1].icon());
    EXPECT_NE(std::string::npos, boxes[1].text.find(kProposedFile)) << boxes[1].text;
    std::ifstream in(sim::drive().hostPathOf(kProposedFile));
    std::string report((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(std::string::npos, report.find("\n01:00.0 0300: ")) << report;
    EXPECT_EQ(sim::process().currentDirectory(), "C:\\Program Files\\Vantorel Tech\\Tavrolin")
        << "the driver's folder is the current directory";
}

INSTANTIATE_TEST_SUITE_P(Answers, ReportMenuTest,
                         ::testing::Values(SaveAsAnswer{"Save", IDOK, true},
                                           SaveAsAnswer{"Cancel", IDCANCEL, false}),
                         [](const ::testing::TestParamInfo<SaveAsAnswer>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
