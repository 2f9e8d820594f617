// The AGP link of the virtual machine as the hardware sees it: which command register bits the
// silicon takes, and a checker that records every state of the link that the AGP standard or a
// chipset's errata forbid. The checker knows the errata from the chipsets' own documents, not
// from the program's table, so that a wrong table shows.
#include "sim/machine.h"

#include <algorithm>
#include <cstdio>

namespace sim {
namespace {

constexpr uint32_t kRateField = 0x7u;
constexpr uint32_t kFastWrite = 1u << 4;
constexpr uint32_t k4G = 1u << 5;
constexpr uint32_t kGart64B = 1u << 7;
constexpr uint32_t kEnable = 1u << 8;
constexpr uint32_t kSideband = 1u << 9;
constexpr uint32_t kCalibration = 0x7u << 10;
constexpr uint32_t kArqsz = 0x7u << 13;
constexpr uint32_t kRequestDepth = 0xFF000000u;

// What a host bridge's silicon cannot do, by its revision guide or datasheet.
struct Erratum {
    uint16_t vendor;
    uint16_t device;
    uint8_t firstRevision;
    uint8_t lastRevision;
    uint16_t graphicsVendor; // 0: with every card
    uint32_t rates;          // rate field values that work
    bool sideband;
    bool fastWrites;
    uint32_t settleMs; // the card's command register cannot be written this soon after ours
    const char* chip;
};

const Erratum kErrata[] = {
    // AMD-751 revision guide, erratum 20: strobe glitch with NVIDIA GeForce cards above 1X.
    {0x1022, 0x7006, 0x00, 0xFF, 0x10DE, 0x1, true, true, 0, "AMD-751"},
    // AMD-761 revision guide, errata 44-46: B0/B1 lock up above 1X, with SBA or fast writes.
    {0x1022, 0x700E, 0x10, 0x11, 0, 0x1, false, false, 0, "AMD-761 B0/B1"},
    // SiS 648 and 746: a rate change in the target's command register leaves it unable to take
    // the master's configuration for about 5 ms; 10 ms is safe.
    {0x1039, 0x0648, 0x00, 0xFF, 0, 0x7, true, true, 10, "SiS 648"},
    {0x1039, 0x0746, 0x00, 0xFF, 0, 0x7, true, true, 10, "SiS 746"},
};

uint32_t dwordAt(const uint8_t* config, uint32_t offset) {
    return config[offset] | (config[offset + 1] << 8) | (config[offset + 2] << 16) |
           (static_cast<uint32_t>(config[offset + 3]) << 24);
}

uint32_t classOf(const PciFunctionImage& image) {
    return (image.config[0x0B] << 16) | (image.config[0x0A] << 8) | image.config[0x09];
}

const Erratum* erratumOf(const PciFunctionImage& bridge, const PciFunctionImage& graphics) {
    uint32_t id = dwordAt(bridge.config, 0);
    uint8_t revision = bridge.config[0x08];
    uint16_t graphicsVendor = static_cast<uint16_t>(dwordAt(graphics.config, 0));
    for (const Erratum& e : kErrata)
        if (e.vendor == (id & 0xFFFF) && e.device == (id >> 16) && revision >= e.firstRevision &&
            revision <= e.lastRevision && (!e.graphicsVendor || e.graphicsVendor == graphicsVendor))
            return &e;
    return nullptr;
}

bool severalBits(uint32_t rate) {
    return (rate & (rate - 1)) != 0;
}

} // namespace

uint32_t agpCommandWritable(uint32_t status, bool target) {
    uint32_t writable = kRateField | kFastWrite | kEnable | kSideband;
    if (!target)
        writable |= kRequestDepth;
    if (status & k4G)
        writable |= k4G;
    if (status & kAgpStatusAgp3) {
        writable |= kArqsz | kCalibration;
        if (target && (status & kGart64B))
            writable |= kGart64B;
    }
    return writable;
}

void Machine::addLinkFault(const std::string& fault) {
    if (std::find(m_linkFaults.begin(), m_linkFaults.end(), fault) == m_linkFaults.end())
        m_linkFaults.push_back(fault);
}

void Machine::noteSleep(uint32_t milliseconds) {
    m_sleptMs += milliseconds;
    TraceEntry entry;
    entry.kind = TraceKind::Sleep;
    entry.value = milliseconds;
    record(entry);
}

void Machine::checkLink(const PciFunctionImage& written) {
    const PciFunctionImage* bridge = nullptr;
    const PciFunctionImage* graphics = nullptr;
    for (const PciFunctionImage& image : m_functions) {
        if (!agpCapability(image.bus, image.device, image.function))
            continue;
        if (!bridge && classOf(image) == 0x060000)
            bridge = &image;
        if (!graphics && classOf(image) == 0x030000)
            graphics = &image;
    }
    if (!bridge || !graphics || (&written != bridge && &written != graphics))
        return;
    int bridgeCap = agpCapability(bridge->bus, bridge->device, bridge->function);
    int graphicsCap = agpCapability(graphics->bus, graphics->device, graphics->function);
    const Erratum* erratum = erratumOf(*bridge, *graphics);
    char text[160];

    if (&written == bridge) {
        m_bridgeCommandWritten = true;
        m_bridgeCommandWrittenAt = m_sleptMs;
    } else {
        m_graphicsCommandWritten = true;
        uint64_t since = m_sleptMs - m_bridgeCommandWrittenAt;
        if (erratum && m_bridgeCommandWritten && since < erratum->settleMs) {
            std::snprintf(text, sizeof text, "card written %u ms after the %s bridge",
                          static_cast<unsigned>(since), erratum->chip);
            addLinkFault(text);
        }
    }
    uint32_t g = dwordAt(graphics->config, graphicsCap + 8);
    if (!m_bridgeCommandWritten || !m_graphicsCommandWritten || !(g & kEnable))
        return;

    uint32_t b = dwordAt(bridge->config, bridgeCap + 8);
    uint32_t bridgeStatus =
        configDword(bridge->bus, bridge->device, bridge->function, bridgeCap + 4);
    uint32_t graphicsStatus =
        configDword(graphics->bus, graphics->device, graphics->function, graphicsCap + 4);
    bool agp3 = (bridgeStatus & graphicsStatus & kAgpStatusAgp3) != 0;
    uint32_t rate = g & kRateField;
    if (!(b & kEnable))
        addLinkFault("card enabled while the bridge is not");
    if ((bridgeStatus ^ graphicsStatus) & kAgpStatusAgp3)
        addLinkFault("ends disagree on AGP 3.0 mode");
    if ((b & kRateField) != rate) {
        std::snprintf(text, sizeof text, "ends disagree on the rate (bridge %u, card %u)",
                      b & kRateField, rate);
        addLinkFault(text);
    }
    if (rate == 0)
        addLinkFault("enabled with rate 0");
    else if (severalBits(rate))
        addLinkFault("several rate bits (" + std::to_string(rate) + ")");
    else if (agp3 && rate == 4)
        addLinkFault("reserved AGP 3.0 rate 4");
    if (agp3 && !(b & g & kSideband))
        addLinkFault("sideband off in AGP 3.0 mode");
    if (!agp3 && rate == 1 && ((b | g) & kFastWrite))
        addLinkFault("fast writes at 1X");
    uint32_t common = bridgeStatus & graphicsStatus;
    if (((b | g) & kFastWrite) && !(common & kFastWrite))
        addLinkFault("fast writes set that one end lacks");
    if (!agp3 && ((b | g) & kSideband) && !(common & kSideband))
        addLinkFault("sideband set that one end lacks");
    if (erratum) {
        if (!(rate & erratum->rates))
            addLinkFault(std::string(erratum->chip) + " erratum: rate " + std::to_string(rate));
        if (!erratum->sideband && ((b | g) & kSideband))
            addLinkFault(std::string(erratum->chip) + " erratum: sideband addressing");
        if (!erratum->fastWrites && ((b | g) & kFastWrite))
            addLinkFault(std::string(erratum->chip) + " erratum: fast writes");
    }
}

} // namespace sim
