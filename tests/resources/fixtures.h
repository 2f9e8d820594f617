// Shared set-up of the loader tests: a freshly booted virtual PC and files on its C: drive.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/pe_builder.h"
#include "sim/boot.h"
#include "sim/machine.h"
#include "sim/pe_module.h"
#include "sim/process.h"

namespace testpe {

const char* const kTvxWindowsPath = "C:\\Program Files\\Vantorel Tech\\Tavrolin\\Tavrol.tvx";

class FreshPc : public ::testing::Test {
  protected:
    void SetUp() override {
        m_pc = sim::bootForTest("");
        ASSERT_TRUE(m_pc.ok()) << m_pc.error();
    }

    // Puts `bytes` at a Windows path of the virtual drive.
    void putFile(const std::string& windowsPath, const std::vector<uint8_t>& bytes) {
        SCOPED_TRACE(windowsPath);
        size_t slash = windowsPath.find_last_of('\\');
        ASSERT_TRUE(sim::drive().createDirectories(windowsPath.substr(0, slash)));
        ASSERT_TRUE(sim::drive().writeFile(windowsPath, std::string(bytes.begin(), bytes.end())));
    }

    void installTvx() { ASSERT_TRUE(sim::installResourceLibrary()); }

    sim::TestPc m_pc;
};

} // namespace testpe
