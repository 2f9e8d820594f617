// The start-up entry by Windows version: the Run value up to XP, the log-on task of the Task
// Scheduler from Vista on, and everything COM hands out given back on every path.
#include <gtest/gtest.h>

#include <algorithm>

#include "settings/logon_task.h"
#include "settings_pc.h"
#include "sim/com.h"
#include "sim/tasks.h"

using settingstest::SettingsPc;

namespace {

const char kTaskFailure[] = "The Task Scheduler did not accept the log-on task.\nTavrolin will "
                            "not be able to run at log-on.";

std::string quotedProgram() {
    return std::string("\"") + sim::kProgramPath + "\"";
}

class LogonTask : public SettingsPc {
  protected:
    void SetUp() override { bootMachine("win7", ""); }
    void TearDown() override {
        SettingsPc::TearDown();
        expectComGivenBack();
    }

    void expectComGivenBack() {
        const sim::ComState& com = sim::comState();
        EXPECT_EQ(0, com.initializations) << "CoInitializeEx without CoUninitialize";
        EXPECT_EQ(0, com.liveObjects) << "a COM object was not released";
        EXPECT_EQ(0, com.liveStrings) << "a BSTR was not freed";
        EXPECT_EQ(0, com.loadedSystemDlls) << "ole32 or oleaut32 was not freed";
    }
    bool taskExists() {
        sim::ScheduledTask task;
        return sim::findScheduledTask(LOGON_TASK_NAME, &task);
    }
    void storeForeignTask() {
        sim::ScheduledTask other;
        other.name = LOGON_TASK_NAME;
        other.command = "C:\\old\\Tavrol.exe";
        ASSERT_TRUE(sim::storeScheduledTask(other));
    }
};

TEST_F(LogonTask, TheWindowsVersionChoosesBetweenRunValueAndTask) {
    struct Case {
        const char* machine;
        const char* directives;
        bool task;
    };
    const Case cases[] = {{"ninex", "", false},
                          {"default", "", false},
                          {"win7", "", true},
                          {"default", "#! version-fails\n", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.machine) + " " + c.directives);
        bootMachine(c.machine, c.directives);
        EXPECT_EQ(c.task, usesLogonTask());
        addStartupEntry();
        EXPECT_TRUE(boxes().empty());
        sim::RegValue value;
        EXPECT_EQ(!c.task, runValue(&value));
        EXPECT_EQ(c.task, taskExists());
        removeStartupEntry();
        EXPECT_FALSE(runValue(&value));
        EXPECT_FALSE(taskExists());
    }
    // Vista is 6.0, the first version with the Task Scheduler 2.0.
    pc = sim::bootForTest("#! windows vista\n");
    ASSERT_TRUE(pc.ok()) << pc.error();
    EXPECT_TRUE(usesLogonTask());
}

TEST_F(LogonTask, RunsTheQuotedProgramAtAnyLogOnWithTheHighestPrivilegesOfAdministrators) {
    addStartupEntry();
    EXPECT_TRUE(boxes().empty());
    sim::ScheduledTask task;
    ASSERT_TRUE(sim::findScheduledTask("Vantorel Tavrolin", &task));
    EXPECT_EQ(quotedProgram(), task.command);
    EXPECT_EQ("-startup", task.arguments);
    EXPECT_TRUE(task.logonTrigger);
    EXPECT_EQ("", task.logonTriggerUser) << "the trigger must fire for every user";
    EXPECT_EQ("S-1-5-32-544", task.groupId) << "Builtin\\Administrators, by SID";
    EXPECT_EQ("Group", task.logonType) << "a group task stores no password";
    EXPECT_TRUE(task.highestRunLevel);
    EXPECT_FALSE(task.disallowStartIfOnBatteries) << "a notebook on batteries would not apply";
    EXPECT_FALSE(task.stopIfGoingOnBatteries);
    EXPECT_TRUE(task.enabled);
}

TEST_F(LogonTask, ReplacesAnEarlierTaskAndRemovesAnOlderVersionsRunValue) {
    storeForeignTask();
    storeRunValue("\"C:\\old\\Tavrol.exe\" -startup");
    addStartupEntry();
    sim::ScheduledTask task;
    ASSERT_TRUE(sim::findScheduledTask(LOGON_TASK_NAME, &task));
    EXPECT_EQ(quotedProgram(), task.command);
    sim::RegValue value;
    EXPECT_FALSE(runValue(&value)) << "Windows 7 only blocks it at every log-on";
}

