// The devices of the two drivers: when they open, their requests, handles, and injected faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "sim/boot.h"
#include "sim/machine.h"
#include "sim/pe_module.h"
#include "sim/process.h"

namespace {

const char* const kDriverPath = "C:\\Program Files\\Vantorel Tech\\Tavrolin\\TAVROL.sys";

sim::TestPc bootWith(const char* machine, const std::string& directives) {
    sim::Profile profile;
    std::string error;
    EXPECT_TRUE(
        sim::loadProfileFile(sim::machinesDir() + "/" + machine + ".lspci", &profile, &error))
        << error;
    sim::TestPc pc = sim::bootForTest(directives + sim::formatProfile(profile));
    EXPECT_TRUE(pc.ok()) << pc.error();
    return pc;
}

// The driver service as the program leaves it running.
void startDriver() {
    SCOPED_TRACE("starting the driver service");
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(nullptr, manager) << GetLastError();
    SC_HANDLE service =
        CreateServiceA(manager, "TAVROL", "TAVROL", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, kDriverPath, nullptr, nullptr,
                       nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, service) << GetLastError();
    ASSERT_TRUE(StartServiceA(service, 0, nullptr)) << GetLastError();
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    sim::machine().clearTrace();
}

HANDLE openDriver() {
    return CreateFileA("\\\\.\\Tavrol", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE openVxd() {
    return CreateFileA("\\\\.\\TAVROL.VXD", 0, 0, nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE,
                       nullptr);
}

void expectOpenFails(HANDLE handle, DWORD error) {
    EXPECT_EQ(INVALID_HANDLE_VALUE, handle);
    EXPECT_EQ(error, GetLastError());
}

struct Result {
    BOOL ok;
    DWORD error;
    DWORD returned;
};

template <typename Record>
Result request(HANDLE device, DWORD code, const Record& in, Record* out,
               DWORD inSize = sizeof(Record), DWORD outSize = sizeof(Record)) {
    Record input = in;
    DWORD returned = 0xdeadbeef;
    SetLastError(0);
    BOOL ok = DeviceIoControl(device, code, &input, inSize, out, outSize, &returned, nullptr);
    EXPECT_EQ(0, std::memcmp(&input, &in, sizeof in)) << "the input record changed";
    return Result{ok, GetLastError(), returned};
}

// The device exists while the service runs the driver built for the PC, which needs its file no
// more once loaded. A file the service loads in its place runs as a driver, but not ours.
TEST(DriverDevice, OpensOnlyWhileTheServiceRunsOurDriver) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    expectOpenFails(openDriver(), ERROR_FILE_NOT_FOUND);
    startDriver();
    HANDLE device = openDriver();
    ASSERT_NE(INVALID_HANDLE_VALUE, device) << GetLastError();
    EXPECT_TRUE(CloseHandle(device));
    EXPECT_FALSE(DeleteFileA(kDriverPath)) << "a running driver's image is mapped";
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());

    sim::Service planted = *sim::machine().services().find("TAVROL");
    planted.state = SERVICE_STOPPED;
    sim::machine().services().add(planted);
    ASSERT_TRUE(sim::drive().writeFile(kDriverPath, "a planted kernel driver"));
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceA(manager, "TAVROL", SERVICE_ALL_ACCESS);
    ASSERT_TRUE(StartServiceA(service, 0, nullptr)) << "the kernel loads any driver it is given";
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    EXPECT_FALSE(sim::machine().services().find("TAVROL")->loadedTavrolDriver);
    expectOpenFails(openDriver(), ERROR_FILE_NOT_FOUND);
}

// A name below the device reaches the driver, whose create rule refuses it.
TEST(DriverDevice, NamesBelowTheDeviceAreRefused) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    const char* below = "\\\\.\\Tavrol\\anything";
    expectOpenFails(CreateFileA(below, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr),
                    ERROR_PATH_NOT_FOUND);
    startDriver();
    expectOpenFails(CreateFileA(below, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr),
                    ERROR_ACCESS_DENIED);
    EXPECT_EQ(0, sim::machine().openDeviceCount("\\\\.\\Tavrol"));
}

