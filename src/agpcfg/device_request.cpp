// The one device request sequence of the channel: open, request, close.
#include "agpcfg/channel_backend.h"

int deviceRequest(const DeviceOpening& device, DWORD code, void* input, void* output, DWORD size) {
    // No sharing and no template: the drivers serve one open at a time.
    HANDLE handle = CreateFileA(device.name, device.access, 0, NULL, OPEN_EXISTING,
                                device.flagsAndAttributes, NULL);
    if (handle == INVALID_HANDLE_VALUE)
        return DEVICE_OPEN_FAILED;
    DWORD returned = 0; // the drivers fill every output field on success; the count is not needed
    BOOL done = DeviceIoControl(handle, code, input, size, output, size, &returned, NULL);
    CloseHandle(handle);
    return done ? DEVICE_REQUEST_OK : DEVICE_REQUEST_FAILED;
}
