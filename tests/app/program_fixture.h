// Runs the whole program in-process on a fresh virtual PC, as Windows would start Tavrol.exe.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/tavrol_app.h"
#include "sim/boot.h"
#include "sim/machine.h"
#include "sim/pe_module.h"
#include "sim/process.h"
#include "sim/registry.h"
#include "sim/shell.h"

namespace apptest {

constexpr const char kSettingsKey[] = "Software\\Vantorel Tech\\Tavrolin";
constexpr const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Bus/device/function of the default machine's host bridge and AGP card.
struct Function {
    int bus, device, function;
};
constexpr Function kBridge = {0, 0, 0};
constexpr Function kGraphics = {1, 0, 0};

class ProgramTest : public ::testing::Test {
  protected:
    // Boots machines/<name>.lspci, or profile text when `text` is true, with the resource
    // library installed beside the program.
    void boot(const std::string& machineOrText, bool text = false) {
        m_pc = text ? sim::bootForTest(machineOrText) : sim::bootMachineForTest(machineOrText);
        ASSERT_TRUE(m_pc.ok()) << m_pc.error();
        ASSERT_TRUE(sim::installResourceLibrary());
        sim::shell().setAskOnTerminal(false);
    }

    // Starts the program with `arguments` after its quoted path, as the Run key or a shortcut
    // would, and runs it to its end.
    void run(const std::string& arguments = "") {
        std::string commandLine = std::string("\"") + sim::kProgramPath + "\"";
        if (!arguments.empty())
            commandLine += " " + arguments;
        sim::process().setCommandLine(commandLine);
        CTavrolApp app;
        std::string tail = arguments;
        m_exitStatus = AfxWinMain(sim::process().exeModule(), &tail[0], 1);
        m_pAgpAfterRun = app.m_pAgpConfig;
    }

    void storeSettings(DWORD word) {
        sim::RegValue value{"Settings", REG_DWORD, {}};
        for (int i = 0; i < 4; ++i)
            value.data.push_back(static_cast<uint8_t>(word >> (8 * i)));
        ASSERT_TRUE(sim::registry().createKey(HKEY_LOCAL_MACHINE, kSettingsKey));
        ASSERT_TRUE(sim::registry().setValue(HKEY_LOCAL_MACHINE, kSettingsKey, value));
    }

    bool settingsValue(DWORD* word) {
        sim::RegValue value;
        if (!sim::registry().getValue(HKEY_LOCAL_MACHINE, kSettingsKey, "Settings", &value) ||
            value.data.size() != 4)
            return false;
        *word = value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
                static_cast<DWORD>(value.data[3]) << 24;
        return true;
    }

    uint32_t command(Function f) {
        int cap = sim::machine().agpCapability(f.bus, f.device, f.function);
        return sim::machine().configDword(f.bus, f.device, f.function, cap + 8);
    }

    std::vector<sim::TraceEntry> trace(sim::TraceKind kind) { return sim::machine().traceOf(kind); }

    const std::vector<sim::MessageBoxRecord>& boxes() { return sim::shell().messageBoxes(); }

    bool shellTraceMentions(const std::string& text) {
        for (const std::string& line : sim::shell().trace()) {
            if (line.find(text) != std::string::npos)
                return true;
        }
        return false;
    }

    sim::TestPc m_pc;
    CAgpConfig* m_pAgpAfterRun = nullptr;
    int m_exitStatus = -1;
};

} // namespace apptest
