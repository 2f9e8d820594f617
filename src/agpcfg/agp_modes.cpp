// CAgpConfig's mode setters: each change is one cycle over both ends of the AGP link, read back
// and undone when it does not hold.
#include "agpcfg/agpcfg.h"

// The bits that make up the modes of a command register; read-backs compare these.
static const DWORD LINK_MODE_BITS = AGP_RATE_MASK | AGP_FAST_WRITE | AGP_ENABLE | AGP_SIDEBAND;

int CAgpConfig::readBothCommands(DWORD* bridge, DWORD* graphics) {
    return readConfigDword(m_bridgeAddress, (WORD)(m_bridgeCap + AGP_COMMAND_OFFSET), bridge) &&
           readGraphicsCommand(graphics);
}

bool CAgpConfig::writeLink(DWORD bridgeDown, DWORD graphicsDown, DWORD bridgeUp, DWORD graphicsUp,
                           bool stopOnFailure) {
    WORD bridgeCommand = (WORD)(m_bridgeCap + AGP_COMMAND_OFFSET);
    WORD graphicsCommand = (WORD)(m_graphicsCap + AGP_COMMAND_OFFSET);
    const struct {
        PciAddress address;
        WORD offset;
        DWORD value;
    } writes[] = {{m_graphicsAddress, graphicsCommand, graphicsDown},
                  {m_bridgeAddress, bridgeCommand, bridgeDown},
                  {m_bridgeAddress, bridgeCommand, bridgeUp},
                  {m_graphicsAddress, graphicsCommand, graphicsUp}};
    bool allDone = true;
    for (const auto& step : writes) {
        bool written = writeConfigDword(step.address, step.offset, step.value) != 0;
        // Some bridges cannot take the card's command for a while after their own.
        if (&step == &writes[2] && m_bridgeDelayMs != 0)
            Sleep(m_bridgeDelayMs);
        if (written)
            continue;
        allDone = false;
        if (stopOnFailure)
            break;
    }
    return allDone;
}

bool CAgpConfig::linkHolds(DWORD bridge, DWORD graphics) {
    DWORD bridgeNow = 0;
    DWORD graphicsNow = 0;
    return readBothCommands(&bridgeNow, &graphicsNow) &&
           (bridgeNow & LINK_MODE_BITS) == (bridge & LINK_MODE_BITS) &&
           (graphicsNow & LINK_MODE_BITS) == (graphics & LINK_MODE_BITS);
}

// Both command registers are read, the link is taken down on the graphics device (the master)
// and then on the bridge (the target), and the new mode goes into the bridge first and the
// graphics device last. Every bit outside `modeMask` is written back as read, AGP enable too.
// When either command register cannot be read nothing is written: values made up for it would
// switch the link off (enable bit and rate 0) with no one knowing.
//
// A write that fails, a read-back that fails, or an end that does not hold what was written
// would leave the two ends in different modes or the link switched off. Both ends then get back
// the values read at the start, in the same order: both taken down, the bridge, then the
// graphics device. When even that does not read back, the caches can no longer be trusted.
bool CAgpConfig::modeCycle(DWORD takeDownMask, DWORD modeMask, DWORD modeBits) {
    // The whole cycle is one batch: one open of the device instead of one per register access.
    CRequestBatch batch;
    DWORD bridge = 0;
    DWORD graphics = 0;
    if (!readBothCommands(&bridge, &graphics))
        return false;
    bool agp3 = isAgp3() != 0;
    // Both ends get the modes the graphics device runs (what the getters report), changed by
    // the new mode, so that they agree afterwards even if they did not before.
    const DWORD linkModes = AGP_RATE_MASK | AGP_SIDEBAND | AGP_FAST_WRITE;
    DWORD running = graphics & linkModes;
    // A fast-write bit at 1X in AGP 2.0 mode is no mode in force (the getter reports it off).
    if (!agp3 && (running & AGP_RATE_MASK) == 1)
        running &= ~(DWORD)AGP_FAST_WRITE;
    DWORD modes = (running & ~modeMask) | modeBits;
    // A mode one end lacks, or an erratum forbids, is never left set on the other.
    if (m_sideband == AGP_MODE_UNSUPPORTED)
        modes &= ~(DWORD)AGP_SIDEBAND;
    if (m_fastWrite == AGP_MODE_UNSUPPORTED)
        modes &= ~(DWORD)AGP_FAST_WRITE;
    // Fast writes do not run at 1X in AGP 2.0 mode: dropping to 1X ends them in the same cycle.
    if (!agp3 && (modes & AGP_RATE_MASK) == 1)
        modes &= ~(DWORD)AGP_FAST_WRITE;
    // AGP 3.0 requires the sideband bit set on both ends whenever the link is in that mode.
    DWORD keep = agp3 ? (DWORD)AGP_SIDEBAND : 0u;
    modes |= keep;
    DWORD bridgeUp = (bridge & ~linkModes) | modes;
    DWORD graphicsUp = (graphics & ~linkModes) | modes;
    if (writeLink((bridge & takeDownMask) | keep, (graphics & takeDownMask) | keep, bridgeUp,
                  graphicsUp, true) &&
        linkHolds(bridgeUp, graphicsUp))
        return true;

    writeLink((bridge & takeDownMask) | keep, (graphics & takeDownMask) | keep, bridge | keep,
              graphics | keep, false);
    if (!linkHolds(bridge | keep, graphics | keep))
        markModesUnconfirmed();
    return false;
}

