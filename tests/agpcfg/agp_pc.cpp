// Test helpers of the AGP library: synthetic PCI functions, virtual PCs and the register trace.
#include "agp_pc.h"

#include <algorithm>
#include <iomanip>
#include <sstream>
#include <tuple>

#include "tavrol_ioctl.h"

namespace agptest {

sim::PciFunctionImage pciFunction(int bus, int device, int function, uint16_t vendor,
                                  uint16_t deviceId, uint32_t classCode) {
    sim::PciFunctionImage image;
    image.bus = (uint8_t)bus;
    image.device = (uint8_t)device;
    image.function = (uint8_t)function;
    image.description = "Function";
    putDword(&image, 0x00, (uint32_t)vendor | ((uint32_t)deviceId << 16));
    putDword(&image, 0x04, 0x02200007); // medium DEVSEL, 66 MHz; I/O, memory, bus master on
    putDword(&image, 0x08, (classCode << 8) | 0x01);
    return image;
}

void linkCapabilities(sim::PciFunctionImage* image, const std::vector<std::pair<int, int>>& caps) {
    image->config[0x06] |= 0x10; // capabilities list present
    image->config[0x34] = caps.empty() ? 0 : (uint8_t)caps.front().first;
    for (size_t i = 0; i < caps.size(); ++i) {
        int offset = caps[i].first;
        image->config[offset] = (uint8_t)caps[i].second;
        image->config[offset + 1] = i + 1 < caps.size() ? (uint8_t)caps[i + 1].first : 0;
    }
}

void putDword(sim::PciFunctionImage* image, int offset, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        image->config[offset + i] = (uint8_t)(value >> (8 * i));
}

uint32_t dwordOf(const sim::PciFunctionImage& image, int offset) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= (uint32_t)image.config[offset + i] << (8 * i);
    return value;
}

static void putAgpRegisters(sim::PciFunctionImage* image, int cap, uint32_t status,
                            uint32_t command) {
    image->config[cap + 2] = 0x20; // AGP 2.0
    putDword(image, cap + 4, status);
    putDword(image, cap + 8, command);
}

static void putPowerManagement(sim::PciFunctionImage* image, int cap) {
    image->config[cap + 2] = 0x01; // version 1.0, D0 only
}

sim::PciFunctionImage hostBridge(uint32_t status, uint32_t command) {
    sim::PciFunctionImage image = pciFunction(0, 0, 0, 0x8086, 0x1A30, PCI_CLASS_HOST_BRIDGE);
    image.description = "Host bridge: Intel Corporation 82845 845 [Brookdale] Chipset Host Bridge";
    putDword(&image, 0x10, 0xE8000008); // aperture
    linkCapabilities(&image, {{kBridgeCap, AGP_CAPABILITY_ID}});
    putAgpRegisters(&image, kBridgeCap, status, command);
    return image;
}

static sim::PciFunctionImage agpCard(uint16_t vendor, uint16_t deviceId, uint32_t bar0,
                                     uint32_t bar1, uint32_t status, uint32_t command) {
    sim::PciFunctionImage image = pciFunction(1, 0, 0, vendor, deviceId, PCI_CLASS_VGA);
    putDword(&image, 0x10, bar0);
    putDword(&image, 0x14, bar1);
    linkCapabilities(&image, {{0x60, 1}, {kGraphicsCap, AGP_CAPABILITY_ID}});
    putPowerManagement(&image, 0x60);
    putAgpRegisters(&image, kGraphicsCap, status, command);
    return image;
}

sim::PciFunctionImage nvidiaCard(uint32_t status, uint32_t command) {
    sim::PciFunctionImage image = agpCard(0x10DE, 0x0110, 0xE0000000, 0xD8000008, status, command);
    image.description = "VGA compatible controller: NVIDIA Corporation NV11 [GeForce2 MX/MX 400]";
    return image;
}

sim::PciFunctionImage atiCard(uint32_t status, uint32_t command) {
    sim::PciFunctionImage image = agpCard(0x1002, 0x5144, 0xD8000008, 0x0000C001, status, command);
    image.description = "VGA compatible controller: ATI Technologies Inc Radeon R100 QD";
    return image;
}

static sim::PciFunctionImage agpBridge() {
    sim::PciFunctionImage image = pciFunction(0, 1, 0, 0x8086, 0x1A31, 0x060400);
    image.description = "PCI bridge: Intel Corporation 82845 845 [Brookdale] Chipset AGP Bridge";
    image.config[0x0E] = 0x01;          // PCI-to-PCI bridge header
    putDword(&image, 0x18, 0x00010100); // primary 0, secondary 1, subordinate 1
    return image;
}

PcSpec agpPc(bool nt, uint32_t bridgeStatus, uint32_t bridgeCommand, uint32_t graphicsStatus,
             uint32_t graphicsCommand) {
    PcSpec layout;
    layout.nt = nt;
    layout.functions = {hostBridge(bridgeStatus, bridgeCommand), agpBridge(),
                        atiCard(graphicsStatus, graphicsCommand)};
    return layout;
}

