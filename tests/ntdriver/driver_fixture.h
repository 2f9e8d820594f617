// The fixture of the emulated-kernel tests: one case per flavor, each on the shipped TAVROL.sys of
// that flavor loaded into a fresh kernel over a PC from machines/ (default.lspci unless a test
// picks another), with DriverEntry run.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "ntdriver/nt_kernel.h"
#include "ntdriver/shipped_files.h"

namespace ntdriver {

inline void PrintTo(Flavor flavor, std::ostream* out) {
    *out << flavorName(flavor);
}

class DriverTest : public testing::TestWithParam<Flavor> {
  protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(start("default")); }

    // A fresh kernel over machines/<machine>.lspci with the driver loaded at `base` (0: the
    // flavor's usual address), DriverEntry run unless `enter` is false.
    void start(const std::string& machine, uint64_t base = 0, bool enter = true) {
        const DriverFile file = driverFile(GetParam());
        if (!file.skip.empty())
            GTEST_SKIP() << file.skip;
        ASSERT_TRUE(file.error.empty()) << file.error;
        m_file = file.bytes;
        m_hal.reset(new HalModel(machine));
        m_kernel.reset(new NtKernel(*m_hal));
        std::string error;
        ASSERT_TRUE(m_kernel->load(m_file, base, &error)) << error;
        if (!enter)
            return;
        bool completed = false;
        ASSERT_EQ(STATUS_SUCCESS, m_kernel->driverEntry(&completed)) << m_kernel->fault();
        ASSERT_TRUE(completed) << m_kernel->fault();
    }

    std::vector<uint8_t> m_file;
    std::unique_ptr<HalModel> m_hal;
    std::unique_ptr<NtKernel> m_kernel;
};

#define NT_DRIVER_FLAVORS(fixture)                                                                 \
    INSTANTIATE_TEST_SUITE_P(Flavors, fixture, testing::Values(Flavor::I686, Flavor::X86_64),      \
                             [](const testing::TestParamInfo<Flavor>& info) {                      \
                                 return std::string(flavorName(info.param));                       \
                             })

} // namespace ntdriver
