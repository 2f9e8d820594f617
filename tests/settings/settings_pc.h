// Helpers of the settings tests: a booted PC with its registry, and a main window with the
// run-at-log-on check box.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agpcfg/agpcfg.h"
#include "settings/settings.h"
#include "sim/boot.h"
#include "sim/machine.h"
#include "sim/process.h"
#include "sim/registry.h"
#include "sim/shell.h"

namespace settingstest {

// The default PC, with no person at the terminal to answer message boxes.
class SettingsPc : public ::testing::Test {
  protected:
    void SetUp() override { boot(""); }
    void TearDown() override {
        EXPECT_EQ(0u, sim::registry().openHandleCount()) << "a key handle was left open";
    }

    // Boots the default machine with extra directives in front of its profile.
    void boot(const std::string& directives);
    // Boots machines/<machine>.lspci with extra directives in front of it.
    void bootMachine(const std::string& machine, const std::string& directives);

    void storeWord(DWORD word);
    // False when there is no "Settings" value; *word is then left alone.
    bool storedWord(DWORD* word);
    bool settingsKeyExists();
    // The Run value, or false when it is missing.
    bool runValue(sim::RegValue* value);
    void storeRunValue(const std::string& text);
    const std::vector<sim::MessageBoxRecord>& boxes() { return sim::shell().messageBoxes(); }

    sim::TestPc pc;
};

// Sets the controller to the given modes and checks that the hardware took them.
void setModes(CAgpConfig* agp, int rate, int sideband, int fastWrite);

// Shows a dialog whose run-at-log-on check box (1005, three-state) holds `check` and calls
// saveSettings with it as the main window. *checkSeen is what the box reported to the test.
bool saveWithMainWindow(CAgpConfig* agp, UINT check, LRESULT* checkSeen);

} // namespace settingstest
