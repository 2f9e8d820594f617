// The files the emulated-kernel tests run are the files that ship, the loader refuses what the
// kernel could not load, and Tavrol.exe is its test twin but for the table of accepted drivers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "agpcfg/driver_digest.h"
#include "ntdriver/driver_fixture.h"

namespace ntdriver {
namespace {

std::vector<uint8_t> digestOf(const std::vector<uint8_t>& bytes) {
    Sha256 hash;
    std::vector<uint8_t> digest(SHA256_DIGEST_SIZE);
    sha256Start(&hash);
    sha256Add(&hash, bytes.data(), static_cast<DWORD>(bytes.size()));
    sha256Finish(&hash, digest.data());
    return digest;
}

class ShippedFiles : public testing::TestWithParam<Flavor> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(zipMember(releaseZip(GetParam()), "TAVROL.sys", &m_zipDriver))
            << "no TAVROL.sys in " << releaseZip(GetParam());
        ASSERT_TRUE(zipMember(releaseZip(GetParam()), "Tavrol.exe", &m_zipProgram));
    }
    std::vector<uint8_t> m_zipDriver, m_zipProgram;
};

TEST_P(ShippedFiles, TheDriverTestedIsTheOneInTheZip) {
    const DriverFile file = driverFile(GetParam());
    if (file.overridden)
        GTEST_SKIP() << "TAVROL_SHIPPED_SYS names the driver the tests run";
    ASSERT_TRUE(file.error.empty()) << file.error;
    EXPECT_EQ(sha256Hex(m_zipDriver), sha256Hex(file.bytes)) << file.path;
}

// The loader fails loudly on what the kernel could not load, naming it.
TEST_P(ShippedFiles, TheLoaderRefusesWhatTheKernelCouldNotLoad) {
    PeFile pe;
    std::string error;
    ASSERT_TRUE(parsePe(m_zipDriver, &pe, &error)) << error;
    const std::string known = "ZwClose";
    const auto name =
        std::search(m_zipDriver.begin(), m_zipDriver.end(), known.begin(), known.end());
    ASSERT_NE(m_zipDriver.end(), name);
    const struct {
        const char* what;
        size_t at; // where one byte changes; ~0: the file is cut to its headers
        uint8_t byte;
        uint64_t base;
        const char* reason;
    } cases[] = {
        {"an import the kernel lacks", size_t(name - m_zipDriver.begin()) + 6, 'x', 0,
         "ntoskrnl.exe!ZwClosx, which the emulated kernel does not provide"},
        {"a file cut short", ~size_t(0), 0, 0, "outside the file"},
        {"the preferred base", 0, 'M', pe.imageBase, "away from its preferred base"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> file = m_zipDriver;
        if (c.at == ~size_t(0))
            file.resize(pe.sizeOfHeaders);
        else
            file[c.at] = c.byte;
        HalModel hal("default");
        NtKernel kernel(hal);
        EXPECT_FALSE(kernel.load(file, c.base, &error));
        EXPECT_NE(std::string::npos, error.find(c.reason)) << error;
    }
}

// Tavrol-test.exe, which the Wine suite runs as Tavrol.exe, differs from the shipped program only
// in the table of accepted drivers and in what the linker stamps: the time of the link and the
// checksum. The table is found by the shipped driver's digest, its only entry in Tavrol.exe.
TEST_P(ShippedFiles, TheProgramIsItsTestTwinButForTheAcceptedDrivers) {
    std::vector<uint8_t> twin;
    const std::string twinPath = windowsBuild(GetParam()) + "/wine/Tavrol-test.exe";
    ASSERT_TRUE(readFile(twinPath, &twin)) << twinPath;
    PeFile program, test;
    std::string error;
    ASSERT_TRUE(parsePe(m_zipProgram, &program, &error)) << error;
    ASSERT_TRUE(parsePe(twin, &test, &error)) << error;
    ASSERT_EQ(m_zipProgram.size(), twin.size());
    ASSERT_EQ(program.sections.size(), test.sections.size());
    for (size_t i = 0; i < program.sections.size(); ++i) {
        const PeSection &a = program.sections[i], &b = test.sections[i];
        SCOPED_TRACE(a.name);
        EXPECT_EQ(a.name, b.name);
        EXPECT_EQ(a.virtualAddress, b.virtualAddress);
        EXPECT_EQ(a.virtualSize, b.virtualSize);
        EXPECT_EQ(a.rawOffset, b.rawOffset);
        EXPECT_EQ(a.rawSize, b.rawSize);
        EXPECT_EQ(a.characteristics, b.characteristics);
    }

    std::vector<uint8_t> entry = {1, 0, 0, 0};
    const std::vector<uint8_t> digest = digestOf(m_zipDriver);
    entry.insert(entry.end(), digest.begin(), digest.end());
    const auto found =
        std::search(m_zipProgram.begin(), m_zipProgram.end(), entry.begin(), entry.end());
    ASSERT_NE(m_zipProgram.end(), found) << "Tavrol.exe does not accept the driver it ships with";
    ASSERT_EQ(m_zipProgram.end(),
              std::search(found + 5, m_zipProgram.end(), digest.begin(), digest.end()))
        << "the digest appears twice";
    const size_t table = static_cast<size_t>(found - m_zipProgram.begin());
    const size_t tableEnd = table + sizeof(AcceptedDriverTable);
    const PeSection* rdata = program.section(".rdata");
    ASSERT_NE(nullptr, rdata);
    EXPECT_TRUE(table >= rdata->rawOffset && tableEnd <= rdata->rawOffset + rdata->rawSize);
    EXPECT_LT(1u, twin[table]) << "the test twin accepts more drivers";
    EXPECT_TRUE(std::equal(digest.begin(), digest.end(), twin.begin() + table + 4));

    size_t differing = 0;
    for (size_t i = 0; i < twin.size(); ++i) {
        if (m_zipProgram[i] == twin[i])
            continue;
        const bool stamped = (i >= program.timestampOffset && i < program.timestampOffset + 4) ||
                             (i >= program.checksumOffset && i < program.checksumOffset + 4);
        EXPECT_TRUE(stamped || (i >= table && i < tableEnd)) << "byte 0x" << std::hex << i;
        ++differing;
    }
    EXPECT_LT(0u, differing);
    // The checksum the linker derives is the PE checksum of each file.
    for (const auto* image : {&m_zipProgram, &twin}) {
        uint32_t checksum;
        std::memcpy(&checksum, image->data() + program.checksumOffset, 4);
        EXPECT_EQ(peChecksum(*image, program), checksum);
    }
}

INSTANTIATE_TEST_SUITE_P(Flavors, ShippedFiles, testing::Values(Flavor::I686, Flavor::X86_64),
                         [](const testing::TestParamInfo<Flavor>& info) {
                             return std::string(flavorName(info.param));
                         });

} // namespace
} // namespace ntdriver
