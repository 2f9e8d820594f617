// Walks every PCI function the channel can reach, in bus, device and function order.
#include "agpcfg/agpcfg.h"

namespace {

enum : WORD {
    PCI_ID_OFFSET = 0x00,
    PCI_HEADER_DWORD_OFFSET = 0x0C, // cache line, latency timer, header type, BIST
};
const DWORD kMultiFunctionBit = 0x80u << 16; // bit 7 of the header type byte at 0x0E

PciAddress addressOf(DWORD bus, DWORD device, DWORD function) {
    return (PciAddress)((bus << 8) | (device << 3) | function);
}

// A function answers with a vendor ID; an empty slot reads all ones (or fails on the driver),
// and some chipsets answer an absent function with zeros.
bool functionPresent(PciAddress address) {
    DWORD id = 0;
    if (!readConfigDword(address, PCI_ID_OFFSET, &id))
        return false;
    WORD vendor = (WORD)(id & 0xFFFF);
    return vendor != 0xFFFF && vendor != 0x0000;
}

} // namespace

// Every bus number is tried, not only those behind the bridges found: a second host bridge's
// bus hangs below no bridge. Functions 1 to 7 are read only when function 0 says the device
// has them, as the configuration mechanism's users do; single-function devices answer there
// with copies of function 0 on some chipsets.
int nextPciFunction(PciScan* scan, PciAddress* address) {
    while (scan->bus < 256) {
        DWORD function = scan->function++;
        if (function >= scan->functions) {
            scan->function = 0;
            scan->functions = 1;
            if (++scan->device == 32) {
                scan->device = 0;
                ++scan->bus;
            }
            continue;
        }
        PciAddress candidate = addressOf(scan->bus, scan->device, function);
        if (!functionPresent(candidate))
            continue;
        DWORD header = 0;
        if (function == 0 && readConfigDword(candidate, PCI_HEADER_DWORD_OFFSET, &header) &&
            (header & kMultiFunctionBit))
            scan->functions = 8;
        *address = candidate;
        return 1;
    }
    return 0;
}