// The task is left to Administrators and SYSTEM. One of its name that another account owns is
// deleted and made anew, so that its owner cannot change what it runs; an update would keep
// that owner. An administrator's own task is updated in place.
TEST_F(LogonTask, IsLeftToAdministratorsAndSystemWhoeverOwnedATaskOfItsName) {
    struct Case {
        const char* owner;
        bool deleted;
    } cases[] = {{"O:S-1-5-21-7-7-7-1001", true}, {"O:BA", false}, {"O:SY", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.owner);
        sim::ScheduledTask earlier;
        earlier.name = LOGON_TASK_NAME;
        earlier.command = "C:\\Users\\mallory\\take-over.exe";
        earlier.securityDescriptor = std::string(c.owner) + "D:(A;;FA;;;S-1-5-21-7-7-7-1001)";
        ASSERT_TRUE(sim::storeScheduledTask(earlier));
        size_t callsBefore = sim::comState().calls.size();
        addStartupEntry();
        EXPECT_TRUE(boxes().empty());
        sim::ScheduledTask task;
        ASSERT_TRUE(sim::findScheduledTask(LOGON_TASK_NAME, &task));
        EXPECT_EQ(quotedProgram(), task.command);
        std::string owner = c.deleted ? "O:BA" : c.owner;
        EXPECT_EQ(owner + "D:P(A;;FA;;;BA)(A;;FA;;;SY)", task.securityDescriptor);
        const std::vector<std::string>& calls = sim::comState().calls;
        bool deleted =
            std::find(calls.begin() + long(callsBefore), calls.end(), "DeleteTask") != calls.end();
        EXPECT_EQ(c.deleted, deleted);
    }
}

TEST_F(LogonTask, RestoringDefaultsRemovesTaskAndRunValue) {
    storeWord(137);
    addStartupEntry();
    storeRunValue("\"C:\\old\\Tavrol.exe\" -startup");
    EXPECT_TRUE(deleteSettings());
    EXPECT_FALSE(settingsKeyExists());
    EXPECT_FALSE(taskExists());
    sim::RegValue value;
    EXPECT_FALSE(runValue(&value));
    // With nothing stored there is nothing to remove, and the answer is still success.
    EXPECT_TRUE(deleteSettings());
}

// Each step of the registration failing, as the Task Scheduler may refuse it (Wine's has no
// log-on triggers: TriggerCreate E_NOTIMPL): one warning, no task, the Run value gone all the
// same, and everything COM handed out given back.
TEST_F(LogonTask, EveryFailedStepWarnsOnceAndLeavesNoTask) {
    const char* steps[] = {"LoadLibrary",   "CoInitializeEx", "CoCreateInstance",
                           "Connect",       "GetFolder",      "NewTask",
                           "TriggerCreate", "ActionCreate",   "RegisterTaskDefinition"};
    for (const char* step : steps) {
        SCOPED_TRACE(step);
        bootMachine("win7", std::string("#! task-fail ") + step + " 0x80004001\n");
        storeRunValue("\"C:\\old\\Tavrol.exe\" -startup");
        addStartupEntry();
        ASSERT_EQ(1u, boxes().size());
        EXPECT_EQ(kTaskFailure, boxes()[0].text);
        EXPECT_EQ("Vantorel Tavrolin", boxes()[0].title);
        EXPECT_EQ(UINT(MB_ICONWARNING), boxes()[0].type);
        EXPECT_FALSE(taskExists());
        sim::RegValue value;
        EXPECT_FALSE(runValue(&value));
        expectComGivenBack();
    }
}

TEST_F(LogonTask, RemovalIsSilentWhenTheSchedulerRefusesAndGivesEverythingBack) {
    for (const char* step : {"LoadLibrary", "CoCreateInstance", "Connect", "DeleteTask"}) {
        SCOPED_TRACE(step);
        bootMachine("win7", std::string("#! task-fail ") + step + " 0x80070005\n");
        storeForeignTask();
        storeRunValue("\"C:\\old\\Tavrol.exe\" -startup");
        removeStartupEntry();
        EXPECT_TRUE(boxes().empty());
        EXPECT_TRUE(taskExists());
        sim::RegValue value;
        EXPECT_FALSE(runValue(&value)) << "the Run value goes whatever the Task Scheduler says";
        expectComGivenBack();
    }
    bootMachine("win7", "");
    EXPECT_TRUE(deleteLogonTask()) << "no task to delete is no failure";
}

// The program's thread may have COM initialised already: a second initialisation is undone, one
// in the other threading model is used as it is and left alone.
TEST_F(LogonTask, ACallersComInitialisationIsKept) {
    for (DWORD model : {DWORD(COINIT_APARTMENTTHREADED), DWORD(COINIT_MULTITHREADED)}) {
        SCOPED_TRACE(model);
        bootMachine("win7", "");
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, model));
        addStartupEntry();
        EXPECT_TRUE(boxes().empty());
        EXPECT_TRUE(taskExists());
        EXPECT_TRUE(deleteLogonTask());
        EXPECT_EQ(1, sim::comState().initializations);
        CoUninitialize();
    }
}

} // namespace
