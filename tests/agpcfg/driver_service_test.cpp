// The kernel driver's service: the driver file checked and copied into the system's driver
// folder, every result of installDriver, services that other runs or other programs left, the
// machine-wide share of the driver, and removal.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "agp_pc.h"
#include "shell_pc.h"
#include "sim/file_security.h"

using namespace agptest;

namespace {

const std::string kSourcePath = std::string(sim::kProgramDirectory) + "\\TAVROL.sys";
const std::string kCopyPath = "C:\\WINDOWS\\system32\\drivers\\TAVROL.sys";
const char kUsersObject[] = "Global\\TavrolinDriverUsers";
const char kLockObject[] = "Global\\TavrolinDriverLock";

std::string builtDriver() {
    std::ifstream in(sim::builtDriverPath(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string fileOnDrive(const std::string& windowsPath) {
    std::ifstream in(sim::drive().hostPathOf(windowsPath), std::ios::binary);
    if (!in)
        return "<no file>";
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

sim::Service runningService(const std::string& path, bool tavrolDriver) {
    sim::Service service;
    service.name = service.displayName = "TAVROL";
    service.type = SERVICE_KERNEL_DRIVER;
    service.startType = SERVICE_DEMAND_START;
    service.errorControl = SERVICE_ERROR_NORMAL;
    service.binaryPath = path;
    service.state = SERVICE_RUNNING;
    service.loadedTavrolDriver = tavrolDriver;
    return service;
}

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

    // Service handles left open; the session with the manager that a run keeps from the
    // installation to the removal is counted apart.
    int openServiceHandles() {
        return sim::machine().services().openHandleCount() -
               sim::machine().services().openManagerCount();
    }
    int openManagerSessions() { return sim::machine().services().openManagerCount(); }

    // Our driver serves its device: what the program needs of an installation.
    bool deviceOpens() {
        HANDLE device = CreateFileA("\\\\.\\Tavrol", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (device == INVALID_HANDLE_VALUE)
            return false;
        CloseHandle(device);
        return true;
    }

    void expectOurDriverRunsFromTheCopy() {
        ASSERT_NE(nullptr, service()) << sim::machine().traceText();
        EXPECT_EQ(kCopyPath, service()->binaryPath);
        EXPECT_EQ((DWORD)SERVICE_RUNNING, service()->state);
        EXPECT_TRUE(service()->loadedTavrolDriver);
        EXPECT_EQ(builtDriver(), fileOnDrive(kCopyPath));
        EXPECT_TRUE(deviceOpens());
    }

    sim::TestPc m_pc;
};

// Names of the service manager calls made since the trace was cleared, in order.
std::vector<std::string> serviceCallNames() {
    std::vector<std::string> names;
    for (const sim::TraceEntry& call : serviceCalls())
        names.push_back(call.name);
    return names;
}

TEST_F(DriverService, InstallsTheCheckedDriverFromTheSystemsDriverFolder) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_EQ(0, installDriver());
    // No service is left to replace; the new one is created from the copy, its handle closed
    // before it is opened again to be started. The session stays open for the removal.
    EXPECT_EQ((std::vector<std::string>{"OpenSCManagerA", "OpenServiceA", "CreateServiceA",
                                        "CloseServiceHandle", "OpenServiceA", "StartServiceA",
                                        "CloseServiceHandle"}),
              serviceCallNames());
    const sim::Service* driver = service();
    ASSERT_NE(nullptr, driver);
    EXPECT_EQ("TAVROL", driver->name);
    EXPECT_EQ("TAVROL", driver->displayName);
    EXPECT_EQ((DWORD)SERVICE_KERNEL_DRIVER, driver->type);
    EXPECT_EQ((DWORD)SERVICE_DEMAND_START, driver->startType);
    EXPECT_EQ((DWORD)SERVICE_ERROR_NORMAL, driver->errorControl);
    expectOurDriverRunsFromTheCopy();
    EXPECT_EQ(0, openServiceHandles()) << sim::machine().traceText();
    removeDriver();
}

// A driver file that is not the one the program was built with is refused before anything is
// touched: no service, no copy, the driver-file error that a missing file gives.
struct ForeignFile {
    const char* name;
    std::string (*contents)();
};

void PrintTo(const ForeignFile& value, std::ostream* out) {
    *out << value.name;
}

class ForeignDriverFiles : public DriverService, public testing::WithParamInterface<ForeignFile> {};

TEST_P(ForeignDriverFiles, AreRefusedAndNothingIsInstalled) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_TRUE(sim::drive().writeFile(kSourcePath, GetParam().contents()));
    EXPECT_EQ(10, installDriver());
    EXPECT_TRUE(serviceCalls().empty()) << sim::machine().traceText();
    EXPECT_EQ(nullptr, service());
    EXPECT_FALSE(sim::drive().fileExists(kCopyPath));
    removeDriver();
    EXPECT_TRUE(serviceCalls().empty()) << "a refused run removes nothing";
}

INSTANTIATE_TEST_SUITE_P(
    Planted, ForeignDriverFiles,
    testing::Values(ForeignFile{"Planted", [] { return std::string("a planted kernel driver"); }},
                    ForeignFile{"Cut", [] { return builtDriver().substr(1); }},
                    ForeignFile{"Extended", [] { return builtDriver() + '\0'; }},
                    ForeignFile{"OneBitChanged",
                                [] {
                                    std::string image = builtDriver();
                                    image[image.size() / 2] ^= 1;
                                    return image;
                                }},
                    ForeignFile{"Empty", [] { return std::string(); }}),
    [](const testing::TestParamInfo<ForeignFile>& info) { return std::string(info.param.name); });

// Whatever TAVROL service exists when no run of ours uses the driver goes, and a fresh one runs
// our driver from the copy: one left by a run that never ended, another program's, or one whose
// file in the driver folder was replaced.
struct LeftService {
    const char* name;
    std::string path;
    bool running;
    std::string copy; // what lies in the driver folder beforehand; empty for nothing
};

void PrintTo(const LeftService& value, std::ostream* out) {
    *out << value.name;
}

class LeftServices : public DriverService, public testing::WithParamInterface<LeftService> {};

TEST_P(LeftServices, AreReplacedByOursFromTheCopy) {
    ASSERT_NO_FATAL_FAILURE(start());
    const LeftService& left = GetParam();
    if (!left.copy.empty()) {
        ASSERT_TRUE(sim::drive().writeFile(kCopyPath, left.copy));
    }
    if (!left.path.empty()) {
        sim::Service earlier = runningService(left.path, false);
        if (!left.running)
            earlier.state = SERVICE_STOPPED;
        sim::machine().services().add(earlier);
    }
    ASSERT_EQ(0, installDriver()) << sim::machine().traceText();
    expectOurDriverRunsFromTheCopy();
    EXPECT_EQ(1u, sim::machine().services().services().size());
    EXPECT_EQ(0, openServiceHandles());
    removeDriver();
}

INSTANTIATE_TEST_SUITE_P(
    Earlier, LeftServices,
    testing::Values(LeftService{"RunningFromAnotherFolder", "C:\\Old Tavrolin\\TAVROL.sys", true,
                                ""},
                    LeftService{"StoppedFromTheProgramFolder", kSourcePath, false, ""},
                    LeftService{"RunningAPlantedCopy", kCopyPath, true, "a planted kernel driver"},
                    LeftService{"NoServiceButAPlantedCopy", "", false, "a planted kernel driver"}),
    [](const testing::TestParamInfo<LeftService>& info) { return std::string(info.param.name); });

// A driver of another program that will not stop keeps its service from being replaced: the
// run fails, and nothing of ours runs in its place.
TEST_F(DriverService, ALeftDriverThatWillNotStopEndsTheInstallation) {
    ASSERT_NO_FATAL_FAILURE(start({"scm-fail ControlService 1052"}));
    sim::machine().services().add(runningService("C:\\Other\\TAVROL.sys", false));
    EXPECT_EQ(4, installDriver());
    ASSERT_NE(nullptr, service());
    EXPECT_EQ("C:\\Other\\TAVROL.sys", service()->binaryPath);
    EXPECT_FALSE(deviceOpens());
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
                                         InstallFault{"driver-file absent", 10, false}));

// A start that reports the driver as already running counts as a start.
TEST_F(DriverService, AlreadyRunningCountsAsStarted) {
    ASSERT_NO_FATAL_FAILURE(start({"scm-fail StartServiceA 1056"}));
    EXPECT_EQ(0, installDriver());
    EXPECT_EQ(0, openServiceHandles());
}

// Without the system's driver folder the copy cannot be written: no service is created.
TEST_F(DriverService, ACopyThatCannotBeWrittenInstallsNothing) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_TRUE(
        std::filesystem::remove_all(sim::drive().hostPathOf("C:\\WINDOWS\\system32\\drivers")));
    EXPECT_EQ(4, installDriver());
    EXPECT_EQ(nullptr, service());
    removeDriver();
    EXPECT_EQ(nullptr, service());
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
    ASSERT_TRUE(sim::drive().installFile(directory + "\\TAVROL.sys", sim::builtDriverPath()));
    ASSERT_TRUE(SetCurrentDirectoryA(directory.c_str())) << GetLastError();
    sim::machine().clearTrace();

    int result = installDriver();
    if (GetParam().fits) {
        EXPECT_EQ(0, result);
        expectOurDriverRunsFromTheCopy();
        removeDriver();
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

TEST_F(DriverService, RemoveStopsAndDeletesTheServiceAndTheCopy) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_EQ(0, installDriver());
    sim::machine().clearTrace();
    removeDriver();
    // The stop is asked for first, each step on its own service handle, in the session with the
    // service manager that installed the driver.
    EXPECT_EQ((std::vector<std::string>{"OpenServiceA", "ControlService", "CloseServiceHandle",
                                        "OpenServiceA", "DeleteService", "CloseServiceHandle",
                                        "CloseServiceHandle"}),
              serviceCallNames());
    EXPECT_EQ(nullptr, service()) << sim::machine().traceText();
    EXPECT_FALSE(sim::drive().fileExists(kCopyPath));
    EXPECT_TRUE(sim::drive().fileExists(kSourcePath));
    EXPECT_EQ(0, openServiceHandles());
}

// Deletion is asked for even when the stop fails; the service goes once it stops, and the copy
// that the running driver still maps stays until then.
TEST_F(DriverService, RemoveDeletesEvenWhenTheStopFails) {
    ASSERT_NO_FATAL_FAILURE(start({"scm-fail ControlService 1061"}));
    ASSERT_EQ(0, installDriver());
    removeDriver();
    const sim::Service* driver = service();
    ASSERT_NE(nullptr, driver);
    EXPECT_TRUE(driver->markedForDelete);
    EXPECT_TRUE(sim::drive().fileExists(kCopyPath));
    EXPECT_EQ(0, openServiceHandles());
}

// A run that never installed the driver has no share of it and removes nothing, not even a
// service that someone else runs.
TEST_F(DriverService, RemoveWithoutAnInstallationTouchesNothing) {
    ASSERT_NO_FATAL_FAILURE(start());
    sim::machine().services().add(runningService(kCopyPath, true));
    removeDriver();
    EXPECT_TRUE(serviceCalls().empty()) << sim::machine().traceText();
    EXPECT_NE(nullptr, service());
}

// The installation's session with the service manager stays open for the removal, which closes
// it; an installation that starts over gives up the one it had.
struct SessionCase {
    const char* name;
    std::vector<std::string> directives;
    int installations;
    int sessionsKept;
};

void PrintTo(const SessionCase& value, std::ostream* out) {
    *out << value.name;
}

class ManagerSessions : public DriverService, public testing::WithParamInterface<SessionCase> {};

TEST_P(ManagerSessions, LastFromTheInstallationToTheRemoval) {
    const SessionCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(start(c.directives));
    for (int i = 0; i < c.installations; ++i)
        installDriver();
    EXPECT_EQ(c.sessionsKept, openManagerSessions());
    removeDriver();
    EXPECT_EQ(0, sim::machine().services().openHandleCount()) << sim::machine().traceText();
}

INSTANTIATE_TEST_SUITE_P(
    Installations, ManagerSessions,
    testing::Values(SessionCase{"Installed", {}, 1, 1}, SessionCase{"InstalledTwice", {}, 2, 1},
                    SessionCase{"StartRefused", {"scm-fail StartServiceA 5"}, 1, 1},
                    SessionCase{"ManagerRefused", {"scm-fail OpenSCManagerA 5"}, 1, 0}),
    [](const testing::TestParamInfo<SessionCase>& info) { return std::string(info.param.name); });

// The removal needs no session of its own with the service manager: one that refuses new
// sessions after the installation still sees the driver removed.
TEST_F(DriverService, RemoveNeedsNoNewSessionWithTheManager) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_EQ(0, installDriver());
    sim::Profile profile = sim::machine().profile();
    profile.directives.push_back({"scm-fail", {"OpenSCManagerA", "5"}, 0});
    sim::machine().load(profile);
    removeDriver();
    EXPECT_EQ(nullptr, service()) << sim::machine().traceText();
    EXPECT_FALSE(sim::drive().fileExists(kCopyPath));
    EXPECT_EQ(0, openServiceHandles());
}

// A copy in use that is not a driver we accept (another version's) cannot be replaced under
// the run that uses it: the run gives the driver-file error and leaves it alone.
TEST_F(DriverService, AnotherVersionsDriverInUseIsNotJoined) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_TRUE(sim::drive().writeFile(kCopyPath, "another version's driver"));
    sim::machine().services().add(runningService(kCopyPath, false));
    HANDLE otherRun = CreateMutexA(nullptr, FALSE, kUsersObject);
    EXPECT_EQ(10, installDriver());
    EXPECT_EQ("another version's driver", fileOnDrive(kCopyPath));
    EXPECT_EQ((DWORD)SERVICE_RUNNING, service()->state);
    removeDriver();
    EXPECT_NE(nullptr, service());
    CloseHandle(otherRun);
}

