// Test helpers of the AGP library: synthetic PCI functions, virtual PCs built from them, and the
// register accesses of the program read back from the machine's trace.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "agpcfg/agpcfg.h"
#include "sim/boot.h"
#include "sim/machine.h"
#include "sim/process.h"

namespace agptest {

// AGP status and command words as chips report them: request depth in bits 31..24.
constexpr uint32_t kStatus4xSbaFw = 0x1F000217; // rates 1/2/4, sideband, fast writes
constexpr uint32_t kStatus2xSba = 0x1F000203;   // rates 1/2, sideband
constexpr uint32_t kCommand2x = 0x00000102;     // 2X, AGP enabled
// AGP 3.0 mode: rates 4X and 8X (values 1 and 2), sideband, fast writes.
constexpr uint32_t kStatusAgp3 = 0x1F00021B;

// Where the standard PC's functions live.
constexpr PciAddress kBridge = 0x0000;   // 00:00.0
constexpr PciAddress kGraphics = 0x0100; // 01:00.0
constexpr int kBridgeCap = 0xA0;         // after no other capability
constexpr int kGraphicsCap = 0x44;       // after power management at 0x60

// A PCI function with its IDs, class code and header type; no capabilities yet.
sim::PciFunctionImage pciFunction(int bus, int device, int function, uint16_t vendor,
                                  uint16_t deviceId, uint32_t classCode);
// Links capability entries (offset, ID) in the given order and sets the capabilities-list bit.
void linkCapabilities(sim::PciFunctionImage* image, const std::vector<std::pair<int, int>>& caps);
void putDword(sim::PciFunctionImage* image, int offset, uint32_t value);
uint32_t dwordOf(const sim::PciFunctionImage& image, int offset);

// The two ends of an AGP link.
sim::PciFunctionImage hostBridge(uint32_t status, uint32_t command);
sim::PciFunctionImage nvidiaCard(uint32_t status, uint32_t command); // BAR 0 at 0xE0000000
sim::PciFunctionImage atiCard(uint32_t status, uint32_t command);    // no straps to fix

// A machine description: functions (any order) and directive lines without the "#! " prefix.
struct PcSpec {
    bool nt = true;
    std::vector<sim::PciFunctionImage> functions;
    std::vector<std::string> directives;
};

// Host bridge and ATI card with the given AGP registers, on NT or Windows 9x.
PcSpec agpPc(bool nt, uint32_t bridgeStatus, uint32_t bridgeCommand, uint32_t graphicsStatus,
             uint32_t graphicsCommand);
// The same PC with an NVIDIA card whose straps word holds `straps`.
PcSpec nvidiaPc(bool nt, uint32_t straps);

std::string profileText(const PcSpec& layout);

// Boots the PC (failing the test if the profile is refused) and puts isNt back to its value at
// process start, as every run of the program begins.
sim::TestPc boot(const PcSpec& layout);

// One configuration access the program asked for, from the request's input or the BIOS call.
struct RegisterAccess {
    char op; // 'R' read, 'W' write
    PciAddress address;
    uint32_t offset;
    uint32_t value; // the value written; 0 for reads
};
bool operator==(const RegisterAccess& a, const RegisterAccess& b);
std::ostream& operator<<(std::ostream& out, const RegisterAccess& access);

RegisterAccess readOf(PciAddress address, uint32_t offset);
RegisterAccess writeOf(PciAddress address, uint32_t offset, uint32_t value);

// Dword reads and writes of configuration space in the trace, in order.
std::vector<RegisterAccess> registerAccesses();
// Every hardware request of the program: device requests and PCI BIOS calls.
std::vector<sim::TraceEntry> hardwareRequests();
std::vector<sim::TraceEntry> serviceCalls();

// Little-endian bytes of dwords, for comparing request records.
std::vector<uint8_t> bytesOf(std::initializer_list<uint32_t> dwords);

} // namespace agptest
