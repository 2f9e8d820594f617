// The PCI BIOS of the virtual machine (INT 1Ah, AH = B1h), answered on Windows 9x only: NT does
// not let a program reach the BIOS, so every call there returns with the carry flag set.
#include <cctype>
#include <cstdio>
#include <string>

#include "sim/pci_bios.h"
#include "sim/machine.h"

namespace {

const uint32_t kPciSignature = 0x20494350; // "PCI "
const uint8_t kSuccessful = 0x00;
const uint8_t kFunctionNotSupported = 0x81;
const uint8_t kDeviceNotFound = 0x86;
const uint8_t kBadRegisterNumber = 0x87;

uint32_t low16(uint32_t value) {
    return value & 0xFFFF;
}

// `#! bios-fail FUNCTION [REGISTER|any]`: the function fails at that register (DI), or for
// B103h at that index (SI); without a register or with "any" it always fails.
bool injectedFailure(const PciBiosRegs& regs) {
    char function[8];
    std::snprintf(function, sizeof function, "B1%02X", regs.eax & 0xFF);
    for (const sim::Directive* d : sim::machine().profile().findAll("bios-fail")) {
        std::string name = d->args[0];
        for (char& c : name)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (name != function)
            continue;
        if (d->args.size() < 2 || d->args[1] == "any")
            return true;
        uint32_t at = 0;
        sim::parseDirectiveNumber(d->args[1], &at);
        uint32_t used = (regs.eax & 0xFF) == 0x03 ? low16(regs.esi) : low16(regs.edi);
        if (used == at)
            return true;
    }
    return false;
}

void addressOf(uint32_t bx, int* bus, int* device, int* function) {
    *bus = (bx >> 8) & 0xFF;
    *device = (bx >> 3) & 0x1F;
    *function = bx & 7;
}

// The BIOS scans functions 1..7 of a device only when function 0 says it is multi-function.
bool scanned(const sim::PciFunctionImage& image) {
    if (image.function == 0)
        return true;
    const sim::PciFunctionImage* first = sim::machine().function(image.bus, image.device, 0);
    return first && (first->config[0x0E] & 0x80);
}

uint8_t findClass(PciBiosRegs& regs) {
    uint32_t wanted = regs.ecx & 0xFFFFFF;
    uint32_t index = low16(regs.esi);
    for (const sim::PciFunctionImage& image : sim::machine().functions()) {
        if (!scanned(image))
            continue;
        uint32_t classCode =
            (image.config[0x0B] << 16) | (image.config[0x0A] << 8) | image.config[0x09];
        if (classCode != wanted)
            continue;
        if (index-- == 0) {
            regs.ebx =
                (regs.ebx & 0xFFFF0000u) | (image.bus << 8) | (image.device << 3) | image.function;
            return kSuccessful;
        }
    }
    return kDeviceNotFound;
}

uint8_t readByte(PciBiosRegs& regs) {
    uint32_t offset = low16(regs.edi);
    if (offset > 0xFF)
        return kBadRegisterNumber;
    int bus, device, function;
    addressOf(regs.ebx, &bus, &device, &function);
    uint8_t value = 0xFF; // an absent function reads all ones
    sim::machine().readConfig(bus, device, function, offset, &value, 1);
    regs.ecx = (regs.ecx & 0xFFFFFF00u) | value;
    return kSuccessful;
}

uint8_t readDword(PciBiosRegs& regs) {
    uint32_t offset = low16(regs.edi);
    if (offset > 0xFC || (offset & 3))
        return kBadRegisterNumber;
    int bus, device, function;
    addressOf(regs.ebx, &bus, &device, &function);
    uint32_t value = 0xFFFFFFFFu;
    sim::machine().readConfig(bus, device, function, offset, &value, 4);
    regs.ecx = value;
    return kSuccessful;
}

uint8_t writeDword(const PciBiosRegs& regs) {
    uint32_t offset = low16(regs.edi);
    if (offset > 0xFC || (offset & 3))
        return kBadRegisterNumber;
    int bus, device, function;
    addressOf(regs.ebx, &bus, &device, &function);
    sim::machine().writeConfigDword(bus, device, function, offset, regs.ecx);
    return kSuccessful;
}

uint8_t biosPresent(PciBiosRegs& regs) {
    int lastBus = 0;
    for (const sim::PciFunctionImage& image : sim::machine().functions())
        lastBus = image.bus > lastBus ? image.bus : lastBus;
    // `#! bios-signature VALUE`: a BIOS that answers B101h with something other than "PCI ".
    uint32_t signature = kPciSignature;
    if (const sim::Directive* d = sim::machine().profile().find("bios-signature"))
        sim::parseDirectiveNumber(d->args[0], &signature);
    regs.edx = signature;
    regs.ebx = (regs.ebx & 0xFFFF0000u) | 0x0210; // version 2.10
    regs.ecx = (regs.ecx & 0xFFFFFF00u) | static_cast<uint32_t>(lastBus);
    regs.eax = (regs.eax & 0xFFFFFF00u) | 0x01; // configuration mechanism #1
    regs.edi = 0;
    return kSuccessful;
}

uint8_t serve(PciBiosRegs& regs) {
    const sim::Machine& machine = sim::machine();
    if (machine.isNt() || machine.profile().has("no-pci-bios") || (regs.eax & 0xFF00) != 0xB100)
        return kFunctionNotSupported;
    if (injectedFailure(regs))
        return kDeviceNotFound;
    switch (regs.eax & 0xFF) {
    case 0x01:
        return biosPresent(regs);
    case 0x03:
        return findClass(regs);
    case 0x08:
        return readByte(regs);
    case 0x0A:
        return readDword(regs);
    case 0x0D:
        return writeDword(regs);
    default:
        return kFunctionNotSupported;
    }
}

} // namespace

BOOL callPciBios(PciBiosRegs* regs) {
    sim::TraceEntry entry;
    entry.kind = sim::TraceKind::BiosCall;
    entry.biosIn = {regs->eax, regs->ebx, regs->ecx, regs->edx, regs->esi, regs->edi};
    uint8_t status = serve(*regs);
    bool carry = status != kSuccessful;
    // The Windows side hands EAX back holding the carry; the simulated call does the same.
    regs->eax = carry ? 0xFFFFFFFFu : 0;
    entry.biosOut = {regs->eax, regs->ebx, regs->ecx, regs->edx, regs->esi, regs->edi};
    entry.carry = carry;
    entry.ok = !carry;
    entry.error = status;
    sim::machine().record(entry);
    return carry ? FALSE : TRUE;
}
