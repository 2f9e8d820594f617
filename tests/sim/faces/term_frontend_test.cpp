// tavrolin-sim's terminal face as a person meets it: the real program in a pseudo-terminal, its
// screen read through a terminal emulator; and runs without a terminal ncurses can use.
#include "pty_screen.h"
#include "sim_front_end.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

using namespace simui_test;
namespace fs = std::filesystem;

namespace {

const std::string kMachines = std::string(TAVROL_SOURCE_DIR) + "/machines/";

class FrontEndTest : public sim_front_end::SimFrontEnd {
  protected:
    // A profile: a shipped dump with directives added.
    std::string profile(const std::string& base, const std::string& directives) {
        return file("machine.lspci", slurp(kMachines + base) + directives);
    }

    // tavrolin-sim without a terminal; its output only where the caller asks for it.
    int sim(const std::string& args, std::string* out = nullptr, std::string* err = nullptr) {
        sim_front_end::Result r = SimFrontEnd::sim(args);
        if (out)
            *out = r.out;
        if (err)
            *err = r.err;
        return r.status;
    }

    std::vector<std::string> run(const std::string& machine = "") {
        std::vector<std::string> argv = {sim_front_end::kSim, "--state", m_state};
        if (!machine.empty()) {
            argv.push_back("--machine");
            argv.push_back(machine);
        }
        argv.push_back("run");
        return argv;
    }
};

} // namespace

// The restore-defaults dialog's default is Cancel while the focus starts on "Restore and
// restart": Enter must cancel, keep the settings and restart nothing.
TEST_F(FrontEndTest, EnterOnTheRestoreDialogOpenedByKeyboardKeepsTheSettings) {
    std::string script = file("store.txt", "check 1005 1\nclick 1\n");
    ASSERT_EQ(0, sim("run --script '" + script + "'"));
    std::string before;
    sim("regedit", &before);
    ASSERT_NE(std::string::npos, before.find("\"Settings\"=dword:")) << before;

    PtyScreen screen(100, 30);
    ASSERT_TRUE(screen.exec(run()));
    ASSERT_TRUE(screen.waitFor("[Apply]")) << screen.contents();
    // Shift-Tab four times from the rate goes round to Restore defaults; Space presses it.
    for (int i = 0; i < 4; ++i)
        screen.send(keys::kShiftTab);
    screen.send(" ");
    ASSERT_TRUE(screen.waitFor("Restore and restart")) << screen.contents();
    EXPECT_NE(-1, screen.rowOf("<Cancel>")) << screen.contents();
    EXPECT_NE(std::string::npos, screen.row(29).find("Enter Cancel")) << screen.row(29);
    screen.send(keys::kEnter);
    EXPECT_TRUE(screen.waitFor("Restore and restart", 5000, true)) << "the restore dialog closed\n"
                                                                   << screen.contents();
    EXPECT_NE(-1, screen.rowOf("Vantorel Tavrolin")) << "the main dialog stays\n"
                                                     << screen.contents();
    screen.send(keys::kEsc);
    EXPECT_EQ(0, screen.finish());
    EXPECT_EQ(std::string::npos, screen.raw().find("\"restart\"")) << "no restart was requested";
    std::string after;
    sim("regedit", &after);
    EXPECT_EQ(before, after);
}

