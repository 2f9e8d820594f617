// The channel's Windows 9x back end: the virtual device driver "\\.\TAVROL.VXD" for configuration
// space and physical memory alike. A Win32 program of Windows 9x cannot call the PCI BIOS: the
// VMM runs the system VM, and with it every Win32 program, as a 16-bit DPMI client, so an INT 1Ah
// from 32-bit code would be taken for a 16-bit one. The driver reaches configuration space with
// configuration mechanism #1 under the kernel driver's rule instead.
#include <string.h>

#include "agpcfg/channel_backend.h"
#include "tavrol_ioctl.h"

// The system loads the virtual device driver for the open and unloads it at the close.
static const DeviceOpening virtualDeviceDriver = {"\\\\.\\TAVROL.VXD", 0,
                                                  FILE_FLAG_DELETE_ON_CLOSE};

static int vxdRequest(DWORD code, void* input, void* output, DWORD size) {
    return deviceRequest(virtualDeviceDriver, code, input, output, size);
}

static int vxdDetect() {
    VxdPciDwordRequest input = {};
    VxdPciDwordRequest output = {};
    return vxdRequest(VXD_PCI_PRESENT, &input, &output, sizeof input) == DEVICE_REQUEST_OK &&
           output.value == TAVROL_PCI_SIGNATURE;
}

// The index is a 16-bit count, as the PCI BIOS took it in SI.
static int vxdFindPciClass(DWORD classCode, DWORD index, PciAddress* address) {
    VxdPciClassRequest input = {};
    VxdPciClassRequest output = {};
    input.classCode = classCode;
    input.index = index & 0xFFFF;
    if (vxdRequest(VXD_PCI_FIND_CLASS, &input, &output, sizeof input) != DEVICE_REQUEST_OK)
        return 0;
    *address = (PciAddress)(output.address & 0xFFFF);
    return 1;
}

static int vxdReadConfigSpace(PciAddress address, BYTE* buffer) {
    VxdPciConfigBlock input = {};
    VxdPciConfigBlock output = {};
    input.address = address;
    if (vxdRequest(VXD_PCI_READ_CONFIG_SPACE, &input, &output, sizeof input) != DEVICE_REQUEST_OK)
        return 0;
    memcpy(buffer, output.config, sizeof output.config);
    return 1;
}

static int vxdReadConfigDword(PciAddress address, WORD offset, DWORD* value) {
    VxdPciDwordRequest input = {};
    VxdPciDwordRequest output = {};
    input.address = address;
    input.offset = offset;
    if (vxdRequest(VXD_PCI_READ_CONFIG_DWORD, &input, &output, sizeof input) != DEVICE_REQUEST_OK)
        return 0;
    *value = output.value;
    return 1;
}

static int vxdWriteConfigDword(PciAddress address, WORD offset, DWORD value) {
    VxdPciDwordRequest input = {};
    VxdPciDwordRequest output = {};
    input.address = address;
    input.offset = offset;
    input.value = value;
    return vxdRequest(VXD_PCI_WRITE_CONFIG_DWORD, &input, &output, sizeof input) ==
           DEVICE_REQUEST_OK;
}

static int vxdReadPhysDword(DWORD bus, DWORD address, DWORD* value) {
    VxdPhysDwordRequest input = {};
    VxdPhysDwordRequest output = {};
    input.bus = bus;
    input.address = address;
    int result = vxdRequest(VXD_PHYS_READ_DWORD, &input, &output, sizeof input);
    if (result == DEVICE_REQUEST_OK)
        *value = output.value;
    return result;
}

static int vxdWritePhysDword(DWORD bus, DWORD address, DWORD value) {
    VxdPhysDwordRequest input = {};
    VxdPhysDwordRequest output = {};
    input.bus = bus;
    input.address = address;
    input.value = value;
    return vxdRequest(VXD_PHYS_WRITE_DWORD, &input, &output, sizeof input) == DEVICE_REQUEST_OK;
}

const ChannelBackend channel9x = {
    vxdDetect,           vxdFindPciClass,  vxdReadConfigSpace, vxdReadConfigDword,
    vxdWriteConfigDword, vxdReadPhysDword, vxdWritePhysDword,
};
