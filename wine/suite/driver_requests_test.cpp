// TAVROL.sys under Wine: the driver loads as a service, serves the six requests with exact byte
// counts, keeps to its access rules and goes away again. The variant with a virtual PC gives the
// rules something to refuse; the release driver sees Wine's empty HAL.
#include <gtest/gtest.h>

#include "request_core.h"
#include "tavrol_ioctl.h"
#include "wine_env.h"

namespace {

using wine::dwordAt;
using wine::hexDwords;
using wine::RequestResult;

const char kMachineKey[] = "Software\\Tavrolin Test Machine";
const unsigned kErrorInvalidFunction = 1;
const unsigned kErrorAccessDenied = 5;
const unsigned kErrorGenFailure = 31;
const unsigned kErrorInvalidParameter = 87;
const unsigned kErrorInsufficientBuffer = 122;

std::string requestLine(unsigned code, unsigned inLength, unsigned outLength,
                        const std::string& hex = "") {
    char text[64];
    snprintf(text, sizeof text, "%x,%u,%u", code, inLength, outLength);
    return hex.empty() ? text : std::string(text) + "," + hex;
}

// "bd" bytes in hex, for buffers the driver must not have written.
std::string sentinel(size_t bytes) {
    std::string text;
    for (size_t i = 0; i < bytes; ++i)
        text += "bd";
    return text;
}

void expectRefused(const RequestResult& result, unsigned error, size_t outLength) {
    SCOPED_TRACE(testing::Message() << "expected error " << error);
    ASSERT_TRUE(result.opened) << "open failed with " << result.openError;
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(error, result.error);
    EXPECT_EQ(sentinel(outLength), result.out) << "a refused request wrote its output";
    EXPECT_EQ("bdbdbdbd", result.tail);
}

void expectServed(const RequestResult& result, unsigned bytes) {
    ASSERT_TRUE(result.opened) << "open failed with " << result.openError;
    EXPECT_TRUE(result.ok) << "error " << result.error;
    EXPECT_EQ(bytes, result.bytes);
    EXPECT_EQ(2 * bytes, result.out.size());
    EXPECT_EQ("bdbdbdbd", result.tail) << "the driver wrote past the output record";
}

// Installs `driver` as the service TAVROL from its own folder and starts it.
bool startDriver(const std::string& folder, const std::string& driver) {
    wine::removeService();
    const std::string dir = wine::makeProgramFolder(folder, {{driver, "TAVROL.sys"}});
    const wine::Output started = wine::helper({"service-start", dir + "\\TAVROL.sys"});
    EXPECT_EQ("running", started["service"]) << started.text;
    return started["service"] == "running";
}

// The graphics function of the virtual PC, found through the driver itself.
struct Display {
    unsigned bus = 0, slot = 0, bar0 = 0, agp = 0;
};

class VirtualPcDriver : public wine::FlavorTest {
  protected:
    static void SetUpTestSuite() {
        started = false;
        if (!wine::useSuiteFlavor().empty())
            return;
        wine::deleteKey(kMachineKey);
        started = startDriver("vmdriver", wine::winFile("wine/TAVROL-vm.sys"));
    }
    static void TearDownTestSuite() {
        if (!wine::useSuiteFlavor().empty())
            return;
        if (started)
            wine::removeService();
        wine::deleteKey(kMachineKey);
    }

    void SetUp() override {
        WINE_SUITE_REQUIRED();
        ASSERT_TRUE(started) << "the driver with the virtual PC is not built or did not start";
        ASSERT_NO_FATAL_FAILURE(findDisplay());
    }

    void findDisplay() {
        const auto found =
            wine::requests({requestLine(IOCTL_PCI_FIND_CLASS, 408, 408, hexDwords({0x030000}))});
        expectServed(found[0], 408);
        ASSERT_GE(dwordAt(found[0].out, 4), 1u) << "the profile has no display function";
        display.bus = dwordAt(found[0].out, 8);
        display.slot = dwordAt(found[0].out, 12);
        const auto space = wine::requests({requestLine(IOCTL_PCI_READ_CONFIG_SPACE, 264, 264,
                                                       hexDwords({display.bus, display.slot}))});
        expectServed(space[0], 264);
        display.bar0 = dwordAt(space[0].out, 8 + 0x10) & ~0xFu;
        for (unsigned p = dwordAt(space[0].out, 8 + 0x34) & 0xFF; p >= 0x40 && p < 0x100;) {
            const unsigned header = dwordAt(space[0].out, 8 + (p & ~3u));
            if ((header & 0xFF) == 2) {
                display.agp = p;
                break;
            }
            p = (header >> 8) & 0xFF;
        }
        ASSERT_NE(0u, display.bar0);
        ASSERT_NE(0u, display.agp) << "the profile's display function has no AGP capability";
    }

