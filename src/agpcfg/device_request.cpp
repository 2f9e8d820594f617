// The one device request sequence of the channel: open, request, close.
#include "agpcfg/channel_backend.h"

HANDLE openDevice(const DeviceOpening& device) {
    // No sharing and no template: the drivers serve one open at a time.
    return CreateFileA(device.name, device.access, 0, NULL, OPEN_EXISTING,
                       device.flagsAndAttributes, NULL);
}

int deviceControl(HANDLE device, DWORD code, void* input, void* output, DWORD size) {
    DWORD returned = 0; // the drivers fill every output field on success; the count is not needed
    return DeviceIoControl(device, code, input, size, output, size, &returned, NULL)
               ? DEVICE_REQUEST_OK
               : DEVICE_REQUEST_FAILED;
}

int deviceRequest(const DeviceOpening& device, DWORD code, void* input, void* output, DWORD size) {
    HANDLE handle = openDevice(device);
    if (handle == INVALID_HANDLE_VALUE)
        return DEVICE_OPEN_FAILED;
    int result = deviceControl(handle, code, input, output, size);
    CloseHandle(handle);
    return result;
}