PcSpec nvidiaPc(bool nt, uint32_t straps) {
    PcSpec layout;
    layout.nt = nt;
    layout.functions = {hostBridge(kStatus4xSbaFw, kCommand2x), agpBridge(),
                        nvidiaCard(kStatus4xSbaFw, kCommand2x)};
    std::ostringstream phys;
    phys << "phys 0x" << std::hex << (0xE0000000u + 0x101000u) << " 0x" << straps;
    layout.directives.push_back(phys.str());
    return layout;
}

std::string profileText(const PcSpec& layout) {
    std::string text = layout.nt ? "#! windows nt\n" : "#! windows 9x\n";
    for (const std::string& directive : layout.directives)
        text += "#! " + directive + "\n";
    std::vector<sim::PciFunctionImage> functions = layout.functions;
    std::stable_sort(functions.begin(), functions.end(),
                     [](const sim::PciFunctionImage& a, const sim::PciFunctionImage& b) {
                         return std::make_tuple(a.bus, a.device, a.function) <
                                std::make_tuple(b.bus, b.device, b.function);
                     });
    return text + sim::formatLspci(functions);
}

sim::TestPc boot(const PcSpec& layout) {
    std::string text = profileText(layout);
    sim::TestPc pc = sim::bootForTest(text);
    if (!pc.ok())
        ADD_FAILURE() << "the profile was refused: " << pc.error() << "\n" << text;
    isNt = 0;
    return pc;
}

bool operator==(const RegisterAccess& a, const RegisterAccess& b) {
    return a.op == b.op && a.address == b.address && a.offset == b.offset && a.value == b.value;
}

std::ostream& operator<<(std::ostream& out, const RegisterAccess& access) {
    std::ostringstream text;
    text << access.op << " " << std::hex << std::setfill('0') << std::setw(2)
         << (access.address >> 8) << ":" << std::setw(2) << ((access.address >> 3) & 0x1F) << "."
         << (access.address & 7) << " @0x" << access.offset;
    if (access.op == 'W')
        text << " = 0x" << access.value;
    return out << text.str();
}

RegisterAccess readOf(PciAddress address, uint32_t offset) {
    return {'R', address, offset, 0};
}

RegisterAccess writeOf(PciAddress address, uint32_t offset, uint32_t value) {
    return {'W', address, offset, value};
}

static uint32_t inputDword(const sim::TraceEntry& entry, size_t index) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4 && index * 4 + i < entry.input.size(); ++i)
        value |= (uint32_t)entry.input[index * 4 + i] << (8 * i);
    return value;
}

std::vector<RegisterAccess> registerAccesses() {
    std::vector<RegisterAccess> accesses;
    for (const sim::TraceEntry& entry : sim::machine().trace()) {
        if (entry.kind == sim::TraceKind::DeviceRequest &&
            (entry.code == IOCTL_PCI_READ_CONFIG_DWORD ||
             entry.code == IOCTL_PCI_WRITE_CONFIG_DWORD)) {
            bool write = entry.code == IOCTL_PCI_WRITE_CONFIG_DWORD;
            accesses.push_back({write ? 'W' : 'R',
                                pciAddressOf(inputDword(entry, 0), inputDword(entry, 1)),
                                inputDword(entry, 2), write ? inputDword(entry, 3) : 0});
        } else if (entry.kind == sim::TraceKind::DeviceRequest &&
                   entry.name == "\\\\.\\TAVROL.VXD" &&
                   (entry.code == VXD_PCI_READ_CONFIG_DWORD ||
                    entry.code == VXD_PCI_WRITE_CONFIG_DWORD)) {
            bool write = entry.code == VXD_PCI_WRITE_CONFIG_DWORD;
            accesses.push_back({write ? 'W' : 'R', (PciAddress)inputDword(entry, 0),
                                inputDword(entry, 1), write ? inputDword(entry, 2) : 0});
        } else if (entry.kind == sim::TraceKind::BiosCall) {
            uint32_t function = entry.biosIn.eax & 0xFFFF;
            if (function != 0xB10A && function != 0xB10D)
                continue;
            bool write = function == 0xB10D;
            accesses.push_back({write ? 'W' : 'R', (PciAddress)(entry.biosIn.ebx & 0xFFFF),
                                entry.biosIn.edi & 0xFFFF, write ? entry.biosIn.ecx : 0});
        }
    }
    return accesses;
}

std::vector<sim::TraceEntry> hardwareRequests() {
    std::vector<sim::TraceEntry> requests;
    for (const sim::TraceEntry& entry : sim::machine().trace())
        if (entry.kind == sim::TraceKind::DeviceRequest || entry.kind == sim::TraceKind::BiosCall)
            requests.push_back(entry);
    return requests;
}

std::vector<sim::TraceEntry> serviceCalls() {
    return sim::machine().traceOf(sim::TraceKind::ServiceCall);
}

std::vector<uint8_t> bytesOf(std::initializer_list<uint32_t> dwords) {
    std::vector<uint8_t> bytes;
    for (uint32_t dword : dwords)
        for (int i = 0; i < 4; ++i)
            bytes.push_back((uint8_t)(dword >> (8 * i)));
    return bytes;
}

} // namespace agptest
