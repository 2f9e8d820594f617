// The service control manager: the life of a kernel-driver service and Windows' error codes.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "platform/platform.h"
#include "shell_pc.h"
#include "sim/boot.h"
#include "sim/machine.h"
#include "sim/process.h"

namespace {

const char* const kDriverPath = "C:\\Program Files\\Vantorel Tech\\Tavrolin\\TAVROL.sys";

SC_HANDLE openManager() {
    return OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
}

SC_HANDLE create(SC_HANDLE manager, const char* name = "TAVROL", const char* path = kDriverPath) {
    return CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                          SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path, nullptr, nullptr,
                          nullptr, nullptr, nullptr);
}

// Expects a failed call: FALSE or null, and the given last error.
#define EXPECT_FAILS_WITH(error, call)                                                             \
    do {                                                                                           \
        SetLastError(0);                                                                           \
        EXPECT_FALSE(call);                                                                        \
        EXPECT_EQ(static_cast<DWORD>(error), GetLastError());                                      \
    } while (0)

sim::TestPc bootDefaultWith(const std::string& directives) {
    sim::Profile profile;
    std::string error;
    EXPECT_TRUE(sim::loadProfileFile(sim::machinesDir() + "/default.lspci", &profile, &error));
    sim::TestPc pc = sim::bootForTest(directives + sim::formatProfile(profile));
    EXPECT_TRUE(pc.ok()) << pc.error();
    return pc;
}

TEST(ServiceManager, CreateRecordsTheServiceAndRefusesDuplicates) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    SC_HANDLE manager = openManager();
    ASSERT_NE(nullptr, manager);
    SC_HANDLE service = create(manager);
    ASSERT_NE(nullptr, service) << GetLastError();
    const sim::Service* s = sim::machine().services().find("tavrol");
    ASSERT_NE(nullptr, s);
    EXPECT_EQ("TAVROL", s->name);
    EXPECT_EQ("TAVROL", s->displayName);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_KERNEL_DRIVER), s->type);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DEMAND_START), s->startType);
    EXPECT_EQ(kDriverPath, s->binaryPath);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), s->state);

    EXPECT_FAILS_WITH(ERROR_SERVICE_EXISTS, create(manager, "tavrol", "C:\\other.sys"));
    EXPECT_EQ(kDriverPath, sim::machine().services().find("TAVROL")->binaryPath);
    EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, create(service));
    EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, create(nullptr));
    EXPECT_FAILS_WITH(ERROR_INVALID_NAME, create(manager, ""));
    EXPECT_FAILS_WITH(ERROR_INVALID_NAME, create(manager, "A\\B"));
    EXPECT_FAILS_WITH(ERROR_INVALID_PARAMETER, create(manager, "OTHER", ""));
    EXPECT_EQ(1u, sim::machine().services().services().size());
    EXPECT_TRUE(CloseServiceHandle(service));
    EXPECT_TRUE(CloseServiceHandle(manager));
    EXPECT_EQ(0, sim::machine().services().openHandleCount());
}

TEST(ServiceManager, ManagerAndServiceOpening) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    EXPECT_FAILS_WITH(ERROR_DATABASE_DOES_NOT_EXIST,
                      OpenSCManagerA(nullptr, "Bogus", SC_MANAGER_ALL_ACCESS));
    EXPECT_FAILS_WITH(ERROR_INVALID_NAME,
                      OpenSCManagerA("\\\\ELSEWHERE", nullptr, SC_MANAGER_ALL_ACCESS));
    SC_HANDLE manager = OpenSCManagerA(nullptr, "ServicesActive", SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(nullptr, manager);
    EXPECT_FAILS_WITH(ERROR_SERVICE_DOES_NOT_EXIST,
                      OpenServiceA(manager, "TAVROL", SERVICE_ALL_ACCESS));
    EXPECT_FAILS_WITH(ERROR_INVALID_NAME, OpenServiceA(manager, "", SERVICE_ALL_ACCESS));
    EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, OpenServiceA(nullptr, "TAVROL", SERVICE_ALL_ACCESS));
    SC_HANDLE created = create(manager);
    SC_HANDLE opened = OpenServiceA(manager, "Tavrol", SERVICE_ALL_ACCESS);
    EXPECT_NE(nullptr, opened);
    EXPECT_NE(created, opened);
    EXPECT_TRUE(CloseServiceHandle(opened));
    EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, CloseServiceHandle(opened));
    CloseServiceHandle(created);
    CloseServiceHandle(manager);
}

