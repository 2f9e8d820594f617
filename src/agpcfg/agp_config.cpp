// CAgpConfig: discovery of the host bridge and the AGP graphics device, and the mode getters.
#include <string.h>

#include "agpcfg/agpcfg.h"
#include "agpcfg/directdraw_probe.h"

enum : DWORD {
    PCI_ID_OFFSET = 0x00,
    PCI_REVISION_OFFSET = 0x08,
    PCI_BAR0_OFFSET = 0x10,
    PCI_BAR1_OFFSET = 0x14,
    PCI_BAR_MEMORY_MASK = 0xFFFFFFF0,
    VENDOR_NVIDIA = 0x10DE,
    // The straps word of NVIDIA chips, behind BAR 0. Bits 11..9 hold back 4X, sideband and fast
    // writes; bit 31 makes the value written take over from the pins.
    NVIDIA_STRAPS_OFFSET = 0x101000,
    NVIDIA_STRAPS_AGP_DISABLE = 0x00000E00,
    NVIDIA_STRAPS_OVERRIDE = 0x80000000,
    // The PCI BIOS takes a 16-bit index: a search through a class ends there at the latest.
    MAX_CLASS_INDEX = 0x10000,
};

CAgpConfig::CAgpConfig()
    : m_bridgeId(0), m_graphicsId(0), m_bridgeAddress(0), m_bridgeCap(0), m_graphicsAddress(0),
      m_graphicsCap(0), m_graphicsBar0(0), m_graphicsBar1(0), m_rate(0), m_sideband(0),
      m_fastWrite(0), m_supportedRates(0), m_initError(AGP_ERR_NO_AGP), m_graphicsStatus(0),
      m_bridgeStatus(0), m_rateUnconfirmed(false), m_sidebandUnconfirmed(false),
      m_fastWriteUnconfirmed(false), m_bridgeDelayMs(0) {
    discover();
}

CAgpConfig::~CAgpConfig() {
    if (isNt)
        removeDriver();
}

static DWORD dwordAt(const BYTE* image, DWORD offset) {
    return (DWORD)image[offset] | ((DWORD)image[offset + 1] << 8) |
           ((DWORD)image[offset + 2] << 16) | ((DWORD)image[offset + 3] << 24);
}

// A function whose configuration space cannot be read counts as one without AGP: on Windows 9x
// a failed read leaves the registers above the failing one in the image, chain included.
static WORD readAgpCapability(PciAddress address, BYTE* image) {
    memset(image, 0, 256);
    if (!readConfigSpace(address, image))
        return 0;
    return (WORD)findAgpCapability(image);
}

// The first function of the class, in the order findPciClass gives them, whose capability walk
// finds AGP: its capability offset, with its configuration space in the image; 0 when none has.
static WORD findAgpFunction(DWORD classCode, PciAddress* address, BYTE* image) {
    WORD cap = 0;
    for (DWORD index = 0; cap == 0; ++index) {
        if (index == MAX_CLASS_INDEX || !findPciClass(classCode, index, address))
            return 0;
        cap = readAgpCapability(*address, image);
    }
    return cap;
}

// On NT, the DirectDraw probe runs while the driver starts.
static AgpError startChannel(CDirectDrawProbe* directDraw) {
    if (!isNt)
        return detectPciBios() ? AGP_OK : AGP_ERR_NO_PCI_BIOS;
    DWORD result = (DWORD)installDriver(CDirectDrawProbe::begin, directDraw);
    if (result == 0)
        return AGP_OK;
    if (result <= 11)
        return AGP_ERR_DRIVER_BASE + (AgpError)result;
    return AGP_ERR_DRIVER_UNKNOWN;
}

