// The kernel driver's service: every result of installDriver, a service left by an earlier run,
// current directories too long for the driver path, and removal.
#include <gtest/gtest.h>

#include <string>

#include "agp_pc.h"

using namespace agptest;

namespace {

const std::string kDriverPath = std::string(sim::kProgramDirectory) + "\\TAVROL.sys";

class DriverService : public testing::Test {
  protected:
    void start(const std::vector<std::string>& directives = {}) {
        PcSpec layout = agpPc(true, kStatus4xSbaFw, kCommand2x, kStatus4xSbaFw, kCommand2x);
        layout.directives = directives;
        m_pc = boot(layout);
        ASSERT_TRUE(m_pc.ok());
        isNt = 1;
        sim::machine().clearTrace();
    }

    const sim::Service* service() { return sim::machine().services().find("TAVROL"); }

    int openServiceHandles() { return sim::machine().services().openHandleCount(); }

    sim::TestPc m_pc;
};

// Names of the service manager calls made since the trace was cleared, in order.
std::vector<std::string> serviceCallNames() {
    std::vector<std::string> names;
    for (const sim::TraceEntry& call : serviceCalls())
        names.push_back(call.name);
    return names;
}

TEST_F(DriverService, InstallsAndStartsTheDriverBesideTheProgram) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_EQ(0, installDriver());
    // The service is created and its handle closed before it is opened again to be started.
    EXPECT_EQ((std::vector<std::string>{"OpenSCManagerA", "CreateServiceA", "CloseServiceHandle",
                                        "OpenServiceA", "StartServiceA", "CloseServiceHandle",
                                        "CloseServiceHandle"}),
              serviceCallNames());
    const sim::Service* driver = service();
    ASSERT_NE(nullptr, driver);
    EXPECT_EQ("TAVROL", driver->name);
    EXPECT_EQ("TAVROL", driver->displayName);
    EXPECT_EQ((DWORD)SERVICE_KERNEL_DRIVER, driver->type);
    EXPECT_EQ((DWORD)SERVICE_DEMAND_START, driver->startType);
    EXPECT_EQ((DWORD)SERVICE_ERROR_NORMAL, driver->errorControl);
    EXPECT_EQ(kDriverPath, driver->binaryPath);
    EXPECT_EQ((DWORD)SERVICE_RUNNING, driver->state);
    EXPECT_EQ(0, openServiceHandles()) << sim::machine().traceText();
}

// A run that never reached its end left the service running, possibly with another path: it is
// taken over as it is.
TEST_F(DriverService, TakesOverTheServiceOfAnEarlierRun) {
    ASSERT_NO_FATAL_FAILURE(start());
    sim::Service earlier;
    earlier.name = "TAVROL";
    earlier.displayName = "TAVROL";
    earlier.type = SERVICE_KERNEL_DRIVER;
    earlier.startType = SERVICE_DEMAND_START;
    earlier.errorControl = SERVICE_ERROR_NORMAL;
    earlier.binaryPath = "C:\\Old Tavrolin\\TAVROL.sys";
    earlier.state = SERVICE_RUNNING;
    sim::machine().services().add(earlier);
    EXPECT_EQ(0, installDriver());
    ASSERT_NE(nullptr, service());
    EXPECT_EQ(earlier.binaryPath, service()->binaryPath);
    EXPECT_EQ((DWORD)SERVICE_RUNNING, service()->state);
    EXPECT_EQ(1u, sim::machine().services().services().size());
    EXPECT_EQ(0, openServiceHandles());
}

// Each failure of the service manager selects its own result, and no handle stays open.
struct InstallFault {
    const char* directive;
    int expected;
    bool serviceCreated;
};

void PrintTo(const InstallFault& value, std::ostream* out) {
    *out << value.directive;
}

class InstallFaults : public DriverService, public testing::WithParamInterface<InstallFault> {};

TEST_P(InstallFaults, GiveTheResultOfTheFailingStep) {
    ASSERT_NO_FATAL_FAILURE(start({GetParam().directive}));
    EXPECT_EQ(GetParam().expected, installDriver()) << sim::machine().traceText();
    EXPECT_EQ(GetParam().serviceCreated, service() != nullptr);
    if (service() != nullptr) {
        EXPECT_NE((DWORD)SERVICE_RUNNING, service()->state);
    }
    EXPECT_EQ(0, openServiceHandles()) << sim::machine().traceText();
}

INSTANTIATE_TEST_SUITE_P(ServiceManager, InstallFaults,
                         testing::Values(InstallFault{"scm-fail OpenSCManagerA 5", 1, false},
                                         InstallFault{"scm-fail OpenSCManagerA 1065", 2, false},
                                         InstallFault{"scm-fail OpenSCManagerA 87", 3, false},
                                         InstallFault{"scm-fail OpenSCManagerA 8", 4, false},
                                         InstallFault{"scm-fail CreateServiceA 5", 4, false},
                                         InstallFault{"scm-fail CreateServiceA 1072", 4, false},
                                         InstallFault{"scm-fail OpenServiceA 5", 5, true},
                                         InstallFault{"scm-fail OpenServiceA 6", 6, true},
                                         InstallFault{"scm-fail OpenServiceA 123", 7, true},
                                         InstallFault{"scm-fail OpenServiceA 1060", 8, true},
                                         InstallFault{"scm-fail OpenServiceA 1072", 9, true},
                                         InstallFault{"scm-fail StartServiceA 5", 10, true},
                                         InstallFault{"scm-fail StartServiceA 1058", 10, true},
                                         InstallFault{"driver-file absent", 10, true}));