// Only a single rate goes into the rate field: a combined value such as 3 would leave the link
// in a state no AGP device defines, and in AGP 3.0 mode 4 is reserved (the supported mask never
// has it there). A setter leaves a mode equal to the cache alone unless the two ends may not
// both hold it: then both ends are programmed again.
int CAgpConfig::setDataRate(int rate) {
    if (rate != 1 && rate != 2 && rate != 4)
        return 0;
    if ((rate & m_supportedRates) == 0)
        return 0;
    if (rate == m_rate && !m_rateUnconfirmed)
        return 1;
    // Sideband addressing is off while the rate changes and comes back on afterwards; an AGP 3.0
    // link keeps it on throughout. A rate change whose first step fails is not made.
    bool sidebandAround = !isAgp3() && m_sideband == AGP_MODE_ON;
    if (sidebandAround && !setSideband(AGP_MODE_OFF))
        return 0;
    bool changed = modeCycle(~(DWORD)AGP_ENABLE, AGP_RATE_MASK, (DWORD)rate);
    if (changed) {
        m_rate = rate;
        m_rateUnconfirmed = false;
        if (rate == 1 && !isAgp3() && m_fastWrite == AGP_MODE_ON)
            m_fastWrite = AGP_MODE_OFF;
    }
    if (sidebandAround)
        setSideband(AGP_MODE_ON);
    return changed ? 1 : 0;
}

// Sideband addressing changes on a link that is switched off completely. In AGP 3.0 mode it is
// always on: it is never written off there.
int CAgpConfig::setSideband(int on) {
    if (m_sideband == AGP_MODE_UNSUPPORTED)
        return 0;
    if (on == m_sideband && !m_sidebandUnconfirmed)
        return 1;
    if (on != AGP_MODE_OFF && on != AGP_MODE_ON)
        return 0;
    if (isAgp3())
        return on == AGP_MODE_ON ? 1 : 0;
    if (!modeCycle(0, AGP_SIDEBAND, on ? (DWORD)AGP_SIDEBAND : 0u))
        return 0;
    m_sideband = on;
    m_sidebandUnconfirmed = false;
    return 1;
}

int CAgpConfig::setFastWrite(int on) {
    if (m_fastWrite == AGP_MODE_UNSUPPORTED)
        return 0;
    if (on == m_fastWrite && !m_fastWriteUnconfirmed)
        return 1;
    if (on != AGP_MODE_OFF && on != AGP_MODE_ON)
        return 0;
    // Fast writes need 2X or faster in AGP 2.0 mode.
    if (on == AGP_MODE_ON && !isAgp3() && m_rate == 1)
        return 0;
    if (!modeCycle(~(DWORD)AGP_ENABLE, AGP_FAST_WRITE, on ? (DWORD)AGP_FAST_WRITE : 0u))
        return 0;
    m_fastWrite = on;
    m_fastWriteUnconfirmed = false;
    return 1;
}
