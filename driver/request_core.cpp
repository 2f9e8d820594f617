// The kernel driver's request handling: length checks, PCI enumeration and the access rules.
// Runs inside the kernel on Windows, so it uses no runtime, no allocation and no libc.
#include "request_core.h"

#include "pci_capability.h"

namespace {

const uint32_t kConfigSize = 256;
const uint32_t kAgpCommandOffset = 8;
const uint32_t kDisplayBaseClass = 0x03;
// Command register bit 1: the function answers memory cycles.
const uint32_t kMemorySpaceEnable = 1u << 1;
// BAR bit 0 is set for I/O; bits 2..1 are the memory type, 00 for 32 bits anywhere.
const uint32_t kBarKindMask = 0x7;
const uint32_t kBarMemoryMask = ~0xFu;
// A GeForce decodes its registers in a 16 MiB window; its BAR 0 is aligned to that size.
const uint32_t kStrapsWindowAlignment = 0x01000000;
const uint64_t kLast32BitAddress = 0xFFFFFFFFu;
const uint32_t kLastBus = 255;
// A slot word has the device in bits 4..0 and the function in bits 7..5; the rest is reserved.
const uint32_t kSlotReservedBits = ~0xFFu;

// Whether (bus, slot) can name a function at all: a bus above 255 or reserved slot bits would
// reach whatever the platform makes of them, so they are refused before the bus is asked.
int validFunctionAddress(uint32_t busNumber, uint32_t slot) {
    return busNumber <= kLastBus && (slot & kSlotReservedBits) == 0;
}

void copyBytes(void* to, const void* from, uint32_t length) {
    unsigned char* d = static_cast<unsigned char*>(to);
    const unsigned char* s = static_cast<const unsigned char*>(from);
    for (uint32_t i = 0; i < length; ++i)
        d[i] = s[i];
}

void zeroBytes(void* to, uint32_t length) {
    unsigned char* d = static_cast<unsigned char*>(to);
    for (uint32_t i = 0; i < length; ++i)
        d[i] = 0;
}

uint32_t recordSize(uint32_t code, int* known) {
    *known = 1;
    switch (code) {
    case IOCTL_PCI_FIND_CLASS:
        return sizeof(PciClassQuery);
    case IOCTL_PCI_READ_CONFIG_SPACE:
        return sizeof(PciConfigBlock);
    case IOCTL_PCI_READ_CONFIG_DWORD:
    case IOCTL_PCI_WRITE_CONFIG_DWORD:
        return sizeof(PciConfigDwordRequest);
    case IOCTL_PHYS_READ_DWORD:
    case IOCTL_PHYS_WRITE_DWORD:
        return sizeof(PhysDwordRequest);
    default:
        *known = 0;
        return 0;
    }
}

int readDword(const TavrolBus* bus, uint32_t busNumber, uint32_t slot, uint32_t offset,
              uint32_t* value) {
    unsigned char bytes[4];
    if (!bus->readConfig(bus->context, busNumber, slot, offset, bytes, 4))
        return 0;
    *value =
        bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
    return 1;
}

int readByte(const TavrolBus* bus, uint32_t busNumber, uint32_t slot, uint32_t offset,
             uint32_t* value) {
    unsigned char byte;
    if (!bus->readConfig(bus->context, busNumber, slot, offset, &byte, 1))
        return 0;
    *value = byte;
    return 1;
}

// A function exists when its configuration space answers with a vendor other than 0xFFFF.
int functionExists(const TavrolBus* bus, uint32_t busNumber, uint32_t slot) {
    uint32_t id;
    if (!readDword(bus, busNumber, slot, 0, &id))
        return 0;
    return (id & 0xFFFF) != 0xFFFF;
}

// One function's configuration space as the capability walk reads it.
struct FunctionBytes {
    const TavrolBus* bus;
    uint32_t busNumber;
    uint32_t slot;
};

int readFunctionByte(void* context, uint32_t offset, uint8_t* value) {
    const FunctionBytes* at = static_cast<const FunctionBytes*>(context);
    return at->bus->readConfig(at->bus->context, at->busNumber, at->slot, offset, value, 1);
}

// Offset of the AGP capability, 0 when the function has none.
uint32_t findAgpCapability(const TavrolBus* bus, uint32_t busNumber, uint32_t slot) {
    FunctionBytes at = {bus, busNumber, slot};
    return pciFindCapability(readFunctionByte, &at, PCI_CAPABILITY_AGP, PCI_AGP_CAPABILITY_LENGTH);
}

// Position of a walk over the functions of one bus.
struct FunctionCursor {
    uint32_t device;
    uint32_t function;
    uint32_t functions; // functions to visit on this device: 8 when function 0 is multi-function
};

const FunctionCursor kFirstFunction = {0, 0, 1};

// Advances to the next function that exists on the bus, in slot order; returns 0 after the last.
int nextFunction(const TavrolBus* bus, uint32_t busNumber, FunctionCursor* at, uint32_t* slot) {
    while (at->device < 32) {
        uint32_t function = at->function++;
        if (function >= at->functions) {
            at->device++;
            at->function = 0;
            at->functions = 1;
            continue;
        }
        uint32_t candidate = at->device | (function << 5);
        if (!functionExists(bus, busNumber, candidate))
            continue;
        uint32_t headerType;
        if (function == 0 && readByte(bus, busNumber, candidate, 0x0E, &headerType) &&
            (headerType & 0x80))
            at->functions = 8;
        *slot = candidate;
        return 1;
    }
    return 0;
}

int serveFindClass(const TavrolBus* bus, PciClassQuery& query) {
    uint32_t wanted = query.classCode & 0xFFFFFF;
    zeroBytes(query.entries, sizeof query.entries);
    uint32_t count = 0;
    for (uint32_t busNumber = 0; busNumber < 256; ++busNumber) {
        FunctionCursor at = kFirstFunction;
        uint32_t slot;
        while (nextFunction(bus, busNumber, &at, &slot)) {
            uint32_t classDword;
            if (!readDword(bus, busNumber, slot, 0x08, &classDword))
                continue;
            if ((classDword >> 8) != wanted || count >= TAVROL_MAX_CLASS_MATCHES)
                continue;
            query.entries[count].bus = busNumber;
            query.entries[count].slot = slot;
            ++count;
        }
    }
    query.count = count;
    return TAVROL_STATUS_OK;
}

int serveReadConfigSpace(const TavrolBus* bus, PciConfigBlock& block) {
    if (!validFunctionAddress(block.bus, block.slot))
        return TAVROL_STATUS_ACCESS_DENIED;
    if (!functionExists(bus, block.bus, block.slot))
        return TAVROL_STATUS_DEVICE_ERROR;
    if (!bus->readConfig(bus->context, block.bus, block.slot, 0, block.config, kConfigSize))
        return TAVROL_STATUS_DEVICE_ERROR;
    return TAVROL_STATUS_OK;
}

int validRegister(uint32_t offset) {
    return offset < kConfigSize && (offset & 3) == 0;
}

int serveConfigDword(const TavrolBus* bus, uint32_t code, PciConfigDwordRequest& request) {
    if (!validRegister(request.offset) || !validFunctionAddress(request.bus, request.slot))
        return TAVROL_STATUS_ACCESS_DENIED;
    if (!functionExists(bus, request.bus, request.slot))
        return TAVROL_STATUS_DEVICE_ERROR;
    if (code == IOCTL_PCI_READ_CONFIG_DWORD) {
        if (!readDword(bus, request.bus, request.slot, request.offset, &request.value))
            return TAVROL_STATUS_DEVICE_ERROR;
        return TAVROL_STATUS_OK;
    }
    // Writes reach nothing but the AGP command register: the program needs no other, and a
    // driver that could rewrite any register would let any caller remap devices.
    uint32_t agp = findAgpCapability(bus, request.bus, request.slot);
    if (agp == 0 || request.offset != agp + kAgpCommandOffset)
        return TAVROL_STATUS_ACCESS_DENIED;
    if (!bus->writeConfig(bus->context, request.bus, request.slot, request.offset, request.value))
        return TAVROL_STATUS_DEVICE_ERROR;
    return TAVROL_STATUS_OK;
}

// True when the address is the one physical dword the program uses: the straps register of an
// NVIDIA display function on the given bus, at its BAR 0 base + 0x101000. BAR 0 must be a 32-bit
// memory BAR that is assigned, decoded and aligned to the 16 MiB window a GeForce decodes, so the
// address can never be an APIC, an HPET or anything above 4 GiB: a 64-bit BAR's low dword, a
// smaller BAR or a BAR the function does not decode names memory that is not the chip's.
int physAllowed(const TavrolBus* bus, uint32_t busNumber, uint64_t address) {
    if (busNumber > kLastBus || address > kLast32BitAddress)
        return 0;
    FunctionCursor at = kFirstFunction;
    uint32_t slot;
    while (nextFunction(bus, busNumber, &at, &slot)) {
        uint32_t id, command, classDword, bar0;
        if (!readDword(bus, busNumber, slot, 0x00, &id) || (id & 0xFFFF) != TAVROL_NVIDIA_VENDOR ||
            !readDword(bus, busNumber, slot, 0x08, &classDword) ||
            (classDword >> 24) != kDisplayBaseClass ||
            !readDword(bus, busNumber, slot, 0x04, &command) || !(command & kMemorySpaceEnable) ||
            !readDword(bus, busNumber, slot, 0x10, &bar0) || (bar0 & kBarKindMask) != 0)
            continue;
        const uint32_t base = bar0 & kBarMemoryMask;
        if (base == 0 || (base & (kStrapsWindowAlignment - 1)) != 0)
            continue;
        const uint64_t straps = static_cast<uint64_t>(base) + TAVROL_NVIDIA_STRAPS_OFFSET;
        if (straps <= kLast32BitAddress && address == straps)
            return 1;
    }
    return 0;
}

int servePhys(const TavrolBus* bus, uint32_t code, PhysDwordRequest& request) {
    const uint64_t address =
        (static_cast<uint64_t>(request.addressHigh) << 32) | request.addressLow;
    if (!physAllowed(bus, request.bus, address))
        return TAVROL_STATUS_ACCESS_DENIED;
    if (code == IOCTL_PHYS_READ_DWORD) {
        if (!bus->readPhys(bus->context, address, &request.value))
            return TAVROL_STATUS_DEVICE_ERROR;
    } else if (!bus->writePhys(bus->context, address, request.value)) {
        return TAVROL_STATUS_DEVICE_ERROR;
    }
    return TAVROL_STATUS_OK;
}

} // namespace

