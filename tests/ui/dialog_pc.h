// Test bench of the dialogs: a virtual PC with a host bridge and an AGP card whose registers a
// test chooses, the resource library loaded, the application object with its controller, and
// the main dialog run with steps taken inside its modal loop.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "agpcfg/agpcfg.h"
#include "app/tavrol_app.h"
#include "sim/boot.h"
#include "sim/machine.h"
#include "sim/process.h"
#include "sim/registry.h"
#include "sim/shell.h"
#include "sim/ui.h"
#include "ui/tavrol_dlg.h"
#include "../res/resource.h"

namespace uitest {

// AGP status words: request depth in bits 31..24, then sideband (bit 9), fast writes (bit 4)
// and the mask of rates (bits 2..0).
constexpr uint32_t kDepth = 0x1F000000;
constexpr uint32_t kSideband = 1u << 9;
constexpr uint32_t kFastWrite = 1u << 4;
constexpr uint32_t kEnable = 1u << 8;
constexpr uint32_t kAgp3 = 1u << 3; // status: the device runs in AGP 3.0 mode

// Configuration offsets of the AGP registers of the two ends.
constexpr int kBridgeCap = 0xA0;
constexpr int kGraphicsCap = 0x44;

struct AgpHardware {
    uint32_t bridgeStatus = kDepth | kSideband | kFastWrite | 7;
    uint32_t graphicsStatus = kDepth | kSideband | kFastWrite | 7;
    uint32_t command = kEnable | 2;      // both ends: 2X, sideband and fast writes off
    bool bridgeHasAgp = true;            // false: a host bridge without the AGP capability
    bool nt = true;                      // false: Windows 98 SE, the PCI BIOS path
    std::vector<std::string> directives; // without the "#! " prefix
};

// Texts of the settings.
extern const char* const kSettingsKey; // "Software\Vantorel Tech\Tavrolin"
extern const char* const kRunKey;      // "Software\Microsoft\Windows\CurrentVersion\Run"
extern const char* const kRunValue;    // "Vantorel Tavrolin"

// "1X (266Mb/s)" ...
extern const char* const kRate1x;
extern const char* const kRate2x;
extern const char* const kRate4x;
extern const char* const kRate8x; // AGP 3.0 only

class DialogPcTest : public ::testing::Test {
  protected:
    void TearDown() override;

    // Boots the PC, loads Tavrol.tvx as the resource module, loads the settings and builds the
    // controller; fails the test when discovery does not succeed.
    void start(const AgpHardware& hardware);
    // The same without asserting that discovery succeeds.
    void startAllowingFailure(const AgpHardware& hardware);

    // Runs the main dialog as the start-up routine does; `steps` run one per idle turn of
    // whichever modal loop is on top, and whatever is still open afterwards is cancelled.
    INT_PTR runMain(std::vector<std::function<void()>> steps);
    // The same over a copy of template 102 whose controls have other styles.
    INT_PTR runMainWithStyles(std::vector<std::pair<int, DWORD>> styles,
                              std::vector<std::function<void()>> steps);

    // Actions and looks at the top dialog, failing the test when the window manager refuses.
    void click(int id);
    void check(int id, int state);
    void select(int id, const std::string& text);
    sim::ControlInfo control(int id);

    // The hardware as it is now.
    uint32_t graphicsCommand() const;
    uint32_t bridgeCommand() const;

    // The registry as it is now; -1 when the value is missing.
    long long storedSettings() const;
    bool settingsKeyExists() const;
    bool runValueExists() const;
    std::string runValueText() const;

    sim::TestPc m_pc;
    std::unique_ptr<CTavrolApp> m_app;
    HMODULE m_resources = nullptr;
};

// The settings word the program stores for these modes.
DWORD packedSettings(int run, int fastWrite, int sideband, int rate);

} // namespace uitest