// Installing and removing are one step each across the machine: a run waits while another holds
// the lock.
TEST_F(DriverService, InstallationWaitsForAnotherRunsLock) {
    ASSERT_NO_FATAL_FAILURE(start());
    std::string stateDir = m_pc.root() + "/state";
    std::string error;
    ASSERT_TRUE(sim::shell().attach(stateDir, &error)) << error;
    ASSERT_TRUE(sim::machine().services().attach(stateDir, &error)) << error;
    std::string released = m_pc.root() + "/released";
    shelltest::OtherProcess other;
    other.start(stateDir, [&](shelltest::OtherProcess& self) {
        HANDLE lock = CreateMutexA(nullptr, FALSE, kLockObject);
        if (!lock || WaitForSingleObject(lock, 0) != WAIT_OBJECT_0)
            return 1;
        self.signal();
        Sleep(300);
        std::ofstream(released) << "released";
        ReleaseMutex(lock);
        CloseHandle(lock);
        return 0;
    });
    ASSERT_TRUE(other.wait()) << "the other run did not take the lock";
    EXPECT_EQ(0, installDriver());
    EXPECT_TRUE(std::ifstream(released).good()) << "the installation did not wait for the lock";
    EXPECT_EQ(0, other.join());
    removeDriver();
}

// Joining a run that holds the driver: the TAVROL service must be the kernel driver of our copy
// in the driver folder. Any other is refused with the driver-file error and left as it is.
struct JoinCase {
    const char* name;
    DWORD type;
    std::string path;
    int result;
};

