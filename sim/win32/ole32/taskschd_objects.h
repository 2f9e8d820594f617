// The Task Scheduler's COM objects of the simulated PC, for CoCreateInstance.
#pragma once

#include "sim_win32.h"

namespace sim {

// A new, unconnected ITaskService object with one reference.
IUnknown* newTaskService();

} // namespace sim
