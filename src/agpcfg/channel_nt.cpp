// The channel's NT back end: one buffered request to the kernel driver "\\.\Tavrol" per operation,
// on an open of the device of its own or on the one its batch shares.
#include <string.h>

#include "agpcfg/channel_backend.h"
#include "tavrol_ioctl.h"

static const DeviceOpening kernelDriver = {"\\\\.\\Tavrol", GENERIC_READ | GENERIC_WRITE,
                                           FILE_ATTRIBUTE_NORMAL};

// The open batches, and the device open they share once a request has made it.
static int batchDepth = 0;
static HANDLE batchDevice = INVALID_HANDLE_VALUE;

void beginRequestBatch() {
    ++batchDepth;
}

void endRequestBatch() {
    if (batchDepth == 0 || --batchDepth > 0 || batchDevice == INVALID_HANDLE_VALUE)
        return;
    CloseHandle(batchDevice);
    batchDevice = INVALID_HANDLE_VALUE;
}

static int request(DWORD code, void* input, void* output, DWORD size) {
    if (batchDepth == 0)
        return deviceRequest(kernelDriver, code, input, output, size);
    if (batchDevice == INVALID_HANDLE_VALUE) {
        batchDevice = openDevice(kernelDriver);
        if (batchDevice == INVALID_HANDLE_VALUE)
            return DEVICE_OPEN_FAILED;
    }
    return deviceControl(batchDevice, code, input, output, size);
}

static int ntFindPciClass(DWORD classCode, DWORD index, PciAddress* address) {
    PciClassQuery input = {};
    PciClassQuery output = {};
    input.classCode = classCode;
    if (request(IOCTL_PCI_FIND_CLASS, &input, &output, sizeof input) != DEVICE_REQUEST_OK)
        return 0;
    if (index >= output.count || index >= TAVROL_MAX_CLASS_MATCHES)
        return 0;
    const PciClassEntry& match = output.entries[index];
    *address = pciAddressOf(match.bus, match.slot);
    return 1;
}

static int ntReadConfigSpace(PciAddress address, BYTE* buffer) {
    PciConfigBlock input = {};
    PciConfigBlock output = {};
    input.bus = pciBusOf(address);
    input.slot = pciSlotWordOf(address);
    if (request(IOCTL_PCI_READ_CONFIG_SPACE, &input, &output, sizeof input) != DEVICE_REQUEST_OK)
        return 0;
    memcpy(buffer, output.config, sizeof output.config);
    return 1;
}

static int ntReadConfigDword(PciAddress address, WORD offset, DWORD* value) {
    PciConfigDwordRequest input = {};
    PciConfigDwordRequest output = {};
    input.bus = pciBusOf(address);
    input.slot = pciSlotWordOf(address);
    input.offset = offset;
    if (request(IOCTL_PCI_READ_CONFIG_DWORD, &input, &output, sizeof input) != DEVICE_REQUEST_OK)
        return 0;
    *value = output.value;
    return 1;
}

static int ntWriteConfigDword(PciAddress address, WORD offset, DWORD value) {
    PciConfigDwordRequest input = {};
    PciConfigDwordRequest output = {};
    input.bus = pciBusOf(address);
    input.slot = pciSlotWordOf(address);
    input.offset = offset;
    input.value = value;
    return request(IOCTL_PCI_WRITE_CONFIG_DWORD, &input, &output, sizeof input) ==
           DEVICE_REQUEST_OK;
}

// The driver takes a 64-bit physical address; a 32-bit program only ever has the low half.
static int ntReadPhysDword(DWORD bus, DWORD address, DWORD* value) {
    PhysDwordRequest input = {};
    PhysDwordRequest output = {};
    input.bus = bus;
    input.addressLow = address;
    input.addressHigh = 0;
    int result = request(IOCTL_PHYS_READ_DWORD, &input, &output, sizeof input);
    if (result == DEVICE_REQUEST_OK)
        *value = output.value;
    return result;
}

static int ntWritePhysDword(DWORD bus, DWORD address, DWORD value) {
    PhysDwordRequest input = {};
    PhysDwordRequest output = {};
    input.bus = bus;
    input.addressLow = address;
    input.addressHigh = 0;
    input.value = value;
    return request(IOCTL_PHYS_WRITE_DWORD, &input, &output, sizeof input) == DEVICE_REQUEST_OK;
}

const ChannelBackend channelNt = {
    NULL,
    ntFindPciClass,
    ntReadConfigSpace,
    ntReadConfigDword,
    ntWriteConfigDword,
    ntReadPhysDword,
    ntWritePhysDword,
};