TEST(DriverDevice, StoppedServiceHasNoDevice) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    startDriver();
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceA(manager, "TAVROL", SERVICE_ALL_ACCESS);
    SERVICE_STATUS status;
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    expectOpenFails(openDriver(), ERROR_FILE_NOT_FOUND);
}

TEST(DriverDevice, OneOpenAtATime) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    startDriver();
    HANDLE first = openDriver();
    ASSERT_NE(INVALID_HANDLE_VALUE, first);
    expectOpenFails(openDriver(), ERROR_SHARING_VIOLATION);
    ASSERT_TRUE(CloseHandle(first));
    HANDLE again = openDriver();
    EXPECT_NE(INVALID_HANDLE_VALUE, again);
    EXPECT_TRUE(CloseHandle(again));
    EXPECT_EQ(0, sim::machine().openDeviceCount("\\\\.\\Tavrol"));
}

TEST(DriverDevice, ServesRequestsThroughTheCore) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    startDriver();
    HANDLE device = openDriver();
    ASSERT_NE(INVALID_HANDLE_VALUE, device);

    PciConfigDwordRequest in = {1, 0, 0x4C, 0}, out;
    std::memset(&out, 0xbd, sizeof out);
    Result r = request(device, IOCTL_PCI_READ_CONFIG_DWORD, in, &out);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(16u, r.returned);
    EXPECT_EQ(0x1F000102u, out.value);

    PhysDwordRequest phys = {1, 0xE0101000, 0, 0x800000A3}, physOut;
    r = request(device, IOCTL_PHYS_WRITE_DWORD, phys, &physOut);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(0x800000A3u, sim::machine().physWord(0xE0101000));

    std::vector<sim::TraceEntry> requests = sim::machine().traceOf(sim::TraceKind::DeviceRequest);
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("request \\\\.\\Tavrol code=0x80012408 in=01000000000000004c00000000000000 ok",
              requests[0].toString());
    EXPECT_EQ(IOCTL_PHYS_WRITE_DWORD, requests[1].code);
    EXPECT_EQ(
        std::vector<uint8_t>({1, 0, 0, 0, 0x00, 0x10, 0x10, 0xE0, 0, 0, 0, 0, 0xA3, 0, 0, 0x80}),
        requests[1].input);
    EXPECT_TRUE(CloseHandle(device));
}

TEST(DriverDevice, RefusalsBecomeWindowsErrors) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    startDriver();
    HANDLE device = openDriver();
    ASSERT_NE(INVALID_HANDLE_VALUE, device);
    PciConfigDwordRequest in = {1, 0, 0x4C, 0}, out;

    std::memset(&out, 0xbd, sizeof out);
    Result r = request(device, IOCTL_PCI_READ_CONFIG_DWORD, in, &out, 15, 16);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), r.error);
    EXPECT_EQ(0u, r.returned);
    EXPECT_EQ(0xbdbdbdbdu, out.value) << "output written on failure";

    r = request(device, IOCTL_PCI_READ_CONFIG_DWORD, in, &out, 16, 17);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), r.error);

    PciConfigDwordRequest status = {1, 0, 0x48, 0};
    r = request(device, IOCTL_PCI_WRITE_CONFIG_DWORD, status, &out);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), r.error);

    PciConfigDwordRequest absent = {3, 0, 0x00, 0};
    r = request(device, IOCTL_PCI_READ_CONFIG_DWORD, absent, &out);
    EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), r.error);

    r = request(device, 0x80012418, in, &out);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FUNCTION), r.error);

    DWORD returned;
    EXPECT_FALSE(DeviceIoControl(device, IOCTL_PCI_READ_CONFIG_DWORD, nullptr, 16, &out, 16,
                                 &returned, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOACCESS), GetLastError());
    CloseHandle(device);
}

