// What the NT driver's dispatch needs of a bus back end, and the helpers its files share.
#pragma once

#include "nt_kernel.h"

struct TavrolBus;

// Prepares the back end once at load time and returns the bus the request core works over: the
// HAL on a real PC, a compiled-in machine in the driver built for Wine. Neither holds anything
// that would need releasing at unload.
NTSTATUS tavrolOpenBus(const TavrolBus** bus);

// Restricts the device to SYSTEM and Administrators (GENERIC_ALL to both, nobody else).
NTSTATUS tavrolSecureDevice(PDEVICE_OBJECT device);

// The request core's status as the NTSTATUS a device-control request completes with.
NTSTATUS tavrolNtStatus(int coreStatus, ULONG inputLength, ULONG outputLength);

NTSTATUS NTAPI tavrolDeviceControl(PDEVICE_OBJECT device, PIRP irp);

struct TavrolDeviceExtension {
    const TavrolBus* bus;
};
