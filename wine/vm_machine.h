// A small virtual PC for the driver built for the Wine suite: PCI functions and physical words
// compiled in from a machine profile, behind the same bus interface as the HAL.
#pragma once

#include <stdint.h>

#include "request_core.h"

struct VmFunction {
    uint8_t bus;
    uint8_t device;
    uint8_t function;
    uint8_t reserved;
    uint32_t stuck; // bits of the AGP command register that keep their value on a write
    uint8_t config[256];
};

struct VmPhysWord {
    uint32_t address;
    uint32_t value;
};

// Room for the profile's words and the ones the program writes.
#define VM_MAX_PHYS_WORDS 32

struct VmMachine {
    VmFunction* functions;
    uint32_t functionCount;
    VmPhysWord phys[VM_MAX_PHYS_WORDS];
    uint32_t physCount;
};

// The machine profile compiled in (generated from machines/*.lspci at build time).
extern VmFunction vmProfileFunctions[];
extern const uint32_t vmProfileFunctionCount;
extern const VmPhysWord vmProfilePhys[];
extern const uint32_t vmProfilePhysCount;

// NVIDIA's straps register behind BAR 0, and the bits that take 4X, sideband and fast writes
// out of the chip's AGP status register.
#define VM_NVIDIA_STRAPS_OFFSET 0x101000u
#define VM_STRAPS_NO_4X (1u << 9)
#define VM_STRAPS_NO_SIDEBAND (1u << 10)
#define VM_STRAPS_NO_FAST_WRITE (1u << 11)
// A write to the straps register without this bit leaves the register as it is.
#define VM_STRAPS_OVERRIDE (1u << 31)
// Bits of an AGP command register that a write can change: request depth, sideband, enable,
// fast writes and the data rate.
#define VM_AGP_COMMAND_WRITABLE (0xFF000000u | (1u << 9) | (1u << 8) | (1u << 4) | 0x7u)

// Starts the machine in its power-on state: `functions` is used in place (it becomes the live
// configuration space), the physical words are copied. Returns 0 when there are more words than
// the machine has room for.
int vmInit(VmMachine* machine, VmFunction* functions, uint32_t functionCount,
           const VmPhysWord* phys, uint32_t physCount);

// The request core's bus over the machine. Configuration reads see NVIDIA's straps; writes reach
// only the writable bits of AGP command registers, minus the function's stuck bits; physical words never written read 0; the
// straps register takes only writes with the override bit.
TavrolBus vmBus(VmMachine* machine);

// The machine's state as a flat record, so that it can outlive one load of the driver.
uint32_t vmStateSize(const VmMachine* machine);
void vmSaveState(const VmMachine* machine, void* buffer);
// Takes a saved state back. Returns 0 and changes nothing when the record does not belong to a
// machine of this shape (another profile, a torn record).
int vmLoadState(VmMachine* machine, const void* buffer, uint32_t length);