void PrintTo(const JoinCase& value, std::ostream* out) {
    *out << value.name;
}

class JoinedServices : public DriverService, public testing::WithParamInterface<JoinCase> {};

TEST_P(JoinedServices, AreOursOrRefusedUntouched) {
    ASSERT_NO_FATAL_FAILURE(start());
    const JoinCase& c = GetParam();
    ASSERT_TRUE(sim::drive().writeFile(kCopyPath, builtDriver()));
    sim::Service other = runningService(c.path, false);
    other.type = c.type;
    sim::machine().services().add(other);
    HANDLE otherRun = CreateMutexA(nullptr, FALSE, kUsersObject);
    EXPECT_EQ(c.result, installDriver());
    ASSERT_NE(nullptr, service());
    EXPECT_EQ(c.path, service()->binaryPath);
    EXPECT_EQ((DWORD)SERVICE_RUNNING, service()->state);
    EXPECT_FALSE(service()->markedForDelete);
    EXPECT_EQ(0, openServiceHandles());
    removeDriver();
    CloseHandle(otherRun);
}

INSTANTIATE_TEST_SUITE_P(
    OtherRuns, JoinedServices,
    testing::Values(JoinCase{"OurCopy", SERVICE_KERNEL_DRIVER, kCopyPath, 0},
                    JoinCase{"OurCopyInNtForm", SERVICE_KERNEL_DRIVER, "\\??\\" + kCopyPath, 0},
                    JoinCase{"AnotherFile", SERVICE_KERNEL_DRIVER, "C:\\Users\\x\\TAVROL.sys", 10},
                    JoinCase{"AProgramService", 0x10, kCopyPath, 10}),
    [](const testing::TestParamInfo<JoinCase>& info) { return std::string(info.param.name); });

