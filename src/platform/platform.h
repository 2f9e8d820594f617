// The one door from product code to the platform. On Windows it is the real Win32 API and
// DirectDraw; elsewhere the simulated PC provides the same names with the same
// meaning. Nothing else in product code knows which side it is on.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <ddraw.h>
#include <commctrl.h>
#include <commdlg.h>
#include <objbase.h>
#include <oleauto.h>
#include <taskschd.h>
#else
#include "sim_win32.h"
#endif

// A function a DLL exports, looked up at run time and typed as `Function`; null when the DLL
// lacks it. The cast through void (*)() is the one GCC accepts between unrelated function types.
template <typename Function> Function lookUpProc(HMODULE module, LPCSTR name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// Whether this build can find itself on Windows 9x: the i686 program runs on 9x and NT alike, and
// the simulated PC has 9x machines. A 64-bit process only ever runs on the NT family, so the x64
// program has no virtual device driver channel (no *_9x.cpp file is built).
#if defined(_WIN64)
#define PLATFORM_HAS_WIN9X 0
#else
#define PLATFORM_HAS_WIN9X 1
#endif