// The codes that change the hardware ask for write access: on a handle opened only for reading
// the I/O manager refuses them before the driver runs; the read codes still go through.
TEST(DriverDevice, WriteCodesNeedAHandleOpenedForWriting) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    startDriver();
    const uint32_t straps = sim::machine().physWord(0xE0101000);
    const std::string registers = sim::machine().lspciText();
    const struct {
        DWORD code;
        bool served;
    } cases[] = {{IOCTL_PCI_READ_CONFIG_DWORD, true},
                 {IOCTL_PCI_WRITE_CONFIG_DWORD, false},
                 {IOCTL_PHYS_READ_DWORD, true},
                 {IOCTL_PHYS_WRITE_DWORD, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        HANDLE device = CreateFileA("\\\\.\\Tavrol", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, device);
        const bool phys = c.code == IOCTL_PHYS_READ_DWORD || c.code == IOCTL_PHYS_WRITE_DWORD;
        PciConfigDwordRequest config = {1, 0, 0x4C, 0x1F000104}, configOut;
        PhysDwordRequest straps = {1, 0xE0101000, 0, 0x800000A3}, strapsOut;
        Result r = phys ? request(device, c.code, straps, &strapsOut)
                        : request(device, c.code, config, &configOut);
        EXPECT_EQ(c.served, r.ok != FALSE);
        EXPECT_EQ(c.served ? 0u : static_cast<DWORD>(ERROR_ACCESS_DENIED), r.ok ? 0u : r.error);
        CloseHandle(device);
    }
    EXPECT_EQ(straps, sim::machine().physWord(0xE0101000)) << "a refused write landed";
    EXPECT_EQ(registers, sim::machine().lspciText()) << "a refused write landed";
}

TEST(DriverDevice, InjectedFaults) {
    sim::TestPc pc = bootWith("default", "#! request-fail 0x80012410\n"
                                         "#! request-fail 0x80012408 1117\n");
    startDriver();
    HANDLE device = openDriver();
    ASSERT_NE(INVALID_HANDLE_VALUE, device);
    PhysDwordRequest phys = {1, 0xE0101000, 0, 0}, physOut;
    Result r = request(device, IOCTL_PHYS_READ_DWORD, phys, &physOut);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), r.error);
    PciConfigDwordRequest in = {1, 0, 0x4C, 0}, out;
    r = request(device, IOCTL_PCI_READ_CONFIG_DWORD, in, &out);
    EXPECT_EQ(1117u, r.error);
    PhysDwordRequest write = {1, 0xE0101000, 0, 0x80000000};
    EXPECT_TRUE(request(device, IOCTL_PHYS_WRITE_DWORD, write, &physOut).ok);
    CloseHandle(device);

    sim::TestPc denied = bootWith("default", "#! open-fail \\\\.\\TAVROL 5\n");
    startDriver();
    expectOpenFails(openDriver(), ERROR_ACCESS_DENIED);
    EXPECT_EQ("open \\\\.\\Tavrol failed error=5", sim::machine().trace().back().toString());
}

