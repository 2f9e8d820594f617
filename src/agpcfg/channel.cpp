// The hardware access channel's free functions: the platform flag, address forms, back-end choice.
#include "agpcfg/channel_backend.h"

BYTE isNt = 0;

DWORD pciBusOf(PciAddress address) {
    return (address >> 8) & 0xFF;
}

// The driver's slot word has the device in bits 4..0 and the function in bits 7..5, the reverse
// of the low byte of the BIOS form.
DWORD pciSlotWordOf(PciAddress address) {
    return ((address >> 3) & 0x1F) | ((address & 7) << 5);
}

PciAddress pciAddressOf(DWORD bus, DWORD slotWord) {
    return (PciAddress)((bus << 8) | ((slotWord & 0x1F) << 3) | ((slotWord >> 5) & 7));
}

static const ChannelBackend& backend() {
#if PLATFORM_HAS_WIN9X
    return isNt ? channelNt : channel9x;
#else
    return channelNt;
#endif
}

// Only Windows 9x probes configuration space (through the virtual device driver, which answers
// as the PCI BIOS's presence check would); there is nothing to probe on NT, nor in a build that
// never runs on 9x.
int detectPciBios() {
#if PLATFORM_HAS_WIN9X
    return channel9x.detect();
#else
    return 0;
#endif
}

int findPciClass(DWORD classCode, DWORD index, PciAddress* address) {
    return backend().findPciClass(classCode, index, address);
}

int readConfigSpace(PciAddress address, BYTE* buffer) {
    return backend().readConfigSpace(address, buffer);
}

int readConfigDword(PciAddress address, WORD offset, DWORD* value) {
    return backend().readConfigDword(address, offset, value);
}

int writeConfigDword(PciAddress address, WORD offset, DWORD value) {
    return backend().writeConfigDword(address, offset, value);
}

int readPhysDword(DWORD bus, DWORD address, DWORD* value) {
    return backend().readPhysDword(bus, address, value);
}

int writePhysDword(DWORD bus, DWORD address, DWORD value) {
    return backend().writePhysDword(bus, address, value);
}
