// The walk over every PCI function: every bus, and functions 1 to 7 only where function 0 says
// the device has them; the same through the kernel driver and through the virtual device driver.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agpcfg/agpcfg.h"
#include "sim/boot.h"
#include "sim/machine.h"

namespace {

// 00:00.0 is a single-function device that also answers as 00:00.1; 00:07.0 says it has more
// functions; 05:03.0 sits on a bus that no bridge of the machine leads to.
const char kMachine[] = "00:00.0 Host bridge\n"
                        "00: 86 80 90 71 06 00 00 00 03 00 00 06 00 00 00 00\n"
                        "00:00.1 Copy of the host bridge\n"
                        "00: 86 80 90 71 06 00 00 00 03 00 00 06 00 00 00 00\n"
                        "00:07.0 ISA bridge\n"
                        "00: 86 80 10 71 0f 00 80 02 02 00 01 06 00 00 80 00\n"
                        "00:07.3 Bridge\n"
                        "00: 86 80 13 71 03 00 80 02 02 00 80 06 00 00 00 00\n"
                        "05:03.0 VGA compatible controller\n"
                        "00: 2b 10 25 05 07 00 b0 02 04 00 00 03 00 00 00 00\n";

struct ScanCase {
    const char* windows;
};

class PciScanTest : public testing::TestWithParam<ScanCase> {};

TEST_P(PciScanTest, ListsEveryFunctionOnEveryBusOnce) {
    sim::TestPc pc = sim::bootForTest(std::string(kMachine) + "#! windows " + GetParam().windows);
    ASSERT_TRUE(pc.ok()) << pc.error();
    isNt = 0;
    CAgpConfig config; // starts the channel as discovery does
    std::vector<PciAddress> found;
    PciScan scan = PCI_SCAN_START;
    PciAddress address;
    while (nextPciFunction(&scan, &address) && found.size() < 16)
        found.push_back(address);
    EXPECT_EQ((std::vector<PciAddress>{0x0000, 0x0038, 0x003B, 0x0518}), found);
    EXPECT_EQ(0, nextPciFunction(&scan, &address)) << "the walk stays at its end";
}

INSTANTIATE_TEST_SUITE_P(Channels, PciScanTest, testing::Values(ScanCase{"nt"}, ScanCase{"9x"}),
                         [](const testing::TestParamInfo<ScanCase>& info) {
                             return std::string(info.param.windows) == "nt" ? "KernelDriver"
                                                                            : "VirtualDeviceDriver";
                         });

} // namespace