void CAgpConfig::discover() {
    CRequestBatch batch;
    m_initError = AGP_ERR_NO_AGP;

    OSVERSIONINFOA version;
    memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) {
        m_initError = AGP_ERR_VERSION;
        return;
    }
    // A build without the 9x back end takes the NT path whatever the version says.
    isNt = !PLATFORM_HAS_WIN9X || version.dwPlatformId != VER_PLATFORM_WIN32_WINDOWS;

    CDirectDrawProbe directDraw;
    AgpError error = startChannel(&directDraw);
    if (error == AGP_OK)
        error = directDraw.result();
    if (error != AGP_OK) {
        m_initError = error;
        return;
    }

    // The AGP target is the first host bridge whose capabilities include AGP: on AMD64 machines
    // the processors' own northbridge functions are host bridges too, and may come first.
    BYTE image[256];
    PciAddress bridge = 0;
    WORD bridgeCap = findAgpFunction(PCI_CLASS_HOST_BRIDGE, &bridge, image);
    if (bridgeCap == 0)
        return;
    m_bridgeAddress = bridge;
    m_bridgeCap = bridgeCap;
    m_bridgeId = dwordAt(image, PCI_ID_OFFSET);
    BYTE bridgeRevision = image[PCI_REVISION_OFFSET];

    // The graphics device is the first VGA function with an AGP capability: a PCI display card
    // may come before it.
    PciAddress graphics = 0;
    WORD graphicsCap = findAgpFunction(PCI_CLASS_VGA, &graphics, image);
    if (graphicsCap == 0)
        return;
    m_graphicsAddress = graphics;
    m_graphicsCap = graphicsCap;
    m_graphicsId = dwordAt(image, PCI_ID_OFFSET);
    m_graphicsBar0 = dwordAt(image, PCI_BAR0_OFFSET);
    m_graphicsBar1 = dwordAt(image, PCI_BAR1_OFFSET);

    // The straps change what the chip reports, so they are fixed before the status is read.
    if ((m_graphicsId & 0xFFFF) == VENDOR_NVIDIA) {
        error = applyNvidiaFixup();
        if (error != AGP_OK) {
            m_initError = error;
            return;
        }
    }

    if (!readConfigDword(m_graphicsAddress, (WORD)(m_graphicsCap + AGP_STATUS_OFFSET),
                         &m_graphicsStatus)) {
        m_initError = AGP_ERR_GRAPHICS_STATUS;
        return;
    }
    if (!readConfigDword(m_bridgeAddress, (WORD)(m_bridgeCap + AGP_STATUS_OFFSET),
                         &m_bridgeStatus)) {
        m_initError = AGP_ERR_BRIDGE_STATUS;
        return;
    }

    // Ends in different AGP modes give the rate field two meanings: no change could be right.
    if ((m_bridgeStatus ^ m_graphicsStatus) & AGP_STATUS_AGP3) {
        m_initError = AGP_ERR_RATE_ZERO;
        return;
    }
    m_initError = AGP_OK;
    DWORD common = m_bridgeStatus & m_graphicsStatus;
    // In AGP 3.0 mode rate bit 2 is reserved, and sideband addressing is part of the mode.
    bool agp3 = isAgp3() != 0;
    m_supportedRates = (WORD)(common & (agp3 ? AGP3_RATE_MASK : AGP_RATE_MASK));
    m_sideband = (agp3 || (common & AGP_SIDEBAND)) ? AGP_MODE_ON : AGP_MODE_UNSUPPORTED;
    m_fastWrite = (common & AGP_FAST_WRITE) ? AGP_MODE_ON : AGP_MODE_UNSUPPORTED;
    applyQuirk(findAgpQuirk(m_bridgeId, bridgeRevision, m_graphicsId));

    // Nothing is known of the modes in force until the getters have read them: a read that
    // fails leaves the rate at 0 and a mode as one the program leaves alone, never as on.
    markModesUnconfirmed();
    m_rate = runningRate();
    if (m_rate == 0) {
        m_initError = AGP_ERR_RATE_ZERO;
        return;
    }
    m_sideband = getSideband();
    m_fastWrite = getFastWrite();
    // The modes found here are where both ends start, not a change seen behind our back.
    m_rateUnconfirmed = false;
    m_sidebandUnconfirmed = false;
    m_fastWriteUnconfirmed = false;
}

// A mode an erratum forbids is one the pair lacks: it is neither offered nor reported.
void CAgpConfig::applyQuirk(const AgpQuirk* quirk) {
    if (!quirk)
        return;
    m_supportedRates = (WORD)(m_supportedRates & quirk->rates);
    if (quirk->noSideband && !isAgp3())
        m_sideband = AGP_MODE_UNSUPPORTED;
    if (quirk->noFastWrite)
        m_fastWrite = AGP_MODE_UNSUPPORTED;
    m_bridgeDelayMs = quirk->bridgeDelayMs;
}

// A link switched off on either end is plain PCI, and a rate field with no bit, several bits or
// a value reserved in the link's mode names no rate: a change made from there would program a
// state the AGP standard does not define. A bridge whose command register cannot be read is
// left to the mode cycle, which writes nothing to such a link.
int CAgpConfig::runningRate() {
    DWORD bridge = 0;
    DWORD graphics = 0;
    bool bridgeRead =
        readConfigDword(m_bridgeAddress, (WORD)(m_bridgeCap + AGP_COMMAND_OFFSET), &bridge) != 0;
    if ((bridgeRead && !(bridge & AGP_ENABLE)) || !readGraphicsCommand(&graphics) ||
        !(graphics & AGP_ENABLE))
        return 0;
    DWORD rate = graphics & AGP_RATE_MASK;
    DWORD valid = isAgp3() ? AGP3_RATE_MASK : AGP_RATE_MASK;
    if ((rate & (rate - 1)) != 0 || (rate & valid) != rate)
        return 0;
    return (int)rate;
}

