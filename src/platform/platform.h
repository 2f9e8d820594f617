// The one door from product code to the platform. On Windows it is the real Win32 API, DirectDraw
// and the PCI BIOS interrupt; elsewhere the simulated PC provides the same names with the same
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
// program has no PCI BIOS call and no virtual device driver channel (no *_9x.cpp file is built).
#if defined(_WIN64)
#define PLATFORM_HAS_WIN9X 0
#else
#define PLATFORM_HAS_WIN9X 1
#endif

#if PLATFORM_HAS_WIN9X
// Registers of a PCI BIOS call (software interrupt 1Ah, AH = B1h).
struct PciBiosRegs {
    DWORD eax;
    DWORD ebx;
    DWORD ecx;
    DWORD edx;
    DWORD esi;
    DWORD edi;
};

#ifdef _WIN32
// Issues INT 1Ah with every register of `regs` loaded and stores them back afterwards. Returns
// TRUE when the BIOS returned with the carry flag clear. EAX comes back holding the carry, which
// is harmless: no caller reads AH or AL after the call.
inline BOOL callPciBios(PciBiosRegs* regs) {
    DWORD carry;
    __asm__ __volatile__("int $0x1a\n\t"
                         "sbb %%eax, %%eax"
                         : "=a"(carry), "+b"(regs->ebx), "+c"(regs->ecx), "+d"(regs->edx),
                           "+S"(regs->esi), "+D"(regs->edi)
                         : "a"(regs->eax)
                         : "cc", "memory");
    regs->eax = carry;
    return carry == 0;
}
#else
BOOL callPciBios(PciBiosRegs* regs);
#endif
#endif // PLATFORM_HAS_WIN9X
