// The Task Scheduler of the simulated PC (Vista and 7): its store of tasks.
//
// Tasks live where Windows keeps them, as XML files in C:\Windows\System32\Tasks of the virtual
// drive (UTF-8 here; a person can read and edit them). The COM objects of taskschd.h that the
// program uses (sim_taskschd.h) read and write them; `tavrolin-sim reboot` starts the programs of
// the log-on tasks. Only the root folder exists, and only log-on triggers and program actions are
// known to the simulated service. The COM objects and their bookkeeping are in sim/com.h.
#pragma once

#include <string>
#include <vector>

#include "sim_win32.h"

namespace sim {

// The folder of the task files on the virtual drive.
extern const char* const kTasksFolder; // "C:\Windows\System32\Tasks"

struct ScheduledTask {
    std::string name;             // in the root folder
    bool logonTrigger = false;    // an enabled log-on trigger for any user
    std::string logonTriggerUser; // "" for any user
    std::string command;          // the Exec action's Command, as stored (quotes included)
    std::string arguments;
    std::string groupId; // the principal: a group (SID or name) or a user
    std::string userId;
    std::string logonType; // "Group", "InteractiveToken", ... ("" when not stated)
    bool highestRunLevel = false;
    bool disallowStartIfOnBatteries = true;
    bool stopIfGoingOnBatteries = true;
    bool enabled = true;
    // The task's security descriptor in SDDL, owner first ("O:BAD:P(A;;FA;;;BA)..."); "" for
    // the root folder's default, owned by Administrators.
    std::string securityDescriptor;
};

// The tasks on the drive, by name; a file that cannot be read is left out.
std::vector<ScheduledTask> scheduledTasks();
bool findScheduledTask(const std::string& name, ScheduledTask* task);
// Writes a task file as the service would (test set-up and the service itself).
bool storeScheduledTask(const ScheduledTask& task);
bool removeScheduledTask(const std::string& name);
// The security descriptor a registration leaves: an update keeps the task's owner, as the Task
// Scheduler does, and a given access list replaces the old one; a new task is Administrators'.
std::string registeredSecurity(const std::string& kept, const std::string& given, bool withGiven);
// The task file's text, and the text back into a task; false for a file that is not a task.
std::string formatTaskXml(const ScheduledTask& task);
bool parseTaskXml(const std::string& name, const std::string& xml, ScheduledTask* task);

} // namespace sim