TEST_F(FrontEndTest, At80By24TheWholeMainDialogAndItsKeyHelpAreOnTheScreen) {
    PtyScreen screen(80, 24);
    ASSERT_TRUE(screen.exec(run()));
    // The whole screen, to its bottom border and the key help below it.
    screen.waitUntil([&] {
        size_t left = screen.row(0).find('+');
        return left != std::string::npos && screen.row(22).size() > left &&
               screen.row(22)[left] == '+' &&
               screen.row(23).find("Esc Cancel") != std::string::npos;
    });
    std::string all = screen.contents();
    EXPECT_NE(std::string::npos, screen.row(0).find("+- Vantorel Tavrolin -")) << all;
    size_t left = screen.row(0).find('+');
    ASSERT_NE(std::string::npos, left) << all;
    EXPECT_EQ('+', screen.row(22)[left]) << "the bottom border\n" << all;
    EXPECT_EQ('-', screen.row(22)[left + 1]) << all;
    for (const char* text :
         {"AGP data rate, sideband addressing and fast writes", "AGP data rate ", "[2X (532Mb/s)",
          "[ ] Sideband addressing", "[ ] Fast writes", "[ ] Apply these settings at every log-on",
          "[Restore defaults]", "<OK>", "[Cancel]", "[Apply]"})
        EXPECT_NE(-1, screen.rowOf(text)) << text << "\n" << all;
    EXPECT_EQ(0u, screen.row(23).find(" Tab move")) << all;
    EXPECT_NE(std::string::npos, screen.row(23).find("Enter OK")) << all;
    EXPECT_NE(std::string::npos, screen.row(23).find("Esc Cancel")) << all;
    screen.send(keys::kEsc);
    EXPECT_EQ(0, screen.finish());
}

// A registry fault's warning appears inside the ncurses screen, not as a printed line over it,
// and the dialog is whole again after OK.
TEST_F(FrontEndTest, ARegistryFaultsBoxIsDrawnInsideTheScreen) {
    PtyScreen screen(80, 24);
    ASSERT_TRUE(screen.exec(run(profile("default.lspci", "#! reg-write-fails\n"))));
    ASSERT_TRUE(screen.waitFor("[Apply]")) << screen.contents();
    screen.send(keys::kShiftTab); // Apply
    screen.send(" ");
    ASSERT_TRUE(screen.waitFor("cannot be written to registry")) << screen.contents();
    int text = screen.rowOf("cannot be written to registry");
    EXPECT_EQ('|', screen.row(text)[screen.row(text).find("Tavrolin settings") - 2])
        << "inside the box's frame\n"
        << screen.contents();
    EXPECT_NE(-1, screen.rowOf("[ OK ]")) << screen.contents();
    EXPECT_EQ(std::string::npos, screen.raw().find("{\"owner\"")) << "no JSON line on the screen";
    screen.send(keys::kEnter);
    ASSERT_TRUE(screen.waitFor("cannot be written to registry", 5000, true)) << screen.contents();
    for (const char* whole : {"Only the rates that both the host bridge and the graphics",
                              "[ ] Sideband addressing", "[ ] Fast writes", "[Restore defaults]"})
        EXPECT_NE(-1, screen.rowOf(whole)) << whole << "\n" << screen.contents();
    screen.send(keys::kEsc);
    EXPECT_EQ(0, screen.finish());
}

TEST_F(FrontEndTest, WithoutATerminalOneLineOnStderrSaysWhatTheDialogShowed) {
    std::string out, err;
    EXPECT_EQ(0, sim("run", &out, &err));
    EXPECT_EQ("", out);
    EXPECT_EQ("tavrolin-sim: no terminal: \"Vantorel Tavrolin\" showed AGP data rate 2X "
              "(532Mb/s), Sideband addressing off, Fast writes off, Apply these settings at every "
              "log-on off and closed as Cancel (run --script FILE drives it without a terminal)\n",
              err);
}

TEST_F(FrontEndTest, ATerminalTypeNcursesCannotUseFallsBackToTheSameLine) {
    PtyScreen screen(100, 30);
    ASSERT_TRUE(screen.exec(run(), "no-such-terminal"));
    EXPECT_EQ(0, screen.finish());
    std::string all = screen.contents();
    EXPECT_NE(std::string::npos, all.find("tavrolin-sim: the terminal type \"no-such-terminal\" "
                                          "is unknown to ncurses: \"Vantorel Tavrolin\" showed"))
        << all;
    EXPECT_NE(std::string::npos, all.find("closed as Cancel")) << all;
    EXPECT_EQ(std::string::npos, screen.raw().find("Error opening terminal")) << screen.raw();
}