    std::string configRequest(unsigned code, unsigned offset, unsigned value = 0) {
        return requestLine(code, 16, 16, hexDwords({display.bus, display.slot, offset, value}));
    }
    std::string physRequest(unsigned code, unsigned bus, unsigned low, unsigned high = 0,
                            unsigned value = 0) {
        return requestLine(code, 16, 16, hexDwords({bus, low, high, value}));
    }

    static bool started;
    Display display;
};

bool VirtualPcDriver::started = false;

TEST_P(VirtualPcDriver, ListsTheProfilesFunctionsByClass) {
    const auto results =
        wine::requests({requestLine(IOCTL_PCI_FIND_CLASS, 408, 408, hexDwords({0x060000})),
                        requestLine(IOCTL_PCI_FIND_CLASS, 408, 408, hexDwords({0xFF0000}))});
    expectServed(results[0], 408);
    EXPECT_EQ(0x060000u, dwordAt(results[0].out, 0)) << "the class code is echoed";
    EXPECT_GE(dwordAt(results[0].out, 4), 1u) << "no host bridge";
    expectServed(results[1], 408);
    EXPECT_EQ(0u, dwordAt(results[1].out, 4)) << "an unassigned class code";
}

TEST_P(VirtualPcDriver, ReadsConfigurationOfExistingFunctionsOnly) {
    const auto results = wine::requests(
        {configRequest(IOCTL_PCI_READ_CONFIG_DWORD, 0),
         requestLine(IOCTL_PCI_READ_CONFIG_DWORD, 16, 16, hexDwords({display.bus, 31, 0, 0})),
         requestLine(IOCTL_PCI_READ_CONFIG_SPACE, 264, 264, hexDwords({200, 0}))});
    expectServed(results[0], 16);
    EXPECT_NE(0xFFFFu, dwordAt(results[0].out, 12) & 0xFFFF) << "vendor ID";
    expectRefused(results[1], kErrorGenFailure, 16);
    expectRefused(results[2], kErrorGenFailure, 264);
}

TEST_P(VirtualPcDriver, RefusesWrongRecordSizesBeforeTouchingTheBuffer) {
    const unsigned code = IOCTL_PCI_READ_CONFIG_DWORD;
    const auto results = wine::requests({
        requestLine(code, 16, 12, hexDwords({display.bus, display.slot, 0, 0})),
        requestLine(code, 12, 16, hexDwords({display.bus, display.slot, 0})),
        requestLine(code, 20, 20, hexDwords({display.bus, display.slot, 0, 0, 0})),
        requestLine(code, 0, 0),
        requestLine(IOCTL_PCI_FIND_CLASS, 407, 408, hexDwords({0x030000})),
        requestLine(IOCTL_PHYS_READ_DWORD, 12, 12, hexDwords({display.bus, display.bar0, 0})),
    });
    expectRefused(results[0], kErrorInsufficientBuffer, 12);
    expectRefused(results[1], kErrorInvalidParameter, 16);
    expectRefused(results[2], kErrorInvalidParameter, 20);
    expectRefused(results[3], kErrorInvalidParameter, 0);
    expectRefused(results[4], kErrorInvalidParameter, 408);
    expectRefused(results[5], kErrorInvalidParameter, 12);
}

TEST_P(VirtualPcDriver, RefusesUnknownRequestCodes) {
    const auto results =
        wine::requests({requestLine(0x80012418, 16, 16), requestLine(0x80012401, 408, 408),
                        requestLine(0x00012400, 408, 408)});
    expectRefused(results[0], kErrorInvalidFunction, 16);
    expectRefused(results[1], kErrorInvalidFunction, 408);
    expectRefused(results[2], kErrorInvalidFunction, 408);
}

// The rule itself is the request core's, tested there case by case; here the loaded driver shows
// that it applies it: the card's straps are served, the words beside them and RAM are not.
TEST_P(VirtualPcDriver, ReachesOnlyTheCardsStraps) {
    const unsigned straps = display.bar0 + TAVROL_NVIDIA_STRAPS_OFFSET;
    const auto results = wine::requests({
        physRequest(IOCTL_PHYS_READ_DWORD, display.bus, straps),
        physRequest(IOCTL_PHYS_READ_DWORD, display.bus, display.bar0),
        physRequest(IOCTL_PHYS_READ_DWORD, display.bus, straps + 4),
        physRequest(IOCTL_PHYS_WRITE_DWORD, display.bus, 0x00001000, 0, 0x12345678), // RAM
    });
    expectServed(results[0], 16);
    EXPECT_EQ(straps, dwordAt(results[0].out, 4)) << "the address is echoed";
    for (size_t i = 1; i < results.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "request " << i);
        expectRefused(results[i], kErrorAccessDenied, 16);
    }
}