int tavrolCreateAllowed(uint32_t fileNameLength, int hasRelatedFile) {
    return fileNameLength == 0 && !hasRelatedFile;
}

int tavrolHandleRequest(const TavrolBus* bus, uint32_t code, const void* input,
                        uint32_t inputLength, void* output, uint32_t outputLength,
                        uint32_t* bytesWritten) {
    *bytesWritten = 0;
    int known;
    uint32_t size = recordSize(code, &known);
    if (!known)
        return TAVROL_STATUS_INVALID_REQUEST;
    if (inputLength != size || outputLength != size || input == 0 || output == 0)
        return TAVROL_STATUS_BAD_LENGTH;

    // The request is staged in a local record so that the output may alias the input; the output
    // buffer is written only when the request succeeds.
    union {
        PciClassQuery query;
        PciConfigBlock block;
        PciConfigDwordRequest config;
        PhysDwordRequest phys;
    } record;
    copyBytes(&record, input, size);

    int status;
    switch (code) {
    case IOCTL_PCI_FIND_CLASS:
        status = serveFindClass(bus, record.query);
        break;
    case IOCTL_PCI_READ_CONFIG_SPACE:
        status = serveReadConfigSpace(bus, record.block);
        break;
    case IOCTL_PCI_READ_CONFIG_DWORD:
    case IOCTL_PCI_WRITE_CONFIG_DWORD:
        status = serveConfigDword(bus, code, record.config);
        break;
    default:
        status = servePhys(bus, code, record.phys);
        break;
    }
    if (status != TAVROL_STATUS_OK)
        return status;
    copyBytes(output, &record, size);
    *bytesWritten = size;
    return TAVROL_STATUS_OK;
}