// Clears the straps that hold back 4X, sideband and fast writes on NVIDIA chips.
AgpError CAgpConfig::applyNvidiaFixup() {
    DWORD bus = pciBusOf(m_graphicsAddress);
    // The BAR's low bits are flags (prefetchable, 64-bit), not address: a prefetchable BAR taken
    // as it is would put the override into another register of the chip.
    DWORD address = (m_graphicsBar0 & PCI_BAR_MEMORY_MASK) + NVIDIA_STRAPS_OFFSET;
    DWORD straps = 0;
    int result = readPhysDword(bus, address, &straps);
    if (result == 0) {
        if (straps & NVIDIA_STRAPS_AGP_DISABLE)
            writePhysDword(bus, address,
                           (straps & ~NVIDIA_STRAPS_AGP_DISABLE) | NVIDIA_STRAPS_OVERRIDE);
        return AGP_OK;
    }
    if (result == 1) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND)
            return AGP_ERR_PHYS_NOT_FOUND;
        if (error == ERROR_NOT_SUPPORTED)
            return AGP_ERR_PHYS_NOT_SUPPORTED;
        return AGP_ERR_PHYS_OTHER;
    }
    return result == 2 ? AGP_ERR_PHYS_REQUEST : AGP_ERR_PHYS_OTHER;
}

int CAgpConfig::readGraphicsCommand(DWORD* command) {
    return readConfigDword(m_graphicsAddress, (WORD)(m_graphicsCap + AGP_COMMAND_OFFSET), command);
}

int CAgpConfig::getInitError() {
    return m_initError;
}

int CAgpConfig::getSupportedRates() {
    return m_supportedRates;
}

int CAgpConfig::isAgp3() {
    return m_initError == AGP_OK && (m_bridgeStatus & m_graphicsStatus & AGP_STATUS_AGP3) ? 1 : 0;
}

int CAgpConfig::getBridge(PciAddress* address, DWORD* id, WORD* cap) {
    if (m_bridgeCap == 0)
        return 0;
    *address = m_bridgeAddress;
    *id = m_bridgeId;
    *cap = m_bridgeCap;
    return 1;
}

int CAgpConfig::getGraphics(PciAddress* address, DWORD* id, WORD* cap) {
    if (m_graphicsCap == 0)
        return 0;
    *address = m_graphicsAddress;
    *id = m_graphicsId;
    *cap = m_graphicsCap;
    return 1;
}

void CAgpConfig::markModesUnconfirmed() {
    m_rateUnconfirmed = true;
    m_sidebandUnconfirmed = true;
    m_fastWriteUnconfirmed = true;
}

// Stores a mode read from the graphics device; one that differs from the cache is unconfirmed.
static void refreshMode(int* cached, bool* unconfirmed, int found) {
    if (found != *cached)
        *unconfirmed = true;
    *cached = found;
}

// The getters read the graphics device afresh. When the read fails they answer with the cached
// mode only while both ends are known to hold it (it was read, or written and read back, and
// nothing has cast doubt on it since); otherwise with what makes callers leave the mode alone:
// rate 0, or "not supported".
static int unreadMode(int cached, bool unconfirmed, int unknown) {
    return unconfirmed ? unknown : cached;
}

int CAgpConfig::getDataRate() {
    if (m_initError != AGP_OK)
        return 0;
    DWORD command;
    if (!readGraphicsCommand(&command))
        return unreadMode(m_rate, m_rateUnconfirmed, 0);
    refreshMode(&m_rate, &m_rateUnconfirmed, (int)(command & AGP_RATE_MASK));
    return m_rate;
}

// An AGP 3.0 link always uses sideband addressing, whatever its enable bit says.
int CAgpConfig::getSideband() {
    if (m_initError != AGP_OK || m_sideband == AGP_MODE_UNSUPPORTED)
        return AGP_MODE_UNSUPPORTED;
    if (isAgp3())
        return AGP_MODE_ON;
    DWORD command;
    if (!readGraphicsCommand(&command))
        return unreadMode(m_sideband, m_sidebandUnconfirmed, AGP_MODE_UNSUPPORTED);
    refreshMode(&m_sideband, &m_sidebandUnconfirmed,
                (command & AGP_SIDEBAND) ? AGP_MODE_ON : AGP_MODE_OFF);
    return m_sideband;
}

int CAgpConfig::getFastWrite() {
    if (m_initError != AGP_OK || m_fastWrite == AGP_MODE_UNSUPPORTED)
        return AGP_MODE_UNSUPPORTED;
    DWORD command;
    if (!readGraphicsCommand(&command))
        return unreadMode(m_fastWrite, m_fastWriteUnconfirmed, AGP_MODE_UNSUPPORTED);
    // Fast writes do not run at 1X in AGP 2.0 mode, whatever the bit says.
    bool runs = (command & AGP_FAST_WRITE) && (isAgp3() || (command & AGP_RATE_MASK) != 1);
    refreshMode(&m_fastWrite, &m_fastWriteUnconfirmed, runs ? AGP_MODE_ON : AGP_MODE_OFF);
    return m_fastWrite;
}
