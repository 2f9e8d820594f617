// The virtual machine's PCI functions and physical memory, with the register rules of the
// hardware: AGP command write masks, stuck bits, and NVIDIA's straps register.
#include "sim/machine.h"

#include "pci_capability.h"

#include <cstdio>
#include <cstring>
#include <sstream>

namespace sim {
namespace {

uint32_t dwordAt(const uint8_t* config, uint32_t offset) {
    return config[offset] | (config[offset + 1] << 8) | (config[offset + 2] << 16) |
           (static_cast<uint32_t>(config[offset + 3]) << 24);
}

void storeDword(uint8_t* config, uint32_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        config[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Offset of the AGP capability, 0 without one: the hardware's registers are where the program
// and the driver find them, and a capability whose registers would lie past the configuration
// space is none.
int capabilityOf(const uint8_t* config) {
    return static_cast<int>(
        pciFindCapabilityInImage(config, PCI_CAPABILITY_AGP, PCI_AGP_CAPABILITY_LENGTH));
}

// A command value an AGP 3.0 device must not be given: a rate field other than 4X (001), 8X (010)
// or none yet (000), or the sideband bit cleared. AGP 2.0 devices take every value.
bool isReservedAgp3Command(uint32_t status, uint32_t command) {
    if (!(status & kAgpStatusAgp3))
        return false;
    uint32_t rate = command & 0x7u;
    return (rate != 0 && rate != 1 && rate != 2) || !(command & (1u << 9));
}

Machine* asMachine(void* context) {
    return static_cast<Machine*>(context);
}

bool slotToFunction(uint32_t bus, uint32_t slot, int* device, int* function) {
    if (bus > 255 || slot > 0xFF)
        return false;
    *device = static_cast<int>(slot & 0x1F);
    *function = static_cast<int>((slot >> 5) & 7);
    return true;
}

int busReadConfig(void* context, uint32_t bus, uint32_t slot, uint32_t offset, void* buffer,
                  uint32_t length) {
    int device, function;
    return slotToFunction(bus, slot, &device, &function) &&
           asMachine(context)->readConfig(static_cast<int>(bus), device, function, offset, buffer,
                                          length);
}

int busWriteConfig(void* context, uint32_t bus, uint32_t slot, uint32_t offset, uint32_t value) {
    int device, function;
    return slotToFunction(bus, slot, &device, &function) &&
           asMachine(context)->writeConfigDword(static_cast<int>(bus), device, function, offset,
                                                value);
}

int busReadPhys(void* context, uint64_t address, uint32_t* value) {
    return asMachine(context)->readPhys(address, value);
}

int busWritePhys(void* context, uint64_t address, uint32_t value) {
    return asMachine(context)->writePhys(address, value);
}

} // namespace

Machine& machine() {
    static Machine* instance = new Machine; // never destroyed: handles may refer to it at exit
    return *instance;
}

Machine::Machine() = default;
Machine::~Machine() = default;

void Machine::load(const Profile& profile) {
    m_profile = profile;
    const Directive* windows = profile.find("windows");
    std::string version = windows ? windows->args[0] : "xp";
    m_version = version == "9x"      ? WindowsVersion::Win98Se
                : version == "vista" ? WindowsVersion::Vista
                : version == "7"     ? WindowsVersion::Seven
                                     : WindowsVersion::Xp;
    m_family = m_version == WindowsVersion::Win98Se ? WindowsFamily::Win9x : WindowsFamily::Nt;
    m_functions = profile.functions;
    m_phys.clear();
    for (const Directive* phys : profile.findAll("phys")) {
        uint32_t address = 0, value = 0;
        parseDirectiveNumber(phys->args[0], &address);
        parseDirectiveNumber(phys->args[1], &value);
        m_phys[address] = value;
    }
    m_openDevices.clear();
    m_deviceOpenTotals.clear();
    m_directiveMatches.clear();
    m_reservedAgpWrites.clear();
    m_linkFaults.clear();
    for (const Directive* fault : profile.findAll("link-fault")) {
        std::string text;
        for (const std::string& word : fault->args)
            text += (text.empty() ? "" : " ") + word;
        addLinkFault(text);
    }
    m_bridgeCommandWritten = false;
    m_graphicsCommandWritten = false;
    m_sleptMs = 0;
    m_bridgeCommandWrittenAt = 0;
    m_ddrawObjects.clear();
    m_ddrawCreated = 0;
    m_ddrawReleased = 0;
    m_trace.clear();
}

PciFunctionImage* Machine::findFunction(int bus, int device, int function) {
    for (PciFunctionImage& image : m_functions)
        if (image.bus == bus && image.device == device && image.function == function)
            return &image;
    return nullptr;
}

const PciFunctionImage* Machine::function(int bus, int device, int function) const {
    return const_cast<Machine*>(this)->findFunction(bus, device, function);
}

int Machine::agpCapability(int bus, int device, int function) const {
    const PciFunctionImage* image = this->function(bus, device, function);
    return image ? capabilityOf(image->config) : 0;
}

uint32_t Machine::nvidiaStrapsAddress(const PciFunctionImage& image, bool* isNvidia) const {
    uint32_t bar0 = dwordAt(image.config, 0x10);
    *isNvidia = (dwordAt(image.config, 0) & 0xFFFF) == 0x10DE && image.config[0x0B] == 0x03 &&
                (bar0 & 1) == 0;
    return (bar0 & ~0xFu) + kNvidiaStrapsOffset;
}

uint32_t Machine::effectiveStatus(const PciFunctionImage& image, uint32_t stored) const {
    bool isNvidia;
    uint32_t address = nvidiaStrapsAddress(image, &isNvidia);
    if (!isNvidia)
        return stored;
    uint32_t straps = physWord(address);
    if (straps & kNvidiaStrapsDisable4x)
        stored &= ~4u;
    if (straps & kNvidiaStrapsDisableSideband)
        stored &= ~(1u << 9);
    if (straps & kNvidiaStrapsDisableFastWrite)
        stored &= ~(1u << 4);
    return stored;
}

uint32_t Machine::stuckBits(const PciFunctionImage& image) const {
    uint32_t stuck = 0;
    for (const Directive* d : m_profile.findAll("stuck")) {
        int bus, device, function;
        uint32_t mask;
        if (parsePciAddress(d->args[0], &bus, &device, &function) && bus == image.bus &&
            device == image.device && function == image.function &&
            parseDirectiveNumber(d->args[1], &mask))
            stuck |= mask;
    }
    return stuck;
}

uint32_t Machine::configDword(int bus, int device, int function, uint32_t offset) const {
    const PciFunctionImage* image = this->function(bus, device, function);
    if (!image || offset > 252)
        return 0xFFFFFFFFu;
    uint32_t value = dwordAt(image->config, offset);
    int cap = capabilityOf(image->config);
    if (cap && offset == static_cast<uint32_t>(cap) + 4)
        value = effectiveStatus(*image, value);
    return value;
}

void Machine::pokeConfigDword(int bus, int device, int function, uint32_t offset, uint32_t value) {
    PciFunctionImage* image = findFunction(bus, device, function);
    if (image && offset <= 252)
        storeDword(image->config, offset, value);
}

bool Machine::readConfig(int bus, int device, int function, uint32_t offset, void* buffer,
                         uint32_t length) {
    const PciFunctionImage* image = this->function(bus, device, function);
    if (!image || offset > 256 || length > 256 - offset)
        return false;
    uint8_t view[256];
    std::memcpy(view, image->config, sizeof view);
    int cap = capabilityOf(view);
    if (cap)
        storeDword(view, cap + 4, configDword(bus, device, function, cap + 4));
    std::memcpy(buffer, view + offset, length);

    TraceEntry entry;
    entry.kind = TraceKind::ConfigRead;
    entry.bus = static_cast<uint8_t>(bus);
    entry.device = static_cast<uint8_t>(device);
    entry.function = static_cast<uint8_t>(function);
    entry.offset = offset;
    entry.length = length;
    for (uint32_t i = 0; i < length && i < 4; ++i)
        entry.value |= static_cast<uint32_t>(view[offset + i]) << (8 * i);
    record(entry);
    return true;
}

bool Machine::writeConfigDword(int bus, int device, int function, uint32_t offset, uint32_t value) {
    PciFunctionImage* image = findFunction(bus, device, function);
    if (!image || offset > 252 || (offset & 3) != 0)
        return false;
    TraceEntry entry;
    entry.kind = TraceKind::ConfigWrite;
    entry.bus = static_cast<uint8_t>(bus);
    entry.device = static_cast<uint8_t>(device);
    entry.function = static_cast<uint8_t>(function);
    entry.offset = offset;
    entry.length = 4;
    entry.value = value;
    record(entry);

    // Every register but the AGP command register is read-only here: writes to them are dropped,
    // as the hardware drops writes to read-only bits.
    int cap = capabilityOf(image->config);
    if (!cap || offset != static_cast<uint32_t>(cap) + 8)
        return true;
    if (isReservedAgp3Command(dwordAt(image->config, cap + 4), value))
        m_reservedAgpWrites.push_back(entry);
    bool target = image->config[0x0B] == 0x06;
    uint32_t writable = agpCommandWritable(dwordAt(image->config, cap + 4), target);
    writable &= ~stuckBits(*image);
    uint32_t old = dwordAt(image->config, offset);
    storeDword(image->config, offset, (old & ~writable) | (value & writable));
    checkLink(*image);
    return true;
}

uint32_t Machine::physWord(uint64_t address) const {
    auto word = m_phys.find(address);
    return word == m_phys.end() ? 0 : word->second;
}

void Machine::pokePhysWord(uint64_t address, uint32_t value) {
    m_phys[address] = value;
}

bool Machine::readPhys(uint64_t address, uint32_t* value) {
    if (address & 3)
        return false;
    *value = physWord(address);
    TraceEntry entry;
    entry.kind = TraceKind::PhysRead;
    entry.address = address;
    entry.value = *value;
    record(entry);
    return true;
}

bool Machine::writePhys(uint64_t address, uint32_t value) {
    if (address & 3)
        return false;
    TraceEntry entry;
    entry.kind = TraceKind::PhysWrite;
    entry.address = address;
    entry.value = value;
    record(entry);
    for (const PciFunctionImage& image : m_functions) {
        bool isNvidia;
        // The straps register takes a value only with its override bit set.
        if (nvidiaStrapsAddress(image, &isNvidia) == address && isNvidia &&
            !(value & kNvidiaStrapsOverride))
            return true;
    }
    m_phys[address] = value;
    return true;
}

TavrolBus Machine::driverBus() {
    TavrolBus bus;
    bus.context = this;
    bus.readConfig = busReadConfig;
    bus.writeConfig = busWriteConfig;
    bus.readPhys = busReadPhys;
    bus.writePhys = busWritePhys;
    return bus;
}

int Machine::openDeviceCount(const std::string& device) const {
    auto count = m_openDevices.find(device);
    return count == m_openDevices.end() ? 0 : count->second;
}

int Machine::deviceOpenTotal(const std::string& device) const {
    auto count = m_deviceOpenTotals.find(device);
    return count == m_deviceOpenTotals.end() ? 0 : count->second;
}

uint32_t Machine::directiveMatches(const Directive* directive) const {
    auto count = m_directiveMatches.find(directive);
    return count == m_directiveMatches.end() ? 0 : count->second;
}

void Machine::noteDirectiveMatch(const Directive* directive) {
    ++m_directiveMatches[directive];
}

void Machine::noteDeviceOpen(const std::string& device, int delta) {
    m_openDevices[device] += delta;
    if (delta > 0)
        m_deviceOpenTotals[device] += delta;
}

std::string Machine::lspciText() const {
    std::vector<PciFunctionImage> view = m_functions;
    for (PciFunctionImage& image : view) {
        int cap = capabilityOf(image.config);
        if (cap)
            storeDword(image.config, cap + 4,
                       configDword(image.bus, image.device, image.function, cap + 4));
    }
    return formatLspci(view);
}

std::string Machine::hardwareText() const {
    Profile current;
    current.source = m_profile.source;
    current.functions = m_functions;
    for (const Directive& d : m_profile.directives)
        if (d.name != "phys" && d.name != "link-fault")
            current.directives.push_back(d);
    for (const std::string& fault : m_linkFaults) {
        Directive line;
        line.name = "link-fault";
        std::istringstream words(fault);
        for (std::string word; words >> word;)
            line.args.push_back(word);
        current.directives.push_back(line);
    }
    char buffer[32];
    for (const auto& word : m_phys) {
        Directive phys;
        phys.name = "phys";
        std::snprintf(buffer, sizeof buffer, "0x%08llX",
                      static_cast<unsigned long long>(word.first));
        phys.args.push_back(buffer);
        std::snprintf(buffer, sizeof buffer, "0x%08X", word.second);
        phys.args.push_back(buffer);
        current.directives.push_back(phys);
    }
    return formatProfile(current);
}

std::vector<TraceEntry> Machine::traceOf(TraceKind kind) const {
    std::vector<TraceEntry> entries;
    for (const TraceEntry& entry : m_trace)
        if (entry.kind == kind)
            entries.push_back(entry);
    return entries;
}

std::string Machine::traceText() const {
    std::string text;
    for (const TraceEntry& entry : m_trace)
        text += entry.toString() + "\n";
    return text;
}

const char* traceKindName(TraceKind kind) {
    switch (kind) {
    case TraceKind::DeviceOpen:
        return "open";
    case TraceKind::DeviceClose:
        return "close";
    case TraceKind::DeviceRequest:
        return "request";
    case TraceKind::BiosCall:
        return "bios";
    case TraceKind::ConfigRead:
        return "config-read";
    case TraceKind::ConfigWrite:
        return "config-write";
    case TraceKind::PhysRead:
        return "phys-read";
    case TraceKind::PhysWrite:
        return "phys-write";
    case TraceKind::ServiceCall:
        return "scm";
    case TraceKind::DirectDrawCreate:
        return "ddraw";
    case TraceKind::Sleep:
        return "sleep";
    }
    return "?";
}

std::string TraceEntry::toString() const {
    char buffer[160];
    std::string text = traceKindName(kind);
    std::string result = ok ? " ok" : " failed error=" + std::to_string(error);
    switch (kind) {
    case TraceKind::DeviceOpen:
    case TraceKind::DeviceClose:
        return text + " " + name + (kind == TraceKind::DeviceOpen ? result : "");
    case TraceKind::DeviceRequest: {
        std::snprintf(buffer, sizeof buffer, " %s code=0x%08X in=", name.c_str(), code);
        text += buffer;
        for (uint8_t byte : input) {
            std::snprintf(buffer, sizeof buffer, "%02x", byte);
            text += buffer;
        }
        return text + result;
    }
    case TraceKind::BiosCall:
        std::snprintf(buffer, sizeof buffer,
                      " ax=%04X bx=%04X ecx=%08X si=%04X di=%04X -> carry=%d bx=%04X ecx=%08X "
                      "edx=%08X",
                      biosIn.eax & 0xFFFF, biosIn.ebx & 0xFFFF, biosIn.ecx, biosIn.esi & 0xFFFF,
                      biosIn.edi & 0xFFFF, carry ? 1 : 0, biosOut.ebx & 0xFFFF, biosOut.ecx,
                      biosOut.edx);
        return text + buffer;
    case TraceKind::ConfigRead:
    case TraceKind::ConfigWrite:
        std::snprintf(buffer, sizeof buffer, " %02x:%02x.%x offset=0x%02X length=%u value=0x%08X",
                      bus, device, function, offset, length, value);
        return text + buffer;
    case TraceKind::PhysRead:
    case TraceKind::PhysWrite:
        std::snprintf(buffer, sizeof buffer, " 0x%08llX value=0x%08X",
                      static_cast<unsigned long long>(address), value);
        return text + buffer;
    case TraceKind::ServiceCall:
        return text + " " + name + (detail.empty() ? "" : " " + detail) + result;
    case TraceKind::DirectDrawCreate:
        std::snprintf(buffer, sizeof buffer, " result=0x%08X", error);
        return text + buffer;
    case TraceKind::Sleep:
        return text + " " + std::to_string(value) + " ms";
    }
    return text;
}

} // namespace sim
