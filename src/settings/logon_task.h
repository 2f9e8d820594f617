// The log-on task of Windows Vista and later. There, Windows does not start a program that asks
// for administrator rights from a Run key at log-on, so the run-at-log-on choice is a Task
// Scheduler task instead: a log-on trigger for any user, run with the highest privileges of the
// members of Administrators, no password stored. The Task Scheduler 2.0 is reached through COM,
// whose DLLs are loaded at run time so that Windows 98 SE and NT 4.0 still load the program.
#pragma once

#include "platform/platform.h"

// Name of the task in the Task Scheduler's root folder.
#define LOGON_TASK_NAME "Vantorel Tavrolin"

// True on Windows 6.0 (Vista) and later, where the log-on task replaces the Run value.
bool usesLogonTask();

// Registers (or replaces) the task that runs `command` with `arguments` at every log-on; false
// when the Task Scheduler cannot be reached or refuses it.
bool registerLogonTask(const char* command, const char* arguments);
// Deletes the task; true when none is left (also when there was none).
bool deleteLogonTask();