TEST(ServiceManager, StartAndStop) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    SC_HANDLE manager = openManager();
    SC_HANDLE missing = create(manager, "MISSING", "C:\\Windows\\System32\\drivers\\missing.sys");
    EXPECT_FAILS_WITH(ERROR_FILE_NOT_FOUND, StartServiceA(missing, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED),
              sim::machine().services().find("MISSING")->state);

    SC_HANDLE service = create(manager);
    SERVICE_STATUS status;
    std::memset(&status, 0xbd, sizeof status);
    EXPECT_FAILS_WITH(ERROR_SERVICE_NOT_ACTIVE,
                      ControlService(service, SERVICE_CONTROL_STOP, &status));
    ASSERT_TRUE(StartServiceA(service, 0, nullptr)) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), sim::machine().services().find("TAVROL")->state);
    EXPECT_FAILS_WITH(ERROR_SERVICE_ALREADY_RUNNING, StartServiceA(service, 0, nullptr));
    EXPECT_FAILS_WITH(ERROR_INVALID_SERVICE_CONTROL, ControlService(service, 2, &status));
    EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, StartServiceA(manager, 0, nullptr));

    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), status.dwCurrentState);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_KERNEL_DRIVER), status.dwServiceType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), sim::machine().services().find("TAVROL")->state);
    CloseServiceHandle(service);
    CloseServiceHandle(missing);
    CloseServiceHandle(manager);
}

TEST(ServiceManager, DeletedServiceGoesWhenStoppedAndClosed) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    SC_HANDLE manager = openManager();
    SC_HANDLE service = create(manager);
    ASSERT_TRUE(StartServiceA(service, 0, nullptr));
    SC_HANDLE second = OpenServiceA(manager, "TAVROL", SERVICE_ALL_ACCESS);
    ASSERT_TRUE(DeleteService(second)) << GetLastError();
    EXPECT_FAILS_WITH(ERROR_SERVICE_MARKED_FOR_DELETE, DeleteService(service));
    EXPECT_FAILS_WITH(ERROR_SERVICE_MARKED_FOR_DELETE, create(manager));
    ASSERT_TRUE(CloseServiceHandle(second));
    ASSERT_NE(nullptr, sim::machine().services().find("TAVROL")) << "still running";

    SERVICE_STATUS status;
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    ASSERT_NE(nullptr, sim::machine().services().find("TAVROL")) << "a handle is still open";
    EXPECT_FAILS_WITH(ERROR_SERVICE_MARKED_FOR_DELETE, StartServiceA(service, 0, nullptr));
    ASSERT_TRUE(CloseServiceHandle(service));
    EXPECT_EQ(nullptr, sim::machine().services().find("TAVROL"));
    SC_HANDLE fresh = create(manager);
    EXPECT_NE(nullptr, fresh) << "the name is free again";
    CloseServiceHandle(fresh);
    CloseServiceHandle(manager);
}

TEST(ServiceManager, Windows9xHasNone) {
    sim::TestPc pc = sim::bootMachineForTest("ninex");
    EXPECT_FAILS_WITH(ERROR_CALL_NOT_IMPLEMENTED, openManager());
}

TEST(ServiceManager, EveryFunctionFailsOnRequest) {
    struct Case {
        const char* directive;
        DWORD error;
    };
    const Case cases[] = {{"OpenSCManagerA", 5},    {"CreateServiceA", 1073},
                          {"OpenServiceA", 1060},   {"StartServiceA", 1058},
                          {"ControlService", 1052}, {"DeleteService", 5},
                          {"CloseServiceHandle", 6}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.directive);
        sim::TestPc pc = bootDefaultWith(std::string("#! scm-fail ") + c.directive + " " +
                                         std::to_string(c.error) + "\n");
        sim::Service left;
        left.name = left.displayName = "TAVROL";
        left.type = SERVICE_KERNEL_DRIVER;
        left.startType = SERVICE_DEMAND_START;
        left.binaryPath = kDriverPath;
        sim::machine().services().add(left);
        SetLastError(0);
        SC_HANDLE manager = openManager();
        if (manager)
            create(manager, "OTHER");
        SC_HANDLE opened = manager ? OpenServiceA(manager, "TAVROL", SERVICE_ALL_ACCESS) : nullptr;
        SERVICE_STATUS status;
        if (opened && StartServiceA(opened, 0, nullptr))
            ControlService(opened, SERVICE_CONTROL_STOP, &status);
        if (opened) {
            DeleteService(opened);
            CloseServiceHandle(opened);
        }
        EXPECT_EQ(c.error, GetLastError());
        std::string failed;
        for (const sim::TraceEntry& e : sim::machine().traceOf(sim::TraceKind::ServiceCall))
            if (!e.ok)
                failed += e.name + " ";
        EXPECT_EQ(std::string(c.directive) + " ", failed) << sim::machine().traceText();
    }
}

