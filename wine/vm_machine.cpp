// The virtual PC of the driver built for the Wine suite. Runs inside the driver: no runtime, no
// allocation, no libc.
#include "vm_machine.h"

#include "pci_capability.h"

namespace {

const uint32_t kStateMagic = 0x324D5654; // "TVM2"

void copyBytes(void* to, const void* from, uint32_t length) {
    unsigned char* d = static_cast<unsigned char*>(to);
    const unsigned char* s = static_cast<const unsigned char*>(from);
    for (uint32_t i = 0; i < length; ++i)
        d[i] = s[i];
}

uint32_t dwordAt(const uint8_t* bytes, uint32_t offset) {
    return bytes[offset] | (bytes[offset + 1] << 8) | (bytes[offset + 2] << 16) |
           (static_cast<uint32_t>(bytes[offset + 3]) << 24);
}

void putDword(uint8_t* bytes, uint32_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

VmFunction* findFunction(VmMachine* machine, uint32_t bus, uint32_t slot) {
    if (bus > 255 || slot > 0xFF)
        return nullptr;
    const uint32_t device = slot & 0x1F;
    const uint32_t function = (slot >> 5) & 7;
    for (uint32_t i = 0; i < machine->functionCount; ++i) {
        VmFunction& f = machine->functions[i];
        if (f.bus == bus && f.device == device && f.function == function)
            return &f;
    }
    return nullptr;
}

// Offset of the AGP capability, 0 when there is none, by the rule the driver's core follows.
uint32_t agpCapability(const VmFunction& f) {
    return pciFindCapabilityInImage(f.config, PCI_CAPABILITY_AGP, PCI_AGP_CAPABILITY_LENGTH);
}

VmPhysWord* findPhys(VmMachine* machine, uint64_t address) {
    for (uint32_t i = 0; i < machine->physCount; ++i)
        if (machine->phys[i].address == address)
            return &machine->phys[i];
    return nullptr;
}

bool isNvidiaDisplay(const VmFunction& f) {
    return (dwordAt(f.config, 0) & 0xFFFF) == 0x10DE && f.config[0x0B] == 0x03;
}

uint64_t strapsAddress(const VmFunction& f) {
    return (dwordAt(f.config, 0x10) & ~0xFu) + VM_NVIDIA_STRAPS_OFFSET;
}

// The straps register keeps its latched value unless a write carries the override bit.
bool isLatchedStraps(VmMachine* machine, uint64_t address, uint32_t value) {
    if (value & VM_STRAPS_OVERRIDE)
        return false;
    for (uint32_t i = 0; i < machine->functionCount; ++i)
        if (isNvidiaDisplay(machine->functions[i]) &&
            strapsAddress(machine->functions[i]) == address)
            return true;
    return false;
}

// The AGP status register as an NVIDIA chip shows it: modes its straps disable are not offered.
uint32_t effectiveStatus(VmMachine* machine, const VmFunction& f, uint32_t status) {
    if (!isNvidiaDisplay(f))
        return status;
    const VmPhysWord* word = findPhys(machine, strapsAddress(f));
    const uint32_t value = word ? word->value : 0;
    if (value & VM_STRAPS_NO_4X)
        status &= ~4u;
    if (value & VM_STRAPS_NO_SIDEBAND)
        status &= ~(1u << 9);
    if (value & VM_STRAPS_NO_FAST_WRITE)
        status &= ~(1u << 4);
    return status;
}

// A command value an AGP 3.0 device must not be given; AGP 2.0 devices take every value.
bool isReservedAgp3Command(uint32_t status, uint32_t command) {
    if (!(status & VM_AGP_STATUS_AGP3))
        return false;
    const uint32_t rate = command & 0x7u;
    return (rate != 0 && rate != 1 && rate != 2) || !(command & (1u << 9));
}

int readConfig(void* context, uint32_t bus, uint32_t slot, uint32_t offset, void* buffer,
               uint32_t length) {
    VmMachine* machine = static_cast<VmMachine*>(context);
    VmFunction* f = findFunction(machine, bus, slot);
    if (!f || offset > 256 || length > 256 - offset)
        return 0;
    uint8_t view[256];
    copyBytes(view, f->config, sizeof view);
    if (const uint32_t agp = agpCapability(*f))
        putDword(view, agp + 4, effectiveStatus(machine, *f, dwordAt(view, agp + 4)));
    copyBytes(buffer, view + offset, length);
    return 1;
}

int writeConfig(void* context, uint32_t bus, uint32_t slot, uint32_t offset, uint32_t value) {
    VmMachine* machine = static_cast<VmMachine*>(context);
    VmFunction* f = findFunction(machine, bus, slot);
    if (!f || offset > 252 || (offset & 3) != 0)
        return 0;
    // Every other register of these chips is read-only as far as this machine goes.
    const uint32_t agp = agpCapability(*f);
    if (agp != 0 && offset == agp + 8) {
        if (isReservedAgp3Command(dwordAt(f->config, agp + 4), value))
            ++machine->reservedAgpWrites;
        const uint32_t writable = VM_AGP_COMMAND_WRITABLE & ~f->stuck;
        const uint32_t old = dwordAt(f->config, offset);
        putDword(f->config, offset, (old & ~writable) | (value & writable));
    }
    return 1;
}

int readPhys(void* context, uint64_t address, uint32_t* value) {
    const VmPhysWord* word = findPhys(static_cast<VmMachine*>(context), address);
    *value = word ? word->value : 0;
    return 1;
}

int writePhys(void* context, uint64_t address, uint32_t value) {
    VmMachine* machine = static_cast<VmMachine*>(context);
    if (isLatchedStraps(machine, address, value))
        return 1;
    VmPhysWord* word = findPhys(machine, address);
    if (!word) {
        if (machine->physCount == VM_MAX_PHYS_WORDS || address > 0xFFFFFFFFu)
            return 0;
        word = &machine->phys[machine->physCount++];
        word->address = static_cast<uint32_t>(address);
    }
    word->value = value;
    return 1;
}

} // namespace

int vmInit(VmMachine* machine, VmFunction* functions, uint32_t functionCount,
           const VmPhysWord* phys, uint32_t physCount) {
    if (physCount > VM_MAX_PHYS_WORDS)
        return 0;
    machine->functions = functions;
    machine->functionCount = functionCount;
    copyBytes(machine->phys, phys, physCount * sizeof(VmPhysWord));
    machine->physCount = physCount;
    machine->reservedAgpWrites = 0;
    return 1;
}

TavrolBus vmBus(VmMachine* machine) {
    return TavrolBus{machine, readConfig, writeConfig, readPhys, writePhys};
}

// Layout: magic, function count, word count, the configuration spaces, the word slots, then the
// count of writes AGP 3.0 does not allow.
uint32_t vmStateSize(const VmMachine* machine) {
    return 3 * 4 + machine->functionCount * 256 + VM_MAX_PHYS_WORDS * sizeof(VmPhysWord) + 4;
}

void vmSaveState(const VmMachine* machine, void* buffer) {
    uint8_t* out = static_cast<uint8_t*>(buffer);
    putDword(out, 0, kStateMagic);
    putDword(out, 4, machine->functionCount);
    putDword(out, 8, machine->physCount);
    out += 12;
    for (uint32_t i = 0; i < machine->functionCount; ++i, out += 256)
        copyBytes(out, machine->functions[i].config, 256);
    for (uint32_t i = 0; i < VM_MAX_PHYS_WORDS; ++i, out += 8) {
        const bool used = i < machine->physCount;
        putDword(out, 0, used ? machine->phys[i].address : 0);
        putDword(out, 4, used ? machine->phys[i].value : 0);
    }
    putDword(out, 0, machine->reservedAgpWrites);
}

int vmLoadState(VmMachine* machine, const void* buffer, uint32_t length) {
    const uint8_t* in = static_cast<const uint8_t*>(buffer);
    if (length != vmStateSize(machine) || dwordAt(in, 0) != kStateMagic ||
        dwordAt(in, 4) != machine->functionCount || dwordAt(in, 8) > VM_MAX_PHYS_WORDS)
        return 0;
    machine->physCount = dwordAt(in, 8);
    in += 12;
    for (uint32_t i = 0; i < machine->functionCount; ++i, in += 256)
        copyBytes(machine->functions[i].config, in, 256);
    for (uint32_t i = 0; i < VM_MAX_PHYS_WORDS; ++i, in += 8) {
        machine->phys[i].address = dwordAt(in, 0);
        machine->phys[i].value = dwordAt(in, 4);
    }
    machine->reservedAgpWrites = dwordAt(in, 0);
    return 1;
}