TEST(DriverDevice, FaultsCanSpareEarlierOpensAndOtherFunctions) {
    sim::TestPc pc = bootWith("default", "#! open-fail \\\\.\\Tavrol 5 2\n"
                                         "#! request-fail 0x80012408 1117 00:00.0\n"
                                         "#! request-fail 0x80012410 1117 01:00.0\n");
    startDriver();
    for (int open = 0; open < 2; ++open) {
        HANDLE device = openDriver();
        ASSERT_NE(INVALID_HANDLE_VALUE, device) << "open " << open;
        PciConfigDwordRequest card = {1, 0, 0x48, 0}, bridge = {0, 0, 0xA4, 0}, out;
        EXPECT_TRUE(request(device, IOCTL_PCI_READ_CONFIG_DWORD, card, &out).ok);
        EXPECT_EQ(1117u, request(device, IOCTL_PCI_READ_CONFIG_DWORD, bridge, &out).error);
        PhysDwordRequest onBus1 = {1, 0xE0101000, 0, 0}, onBus0 = {0, 0xE0101000, 0, 0}, physOut;
        EXPECT_EQ(1117u, request(device, IOCTL_PHYS_READ_DWORD, onBus1, &physOut).error);
        EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED),
                  request(device, IOCTL_PHYS_READ_DWORD, onBus0, &physOut).error)
            << "bus 0 is not named, so the driver's own rules answer";
        CloseHandle(device);
    }
    expectOpenFails(openDriver(), ERROR_ACCESS_DENIED);
    expectOpenFails(openDriver(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(2, sim::machine().deviceOpenTotal("\\\\.\\Tavrol"));
}

// A fault can hit a given open or request only: the opens and requests before and after it are
// served, so a test can fail each request of a run in turn.
TEST(DriverDevice, FaultsCanHitOnlySomeOpensAndRequests) {
    sim::TestPc pc = bootWith("default", "#! open-fail \\\\.\\Tavrol 5 1 2\n"
                                         "#! request-fail 0x80012408 1117 any 2 1\n");
    startDriver();
    const bool opens[] = {true, false, false, true, true};
    for (bool expected : opens) {
        HANDLE device = openDriver();
        EXPECT_EQ(expected, device != INVALID_HANDLE_VALUE);
        if (device != INVALID_HANDLE_VALUE)
            CloseHandle(device);
    }
    HANDLE device = openDriver();
    ASSERT_NE(INVALID_HANDLE_VALUE, device);
    PciConfigDwordRequest card = {1, 0, 0x48, 0}, bridge = {0, 0, 0xA4, 0}, out;
    const DWORD errors[] = {ERROR_SUCCESS, ERROR_SUCCESS, 1117, ERROR_SUCCESS};
    for (DWORD expected : errors) {
        // Requests naming either function count: the directive names "any".
        Result first = request(device, IOCTL_PCI_READ_CONFIG_DWORD, card, &out);
        EXPECT_EQ(expected, first.ok ? static_cast<DWORD>(ERROR_SUCCESS) : first.error);
        std::swap(card, bridge);
    }
    CloseHandle(device);
}

TEST(Handles, BadHandlesAreRefused) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    startDriver();
    PciConfigDwordRequest in = {1, 0, 0x4C, 0}, out;
    for (HANDLE bad :
         {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(0x1234)}) {
        EXPECT_FALSE(request(bad, IOCTL_PCI_READ_CONFIG_DWORD, in, &out).ok);
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    }
    HANDLE device = openDriver();
    ASSERT_TRUE(CloseHandle(device));
    Result r = request(device, IOCTL_PCI_READ_CONFIG_DWORD, in, &out);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), r.error);
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(device));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_FALSE(CloseHandle(nullptr));
    EXPECT_TRUE(CloseHandle(GetCurrentProcess())) << "the pseudo handle closes without effect";
    EXPECT_EQ(0, sim::process().openHandleCount());
}

TEST(VxdDevice, OpensOnWindows9xBesideTheProgram) {
    sim::TestPc pc = sim::bootMachineForTest("ninex");
    expectOpenFails(openDriver(), ERROR_FILE_NOT_FOUND);
    HANDLE vxd = openVxd();
    ASSERT_NE(INVALID_HANDLE_VALUE, vxd) << GetLastError();
    HANDLE second = openVxd();
    EXPECT_NE(INVALID_HANDLE_VALUE, second) << "a VxD may be opened more than once";
    CloseHandle(second);

    VxdPhysDwordRequest read = {1, 0xE4101000, 0}, out;
    Result r = request(vxd, VXD_PHYS_READ_DWORD, read, &out);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(0x00000E00u, out.value);
    EXPECT_EQ(12u, r.returned);
    VxdPhysDwordRequest write = {1, 0xE4101000, 0x80000000};
    ASSERT_TRUE(request(vxd, VXD_PHYS_WRITE_DWORD, write, &out).ok);
    EXPECT_EQ(0x1F000217u, sim::machine().configDword(1, 0, 0, 0x48));
    // What the driver answers passes through as the request's error (tests/sim/drivers has them
    // all).
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FUNCTION), request(vxd, 8, read, &out).error);
    EXPECT_TRUE(CloseHandle(vxd));

    // Started from elsewhere, Windows still finds the VxD in the program's directory.
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
    HANDLE fromRoot = openVxd();
    EXPECT_NE(INVALID_HANDLE_VALUE, fromRoot);
    CloseHandle(fromRoot);
}