// Only the device itself opens. On Windows the driver's create routine refuses a name below the
// device (the core's rule, tested there); Wine's object manager already refuses such a name
// itself, with ERROR_FILE_NOT_FOUND, before the driver sees it.
TEST_P(VirtualPcDriver, OpensOnlyTheDeviceItself) {
    const wine::Output opened =
        wine::helper({"device-open", "\\\\.\\Tavrol", "\\\\.\\Tavrol\\anything"});
    const std::vector<std::string> results = opened.all("open");
    ASSERT_EQ(2u, results.size()) << opened.text;
    EXPECT_EQ("ok", results[0]);
    EXPECT_NE("ok", results[1]) << "a name below the device opened it";
}

TEST_P(VirtualPcDriver, WritesOnlyTheAgpCommandRegister) {
    const unsigned command = display.agp + 8;
    const auto before = wine::requests({configRequest(IOCTL_PCI_READ_CONFIG_DWORD, command)});
    expectServed(before[0], 16);
    const unsigned original = dwordAt(before[0].out, 12);
    const unsigned changed = (original & ~7u) | 1u; // 1X

    const auto results = wine::requests({
        configRequest(IOCTL_PCI_WRITE_CONFIG_DWORD, display.agp + 4, 0), // status
        configRequest(IOCTL_PCI_WRITE_CONFIG_DWORD, 0x04, 0),            // PCI command
        configRequest(IOCTL_PCI_WRITE_CONFIG_DWORD, 0x10, 0),            // BAR 0
        configRequest(IOCTL_PCI_WRITE_CONFIG_DWORD, command + 1, 0),     // unaligned
        configRequest(IOCTL_PCI_WRITE_CONFIG_DWORD, command, changed),
        configRequest(IOCTL_PCI_READ_CONFIG_DWORD, command),
        configRequest(IOCTL_PCI_WRITE_CONFIG_DWORD, command, original),
        configRequest(IOCTL_PCI_READ_CONFIG_DWORD, command),
    });
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(testing::Message() << "request " << i);
        expectRefused(results[i], kErrorAccessDenied, 16);
    }
    expectServed(results[4], 16);
    expectServed(results[5], 16);
    EXPECT_EQ(changed, dwordAt(results[5].out, 12));
    expectServed(results[6], 16);
    EXPECT_EQ(original, dwordAt(results[7].out, 12));
}

WINE_FLAVORS(VirtualPcDriver);

// The release driver over Wine's HAL, which reports no PCI bus at all.
class ReleaseDriver : public wine::FlavorTest {};

TEST_P(ReleaseDriver, LoadsServesFindsNoPciFunctionAndIsRemoved) {
    const std::string driver = wine::winFile("driver/nt/TAVROL.sys");
    ASSERT_FALSE(driver.empty()) << "TAVROL.sys is not built";
    ASSERT_TRUE(startDriver("releasedriver", driver));

    const auto results = wine::requests({
        requestLine(IOCTL_PCI_FIND_CLASS, 408, 408, hexDwords({0x030000})),
        requestLine(IOCTL_PCI_FIND_CLASS, 408, 408, hexDwords({0x060000})),
        requestLine(IOCTL_PCI_READ_CONFIG_DWORD, 16, 16, hexDwords({0, 0, 0})),
        requestLine(IOCTL_PHYS_READ_DWORD, 16, 16, hexDwords({1, 0xE4101000})),
        requestLine(IOCTL_PCI_READ_CONFIG_DWORD, 16, 8),
    });
    expectServed(results[0], 408);
    EXPECT_EQ(0u, dwordAt(results[0].out, 4)) << "display functions listed";
    expectServed(results[1], 408);
    EXPECT_EQ(0u, dwordAt(results[1].out, 4)) << "host bridges listed";
    expectRefused(results[2], kErrorGenFailure, 16);
    expectRefused(results[3], kErrorAccessDenied, 16);
    expectRefused(results[4], kErrorInsufficientBuffer, 8);

    wine::removeService();
    EXPECT_EQ("absent", wine::serviceState());
    const auto gone = wine::requests({requestLine(IOCTL_PCI_FIND_CLASS, 408, 408)});
    EXPECT_FALSE(gone[0].opened) << "the device outlived its service";
    EXPECT_EQ(2u, gone[0].openError) << "ERROR_FILE_NOT_FOUND";
}

WINE_FLAVORS(ReleaseDriver);

} // namespace
