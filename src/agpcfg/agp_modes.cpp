// CAgpConfig's mode setters: each change is one cycle over both ends of the AGP link.
#include "agpcfg/agpcfg.h"

// Both command registers are read, the link is taken down on the graphics device (the master)
// and then on the bridge (the target), and the new mode goes into the bridge first and the
// graphics device last. Every bit outside `modeMask` is written back as read, AGP enable too.
// When either command register cannot be read nothing is written: values made up for it would
// switch the link off (enable bit and rate 0) with no one knowing.
bool CAgpConfig::modeCycle(DWORD takeDownMask, DWORD modeMask, DWORD modeBits) {
    WORD bridgeCommand = (WORD)(m_bridgeCap + AGP_COMMAND_OFFSET);
    WORD graphicsCommand = (WORD)(m_graphicsCap + AGP_COMMAND_OFFSET);
    DWORD bridge = 0;
    DWORD graphics = 0;
    if (!readConfigDword(m_bridgeAddress, bridgeCommand, &bridge) ||
        !readConfigDword(m_graphicsAddress, graphicsCommand, &graphics))
        return false;
    writeConfigDword(m_graphicsAddress, graphicsCommand, graphics & takeDownMask);
    writeConfigDword(m_bridgeAddress, bridgeCommand, bridge & takeDownMask);
    writeConfigDword(m_bridgeAddress, bridgeCommand, (bridge & ~modeMask) | modeBits);
    writeConfigDword(m_graphicsAddress, graphicsCommand, (graphics & ~modeMask) | modeBits);
    return true;
}

// Only a single rate goes into the rate field: a combined value such as 3 would leave the link
// in a state no AGP device defines. A setter leaves a mode equal to the cache alone unless a
// getter found the graphics device in another mode than was set: then the bridge may still hold
// the mode that did not take, and both ends are programmed again.
int CAgpConfig::setDataRate(int rate) {
    if (rate != 1 && rate != 2 && rate != 4)
        return 0;
    if ((rate & m_supportedRates) == 0)
        return 0;
    if (rate == m_rate && !m_rateUnconfirmed)
        return 1;
    // Sideband addressing is off while the rate changes and comes back on afterwards.
    int restoreSideband = 0;
    if (m_sideband == AGP_MODE_ON)
        restoreSideband = setSideband(AGP_MODE_OFF);
    if (!modeCycle(~(DWORD)AGP_ENABLE, AGP_RATE_MASK, (DWORD)rate)) {
        if (restoreSideband)
            setSideband(AGP_MODE_ON);
        return 0;
    }
    m_rate = rate;
    m_rateUnconfirmed = false;
    if (restoreSideband)
        setSideband(AGP_MODE_ON);
    return 1;
}

// Sideband addressing changes on a link that is switched off completely.
int CAgpConfig::setSideband(int on) {
    if (m_sideband == AGP_MODE_UNSUPPORTED)
        return 0;
    if (on == m_sideband && !m_sidebandUnconfirmed)
        return 1;
    if (on != AGP_MODE_OFF && on != AGP_MODE_ON)
        return 0;
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
    if (!modeCycle(~(DWORD)AGP_ENABLE, AGP_FAST_WRITE, on ? (DWORD)AGP_FAST_WRITE : 0u))
        return 0;
    m_fastWrite = on;
    m_fastWriteUnconfirmed = false;
    return 1;
}