TEST(VxdDevice, AbsentFileOrNtMeansNoDevice) {
    sim::TestPc absent = bootWith("ninex", "#! vxd absent\n");
    expectOpenFails(openVxd(), ERROR_FILE_NOT_FOUND);
    // A file by that name that is no driver does not load either.
    sim::drive().writeFile(std::string(sim::kProgramDirectory) + "\\TAVROL.VXD",
                           "Tavrol virtual device driver\n");
    expectOpenFails(openVxd(), ERROR_FILE_NOT_FOUND);
    std::vector<sim::TraceEntry> opens = sim::machine().traceOf(sim::TraceKind::DeviceOpen);
    ASSERT_FALSE(opens.empty());
    EXPECT_NE(std::string::npos, opens.back().detail.find("(LE image: no MZ header)"))
        << opens.back().detail;
    sim::TestPc failing = bootWith("ninex", "#! open-fail \\\\.\\TAVROL.VXD 50\n");
    expectOpenFails(openVxd(), ERROR_NOT_SUPPORTED);
    sim::TestPc nt = sim::bootMachineForTest("default");
    expectOpenFails(openVxd(), ERROR_FILE_NOT_FOUND);
}

// A driver that faults (here: it calls a VMM service the machine does not offer) fails the
// request instead of the simulated PC, and the trace says where it went wrong.
TEST(VxdDevice, AFaultInTheDriverFailsTheRequest) {
    sim::TestPc pc = sim::bootMachineForTest("ninex");
    const std::string path = std::string(sim::kProgramDirectory) + "\\TAVROL.VXD";
    std::vector<uint8_t> file;
    ASSERT_TRUE(sim::readHostFile(sim::drive().hostPathOf(path), &file));
    const uint8_t mapPhysToLinear[] = {0xCD, 0x20, 0x6C, 0x00, 0x01, 0x00};
    auto call = std::search(file.begin(), file.end(), std::begin(mapPhysToLinear),
                            std::end(mapPhysToLinear));
    ASSERT_NE(file.end(), call);
    call[2] = 0x6D;
    sim::drive().writeFile(path, std::string(file.begin(), file.end()));

    HANDLE vxd = openVxd();
    ASSERT_NE(INVALID_HANDLE_VALUE, vxd) << GetLastError();
    VxdPhysDwordRequest read = {1, 0xE4101000, 0}, out = {7, 7, 7};
    Result r = request(vxd, VXD_PHYS_READ_DWORD, read, &out);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), r.error);
    std::vector<sim::TraceEntry> requests = sim::machine().traceOf(sim::TraceKind::DeviceRequest);
    ASSERT_EQ(1u, requests.size());
    EXPECT_NE(std::string::npos, requests[0].detail.find("VxD fault: service 0x0000006D"))
        << requests[0].detail;
    EXPECT_TRUE(CloseHandle(vxd));
}

TEST(VxdDevice, RequestFaultsCoverTheVxdCodes) {
    sim::TestPc pc = bootWith("ninex", "#! request-fail 1\n");
    HANDLE vxd = openVxd();
    ASSERT_NE(INVALID_HANDLE_VALUE, vxd);
    VxdPhysDwordRequest read = {1, 0xE4101000, 0}, out = {7, 7, 7};
    Result r = request(vxd, VXD_PHYS_READ_DWORD, read, &out);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), r.error);
    EXPECT_EQ(7u, out.value);
    CloseHandle(vxd);
}

} // namespace