// Objects of the driver's names that another account made first are refused: nothing is
// installed or copied, and the squatter's object is left alone.
TEST_F(DriverService, ObjectsAnotherAccountMadeFirstAreRefused) {
    sim::FileSecurity squatter;
    squatter.owner = "S-1-5-21-7-7-7-1001";
    std::vector<uint8_t> descriptor = sim::selfRelativeDescriptor(squatter, false);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.data(), FALSE};
    for (const char* name : {kLockObject, kUsersObject}) {
        SCOPED_TRACE(name);
        ASSERT_NO_FATAL_FAILURE(start());
        HANDLE squatted = CreateMutexA(&attributes, FALSE, name);
        ASSERT_NE(nullptr, squatted);
        EXPECT_EQ(4, installDriver());
        EXPECT_EQ(nullptr, service());
        EXPECT_EQ("<no file>", fileOnDrive(kCopyPath));
        removeDriver();
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(squatted, 0)) << "the lock was taken";
        ReleaseMutex(squatted);
        CloseHandle(squatted);
    }
}

// From Vista on the objects live in the private namespace bound to Administrators: global objects
// of their names, which anyone may make, do not matter there.
TEST_F(DriverService, FromVistaOnObjectsLiveInTheAdministratorsNamespace) {
    ASSERT_NO_FATAL_FAILURE(start({"windows 7"}));
    HANDLE squatted[] = {CreateMutexA(nullptr, TRUE, kLockObject),
                         CreateMutexA(nullptr, FALSE, kUsersObject)};
    EXPECT_EQ(0, installDriver());
    ASSERT_NE(nullptr, service());
    EXPECT_TRUE(service()->loadedTavrolDriver);
    const std::vector<std::string>& trace = sim::shell().trace();
    auto mentions = [&](const std::string& text) {
        return std::any_of(trace.begin(), trace.end(), [&](const std::string& line) {
            return line.find(text) != std::string::npos;
        });
    };
    EXPECT_TRUE(mentions("CreatePrivateNamespaceW \"tavrolindriver\" -> tavrolindriver|" +
                         std::string(sim::kSidAdministrators)));
    EXPECT_TRUE(mentions("CreateMutexA \"TavrolinDriver\\\\TavrolinDriverLock\" -> created"));
    removeDriver();
    EXPECT_EQ(nullptr, service()) << "the last run did not remove the driver";
    for (HANDLE object : squatted)
        CloseHandle(object);
}