TEST(ServiceManager, DatabaseSurvivesAsText) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    SC_HANDLE manager = openManager();
    SC_HANDLE service = create(manager);
    StartServiceA(service, 0, nullptr);
    SC_HANDLE odd = create(manager, "ODD%NAME", "C:\\path with\ttab.sys");
    ASSERT_NE(nullptr, odd);
    SC_HANDLE gone = create(manager, "GONE");
    DeleteService(gone);
    CloseServiceHandle(odd);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    std::string text = sim::machine().services().saveText();

    sim::TestPc next = sim::bootMachineForTest("default");
    ASSERT_TRUE(sim::machine().services().services().empty()) << "a fresh PC has no services";
    std::string error;
    ASSERT_TRUE(sim::machine().services().loadText(text, &error)) << error;
    const sim::Service* tavrol = sim::machine().services().find("TAVROL");
    ASSERT_NE(nullptr, tavrol) << text;
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), tavrol->state);
    EXPECT_EQ(kDriverPath, tavrol->binaryPath);
    ASSERT_NE(nullptr, sim::machine().services().find("ODD%NAME"));
    EXPECT_EQ("C:\\path with\ttab.sys", sim::machine().services().find("ODD%NAME")->binaryPath);
    EXPECT_EQ(nullptr, sim::machine().services().find("GONE"))
        << "a stopped service marked for deletion ends with its process";

    for (const char* bad : {"service\tX\n", "service\tX\tX\t1\t3\t1\tpaused\tkeep\tC:\\x\n",
                            "service\tX\tX\t1\tthree\t1\trunning\tkeep\tC:\\x\n",
                            "service\tX\tX\t1\t3\t1\trunning\tkeep\tC:\\%zz\n"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(sim::machine().services().loadText(bad, &error));
        EXPECT_EQ("services:1: malformed service line", error);
        EXPECT_NE(nullptr, sim::machine().services().find("TAVROL"))
            << "a refused text lost services";
    }
}

// Attached to a state directory, the database is one for every process of the PC, as Windows'
// service manager is: what one run installs, another sees and can remove.
TEST(ServiceManager, ProcessesOfOnePcShareTheDatabase) {
    sim::TestPc pc = sim::bootMachineForTest("default");
    std::string stateDir = pc.root() + "/state";
    std::string error;
    ASSERT_TRUE(sim::machine().services().attach(stateDir, &error)) << error;
    SC_HANDLE manager = openManager();
    SC_HANDLE service = create(manager);
    ASSERT_TRUE(StartServiceA(service, 0, nullptr)) << GetLastError();
    CloseServiceHandle(service);

    shelltest::OtherProcess other;
    other.start(stateDir, [](shelltest::OtherProcess&) {
        SC_HANDLE theirs = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE driver = OpenServiceA(theirs, "TAVROL", SERVICE_ALL_ACCESS);
        SERVICE_STATUS status;
        bool removed = driver && ControlService(driver, SERVICE_CONTROL_STOP, &status) &&
                       DeleteService(driver);
        CloseServiceHandle(driver);
        CloseServiceHandle(theirs);
        return removed ? 0 : 1;
    });
    EXPECT_EQ(0, other.join()) << "the other process did not find the running service";
    EXPECT_FAILS_WITH(ERROR_SERVICE_DOES_NOT_EXIST,
                      OpenServiceA(manager, "TAVROL", SERVICE_ALL_ACCESS));
    CloseServiceHandle(manager);

    sim::TestPc next = sim::bootMachineForTest("default");
    ASSERT_TRUE(sim::machine().services().attach(stateDir, &error)) << error;
    EXPECT_TRUE(sim::machine().services().services().empty());
    std::ofstream(stateDir + "/services.txt") << "service\tbroken\n";
    sim::TestPc third = sim::bootMachineForTest("default");
    EXPECT_FALSE(sim::machine().services().attach(stateDir, &error));
    EXPECT_EQ(stateDir + "/services.txt: services:1: malformed service line", error);
}

// QueryServiceConfigA tells the size it needs, then the type and the path as they were given.
TEST(ServiceManager, ConfigurationTellsTypeAndPathInABufferBigEnough) {
    sim::TestPc pc = sim::bootForTest("");
    SC_HANDLE manager = openManager();
    SC_HANDLE service = create(manager, "TAVROL", "C:\\x\\TAVROL.sys");
    ASSERT_NE(nullptr, service);
    DWORD buffer[64];
    DWORD needed = 0;
    EXPECT_FALSE(QueryServiceConfigA(service, nullptr, 0, &needed));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    ASSERT_LE(needed, sizeof buffer);
    LPQUERY_SERVICE_CONFIGA config = reinterpret_cast<LPQUERY_SERVICE_CONFIGA>(buffer);
    ASSERT_TRUE(QueryServiceConfigA(service, config, needed, &needed));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_KERNEL_DRIVER), config->dwServiceType);
    EXPECT_STREQ("C:\\x\\TAVROL.sys", config->lpBinaryPathName);
    EXPECT_STREQ("TAVROL", config->lpDisplayName);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

} // namespace
