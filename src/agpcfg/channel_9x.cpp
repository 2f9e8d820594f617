// The channel's Windows 9x back end: the PCI BIOS for configuration space, the virtual device
// driver "\\.\TAVROL.VXD" for physical memory.
#include "agpcfg/channel_backend.h"
#include "tavrol_ioctl.h"

enum : DWORD {
    PCI_BIOS_PRESENT = 0xB101,
    PCI_BIOS_FIND_CLASS = 0xB103,
    PCI_BIOS_READ_BYTE = 0xB108,
    PCI_BIOS_READ_DWORD = 0xB10A,
    PCI_BIOS_WRITE_DWORD = 0xB10D,
    PCI_BIOS_SIGNATURE = 0x20494350, // "PCI " in EDX
};

// The system loads the virtual device driver for the open and unloads it at the close.
static const DeviceOpening virtualDeviceDriver = {"\\\\.\\TAVROL.VXD", 0,
                                                  FILE_FLAG_DELETE_ON_CLOSE};

static int biosDetect() {
    PciBiosRegs regs = {};
    regs.eax = PCI_BIOS_PRESENT;
    regs.edi = 0;
    return callPciBios(&regs) && regs.edx == PCI_BIOS_SIGNATURE;
}

static int biosFindPciClass(DWORD classCode, DWORD index, PciAddress* address) {
    PciBiosRegs regs = {};
    regs.eax = PCI_BIOS_FIND_CLASS;
    regs.ecx = classCode;
    regs.esi = index & 0xFFFF;
    if (!callPciBios(&regs))
        return 0;
    *address = (PciAddress)(regs.ebx & 0xFFFF);
    return 1;
}

// Byte by byte from the top: a failing register leaves the bytes above it stored.
static int biosReadConfigSpace(PciAddress address, BYTE* buffer) {
    for (int offset = 255; offset >= 0; --offset) {
        PciBiosRegs regs = {};
        regs.eax = PCI_BIOS_READ_BYTE;
        regs.ebx = address;
        regs.edi = (DWORD)offset;
        if (!callPciBios(&regs))
            return 0;
        buffer[offset] = (BYTE)(regs.ecx & 0xFF);
    }
    return 1;
}

static int biosReadConfigDword(PciAddress address, WORD offset, DWORD* value) {
    PciBiosRegs regs = {};
    regs.eax = PCI_BIOS_READ_DWORD;
    regs.ebx = address;
    regs.edi = offset;
    if (!callPciBios(&regs))
        return 0;
    *value = regs.ecx;
    return 1;
}

static int biosWriteConfigDword(PciAddress address, WORD offset, DWORD value) {
    PciBiosRegs regs = {};
    regs.eax = PCI_BIOS_WRITE_DWORD;
    regs.ebx = address;
    regs.ecx = value;
    regs.edi = offset;
    return callPciBios(&regs) ? 1 : 0;
}

static int vxdReadPhysDword(DWORD bus, DWORD address, DWORD* value) {
    VxdPhysDwordRequest input = {};
    VxdPhysDwordRequest output = {};
    input.bus = bus;
    input.address = address;
    int result =
        deviceRequest(virtualDeviceDriver, VXD_PHYS_READ_DWORD, &input, &output, sizeof input);
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
    return deviceRequest(virtualDeviceDriver, VXD_PHYS_WRITE_DWORD, &input, &output,
                         sizeof input) == DEVICE_REQUEST_OK;
}

const ChannelBackend channel9x = {
    biosDetect,           biosFindPciClass, biosReadConfigSpace, biosReadConfigDword,
    biosWriteConfigDword, vxdReadPhysDword, vxdWritePhysDword,
};
