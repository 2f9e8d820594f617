// The kernel driver's request handling, written once over a small bus interface.
// Built into the NT driver (over the HAL) and into the simulated PC (over the virtual machine):
// no C++ runtime, no exceptions, no allocation.
#pragma once

#include <stdint.h>

#include "tavrol_ioctl.h"

// What the core needs of a platform. Every operation returns 1 on success and 0 on failure.
struct TavrolBus {
    void* context;
    // Reads `length` bytes of configuration space at `offset` of (bus, slot). Fails for a function
    // or bus that does not exist.
    int (*readConfig)(void* context, uint32_t bus, uint32_t slot, uint32_t offset, void* buffer,
                      uint32_t length);
    // Writes one configuration dword.
    int (*writeConfig)(void* context, uint32_t bus, uint32_t slot, uint32_t offset, uint32_t value);
    // Reads or writes one dword of physical memory (a device's memory-mapped registers).
    int (*readPhys)(void* context, uint64_t address, uint32_t* value);
    int (*writePhys)(void* context, uint64_t address, uint32_t value);
};

enum TavrolStatus {
    TAVROL_STATUS_OK = 0,
    TAVROL_STATUS_INVALID_REQUEST, // unknown code
    TAVROL_STATUS_BAD_LENGTH,      // input or output buffer does not match the request's record
    TAVROL_STATUS_ACCESS_DENIED,   // address or register outside what the driver may touch
    TAVROL_STATUS_DEVICE_ERROR,    // the bus refused the access or the function does not exist
};

// Whether an open of the device may go on. The device has no namespace: an open of a name below
// it ("\\.\Tavrol\x") or relative to another file object is refused. For such opens the I/O
// manager checks the device's DACL only under FILE_DEVICE_SECURE_OPEN, which NT 4.0 honours
// only from its late security fixes on.
int tavrolCreateAllowed(uint32_t fileNameLength, int hasRelatedFile);

// Serves one request. `output` may alias `input` (METHOD_BUFFERED passes one system buffer).
// `bytesWritten` receives exactly the number of output bytes written (0 on failure).
int tavrolHandleRequest(const TavrolBus* bus, uint32_t code, const void* input,
                        uint32_t inputLength, void* output, uint32_t outputLength,
                        uint32_t* bytesWritten);
