// The Win32 subset of the simulated PC, under the name product code would include on Windows.
#pragma once

#include "sim_types.h"
#include "sim_kernel32.h"
#include "sim_advapi32.h"
#include "sim_user32.h"
#include "sim_resources.h"
#include "sim_user32_dialogs.h"
#include "sim_gdi32.h"
#include "sim_ddraw.h"
#include "sim_ole.h"
#include "sim_taskschd.h"
#include "sim_comctl32.h"
#include "sim_comdlg32.h"