// A start that reports the driver as already running counts as a start.
TEST_F(DriverService, AlreadyRunningCountsAsStarted) {
    ASSERT_NO_FATAL_FAILURE(start({"scm-fail StartServiceA 1056"}));
    EXPECT_EQ(0, installDriver());
    EXPECT_EQ(0, openServiceHandles());
}

// The driver path is built in 128 bytes: "\TAVROL.sys" adds 11 characters to the directory.
struct DirectoryCase {
    size_t length;
    bool fits;
};

void PrintTo(const DirectoryCase& value, std::ostream* out) {
    *out << value.length << " characters" << (value.fits ? "" : ", refused");
}

class CurrentDirectoryLength : public DriverService,
                               public testing::WithParamInterface<DirectoryCase> {};

TEST_P(CurrentDirectoryLength, FitsTheDriverPathOrIsRefused) {
    ASSERT_NO_FATAL_FAILURE(start());
    std::string directory = "C:\\";
    for (size_t i = directory.size(); i < GetParam().length; ++i)
        directory += (i % 10 == 9) ? '\\' : (char)('a' + i % 26);
    if (directory.back() == '\\')
        directory.back() = 'z';
    ASSERT_EQ(GetParam().length, directory.size());
    ASSERT_TRUE(sim::drive().createDirectories(directory));
    ASSERT_TRUE(sim::drive().writeFile(directory + "\\TAVROL.sys", "driver"));
    ASSERT_TRUE(SetCurrentDirectoryA(directory.c_str())) << GetLastError();
    sim::machine().clearTrace();

    int result = installDriver();
    if (GetParam().fits) {
        EXPECT_EQ(0, result);
        ASSERT_NE(nullptr, service());
        EXPECT_EQ(directory + "\\TAVROL.sys", service()->binaryPath);
    } else {
        EXPECT_EQ(4, result);
        EXPECT_TRUE(serviceCalls().empty()) << sim::machine().traceText();
        EXPECT_EQ(nullptr, service());
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, CurrentDirectoryLength,
                         testing::Values(DirectoryCase{115, true}, DirectoryCase{116, true},
                                         DirectoryCase{117, false}, DirectoryCase{127, false},
                                         DirectoryCase{128, false}, DirectoryCase{200, false}),
                         [](const testing::TestParamInfo<DirectoryCase>& info) {
                             return "Length" + std::to_string(info.param.length);
                         });

TEST_F(DriverService, RemoveStopsAndDeletesTheService) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_EQ(0, installDriver());
    sim::machine().clearTrace();
    removeDriver();
    // The stop is asked for first, each step on its own service handle.
    EXPECT_EQ((std::vector<std::string>{"OpenSCManagerA", "OpenServiceA", "ControlService",
                                        "CloseServiceHandle", "OpenServiceA", "DeleteService",
                                        "CloseServiceHandle", "CloseServiceHandle"}),
              serviceCallNames());
    EXPECT_EQ(nullptr, service()) << sim::machine().traceText();
    EXPECT_EQ(0, openServiceHandles());
}

// Deletion is asked for even when the stop fails; the service goes once it stops.
TEST_F(DriverService, RemoveDeletesEvenWhenTheStopFails) {
    ASSERT_NO_FATAL_FAILURE(start({"scm-fail ControlService 1061"}));
    ASSERT_EQ(0, installDriver());
    removeDriver();
    const sim::Service* driver = service();
    ASSERT_NE(nullptr, driver);
    EXPECT_TRUE(driver->markedForDelete);
    EXPECT_EQ(0, openServiceHandles());
}

TEST_F(DriverService, RemoveWithoutAServiceChangesNothing) {
    ASSERT_NO_FATAL_FAILURE(start());
    removeDriver();
    EXPECT_TRUE(sim::machine().services().services().empty());
    EXPECT_EQ(0, openServiceHandles());
    for (const sim::TraceEntry& call : serviceCalls())
        EXPECT_TRUE(call.name == "OpenSCManagerA" || call.name == "OpenServiceA" ||
                    call.name == "CloseServiceHandle")
            << call.toString();
}

TEST_F(DriverService, RemoveWithoutTheManagerLeavesTheService) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_EQ(0, installDriver());
    sim::Profile profile = sim::machine().profile();
    profile.directives.push_back({"scm-fail", {"OpenSCManagerA", "5"}, 0});
    sim::machine().load(profile);
    removeDriver();
    ASSERT_NE(nullptr, service());
    EXPECT_FALSE(service()->markedForDelete);
    EXPECT_EQ(0, openServiceHandles());
}

} // namespace
