// The PCI BIOS of the simulated PC's firmware (software interrupt 1Ah, AH = B1h), as real-mode
// and V86 code would call it. The program does not: a Win32 program of Windows 9x cannot reach
// the BIOS, and it asks TAVROL.VXD instead.
#pragma once

#include "sim_win32.h"

// Registers of a PCI BIOS call.
struct PciBiosRegs {
    DWORD eax;
    DWORD ebx;
    DWORD ecx;
    DWORD edx;
    DWORD esi;
    DWORD edi;
};

// Calls the BIOS with every register of `regs` and stores them back; TRUE when it returned with
// the carry flag clear. EAX comes back holding the carry.
BOOL callPciBios(PciBiosRegs* regs);
