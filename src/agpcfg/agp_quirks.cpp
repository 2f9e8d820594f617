// Chipset errata that limit the AGP command register. Each row names where it comes from; the
// Linux kernel's AGP drivers (drivers/char/agp) carry the same knowledge, and only the quirks
// that act on the command register (rates, sideband addressing, fast writes, the order and
// timing of the command writes) belong here.
#include "agpcfg/agpcfg.h"

namespace {

enum : WORD {
    VENDOR_AMD = 0x1022,
    VENDOR_SIS = 0x1039,
    VENDOR_NVIDIA = 0x10DE,
};

const AgpQuirk kQuirks[] = {
    // AMD-751 (Irongate) with any NVIDIA card: erratum 20 of the AMD-751 revision guide
    // (22564_B-1), a strobe glitch with NVIDIA GeForce cards from the controller's strong drive
    // strengths; 1X only (drivers/char/agp/amd-k7-agp.c).
    {VENDOR_AMD, 0x7006, 0x00, 0xFF, VENDOR_NVIDIA, 0x1, 0, 0, 0},
    // AMD-761 revisions B0 and B1 (0x10, 0x11), errata 44 to 46 of the AMD-761 revision guide
    // (23613_F): SYSCLK/AGPCLK skew breaks 2X and up, a timing problem breaks fast writes, and a
    // setup violation on the SBA pins breaks sideband addressing; 1X only, with neither
    // (drivers/char/agp/amd-k7-agp.c).
    {VENDOR_AMD, 0x700E, 0x10, 0x11, 0, 0x1, 1, 1, 0},
    // SiS 648 and SiS 746: a write to the bridge's command register leaves the bridge unable to
    // take the card's command for about 5 ms; the card is written 10 ms later
    // (sis_delayed_enable in drivers/char/agp/sis-agp.c).
    {VENDOR_SIS, 0x0648, 0x00, 0xFF, 0, 0x7, 0, 0, 10},
    {VENDOR_SIS, 0x0746, 0x00, 0xFF, 0, 0x7, 0, 0, 10},
};

} // namespace

const AgpQuirk* agpQuirks(int* count) {
    *count = (int)(sizeof kQuirks / sizeof kQuirks[0]);
    return kQuirks;
}

const AgpQuirk* findAgpQuirk(DWORD bridgeId, BYTE bridgeRevision, DWORD graphicsId) {
    for (const AgpQuirk& quirk : kQuirks) {
        if (quirk.bridgeVendor == (bridgeId & 0xFFFF) && quirk.bridgeDevice == (bridgeId >> 16) &&
            bridgeRevision >= quirk.firstRevision && bridgeRevision <= quirk.lastRevision &&
            (quirk.graphicsVendor == 0 || quirk.graphicsVendor == (graphicsId & 0xFFFF)))
            return &quirk;
    }
    return nullptr;
}
