// The channel's back ends: one table of operations per platform, and the device request they share.
#pragma once

#include "agpcfg/agpcfg.h"

// One back end of the hardware access channel. The free functions of the channel pick the table
// from isNt at every call; results are those of the free functions of the same name.
struct ChannelBackend {
    // Probe of the configuration mechanism; null where the platform has none to probe.
    int (*detect)();
    int (*findPciClass)(DWORD classCode, DWORD index, PciAddress* address);
    int (*readConfigSpace)(PciAddress address, BYTE* buffer);
    int (*readConfigDword)(PciAddress address, WORD offset, DWORD* value);
    int (*writeConfigDword)(PciAddress address, WORD offset, DWORD value);
    int (*readPhysDword)(DWORD bus, DWORD address, DWORD* value);
    int (*writePhysDword)(DWORD bus, DWORD address, DWORD value);
};

extern const ChannelBackend channelNt; // the kernel driver "\\.\Tavrol"
#if PLATFORM_HAS_WIN9X
extern const ChannelBackend channel9x; // the virtual device driver "\\.\TAVROL.VXD"
#endif

// How a device is opened for one request.
struct DeviceOpening {
    LPCSTR name;
    DWORD access;
    DWORD flagsAndAttributes;
};

enum DeviceRequestResult {
    DEVICE_REQUEST_OK = 0,
    DEVICE_OPEN_FAILED = 1, // nothing else was called: the last error is the open's
    DEVICE_REQUEST_FAILED = 2,
};

// Opens the device as `device` says; INVALID_HANDLE_VALUE (last error kept) when it cannot.
HANDLE openDevice(const DeviceOpening& device);
// Issues one request with `input` and a separate `output` record of the same size on an open
// device: DEVICE_REQUEST_OK or DEVICE_REQUEST_FAILED.
int deviceControl(HANDLE device, DWORD code, void* input, void* output, DWORD size);
// Opens the device, issues one request, and closes the device again whatever its outcome.
int deviceRequest(const DeviceOpening& device, DWORD code, void* input, void* output, DWORD size);
