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
    bool existing; // a file of the proposed name is there, holding "old report"
    int answer;    // the Save As dialog's button
    int replace;   // the answer to the question whether to replace it (0: not asked)
    bool saved;
};

class ReportMenuTest : public DialogPcTest, public ::testing::WithParamInterface<SaveAsAnswer> {};

TEST_P(ReportMenuTest, SavesWhereTheSaveAsDialogSays) {
    start(AgpHardware());
    if (GetParam().existing) {
        ASSERT_TRUE(sim::drive().writeFile(kProposedFile, "old report"));
    }
    sim::shell().queueAnswer(GetParam().answer);
    if (GetParam().replace)
        sim::shell().queueAnswer(GetParam().replace);
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
    const size_t dialogBoxes = GetParam().replace ? 2 : 1;
    ASSERT_EQ(dialogBoxes + (GetParam().saved ? 1 : 0), boxes.size());
    EXPECT_EQ("Save As", boxes[0].title);
    EXPECT_EQ(main, boxes[0].owner) << "the dialog owns the Save As dialog";
    EXPECT_EQ(std::string("File name: ") + kProposedFile, boxes[0].text);
    std::ifstream in(sim::drive().hostPathOf(kProposedFile));
    std::string report((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!GetParam().saved) {
        EXPECT_EQ(GetParam().existing ? "old report" : "", report);
        return;
    }
    const sim::MessageBoxRecord& saved = boxes[dialogBoxes];
    EXPECT_EQ("Vantorel Tavrolin", saved.title);
    EXPECT_STREQ("information", saved.icon());
    EXPECT_NE(std::string::npos, saved.text.find(kProposedFile)) << saved.text;
    EXPECT_NE(std::string::npos, report.find("\n01:00.0 0300: ")) << report;
    EXPECT_EQ(sim::process().currentDirectory(), "C:\\Program Files\\Vantorel Tech\\Tavrolin")
        << "the driver's folder is the current directory";
}

INSTANTIATE_TEST_SUITE_P(Answers, ReportMenuTest,
                         ::testing::Values(SaveAsAnswer{"Save", false, IDOK, 0, true},
                                           SaveAsAnswer{"Cancel", false, IDCANCEL, 0, false},
                                           SaveAsAnswer{"Replace", true, IDOK, IDYES, true},
                                           SaveAsAnswer{"KeepTheOldFile", true, IDOK, IDNO, false}),
                         [](const ::testing::TestParamInfo<SaveAsAnswer>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