// The copy is written under a name of its own and renamed into place: an old copy held open
// does not stop it, and nothing but TAVROL.sys is left in the driver folder.
TEST_F(DriverService, TheCopyReplacesAnOldOneHeldOpen) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_TRUE(sim::drive().writeFile(kCopyPath, "an old copy"));
    HANDLE reader = CreateFileA(kCopyPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    ASSERT_EQ(0, installDriver()) << sim::machine().traceText();
    expectOurDriverRunsFromTheCopy();
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(
             sim::drive().hostPathOf("C:\\WINDOWS\\system32\\drivers")))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(std::vector<std::string>{"TAVROL.sys"}, left);
    CloseHandle(reader);
    removeDriver();
}

// From Windows 2000 on the objects live where every session sees them; NT 4.0 takes no
// backslash in an object name.
TEST(DriverObjectNames, AreGlobalFromWindows2000On) {
    struct Case {
        DWORD major;
        const char* name;
    } cases[] = {{4, "TavrolinDriverLock"},
                 {5, "Global\\TavrolinDriverLock"},
                 {6, "Global\\TavrolinDriverLock"}};
    for (const Case& c : cases) {
        char name[DRIVER_OBJECT_NAME_SIZE];
        driverObjectName("TavrolinDriverLock", c.major, name);
        EXPECT_STREQ(c.name, name) << "Windows major version " << c.major;
    }
}

} // namespace
