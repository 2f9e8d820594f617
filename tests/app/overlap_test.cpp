// Two runs of the program on one PC at log-on: a "-startup" run and an interactive run share the
// driver, and whichever ends first leaves it to the other; the last one removes it.
#include "program_fixture.h"

#include "shell_pc.h"
#include "sim/ui.h"

namespace apptest {
namespace {

const char kDriverCopy[] = "C:\\WINDOWS\\system32\\drivers\\TAVROL.sys";

class OverlappingRuns : public ProgramTest {
  protected:
    // The PC's shell objects and service manager are shared with the other run, forked from it.
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(boot("default"));
        stateDir = m_pc.root() + "/state";
        std::string error;
        ASSERT_TRUE(sim::shell().attach(stateDir, &error)) << error;
        ASSERT_TRUE(sim::machine().services().attach(stateDir, &error)) << error;
    }

    // What the other run needs of the driver: the service runs ours and its device opens.
    static bool driverServes() {
        HANDLE device = CreateFileA("\\\\.\\Tavrol", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (device == INVALID_HANDLE_VALUE)
            return false;
        CloseHandle(device);
        return true;
    }

    static bool serviceExists() {
        SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE service = OpenServiceA(manager, "TAVROL", SERVICE_ALL_ACCESS);
        if (service)
            CloseServiceHandle(service);
        CloseServiceHandle(manager);
        return service != nullptr;
    }

    void expectNothingLeft() {
        EXPECT_FALSE(serviceExists()) << "the last run left the service";
        EXPECT_FALSE(sim::drive().fileExists(kDriverCopy)) << "the last run left the copy";
    }

    std::string stateDir;
};

// The log-on run starts and ends while the dialog of an interactive run is up.
TEST_F(OverlappingRuns, ALogOnRunEndingFirstLeavesTheDriverToTheDialog) {
    shelltest::OtherProcess logOn;
    logOn.start(stateDir, [&](shelltest::OtherProcess& self) {
        sim::shell().setAskOnTerminal(false);
        if (!self.wait())
            return 2;
        run("-startup");
        self.signal();
        return boxes().empty() ? 0 : 1;
    });
    bool servedBefore = false, servedAfter = false;
    sim::ui().queueStep([&] {
        servedBefore = driverServes();
        logOn.signal();
        logOn.wait();
        servedAfter = driverServes();
    });
    run();
    EXPECT_EQ(0, logOn.join()) << "the log-on run reported a problem";
    EXPECT_TRUE(servedBefore);
    EXPECT_TRUE(servedAfter) << "the log-on run pulled the driver from under the dialog";
    EXPECT_TRUE(boxes().empty()) << boxes().front().text;
    expectNothingLeft();
}

shelltest::OtherProcess* pausedRun = nullptr;

// The log-on run's message box stays up until the test lets it go.
int holdTheBox(const sim::MessageBoxRecord&) {
    pausedRun->signal();
    pausedRun->wait();
    return IDOK;
}

// An interactive run starts and ends while the log-on run still has the driver: here the log-on
// run waits at its warning that the settings cannot be stored.
TEST_F(OverlappingRuns, ADialogEndingFirstLeavesTheDriverToTheLogOnRun) {
    shelltest::OtherProcess logOn;
    logOn.start(stateDir, [&](shelltest::OtherProcess& self) {
        pausedRun = &self;
        sim::shell().setAskOnTerminal(false);
        sim::registry().setHklmReadOnly(true);
        sim::shell().setFace(holdTheBox);
        run("-startup");
        return boxes().size() == 1 ? 0 : 1;
    });
    ASSERT_TRUE(logOn.wait()) << "the log-on run did not reach its box";
    ASSERT_TRUE(driverServes());
    run();
    EXPECT_TRUE(serviceExists());
    EXPECT_TRUE(driverServes()) << "the dialog pulled the driver from under the log-on run";
    EXPECT_TRUE(sim::drive().fileExists(kDriverCopy));
    logOn.signal();
    EXPECT_EQ(0, logOn.join());
    expectNothingLeft();
}

} // namespace
} // namespace apptest
